// ID3DXFont over pango and cairo. Each distinct (text, rectangle size,
// format, colour) is laid out once into a texture; drawing it again only
// draws a textured quad with the device's states saved and restored.
#include "port/d3dx9/d3dx9font.h"
#include "Common/CodePage.h"
#include "port/d3dx9/meshimpl.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <list>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

using namespace d3dx;

namespace {

std::string toUtf8(const wchar_t* text, size_t count) {
    return VORTALEX::codepage::ToUtf8(std::wstring_view(text, count));
}

// No text image is taller or wider than this.
constexpr int kMaxImage = 4096;
// Characters taller than this are drawn at this height: a line then still
// holds eight characters within the largest text image, and a frame's text
// is laid out in milliseconds, not seconds (a 10,000-pixel font would take
// gigabytes and seconds per changing text).
constexpr int kMaxCharHeight = kMaxImage / 8;
// Text images kept at most, in bytes, besides the count limit: texts of a
// huge font that change every frame must not fill memory.
constexpr size_t kCacheBytes = 64u << 20;
// Characters laid out at most: more could never show inside the image, and
// laying out megabytes would stall the frame.
constexpr size_t kMaxLaidOut = 16384;

// The text as laid out for the format: prefixes resolved, line breaks
// dropped for single lines, cut where nothing more could be visible.
std::wstring prepare(const wchar_t* text, size_t count, DWORD format, int lineHeight) {
    std::wstring out;
    out.reserve(std::min(count, kMaxLaidOut));
    const size_t maxLines = (size_t)(kMaxImage / std::max(1, lineHeight)) + 2;
    size_t lines = 1;
    for (size_t i = 0; i < count && out.size() < kMaxLaidOut; ++i) {
        wchar_t c = text[i];
        if (!(format & DT_NOPREFIX) && c == L'&') {
            if (i + 1 < count) c = text[++i]; // "&&" is one ampersand; "&x" is x
            else continue;
        }
        if ((format & DT_SINGLELINE) && (c == L'\r' || c == L'\n')) c = L' ';
        if (c == L'\n' && ++lines > maxLines) break;
        out += c;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Fonts installed from memory
// ---------------------------------------------------------------------------
struct MemoryFont {
    std::string path;
};

// The fonts installed from memory live as files in a private folder, which
// goes away with the process (fonts not removed by then included).
struct FontFolder {
    std::string path;
    std::list<std::unique_ptr<MemoryFont>> fonts;
    ~FontFolder() {
        for (const auto& f : fonts) std::remove(f->path.c_str());
        if (!path.empty()) ::rmdir(path.c_str());
    }
};

FontFolder& fontFolder() {
    static FontFolder folder;
    if (folder.path.empty()) {
        std::string pattern = "/tmp/tw_fonts_XXXXXX";
        if (::mkdtemp(pattern.data())) folder.path = pattern;
    }
    return folder;
}

std::list<std::unique_ptr<MemoryFont>>& installedFonts() { return fontFolder().fonts; }

// The next layout gets a fresh font map that sees the changed set of fonts.
void fontsChanged() { pango_cairo_font_map_set_default(nullptr); }

// ---------------------------------------------------------------------------
// The font
// ---------------------------------------------------------------------------
struct CachedText {
    IDirect3DTexture9* texture = nullptr;
    size_t bytes = 0;            // of the texture
    int width = 0, height = 0;  // texel size of the text image
    int offsetX = 0, offsetY = 0; // image position inside the rectangle
    std::list<std::string>::iterator age;
};

class Font final : public ComObject<ID3DXFont> {
public:
    Font(IDirect3DDevice9* device, const D3DXFONT_DESCW& desc) : device_(device), desc_(desc) {
        device_->AddRef();
        description_ = pango_font_description_new();
        size_t n = 0;
        while (n < LF_FACESIZE && desc.FaceName[n]) ++n;
        const std::string family = toUtf8(desc.FaceName, n);
        pango_font_description_set_family(description_, family.empty() ? "Sans" : family.c_str());
        // Negative heights are character heights, positive ones cell heights.
        const int64_t asked = desc.Height < 0   ? -(int64_t)desc.Height
                              : desc.Height > 0 ? ((int64_t)desc.Height * 4 + 2) / 5
                                                : 16;
        const int h = (int)std::min<int64_t>(asked, kMaxCharHeight);
        pango_font_description_set_absolute_size(description_, h * PANGO_SCALE);
        lineHeight_ = h;
        const UINT weight = desc.Weight == FW_DONTCARE ? FW_NORMAL : std::clamp<UINT>(desc.Weight, 100, 1000);
        pango_font_description_set_weight(description_, (PangoWeight)weight);
        pango_font_description_set_style(description_, desc.Italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (!device) return D3DERR_INVALIDCALL;
        *device = device_;
        device_->AddRef();
        return D3D_OK;
    }
    HRESULT GetDescW(D3DXFONT_DESCW* desc) override {
        if (!desc) return D3DERR_INVALIDCALL;
        *desc = desc_;
        return D3D_OK;
    }
    HRESULT PreloadTextW(LPCWSTR text, INT count) override {
        if (!text) return D3DERR_INVALIDCALL;
        (void)count; // glyphs come from the system's font cache
        return D3D_OK;
    }
    INT DrawTextW(LPD3DXSPRITE sprite, LPCWSTR text, INT count, LPRECT rect, DWORD format, D3DCOLOR color) override;
    INT DrawTextA(LPD3DXSPRITE sprite, LPCSTR text, INT count, LPRECT rect, DWORD format, D3DCOLOR color) override {
        if (!text) return 0;
        const size_t n = count < 0 ? std::strlen(text) : (size_t)count;
        std::wstring wide(n, L'\0');
        for (size_t i = 0; i < n; ++i) wide[i] = (wchar_t)(unsigned char)text[i];
        return DrawTextW(sprite, wide.c_str(), (INT)n, rect, format, color);
    }
    HRESULT OnLostDevice() override {
        clearCache();
        return D3D_OK;
    }
    HRESULT OnResetDevice() override { return D3D_OK; }

private:
    ~Font() override {
        clearCache();
        pango_font_description_free(description_);
        device_->Release();
    }
    void clearCache() {
        for (auto& [key, entry] : cache_)
            if (entry.texture) entry.texture->Release();
        cache_.clear();
        ages_.clear();
        cacheBytes_ = 0;
    }
    // Lays the text out; the layout belongs to the caller.
    PangoLayout* layout(cairo_t* cr, const std::string& utf8, int width, DWORD format) const {
        PangoLayout* l = pango_cairo_create_layout(cr);
        pango_layout_set_font_description(l, description_);
        pango_layout_set_text(l, utf8.c_str(), (int)utf8.size());
        if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && width > 0) {
            pango_layout_set_width(l, width * PANGO_SCALE);
            pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
            pango_layout_set_alignment(l, (format & DT_CENTER)  ? PANGO_ALIGN_CENTER
                                          : (format & DT_RIGHT) ? PANGO_ALIGN_RIGHT
                                                                : PANGO_ALIGN_LEFT);
        } else {
            pango_layout_set_alignment(l, (format & DT_CENTER)  ? PANGO_ALIGN_CENTER
                                          : (format & DT_RIGHT) ? PANGO_ALIGN_RIGHT
                                                                : PANGO_ALIGN_LEFT);
        }
        return l;
    }
    CachedText* render(const std::wstring& text, int rectW, int rectH, DWORD format, D3DCOLOR color);
    void measure(const std::wstring& text, int rectW, DWORD format, int& w, int& h) const;
    HRESULT drawQuad(const CachedText& t, const RECT& rect, DWORD format);

    IDirect3DDevice9* device_;
    D3DXFONT_DESCW desc_;
    PangoFontDescription* description_ = nullptr;
    int lineHeight_ = 16;
    std::unordered_map<std::string, CachedText> cache_;
    std::list<std::string> ages_; // most recently used first
    size_t cacheBytes_ = 0;
    static constexpr size_t kCacheLimit = 256;
};

void Font::measure(const std::wstring& text, int rectW, DWORD format, int& w, int& h) const {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(s);
    PangoLayout* l = layout(cr, toUtf8(text.data(), text.size()), rectW, format);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    w = logical.width;
    h = logical.height;
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && rectW > 0) w = std::max(w, 0);
    g_object_unref(l);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}

CachedText* Font::render(const std::wstring& text, int rectW, int rectH, DWORD format, D3DCOLOR color) {
    std::string key = toUtf8(text.data(), text.size());
    char tail[64];
    std::snprintf(tail, sizeof tail, "\x01%d,%d,%u,%08x", rectW, rectH, (unsigned)(format & ~DT_CALCRECT), color);
    key += tail;
    auto it = cache_.find(key);
    if (it != cache_.end()) {
        ages_.splice(ages_.begin(), ages_, it->second.age);
        return &it->second;
    }

    const bool wrap = (format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && rectW > 0;
    // One layout, measured on a scratch context, then drawn into the image.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* scratchCr = cairo_create(scratch);
    PangoLayout* l = layout(scratchCr, toUtf8(text.data(), text.size()), wrap ? rectW : 0, format);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(l, nullptr, &logical);
    const int w = logical.width, h = logical.height;
    CachedText entry;
    if (w > 0 && h > 0) {
        // Wrapped text is laid out across the whole rectangle width.
        const int texW = std::min(wrap ? std::max(w, rectW) : w, kMaxImage);
        const int texH = std::min(h, kMaxImage);
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, texW, texH);
        cairo_t* cr = cairo_create(s);
        pango_cairo_update_layout(cr, l);
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_move_to(cr, wrap ? 0 : -logical.x, -logical.y);
        pango_cairo_show_layout(cr, l);
        cairo_surface_flush(s);
        cairo_destroy(cr);

        IDirect3DTexture9* tex = nullptr;
        if (SUCCEEDED(device_->CreateTexture((UINT)texW, (UINT)texH, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex,
                                             nullptr))) {
            D3DLOCKED_RECT lr{};
            if (SUCCEEDED(tex->LockRect(0, &lr, nullptr, 0))) {
                const uint8_t* src = cairo_image_surface_get_data(s);
                const int stride = cairo_image_surface_get_stride(s);
                const uint32_t rgb = color & 0x00FFFFFFu, alpha = color >> 24;
                for (int y = 0; y < texH; ++y) {
                    const uint32_t* in = reinterpret_cast<const uint32_t*>(src + (size_t)y * stride);
                    uint32_t* out = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + (ptrdiff_t)y * lr.Pitch);
                    // Coverage (white, premultiplied) times the colour's alpha.
                    for (int x = 0; x < texW; ++x) out[x] = ((in[x] >> 24) * alpha + 127) / 255 << 24 | rgb;
                }
                tex->UnlockRect(0);
                entry.texture = tex;
                entry.bytes = (size_t)texW * texH * 4;
            } else {
                tex->Release();
            }
        }
        cairo_surface_destroy(s);
        entry.width = texW;
        entry.height = texH;
        entry.offsetX = wrap ? 0 : (format & DT_CENTER) ? (rectW - texW) / 2 : (format & DT_RIGHT) ? rectW - texW : 0;
        entry.offsetY = (format & DT_VCENTER) ? (rectH - texH) / 2 : (format & DT_BOTTOM) ? rectH - texH : 0;
    }
    g_object_unref(l);
    cairo_destroy(scratchCr);
    cairo_surface_destroy(scratch);

    // Bounded cache: a text that changes every frame must not grow it forever.
    while (!ages_.empty() && (cache_.size() >= kCacheLimit || cacheBytes_ + entry.bytes > kCacheBytes)) {
        auto old = cache_.find(ages_.back());
        if (old != cache_.end()) {
            if (old->second.texture) old->second.texture->Release();
            cacheBytes_ -= old->second.bytes;
            cache_.erase(old);
        }
        ages_.pop_back();
    }
    cacheBytes_ += entry.bytes;
    ages_.push_front(key);
    entry.age = ages_.begin();
    return &cache_.emplace(std::move(key), entry).first->second;
}

HRESULT Font::drawQuad(const CachedText& t, const RECT& rect, DWORD format) {
    float x0 = (float)(rect.left + t.offsetX), y0 = (float)(rect.top + t.offsetY);
    float x1 = x0 + (float)t.width, y1 = y0 + (float)t.height;
    float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
    if (!(format & DT_NOCLIP)) {
        // Clip the quad (and its texture coordinates) to the rectangle.
        auto clip = [](float& a, float& b, float& ta, float& tb, float lo, float hi) {
            const float len = b - a;
            if (len <= 0) return false;
            if (a < lo) {
                ta += (tb - ta) * (lo - a) / len;
                a = lo;
            }
            const float len2 = b - a;
            if (b > hi && len2 > 0) {
                tb -= (tb - ta) * (b - hi) / len2;
                b = hi;
            }
            return b > a;
        };
        if (!clip(x0, x1, u0, u1, (float)rect.left, (float)rect.right) ||
            !clip(y0, y1, v0, v1, (float)rect.top, (float)rect.bottom))
            return D3D_OK;
    }
    struct V {
        float x, y, z, rhw;
        D3DCOLOR c;
        float u, v;
    };
    // Texel centres on pixel centres.
    const V quad[4] = {{x0 - 0.5f, y0 - 0.5f, 0, 1, 0xFFFFFFFFu, u0, v0},
                       {x1 - 0.5f, y0 - 0.5f, 0, 1, 0xFFFFFFFFu, u1, v0},
                       {x0 - 0.5f, y1 - 0.5f, 0, 1, 0xFFFFFFFFu, u0, v1},
                       {x1 - 0.5f, y1 - 0.5f, 0, 1, 0xFFFFFFFFu, u1, v1}};

    // Save what is changed, draw, restore.
    static const D3DRENDERSTATETYPE rs[] = {D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND,  D3DRS_DESTBLEND,
                                            D3DRS_ZENABLE,          D3DRS_ZWRITEENABLE, D3DRS_LIGHTING,
                                            D3DRS_CULLMODE,         D3DRS_FOGENABLE, D3DRS_ALPHATESTENABLE,
                                            D3DRS_FILLMODE};
    static const DWORD rsValue[] = {TRUE, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DZB_FALSE, FALSE, FALSE,
                                    D3DCULL_NONE, FALSE, FALSE, D3DFILL_SOLID};
    static const D3DTEXTURESTAGESTATETYPE ts[] = {D3DTSS_COLOROP, D3DTSS_COLORARG1, D3DTSS_ALPHAOP, D3DTSS_ALPHAARG1,
                                                  D3DTSS_TEXCOORDINDEX};
    static const DWORD tsValue[] = {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, 0};
    static const D3DSAMPLERSTATETYPE ss[] = {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER,
                                             D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV};
    static const DWORD ssValue[] = {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE, D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP};
    // Only states the device reported are put back.
    DWORD savedRs[std::size(rs)] = {}, savedTs[std::size(ts)] = {}, savedSs[std::size(ss)] = {};
    bool gotRs[std::size(rs)] = {}, gotTs[std::size(ts)] = {}, gotSs[std::size(ss)] = {};
    DWORD savedNextOp = D3DTOP_DISABLE, fvf = 0;
    for (size_t i = 0; i < std::size(rs); ++i) gotRs[i] = SUCCEEDED(device_->GetRenderState(rs[i], &savedRs[i]));
    for (size_t i = 0; i < std::size(ts); ++i) gotTs[i] = SUCCEEDED(device_->GetTextureStageState(0, ts[i], &savedTs[i]));
    for (size_t i = 0; i < std::size(ss); ++i) gotSs[i] = SUCCEEDED(device_->GetSamplerState(0, ss[i], &savedSs[i]));
    const bool gotNextOp = SUCCEEDED(device_->GetTextureStageState(1, D3DTSS_COLOROP, &savedNextOp));
    const bool gotFvf = SUCCEEDED(device_->GetFVF(&fvf));
    IDirect3DBaseTexture9* savedTexture = nullptr;
    const bool gotTexture = SUCCEEDED(device_->GetTexture(0, &savedTexture));

    for (size_t i = 0; i < std::size(rs); ++i) device_->SetRenderState(rs[i], rsValue[i]);
    for (size_t i = 0; i < std::size(ts); ++i) device_->SetTextureStageState(0, ts[i], tsValue[i]);
    for (size_t i = 0; i < std::size(ss); ++i) device_->SetSamplerState(0, ss[i], ssValue[i]);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device_->SetTexture(0, t.texture);
    device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    const HRESULT hr = device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V));

    for (size_t i = 0; i < std::size(rs); ++i)
        if (gotRs[i]) device_->SetRenderState(rs[i], savedRs[i]);
    for (size_t i = 0; i < std::size(ts); ++i)
        if (gotTs[i]) device_->SetTextureStageState(0, ts[i], savedTs[i]);
    for (size_t i = 0; i < std::size(ss); ++i)
        if (gotSs[i]) device_->SetSamplerState(0, ss[i], savedSs[i]);
    if (gotNextOp) device_->SetTextureStageState(1, D3DTSS_COLOROP, savedNextOp);
    if (gotTexture) device_->SetTexture(0, savedTexture);
    if (savedTexture) savedTexture->Release();
    if (gotFvf) device_->SetFVF(fvf);
    return hr;
}

