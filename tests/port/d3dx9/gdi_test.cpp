// GDI drawing of the port: objects, text, shapes, gradients, clipping,
// bitmap transfers and system colours, checked in the pixels they leave.
#include <gtest/gtest.h>

#include <vector>

#include "port/d3dx9/wingdi.h"

namespace {

// A memory context drawing into a white top-down 32-bit bitmap.
class Canvas {
public:
    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* p = nullptr;
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<uint32_t*>(p);
        for (int i = 0; i < w * h; ++i) bits[i] = 0xFFFFFFFF;
        dc = CreateCompatibleDC(nullptr);
        SelectObject(dc, bitmap);
    }
    ~Canvas() {
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
    // Columns and rows holding anything but white.
    RECT inked() const {
        RECT r{width, height, -1, -1};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if ((bits[y * width + x] & 0xFFFFFF) != 0xFFFFFF) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
        return r;
    }
    int width, height;
    HBITMAP bitmap = nullptr;
    uint32_t* bits = nullptr;
    HDC dc = nullptr;
};

HFONT Verdana(int pixels, int weight = FW_NORMAL) {
    return CreateFontW(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"Verdana");
}

} // namespace

TEST(GdiShapes, RectanglesLinesAndBrushesLeaveTheirPixels) {
    Canvas c(40, 30);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    RECT r{5, 5, 15, 10};
    EXPECT_EQ(FillRect(c.dc, &r, red), 1);
    EXPECT_EQ(c.at(5, 5), RGB(255, 0, 0));
    EXPECT_EQ(c.at(14, 9), RGB(255, 0, 0));
    EXPECT_EQ(c.at(15, 9), RGB(255, 255, 255)); // right and bottom edges are outside
    EXPECT_EQ(c.at(14, 10), RGB(255, 255, 255));
    // A system colour index plus one stands for its brush.
    RECT s{0, 20, 4, 24};
    FillRect(c.dc, &s, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_HIGHLIGHT + 1)));
    EXPECT_EQ(c.at(1, 21), GetSysColor(COLOR_HIGHLIGHT));

    // Outline in the pen, inside in the brush.
    HPEN blue = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
    HGDIOBJ oldPen = SelectObject(c.dc, blue);
    HGDIOBJ oldBrush = SelectObject(c.dc, red);
    EXPECT_EQ(oldPen, GetStockObject(BLACK_PEN));
    EXPECT_EQ(oldBrush, GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(Rectangle(c.dc, 20, 2, 30, 12));
    EXPECT_EQ(c.at(20, 2), RGB(0, 0, 255));
    EXPECT_EQ(c.at(29, 11), RGB(0, 0, 255));
    EXPECT_EQ(c.at(25, 7), RGB(255, 0, 0));
    EXPECT_EQ(c.at(30, 7), RGB(255, 255, 255));

    // Lines leave out their end point; the null pen draws nothing.
    MoveToEx(c.dc, 2, 15, nullptr);
    EXPECT_TRUE(LineTo(c.dc, 12, 15));
    EXPECT_EQ(c.at(2, 15), RGB(0, 0, 255));
    EXPECT_EQ(c.at(11, 15), RGB(0, 0, 255));
    EXPECT_EQ(c.at(12, 15), RGB(255, 255, 255));
    SelectObject(c.dc, GetStockObject(NULL_PEN));
    MoveToEx(c.dc, 2, 17, nullptr);
    LineTo(c.dc, 12, 17);
    EXPECT_EQ(c.at(5, 17), RGB(255, 255, 255));

    // A deleted pen stays usable while selected; stock objects survive deletion.
    SelectObject(c.dc, blue);
    EXPECT_TRUE(DeleteObject(blue));
    MoveToEx(c.dc, 2, 26, nullptr);
    LineTo(c.dc, 12, 26);
    EXPECT_EQ(c.at(5, 26), RGB(0, 0, 255));
    EXPECT_EQ(SelectObject(c.dc, oldPen), nullptr); // the deleted pen is gone now
    EXPECT_EQ(SelectObject(c.dc, blue), HGDI_ERROR);
    EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_PEN)));
    EXPECT_NE(SelectObject(c.dc, GetStockObject(BLACK_PEN)), HGDI_ERROR);
    SelectObject(c.dc, oldBrush);
    DeleteObject(red);
}

