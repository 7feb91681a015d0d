#pragma once
// A memory device context over a 32-bit top-down bitmap, for drawing tests.

#include <cstdint>
#include <algorithm>
#include <cstdlib>

#include "port/d3dx9/wingdi.h"

class HtmlCanvas {
public:
    HtmlCanvas(int width, int height, uint32_t fill = 0x00FFFFFF) : m_width(width), m_height(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_bits = static_cast<uint32_t*>(bits);
        for (int i = 0; i < width * height; ++i) m_bits[i] = 0xFF000000u | fill;
        m_dc = CreateCompatibleDC(nullptr);
        SelectObject(m_dc, m_bitmap);
    }
    ~HtmlCanvas() {
        DeleteDC(m_dc);
        DeleteObject(m_bitmap);
    }
    HtmlCanvas(const HtmlCanvas&) = delete;
    HtmlCanvas& operator=(const HtmlCanvas&) = delete;

    HDC dc() const { return m_dc; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // 0xRRGGBB of a pixel.
    uint32_t at(int x, int y) const { return m_bits[(size_t)y * m_width + x] & 0xFFFFFF; }
    const uint32_t* bits() const { return m_bits; }

    static bool Near(uint32_t a, uint32_t b, int tolerance) {
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs((int)((a >> shift) & 255) - (int)((b >> shift) & 255)) > tolerance) return false;
        return true;
    }
    // Pixels within tolerance of a colour.
    int count(uint32_t rgb, int tolerance = 0) const {
        int n = 0;
        for (int i = 0; i < m_width * m_height; ++i) n += Near(m_bits[i] & 0xFFFFFF, rgb, tolerance) ? 1 : 0;
        return n;
    }
    // Bounding box of every pixel that is not the given background.
    RECT inked(uint32_t background = 0xFFFFFF) const {
        RECT r{m_width, m_height, -1, -1};
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x)
                if (at(x, y) != background) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
        return r;
    }

private:
    int m_width, m_height;
    HBITMAP m_bitmap = nullptr;
    uint32_t* m_bits = nullptr;
    HDC m_dc = nullptr;
};
