// The GDI font services the 3D-text code uses: fonts, memory device
// contexts, selection and text measurement, laid out by pango.
#pragma once

#include "port/d3dx9/d3dx9font.h"

struct HFONT__;
typedef HFONT__* HFONT;
typedef void* HGDIOBJ;

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

#ifndef CLIP_DEFAULT_PRECIS
#define CLIP_DEFAULT_PRECIS 0
#endif
#define HGDI_ERROR ((HGDIOBJ)(intptr_t)-1)

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCWSTR faceName);
HFONT CreateFontIndirectW(const LOGFONTW* font);
// A memory context; the argument (the screen or another context) only
// decides compatibility, which is always given here.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
// Selects a font into a context; returns the previous one (null when none
// was selected), HGDI_ERROR for objects this layer does not know.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
// Deletes a font; a font still selected into a context stays valid there
// until it is replaced, as GDI does.
BOOL DeleteObject(HGDIOBJ object);
// Width and height in pixels of the first count characters in the
// context's font.
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size);

struct _PangoFontDescription;

namespace d3dx::gdi {
// The font selected into a context (null when none), for the 3D text code.
const LOGFONTW* selectedFont(HDC hdc);
// A pango font description for a logical font; the caller frees it.
_PangoFontDescription* describe(const LOGFONTW& font, double pixelSize);
} // namespace d3dx::gdi