TEST(GdiText, TextOutPlacesTextByItsAlignmentInTheTextColour) {
    Canvas c(200, 60);
    HFONT f = Verdana(20);
    SelectObject(c.dc, f);
    TEXTMETRICW tm{};
    ASSERT_TRUE(GetTextMetricsW(c.dc, &tm));
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    EXPECT_GE(tm.tmAscent, 15);
    EXPECT_GT(tm.tmAveCharWidth, 5);

    SetTextColor(c.dc, RGB(0, 128, 0));
    SetBkMode(c.dc, TRANSPARENT);
    SetTextAlign(c.dc, TA_LEFT | TA_BASELINE);
    ASSERT_TRUE(TextOutW(c.dc, 10, 40, L"HHH", 3));
    RECT ink = c.inked();
    // Capitals sit on the baseline and rise about 0.7 em above it.
    EXPECT_GE(ink.left, 10);
    EXPECT_LE(ink.left, 13);
    EXPECT_LE(ink.bottom, 41);
    EXPECT_GE(ink.bottom, 39);
    EXPECT_LT(ink.top, 40 - 10);
    int green = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x) green += c.at(x, y) == RGB(0, 128, 0);
    EXPECT_GT(green, 20);

    // Right alignment ends the text at x; an opaque mode fills its cell.
    Canvas d(200, 60);
    SelectObject(d.dc, f);
    SetTextAlign(d.dc, TA_RIGHT | TA_TOP);
    SetBkMode(d.dc, OPAQUE);
    SetBkColor(d.dc, RGB(255, 255, 0));
    SIZE extent{};
    ASSERT_TRUE(GetTextExtentPoint32W(d.dc, L"Wide", 4, &extent));
    ASSERT_TRUE(TextOutW(d.dc, 150, 5, L"Wide", 4));
    EXPECT_EQ(d.at(150 - extent.cx + 1, 6), RGB(255, 255, 0));
    EXPECT_EQ(d.at(150, 6), RGB(255, 255, 255));
    EXPECT_EQ(d.at(150 - extent.cx - 2, 6), RGB(255, 255, 255));
    EXPECT_EQ(d.inked().bottom, 5 + extent.cy);
    SelectObject(c.dc, GetStockObject(DEFAULT_GUI_FONT));
    SelectObject(d.dc, GetStockObject(DEFAULT_GUI_FONT));
    DeleteObject(f);
}

TEST(GdiText, PrefixExtentsMatchWholeExtentsAndCountWhatFits) {
    Canvas c(10, 10);
    HFONT f = Verdana(16);
    SelectObject(c.dc, f);
    const wchar_t* text = L"Hello, мир!";
    const int n = 11;
    std::vector<int> dx(n);
    int fit = -1;
    SIZE whole{}, part{};
    ASSERT_TRUE(GetTextExtentExPointW(c.dc, text, n, 40, &fit, dx.data(), &whole));
    for (int i = 1; i < n; ++i) EXPECT_GE(dx[i], dx[i - 1]);
    EXPECT_NEAR(dx[n - 1], whole.cx, 1);
    GetTextExtentPoint32W(c.dc, text, 5, &part);
    EXPECT_NEAR(dx[4], part.cx, 2);
    ASSERT_GT(fit, 0);
    ASSERT_LT(fit, n);
    EXPECT_LE(dx[fit - 1], 40);
    EXPECT_GT(dx[fit], 40);
    // Bigger fonts measure wider; bold wider still.
    HFONT big = Verdana(32), bold = Verdana(16, FW_BOLD);
    SIZE bigSize{}, boldSize{};
    SelectObject(c.dc, big);
    GetTextExtentPoint32W(c.dc, text, n, &bigSize);
    SelectObject(c.dc, bold);
    GetTextExtentPoint32W(c.dc, text, n, &boldSize);
    EXPECT_GT(bigSize.cx, whole.cx * 3 / 2);
    EXPECT_GT(boldSize.cx, whole.cx);
    EXPECT_FALSE(GetTextExtentExPointW(c.dc, text, -1, 0, nullptr, nullptr, &whole));
    EXPECT_FALSE(GetTextMetricsW(c.dc, nullptr));
    SelectObject(c.dc, GetStockObject(DEFAULT_GUI_FONT));
    DeleteObject(f);
    DeleteObject(big);
    DeleteObject(bold);
}

