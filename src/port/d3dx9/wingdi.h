// The GDI services of the port: fonts, pens, brushes and bitmaps, memory
// device contexts and the contexts surfaces hand out, text output and
// measurement laid out by pango, rectangles, lines, gradients and bitmap
// transfers drawn by cairo, and the system colours.
#pragma once

#include "port/d3dx9/d3dx9font.h"

struct HFONT__;
typedef HFONT__* HFONT;
struct HPEN__;
typedef HPEN__* HPEN;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;
struct HBITMAP__;
typedef HBITMAP__* HBITMAP;
typedef void* HGDIOBJ;
typedef int* LPINT;

struct LOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[LF_FACESIZE];
};

struct TEXTMETRICW {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
    LONG tmOverhang;
    LONG tmDigitizedAspectX;
    LONG tmDigitizedAspectY;
    WCHAR tmFirstChar;
    WCHAR tmLastChar;
    WCHAR tmDefaultChar;
    WCHAR tmBreakChar;
    BYTE tmItalic;
    BYTE tmUnderlined;
    BYTE tmStruckOut;
    BYTE tmPitchAndFamily;
    BYTE tmCharSet;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // negative: rows run top-down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
struct RGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

typedef USHORT COLOR16;
struct TRIVERTEX {
    LONG x;
    LONG y;
    COLOR16 Red;  // 0..0xff00
    COLOR16 Green;
    COLOR16 Blue;
    COLOR16 Alpha;
};
struct GRADIENT_RECT {
    ULONG UpperLeft;
    ULONG LowerRight;
};

struct BLENDFUNCTION {
    BYTE BlendOp;
    BYTE BlendFlags;
    BYTE SourceConstantAlpha;
    BYTE AlphaFormat;
};

#ifndef CLIP_DEFAULT_PRECIS
#define CLIP_DEFAULT_PRECIS 0
#endif
#define HGDI_ERROR ((HGDIOBJ)(intptr_t)-1)
#define CLR_INVALID 0xFFFFFFFF
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))

// Background modes, text alignment (Win32 values)
#define TRANSPARENT 1
#define OPAQUE 2
#define TA_NOUPDATECP 0
#define TA_UPDATECP 1
#define TA_LEFT 0
#define TA_RIGHT 2
#define TA_CENTER 6
#define TA_TOP 0
#define TA_BOTTOM 8
#define TA_BASELINE 24
#define GDI_ERROR 0xFFFFFFFFL

// Pens, brushes, stock objects
#define PS_SOLID 0
#define PS_DASH 1
#define PS_DOT 2
#define PS_DASHDOT 3
#define PS_DASHDOTDOT 4
#define PS_NULL 5
#define PS_INSIDEFRAME 6
#define BS_SOLID 0
#define BS_NULL 1
#define BS_HOLLOW BS_NULL
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define DEFAULT_GUI_FONT 17

// Bitmaps and transfers
#define BI_RGB 0
#define DIB_RGB_COLORS 0
#define SRCCOPY 0x00CC0020
#define AC_SRC_OVER 0x00
#define AC_SRC_ALPHA 0x01
#define GRADIENT_FILL_RECT_H 0x00
#define GRADIENT_FILL_RECT_V 0x01

// Clip results
#define ERROR 0
#define NULLREGION 1
#define SIMPLEREGION 2
#define COMPLEXREGION 3

// System colours (GetSysColor indices)
#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_DESKTOP COLOR_BACKGROUND
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_ACTIVEBORDER 10
#define COLOR_INACTIVEBORDER 11
#define COLOR_APPWORKSPACE 12
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_3DFACE COLOR_BTNFACE
#define COLOR_BTNSHADOW 16
#define COLOR_3DSHADOW COLOR_BTNSHADOW
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_INACTIVECAPTIONTEXT 19
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_3DHIGHLIGHT COLOR_BTNHIGHLIGHT
#define COLOR_3DDKSHADOW 21
#define COLOR_3DLIGHT 22
#define COLOR_INFOTEXT 23
#define COLOR_INFOBK 24
#define COLOR_HOTLIGHT 26
#define COLOR_GRADIENTACTIVECAPTION 27
#define COLOR_GRADIENTINACTIVECAPTION 28
#define COLOR_MENUHILIGHT 29
#define COLOR_MENUBAR 30

