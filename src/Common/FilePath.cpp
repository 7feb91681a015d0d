#include "Common/FilePath.h"

#include <system_error>
#include <vector>

#include "Common/CodePage.h"

namespace VORTALEX {
namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec)) && !ec;
}

// Finds the entry of folder whose name equals name ignoring case.
bool FindNoCase(const fs::path& folder, std::wstring_view name, fs::path& found) {
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
    if (ec) return false;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return false;
        const fs::path entry = it->path().filename();
        if (codepage::EqualsNoCase(PathToWide(entry), name)) {
            found = entry;
            return true;
        }
    }
    return false;
}

}  // namespace

std::wstring PathToWide(const fs::path& path) { return codepage::DecodeText(path.native()); }

fs::path MapPath(std::wstring_view path) {
    std::wstring text(path);
    for (wchar_t& c : text) {
        if (c == L'\\') c = L'/';
    }
    if (text.empty()) return {};
    fs::path exact(codepage::ToUtf8(text));
    if (Exists(exact)) return exact;

    std::vector<std::wstring_view> parts;
    std::wstring_view rest(text);
    while (!rest.empty()) {
        const std::size_t cut = rest.find(L'/');
        std::wstring_view part = rest.substr(0, cut);
        if (!part.empty()) parts.push_back(part);
        if (cut == std::wstring_view::npos) break;
        rest.remove_prefix(cut + 1);
    }

    fs::path base = text.front() == L'/' ? fs::path("/") : fs::path();
    bool searching = true;
    for (std::wstring_view part : parts) {
        const fs::path literal(codepage::ToUtf8(part));
        if (!searching || part == L"." || part == L"..") {
            base /= literal;
            continue;
        }
        if (Exists(base / literal)) {
            base /= literal;
            continue;
        }
        fs::path found;
        if (FindNoCase(base, part, found)) {
            base /= found;
        } else {
            // Nothing matches: the rest names something not yet created.
            searching = false;
            base /= literal;
        }
    }
    if (text.size() > 1 && text.back() == L'/') base /= "";
    return base;
}

}  // namespace VORTALEX
