#include "fake_device.h"
#include "port/d3d9/device_fixture.h"
#include "port/d3dx9/d3dx9font.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <string>

namespace {

ID3DXFont* makeFont(IDirect3DDevice9* device, int height, const wchar_t* face = L"Arial", UINT weight = FW_NORMAL) {
    ID3DXFont* font = nullptr;
    EXPECT_EQ(D3DXCreateFontW(device, height, 0, weight, 0, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              DEFAULT_QUALITY, FF_SWISS, face, &font),
              D3D_OK);
    return font;
}

class FontDraw : public DeviceTest {
protected:
    // Bounding box of lit pixels after drawing.
    struct Box {
        int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1, count = 0;
    };
    Box draw(ID3DXFont* font, const wchar_t* text, RECT rect, DWORD format, D3DCOLOR color = 0xFFFFFFFF,
             uint32_t* sample = nullptr) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        EXPECT_GT(font->DrawTextW(nullptr, text, -1, &rect, format, color), 0);
        device->EndScene();
        const auto px = ReadBack();
        Box b;
        for (int y = 0; y < (int)kHeight; ++y)
            for (int x = 0; x < (int)kWidth; ++x) {
                const uint32_t p = Pixel(px, x, y);
                if ((p & 0xFFFFFF) == 0) continue;
                if (sample && b.count == 0) *sample = p;
                ++b.count;
                b.x0 = std::min(b.x0, x);
                b.y0 = std::min(b.y0, y);
                b.x1 = std::max(b.x1, x);
                b.y1 = std::max(b.y1, y);
            }
        return b;
    }
};

} // namespace

TEST_F(FontDraw, TextLandsInsideItsRectangleWithTheAlignmentAsked) {
    ID3DXFont* font = makeFont(device, -16);
    const RECT whole{0, 0, (LONG)kWidth, (LONG)kHeight};
    const Box left = draw(font, L"Тест", whole, DT_LEFT | DT_TOP);
    ASSERT_GT(left.count, 20); // Cyrillic renders
    EXPECT_LT(left.x0, 4);
    EXPECT_LT(left.y0, 8);
    EXPECT_LT(left.y1, 24);
    const Box right = draw(font, L"Тест", whole, DT_RIGHT | DT_BOTTOM);
    EXPECT_GT(right.x1, (int)kWidth - 5);
    EXPECT_GT(right.y1, (int)kHeight - 10);
    const Box centre = draw(font, L"Тест", whole, DT_CENTER | DT_VCENTER);
    EXPECT_NEAR((centre.x0 + centre.x1) / 2.0, kWidth / 2.0, 4);
    EXPECT_NEAR((centre.y0 + centre.y1) / 2.0, kHeight / 2.0, 6);
    EXPECT_EQ(centre.count, left.count); // the same image, moved

    // Clipped to the rectangle unless DT_NOCLIP.
    const RECT small{10, 10, 30, 20};
    const Box clipped = draw(font, L"A long line of text", small, DT_LEFT);
    EXPECT_GE(clipped.x0, 10);
    EXPECT_LE(clipped.x1, 29);
    EXPECT_LE(clipped.y1, 19);
    const Box unclipped = draw(font, L"A long line of text", small, DT_LEFT | DT_NOCLIP);
    EXPECT_GT(unclipped.x1, 60);

    // Colour and alpha of the text.
    uint32_t sample = 0;
    const Box red = draw(font, L"MMMM", whole, DT_LEFT, 0xFFFF0000u, &sample);
    ASSERT_GT(red.count, 0);
    EXPECT_GT(Red(sample), 0);
    EXPECT_EQ(Green(sample), 0);
    EXPECT_EQ(Blue(sample), 0);
    font->Release();
}