INT Font::DrawTextW(LPD3DXSPRITE sprite, LPCWSTR text, INT count, LPRECT rect, DWORD format, D3DCOLOR color) {
    (void)sprite; // text is always drawn through this font's own quads
    if (!text) return 0;
    size_t n = 0;
    if (count < 0) {
        while (text[n]) ++n;
    } else {
        n = (size_t)count;
    }
    // A megabyte of text is laid out like any other; only its image is capped.
    const std::wstring prepared = prepare(text, n, format, lineHeight_);
    if (prepared.empty()) return 0;
    RECT r{0, 0, 0, 0};
    if (rect) r = *rect;
    const int rectW = std::max<LONG>(0, r.right - r.left), rectH = std::max<LONG>(0, r.bottom - r.top);
    try {
        if (format & DT_CALCRECT) {
            int w = 0, h = 0;
            measure(prepared, rectW, format, w, h);
            if (rect) {
                if (!((format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && rectW > 0)) rect->right = rect->left + w;
                rect->bottom = rect->top + h;
            }
            return h;
        }
        CachedText* t = render(prepared, rectW, rectH, format, color);
        if (!t || !t->texture) return t ? t->height : 0;
        if (FAILED(drawQuad(*t, r, format))) return 0;
        return t->height;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

} // namespace

HRESULT D3DXCreateFontIndirectW(IDirect3DDevice9* device, const D3DXFONT_DESCW* desc, ID3DXFont** font) {
    if (!device || !desc || !font) return D3DERR_INVALIDCALL;
    *font = nullptr;
    try {
        *font = new Font(device, *desc);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT D3DXCreateFontW(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels, BOOL italic,
                        DWORD charSet, DWORD outputPrecision, DWORD quality, DWORD pitchAndFamily, LPCWSTR faceName,
                        ID3DXFont** font) {
    if (!faceName) return D3DERR_INVALIDCALL;
    D3DXFONT_DESCW desc{};
    desc.Height = height;
    desc.Width = width;
    desc.Weight = weight;
    desc.MipLevels = mipLevels;
    desc.Italic = italic;
    desc.CharSet = (BYTE)charSet;
    desc.OutputPrecision = (BYTE)outputPrecision;
    desc.Quality = (BYTE)quality;
    desc.PitchAndFamily = (BYTE)pitchAndFamily;
    for (size_t i = 0; i + 1 < LF_FACESIZE && faceName[i]; ++i) desc.FaceName[i] = faceName[i];
    return D3DXCreateFontIndirectW(device, &desc, font);
}

HANDLE AddFontMemResourceEx(void* fileView, DWORD size, void* reserved, DWORD* numFonts) {
    (void)reserved;
    if (numFonts) *numFonts = 0;
    if (!fileView || size == 0) return nullptr;
    const std::string folder = fontFolder().path;
    if (folder.empty()) return nullptr;
    static unsigned serial = 0;
    auto font = std::make_unique<MemoryFont>();
    font->path = folder + "/font" + std::to_string(++serial) + ".bin";
    FILE* f = std::fopen(font->path.c_str(), "wb");
    if (!f) return nullptr;
    const bool written = std::fwrite(fileView, 1, size, f) == size;
    std::fclose(f);
    // fontconfig decides whether the file is a font at all.
    int faces = 0;
    FcBlanks* blanks = nullptr;
    FcPattern* probe = written ? FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(font->path.c_str()), 0, blanks, &faces)
                               : nullptr;
    if (!probe || !FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(font->path.c_str()))) {
        if (probe) FcPatternDestroy(probe);
        std::remove(font->path.c_str());
        return nullptr;
    }
    FcPatternDestroy(probe);
    fontsChanged();
    if (numFonts) *numFonts = (DWORD)std::max(1, faces);
    MemoryFont* handle = font.get();
    installedFonts().push_back(std::move(font));
    return handle;
}

BOOL RemoveFontMemResourceEx(HANDLE handle) {
    auto& fonts = installedFonts();
    auto it = std::find_if(fonts.begin(), fonts.end(), [&](const auto& f) { return f.get() == handle; });
    if (!handle || it == fonts.end()) return FALSE;
    std::remove((*it)->path.c_str());
    fonts.erase(it);
    // fontconfig removes application fonts only all together.
    FcConfigAppFontClear(nullptr);
    for (const auto& f : fonts) FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(f->path.c_str()));
    fontsChanged();
    return TRUE;
}

BOOL RemoveFontResourceW(LPCWSTR fileName) {
    (void)fileName;
    return FALSE;
}