TEST(GdiText, DrawTextWrapsAlignsAndMeasures) {
    Canvas c(120, 80);
    HFONT f = Verdana(14);
    SelectObject(c.dc, f);
    const wchar_t* text = L"several words that cannot share one line";
    RECT calc{0, 0, 120, 0};
    const int wrapped = DrawTextW(c.dc, text, -1, &calc, DT_WORDBREAK | DT_CALCRECT);
    RECT one{0, 0, 120, 0};
    const int single = DrawTextW(c.dc, text, -1, &one, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_GE(wrapped, 2 * single);
    EXPECT_LE(calc.right, 120);
    EXPECT_GT(one.right, 120);
    EXPECT_EQ(c.inked().right, -1); // measuring draws nothing

    SetBkMode(c.dc, TRANSPARENT);
    RECT box{0, 0, 120, 80};
    EXPECT_GT(DrawTextW(c.dc, L"x", 1, &box, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE), 0);
    RECT ink = c.inked();
    EXPECT_GE(ink.left, 100);
    EXPECT_GE(ink.top, 60);
    Canvas d(120, 80);
    SelectObject(d.dc, f);
    SetBkMode(d.dc, TRANSPARENT);
    DrawTextW(d.dc, L"x", 1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ink = d.inked();
    EXPECT_NEAR((ink.left + ink.right) / 2, 60, 3);
    EXPECT_NEAR((ink.top + ink.bottom) / 2, 40, 4);
    SelectObject(c.dc, GetStockObject(DEFAULT_GUI_FONT));
    SelectObject(d.dc, GetStockObject(DEFAULT_GUI_FONT));
    DeleteObject(f);
}

TEST(GdiGradients, RectanglesShadeFromOneVertexColourToTheOther) {
    Canvas c(100, 40);
    TRIVERTEX v[2] = {{0, 0, 0xFF00, 0, 0, 0}, {100, 20, 0, 0, 0xFF00, 0}};
    GRADIENT_RECT r{0, 1};
    ASSERT_TRUE(GradientFill(c.dc, v, 2, &r, 1, GRADIENT_FILL_RECT_H));
    EXPECT_GT(GetRValue(c.at(0, 5)), 245);
    EXPECT_GT(GetBValue(c.at(99, 5)), 245);
    EXPECT_NEAR(GetRValue(c.at(50, 5)), 127, 6);
    EXPECT_NEAR(GetBValue(c.at(50, 5)), 127, 6);
    EXPECT_EQ(c.at(50, 25), RGB(255, 255, 255));
    TRIVERTEX w[2] = {{0, 20, 0, 0xFF00, 0, 0}, {100, 40, 0, 0, 0, 0}};
    ASSERT_TRUE(GradientFill(c.dc, w, 2, &r, 1, GRADIENT_FILL_RECT_V));
    EXPECT_GT(GetGValue(c.at(10, 20)), 240);
    EXPECT_LT(GetGValue(c.at(10, 39)), 15);
    GRADIENT_RECT bad{0, 5};
    EXPECT_FALSE(GradientFill(c.dc, v, 2, &bad, 1, GRADIENT_FILL_RECT_H));
    EXPECT_FALSE(GradientFill(c.dc, v, 2, &r, 1, 7));
}

TEST(GdiClipping, ClipRectanglesLimitDrawingAndSavesRestoreThem) {
    Canvas c(50, 50);
    RECT box{};
    EXPECT_EQ(GetClipBox(c.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.right, 50);
    EXPECT_EQ(SaveDC(c.dc), 1);
    EXPECT_EQ(IntersectClipRect(c.dc, 10, 10, 20, 20), SIMPLEREGION);
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    RECT all{0, 0, 50, 50};
    FillRect(c.dc, &all, black);
    EXPECT_EQ(c.at(15, 15), RGB(0, 0, 0));
    EXPECT_EQ(c.at(25, 15), RGB(255, 255, 255));
    GetClipBox(c.dc, &box);
    EXPECT_EQ(box.left, 10);
    EXPECT_EQ(box.bottom, 20);
    EXPECT_EQ(IntersectClipRect(c.dc, 30, 30, 40, 40), NULLREGION);
    EXPECT_TRUE(RestoreDC(c.dc, -1));
    EXPECT_FALSE(RestoreDC(c.dc, -1)); // nothing saved any more
    FillRect(c.dc, &all, black);
    EXPECT_EQ(c.at(45, 45), RGB(0, 0, 0));
    EXPECT_FALSE(SetPixelV(c.dc, 50, 0, 0));
    EXPECT_EQ(GetPixel(c.dc, -1, 0), CLR_INVALID);
}

TEST(GdiBitmaps, TransfersKeepOrientationScaleAndBlendByAlpha) {
    Canvas c(40, 40);
    // A 2 x 2 bottom-up DIB: its first row in memory is the picture's bottom.
    const uint32_t bottomUp[4] = {0x0000FF00, 0x0000FF00, 0x00FF0000, 0x00FF0000};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = 2;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    EXPECT_EQ(StretchDIBits(c.dc, 0, 0, 20, 20, 0, 0, 2, 2, bottomUp, &info, DIB_RGB_COLORS, SRCCOPY), 2);
    EXPECT_EQ(c.at(5, 2), RGB(255, 0, 0));
    EXPECT_EQ(c.at(5, 17), RGB(0, 255, 0));
    EXPECT_EQ(c.at(25, 5), RGB(255, 255, 255));
    info.bmiHeader.biBitCount = 24;
    EXPECT_EQ(StretchDIBits(c.dc, 0, 0, 2, 2, 0, 0, 2, 2, bottomUp, &info, DIB_RGB_COLORS, SRCCOPY), 0);

    // Half-transparent black blended over white gives grey.
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biHeight = -1;
    info.bmiHeader.biWidth = 1;
    void* bits = nullptr;
    HBITMAP one = CreateDIBSection(c.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(one, nullptr);
    *static_cast<uint32_t*>(bits) = 0x80000000; // premultiplied
    HDC memory = CreateCompatibleDC(c.dc);
    SelectObject(memory, one);
    ASSERT_TRUE(AlphaBlend(c.dc, 30, 30, 4, 4, memory, 0, 0, 1, 1, BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}));
    EXPECT_NEAR(GetRValue(c.at(31, 31)), 127, 3);
    // A bitmap sits in one memory context at a time.
    HDC other = CreateCompatibleDC(c.dc);
    EXPECT_EQ(SelectObject(other, one), HGDI_ERROR);
    ASSERT_TRUE(BitBlt(c.dc, 36, 36, 2, 2, memory, 0, 0, SRCCOPY));
    EXPECT_EQ(c.at(36, 36), RGB(0, 0, 0));
    DeleteDC(other);
    DeleteDC(memory);
    DeleteObject(one);
    // Bottom-up sections and absurd sizes are refused.
    info.bmiHeader.biHeight = 4;
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    info.bmiHeader.biHeight = -100000;
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

TEST(GdiSystemColours, AFixedClassicPalette) {
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), RGB(0, 0, 0));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(212, 208, 200));
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), RGB(10, 36, 106));
    EXPECT_EQ(GetSysColor(COLOR_INFOBK), RGB(255, 255, 225));
    EXPECT_EQ(GetSysColor(-1), 0u);
    EXPECT_EQ(GetSysColor(200), 0u);
    EXPECT_EQ(GetSysColorBrush(200), nullptr);
    EXPECT_EQ(GetSysColorBrush(COLOR_MENU), GetSysColorBrush(COLOR_MENU));
}
