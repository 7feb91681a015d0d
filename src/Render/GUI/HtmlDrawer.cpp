#include "Render/GUI/HtmlDrawer.h"

#include "Logger/Logger.h"
#include "Render/GUI/HtmlDocument.h"
#include "Render/Resources/D3DXSTRING.h"
#include "VirtualFileSystem/FileManager.h"
#include "port/d3dx9/image.h"

// The drawer keeps the style sheet, the fonts and the pictures between
// drawings; reading the markup and laying it out live in HtmlBuilder.cpp and
// HtmlLayout.cpp.
// ---------------------------------------------------------------------------
// The drawer
// ---------------------------------------------------------------------------
C_HtmlDrawer::C_HtmlDrawer() : m_Fonts(std::make_unique<html::FontCache>()) { ResetStyleSheet(); }

C_HtmlDrawer::~C_HtmlDrawer() = default;

C_HtmlDrawer& C_HtmlDrawer::Instance() {
    static C_HtmlDrawer drawer;
    return drawer;
}

void C_HtmlDrawer::SetMaxWidth(int width) { m_MaxWidth = std::max(0, width); }

size_t C_HtmlDrawer::AddStyleSheet(const std::wstring& sheet) { return m_Sheet.Parse(sheet); }

void C_HtmlDrawer::ResetStyleSheet() {
    m_Sheet.Clear();
    m_Sheet.Parse(html::DefaultStyleSheet());
}

SIZE C_HtmlDrawer::Draw(HDC hdc, const std::wstring& markup, POINT topLeft) {
    m_Links.clear();
    if (!hdc) return SIZE{0, 0};
    RECT clip{};
    if (GetClipBox(hdc, &clip) == ERROR) return SIZE{0, 0};
    m_Fonts->Trim();
    html::Document doc;
    html::BuildDocument(doc, m_Sheet, *this, html::Tokenize(html::ExpandEntities(markup)));
    int used = 0;
    const int height = html::DrawDocument(hdc, doc, *m_Fonts, topLeft, m_MaxWidth, clip.bottom, used, m_Links);
    return SIZE{used, height};
}

SIZE C_HtmlDrawer::DrawPanel(HDC hdc, int surfaceWidth, const std::wstring& markup, int left, int top) {
    // Computed wide: a margin near the integer limits must not wrap round
    // into a huge width.
    const long long width = (long long)surfaceWidth - 2LL * left;
    SetMaxWidth((int)std::clamp(width, (long long)INT_MIN, (long long)INT_MAX));
    return Draw(hdc, markup, POINT{left, top});
}

std::shared_ptr<const html::Picture> C_HtmlDrawer::LoadPicture(const std::wstring& file) {
    auto it = m_Pictures.find(file);
    if (it != m_Pictures.end()) return it->second;
    if (m_Pictures.size() >= html::kMaxPictures) m_Pictures.clear();
    std::shared_ptr<html::Picture> picture;
    VORTALEX::FileManager& files = VORTALEX::FileManager::Instance();
    unsigned int size = 0;
    const unsigned char* data = files.GetDataFile(file.c_str(), &size);
    if (!data) {
        // Pictures may also sit in the scene's texture folder.
        const std::wstring folder = C_D3DXSTRING::C_AllStrings::Instance().Lookup(L"FolderTexture");
        if (!folder.empty()) data = files.GetDataFile((folder + L"\\" + file).c_str(), &size);
    }
    d3dx::image::Decoded decoded;
    if (data && SUCCEEDED(d3dx::image::decode(data, size, html::kMaxPictureSide, decoded)) && !decoded.levels.empty()) {
        const d3dx::image::Image& image = decoded.levels[0];
        picture = std::make_shared<html::Picture>();
        picture->width = (int)image.width;
        picture->height = (int)image.height;
        picture->pixels.resize(image.texels.size());
        // Premultiplied, as alpha blending wants it.
        for (size_t i = 0; i < image.texels.size(); ++i) {
            const uint32_t t = image.texels[i];
            const uint32_t a = t >> 24;
            auto ch = [&](int shift) { return (((t >> shift) & 255) * a + 127) / 255 << shift; };
            picture->pixels[i] = a << 24 | ch(16) | ch(8) | ch(0);
        }
    } else {
        LOG_WARNING(L"HTML: рисунок не прочитан: " << file);
    }
    m_Pictures[file] = picture;
    return picture;
}
