#include "vfspack.h"

#include "Common/CodePage.h"
#include "Common/FilePath.h"
#include "Common/StaleFiles.h"
#include "VirtualFileSystem/ArchiveFormat.h"
#include "VirtualFileSystem/ArchiveWriter.h"
#include "VirtualFileSystem/VFSException.h"
#include "VirtualFileSystem/VirtualFileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>

namespace fs = std::filesystem;
using VORTALEX::VirtualFileSystem;

namespace vfspack {

namespace {

std::string Narrow(std::wstring_view text)
{
    return VORTALEX::codepage::ToUtf8(text);
}

std::string Show(const fs::path& path)
{
    return path.string();
}

bool ReadWholeFile(const fs::path& file, std::string& bytes)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// An entry name from a path relative to the base folder.
std::wstring EntryName(const fs::path& relative)
{
    std::wstring name = VORTALEX::PathToWide(relative);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    return name;
}

bool OpenArchive(VirtualFileSystem& vfs, const fs::path& archive, std::ostream& err)
{
    vfs.SetPassPhrase(VORTALEX::archive::kPassPhrase);
    try {
        vfs.OpenFile(archive);
        return true;
    } catch (const std::exception& e) {
        err << "vfspack: " << Show(archive) << ": " << e.what() << '\n';
        return false;
    }
}

// Reads the entry Find remembered; false (with a message) when that fails.
bool ReadEntry(VirtualFileSystem& vfs, const VirtualFileSystem::Record& record, std::string& bytes,
               std::ostream& err)
{
    bytes.assign(record.unpackedSize, '\0');
    try {
        vfs.ReadData(bytes.data(), record.unpackedSize);
        return true;
    } catch (const std::exception& e) {
        err << "vfspack: " << Narrow(record.writtenName) << ": " << e.what() << '\n';
        return false;
    }
}

// Whether any existing part of folder/relative (below folder) is a symbolic link, which could
// lead a write out of the folder.
bool CrossesLink(const fs::path& folder, const fs::path& relative)
{
    fs::path at = folder;
    for (const fs::path& part : relative) {
        at /= part;
        std::error_code error;
        const auto status = fs::symlink_status(at, error);
        if (error)
            return false;  // nothing further exists
        if (fs::is_symlink(status))
            return true;
    }
    return false;
}

// What stands at `file` and must not be written through: a symbolic link, a file with other
// names (a hard link: writing it would change the other names' contents too), or anything
// that is no plain file. Empty when the way is clear (nothing there, or a plain file of one
// name, which the new one replaces).
std::string InTheWay(const fs::path& file)
{
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0)
        return {};
    if (S_ISLNK(st.st_mode))
        return "a symbolic link is in the way";
    if (!S_ISREG(st.st_mode))
        return "something that is no file is in the way";
    if (st.st_nlink > 1)
        return "a hard link is in the way";
    return {};
}

}  // namespace

fs::path SafeRelativePath(const std::wstring& name)
{
    fs::path out;
    std::size_t start = 0;
    bool first = true;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of(L"\\/", start);
        if (end == std::wstring::npos)
            end = name.size();
        const std::wstring part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == L".")
            continue;
        if (part == L"..")
            return {};
        // A drive ("C:") would make the name absolute on Windows; control characters (NUL
        // above all) would cut or disguise the name on the way to the file system.
        if (first && part.size() >= 2 && part[1] == L':')
            return {};
        for (wchar_t c : part)
            if (c < 0x20 || c == 0x7F)
                return {};
        first = false;
        out /= fs::path(Narrow(part));
    }
    return out;
}

int Create(const fs::path& archive, const fs::path& baseIn, const std::vector<std::string>& paths,
           std::ostream& err)
{
    std::error_code error;
    const fs::path base = fs::absolute(baseIn.empty() ? fs::current_path() : baseIn, error).lexically_normal();
    if (error || !fs::is_directory(base)) {
        err << "vfspack: " << Show(baseIn) << ": no such folder\n";
        return 1;
    }
    const fs::path target = fs::absolute(archive).lexically_normal();
    // What an earlier run that was killed left beside the archive.
    VORTALEX::RemoveStaleTemporaries(target.parent_path(), target.filename().native(), ".part");

    // Lower-cased name → (name, file). The reader folds case, so names equal but for case
    // would hide each other; the first in name order is kept.
    std::map<std::wstring, std::pair<std::wstring, fs::path>> files;
    bool failed = false;
    auto collect = [&](const fs::path& file) {
        std::error_code ignored;
        if (fs::equivalent(file, target, ignored))
            return;  // an archive written into the tree it packs
        const fs::path relative = file.lexically_relative(base);
        const std::wstring name = EntryName(relative);
        const std::wstring key = VirtualFileSystem::ToLower(name);
        auto [it, added] = files.emplace(key, std::make_pair(name, file));
        if (!added && it->second.second != file)
            err << "vfspack: " << Show(file) << ": skipped, same name as " << Show(it->second.second)
                << " but for case\n";
    };
    for (const std::string& text : paths) {
        fs::path given(text);
        const fs::path full = (given.is_absolute() ? given : base / given).lexically_normal();
        const fs::path relative = full.lexically_relative(base);
        if (relative.empty() || *relative.begin() == "..") {
            err << "vfspack: " << text << ": not inside " << Show(base) << '\n';
            failed = true;
            continue;
        }
        const auto status = fs::status(full, error);
        if (fs::is_directory(status)) {
            fs::recursive_directory_iterator walk(full, fs::directory_options::skip_permission_denied, error);
            for (auto end = fs::recursive_directory_iterator(); !error && walk != end; walk.increment(error)) {
                if (walk->is_regular_file(error))
                    collect(walk->path().lexically_normal());
            }
            if (error) {
                err << "vfspack: " << text << ": " << error.message() << '\n';
                failed = true;
            }
        } else if (fs::is_regular_file(status)) {
            collect(full);
        } else {
            err << "vfspack: " << text << ": no such file or folder\n";
            failed = true;
        }
    }
    if (failed)
        return 1;

    try {
        VORTALEX::ArchiveWriter writer(archive);
        std::string bytes;
        for (const auto& [key, entry] : files) {
            if (!ReadWholeFile(entry.second, bytes)) {
                err << "vfspack: " << Show(entry.second) << ": cannot be read\n";
                return 1;
            }
            try {
                writer.Add(entry.first, bytes.data(), bytes.size());
            } catch (const VORTALEX::VFSException& e) {
                err << "vfspack: " << Narrow(entry.first) << ": " << e.what() << '\n';
                return 1;
            }
        }
        writer.Finish();
    } catch (const std::exception& e) {
        err << "vfspack: " << Show(archive) << ": " << e.what() << '\n';
        return 1;
    }
    return 0;
}