// --- fonts and contexts ---------------------------------------------------
HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCWSTR faceName);
HFONT CreateFontIndirectW(const LOGFONTW* font);
// A memory context; the argument (the screen or another context) only
// decides compatibility, which is always given here. It draws into the
// bitmap selected into it (a 1 x 1 one until then).
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
// Selects a font, pen, brush or (into memory contexts) bitmap; returns the
// previous object of that kind (null for a font when none was selected),
// HGDI_ERROR for objects this layer does not know.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
// Deletes an object; one still selected into a context stays valid there
// until it is replaced, as GDI does. Stock objects are never deleted.
BOOL DeleteObject(HGDIOBJ object);
HGDIOBJ GetStockObject(int index);
// Saves the context's selections, colours, modes and clip; RestoreDC with
// a negative level goes back that many saves, a positive one to that save.
int SaveDC(HDC hdc);
BOOL RestoreDC(HDC hdc, int savedDC);

// --- text -------------------------------------------------------------------
// Width and height in pixels of the first count characters in the
// context's font.
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size);
// As GetTextExtentPoint32W; also how many characters fit in maxExtent
// (when fit is given) and the extent of every prefix (when dx is given:
// dx[i] is the width of characters 0..i).
BOOL GetTextExtentExPointW(HDC hdc, LPCWSTR text, int count, int maxExtent, LPINT fit, LPINT dx, SIZE* size);
BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics);
COLORREF SetTextColor(HDC hdc, COLORREF colour);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF colour);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
UINT SetTextAlign(HDC hdc, UINT align);
UINT GetTextAlign(HDC hdc);
// Draws text at (x, y) placed by the text alignment; an opaque background
// mode fills the text's cell with the background colour first.
BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int count);
// Formats text in a rectangle with the DT_* flags (alignment, word breaks
// at spaces, single line, DT_CALCRECT, DT_NOCLIP); returns the height of
// the text drawn, 0 on failure.
int DrawTextW(HDC hdc, LPCWSTR text, int count, LPRECT rect, UINT format);

// --- pens, brushes, shapes --------------------------------------------------
HPEN CreatePen(int style, int width, COLORREF colour);
HBRUSH CreateSolidBrush(COLORREF colour);
// A solid brush of a system colour (a stock object: never deleted).
HBRUSH GetSysColorBrush(int index);
BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT previous);
// A line in the selected pen from the current position up to, not
// including, (x, y), which becomes the current position.
BOOL LineTo(HDC hdc, int x, int y);
// Outlined with the pen and filled with the brush; right and bottom are
// excluded.
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
int FillRect(HDC hdc, const RECT* rect, HBRUSH brush);
int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush);
BOOL SetPixelV(HDC hdc, int x, int y, COLORREF colour);
COLORREF GetPixel(HDC hdc, int x, int y);
// Rectangles shaded from one vertex colour to the other, horizontally or
// vertically (GRADIENT_FILL_RECT_H / _V); vertex alpha is ignored.
BOOL GradientFill(HDC hdc, TRIVERTEX* vertices, ULONG vertexCount, void* mesh, ULONG meshCount, ULONG mode);

// --- clipping -----------------------------------------------------------------
// The smallest rectangle around what can be drawn: the context's target
// size intersected with its clip.
int GetClipBox(HDC hdc, LPRECT rect);
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);

// --- bitmaps --------------------------------------------------------------------
// A 32-bit top-down or bottom-up DIB section; *bits receives its pixels
// (0x00RRGGBB, or premultiplied 0xAARRGGBB for AlphaBlend).
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);
// Copies 32-bit pixels into the context, scaled to the destination.
int StretchDIBits(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc, int hSrc,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop);
BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                DWORD rop);
// Blends premultiplied source pixels (AC_SRC_ALPHA) and a constant alpha.
BOOL AlphaBlend(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                BLENDFUNCTION blend);

// --- system colours ---------------------------------------------------------------
// A fixed classic Windows palette: the same values on every machine.
DWORD GetSysColor(int index);

struct _PangoFontDescription;
typedef struct _cairo_surface cairo_surface_t;

namespace d3dx::gdi {
// The font selected into a context (null when none), for the 3D text code.
const LOGFONTW* selectedFont(HDC hdc);
// A pango font description for a logical font; the caller frees it.
_PangoFontDescription* describe(const LOGFONTW& font, double pixelSize);
// The pixel size a logical font's height asks for: negative heights are the
// character height, positive ones the cell height.
double pixelSize(const LONG height);
// Surfaces hand out contexts over their CPU copy: the surface registers it
// while the context is out so that GDI calls draw into it.
HDC attachSurface(cairo_surface_t* target);
void detachSurface(HDC hdc);
} // namespace d3dx::gdi