TEST_F(FontDraw, WordBreakWrapsAndCalcRectMeasuresWithoutDrawing) {
    ID3DXFont* font = makeFont(device, -12);
    RECT r{0, 0, 60, 0};
    const int oneLine = font->DrawTextW(nullptr, L"word", -1, &r, DT_CALCRECT, 0xFFFFFFFF);
    EXPECT_GT(oneLine, 8);
    EXPECT_GT(r.right, 10);
    EXPECT_LT(r.right, 60);
    RECT wrapped{0, 0, 60, 0};
    const int h = font->DrawTextW(nullptr, L"word word word word word word", -1, &wrapped, DT_CALCRECT | DT_WORDBREAK,
                                  0xFFFFFFFF);
    EXPECT_GE(h, 3 * oneLine);
    EXPECT_EQ(wrapped.right, 60);
    EXPECT_EQ(wrapped.bottom, h);
    RECT single{0, 0, 60, 0};
    EXPECT_EQ(font->DrawTextW(nullptr, L"word\nword", -1, &single, DT_CALCRECT | DT_SINGLELINE, 0xFFFFFFFF), oneLine);

    const RECT box{0, 0, 60, (LONG)kHeight};
    const Box b = draw(font, L"word word word word word word", box, DT_LEFT | DT_WORDBREAK);
    EXPECT_LE(b.x1, 60);
    EXPECT_GE(b.y1 - b.y0, 2 * oneLine);
    EXPECT_EQ(font->DrawTextW(nullptr, L"", -1, nullptr, 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(font->DrawTextW(nullptr, nullptr, -1, nullptr, 0, 0xFFFFFFFF), 0);
    font->Release();
}

TEST_F(FontDraw, DrawingKeepsTheDeviceStates) {
    ID3DXFont* font = makeFont(device, -12);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    RECT r{0, 0, 100, 40};
    device->BeginScene();
    font->DrawTextW(nullptr, L"state", -1, &r, DT_LEFT, 0xFFFFFFFF);
    device->EndScene();
    DWORD v = 0;
    device->GetRenderState(D3DRS_ZENABLE, &v);
    EXPECT_EQ(v, (DWORD)D3DZB_TRUE);
    device->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
    EXPECT_EQ(v, (DWORD)FALSE);
    device->GetRenderState(D3DRS_CULLMODE, &v);
    EXPECT_EQ(v, (DWORD)D3DCULL_CW);
    device->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, (DWORD)D3DTOP_MODULATE);
    device->GetFVF(&v);
    EXPECT_EQ(v, (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL));
    IDirect3DBaseTexture9* t = nullptr;
    device->GetTexture(0, &t);
    EXPECT_EQ(t, nullptr);
    font->Release();
}

TEST(FontCache, EachDistinctTextIsLaidOutOnce) {
    auto* device = new testdev::Device9;
    ID3DXFont* font = makeFont(device, -14, L"Verdana", FW_BOLD);
    RECT r{0, 0, 200, 50};
    for (int i = 0; i < 5; ++i) font->DrawTextW(nullptr, L"FPS: 60", -1, &r, DT_LEFT, 0xFFFF0000u);
    EXPECT_EQ(device->texturesCreated, 1);
    font->DrawTextW(nullptr, L"FPS: 61", -1, &r, DT_LEFT, 0xFFFF0000u);
    font->DrawTextW(nullptr, L"FPS: 60", -1, &r, DT_LEFT, 0xFF00FF00u); // colour is part of the key
    EXPECT_EQ(device->texturesCreated, 3);
    RECT moved{50, 20, 250, 70};
    font->DrawTextW(nullptr, L"FPS: 60", -1, &moved, DT_LEFT, 0xFFFF0000u); // same size: reused
    EXPECT_EQ(device->texturesCreated, 3);
    // A text changing every frame is laid out each time, from a bounded cache.
    for (int i = 0; i < 1000; ++i) font->DrawTextW(nullptr, std::to_wstring(i).c_str(), -1, &r, DT_LEFT, ~0u);
    EXPECT_EQ(device->texturesCreated, 1003);
    D3DXFONT_DESCW desc{};
    ASSERT_EQ(font->GetDescW(&desc), D3D_OK);
    EXPECT_EQ(desc.Height, -14);
    EXPECT_EQ(desc.Weight, (UINT)FW_BOLD);
    EXPECT_EQ(std::wstring(desc.FaceName), L"Verdana");
    // A megabyte of text is handled (its image is capped), not a crash.
    std::wstring huge(1 << 20, L'x');
    for (size_t i = 80; i < huge.size(); i += 81) huge[i] = L'\n';
    EXPECT_GT(font->DrawTextW(nullptr, huge.c_str(), -1, &r, DT_LEFT, ~0u), 0);
    font->Release();
    EXPECT_EQ(device->Release(), 0u); // the font let go of the device
}

TEST(MemoryFonts, InstallAndRemove) {
    DWORD count = 99;
    std::string junk = "definitely not a font file";
    EXPECT_EQ(AddFontMemResourceEx(junk.data(), (DWORD)junk.size(), nullptr, &count), nullptr);
    EXPECT_EQ(count, 0u);
    std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
    if (!in) GTEST_SKIP() << "DejaVu Sans not installed";
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    HANDLE h = AddFontMemResourceEx(bytes.data(), (DWORD)bytes.size(), nullptr, &count);
    ASSERT_NE(h, nullptr);
    EXPECT_GE(count, 1u);
    EXPECT_TRUE(RemoveFontMemResourceEx(h));
    EXPECT_FALSE(RemoveFontMemResourceEx(h));
    EXPECT_FALSE(RemoveFontResourceW(L"fonts\\DejaVuSans.ttf"));
}

// A font size nobody could mean (10,000 pixels, from a damaged or hostile
// text.ini) is drawn at the largest character height, and the text images of
// such a font that change every frame stay within a bounded amount of memory.
TEST(FontCache, HugeFontsAreCappedAndTheirImagesBounded) {
    const size_t before = testdev::Texture9::liveBytes;
    auto* device = new testdev::Device9;
    ID3DXFont* capped = makeFont(device, -10000);
    ID3DXFont* largest = makeFont(device, -512);
    RECT a{0, 0, 0, 0}, b{0, 0, 0, 0};
    const int cappedHeight = capped->DrawTextW(nullptr, L"Загрузка 50%", -1, &a, DT_CALCRECT, ~0u);
    const int largestHeight = largest->DrawTextW(nullptr, L"Загрузка 50%", -1, &b, DT_CALCRECT, ~0u);
    EXPECT_GT(largestHeight, 400);
    EXPECT_EQ(cappedHeight, largestHeight);
    EXPECT_EQ(a.right, b.right);
    // INT_MIN has no positive counterpart; it must not overflow either.
    ID3DXFont* extreme = makeFont(device, INT_MIN);
    RECT c{0, 0, 0, 0};
    EXPECT_EQ(extreme->DrawTextW(nullptr, L"Загрузка 50%", -1, &c, DT_CALCRECT, ~0u), largestHeight);
    extreme->Release();

    D3DXFONT_DESCW desc{};
    ASSERT_EQ(capped->GetDescW(&desc), D3D_OK);
    EXPECT_EQ(desc.Height, -10000); // the description keeps what was asked

    RECT screen{0, 0, 800, 600};
    for (int percent = 0; percent <= 100; ++percent) {
        const std::wstring text = L"Загрузка " + std::to_wstring(percent) + L"%";
        capped->DrawTextW(nullptr, text.c_str(), -1, &screen, DT_CENTER | DT_VCENTER | DT_SINGLELINE, ~0u);
        EXPECT_LE(testdev::Texture9::liveBytes - before, (size_t)80 << 20) << percent;
    }
    EXPECT_GT(device->texturesCreated, 100);
    capped->Release();
    largest->Release();
    EXPECT_EQ(testdev::Texture9::liveBytes, before);
    EXPECT_EQ(device->Release(), 0u);
}