int List(const fs::path& archive, std::ostream& out, std::ostream& err)
{
    VirtualFileSystem vfs;
    if (!OpenArchive(vfs, archive, err))
        return 1;
    std::vector<const VirtualFileSystem::Record*> records;
    for (std::size_t i = 0; i < vfs.GetRecordCount(); ++i)
        records.push_back(&vfs.GetRecord(i));
    std::sort(records.begin(), records.end(), [](auto* a, auto* b) { return a->order < b->order; });
    for (const auto* r : records)
        out << Narrow(r->writtenName) << '\t' << r->unpackedSize << '\t' << r->storedSize << '\t'
            << r->order << '\n';
    out.flush();
    return out ? 0 : 1;
}

int Extract(const fs::path& archive, const fs::path& folderIn, const std::vector<std::string>& names,
            std::ostream& err)
{
    VirtualFileSystem vfs;
    if (!OpenArchive(vfs, archive, err))
        return 1;
    std::error_code error;
    const fs::path folder = folderIn.empty() ? fs::current_path() : folderIn;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder)) {
        err << "vfspack: " << Show(folder) << ": no such folder\n";
        return 1;
    }

    int status = 0;
    std::vector<const VirtualFileSystem::Record*> wanted;
    if (names.empty()) {
        for (std::size_t i = 0; i < vfs.GetRecordCount(); ++i)
            wanted.push_back(&vfs.GetRecord(i));
    } else {
        for (const std::string& name : names) {
            const auto* record = vfs.Find(VORTALEX::codepage::FromUtf8(name));
            if (record == nullptr) {
                err << "vfspack: " << name << ": no such entry\n";
                status = 1;
            } else {
                wanted.push_back(record);
            }
        }
    }
    std::sort(wanted.begin(), wanted.end(), [](auto* a, auto* b) { return a->order < b->order; });

    std::string bytes;
    for (const auto* record : wanted) {
        const std::string shown = Narrow(record->writtenName);
        const fs::path relative = SafeRelativePath(record->writtenName);
        if (relative.empty()) {
            err << "vfspack: " << shown << ": refused, the name leads outside the folder\n";
            status = 1;
            continue;
        }
        if (CrossesLink(folder, relative)) {
            err << "vfspack: " << shown << ": refused, a symbolic link is in the way\n";
            status = 1;
            continue;
        }
        vfs.Find(record->name);
        if (!ReadEntry(vfs, *record, bytes, err)) {
            status = 1;
            continue;
        }
        const fs::path file = folder / relative;
        fs::create_directories(file.parent_path(), error);
        if (const std::string problem = InTheWay(file); !problem.empty()) {
            err << "vfspack: " << Show(file) << ": refused, " << problem << '\n';
            status = 1;
            continue;
        }
        // Written whole under a temporary name and renamed into place: a file is either there
        // complete or not at all, never half written.
        VORTALEX::RemoveStaleTemporaries(file.parent_path(), file.filename().native(), ".part");
        fs::path temporary = file;
        temporary += ".part" + std::to_string(::getpid());
        std::wstring reason;
        if (!VORTALEX::WriteFileDurably(file, temporary, bytes, reason)) {
            err << "vfspack: " << Show(file) << ": cannot be written (" << Narrow(reason) << ")\n";
            // The disk is full or the folder unwritable: the files after this one would fail
            // the same way.
            return 1;
        }
    }
    return status;
}

int Cat(const fs::path& archive, const std::string& name, std::ostream& out, std::ostream& err)
{
    VirtualFileSystem vfs;
    if (!OpenArchive(vfs, archive, err))
        return 1;
    const auto* record = vfs.Find(VORTALEX::codepage::FromUtf8(name));
    if (record == nullptr) {
        err << "vfspack: " << name << ": no such entry\n";
        return 1;
    }
    std::string bytes;
    if (!ReadEntry(vfs, *record, bytes, err))
        return 1;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
        err << "vfspack: cannot write the output\n";
        return 1;
    }
    return 0;
}

}  // namespace vfspack
