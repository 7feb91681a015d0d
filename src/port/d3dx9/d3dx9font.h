// D3DX fonts (ID3DXFont) and the GDI font services they stand on: text is
// laid out and drawn with pango and cairo into textures kept per string.
#pragma once

#include "port/d3d9/d3d9.h"
#include "port/d3dx9/d3dx9math.h"

// ---------------------------------------------------------------------------
// GDI font constants (Win32 values)
// ---------------------------------------------------------------------------
#ifndef DEFAULT_CHARSET
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define SYMBOL_CHARSET 2
#define RUSSIAN_CHARSET 204
#define OEM_CHARSET 255
#endif
#ifndef OUT_DEFAULT_PRECIS
#define OUT_DEFAULT_PRECIS 0
#define OUT_STRING_PRECIS 1
#define OUT_TT_PRECIS 4
#define OUT_TT_ONLY_PRECIS 7
#endif
#ifndef DEFAULT_QUALITY
#define DEFAULT_QUALITY 0
#define DRAFT_QUALITY 1
#define PROOF_QUALITY 2
#define NONANTIALIASED_QUALITY 3
#define ANTIALIASED_QUALITY 4
#define CLEARTYPE_QUALITY 5
#endif
#ifndef FF_SWISS
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2
#define FF_DONTCARE 0x00
#define FF_ROMAN 0x10
#define FF_SWISS 0x20
#define FF_MODERN 0x30
#define FF_SCRIPT 0x40
#define FF_DECORATIVE 0x50
#endif
#ifndef FW_NORMAL
#define FW_DONTCARE 0
#define FW_THIN 100
#define FW_EXTRALIGHT 200
#define FW_LIGHT 300
#define FW_NORMAL 400
#define FW_MEDIUM 500
#define FW_SEMIBOLD 600
#define FW_BOLD 700
#define FW_EXTRABOLD 800
#define FW_HEAVY 900
#endif
#ifndef DT_TOP
#define DT_TOP 0x00000000
#define DT_LEFT 0x00000000
#define DT_CENTER 0x00000001
#define DT_RIGHT 0x00000002
#define DT_VCENTER 0x00000004
#define DT_BOTTOM 0x00000008
#define DT_WORDBREAK 0x00000010
#define DT_SINGLELINE 0x00000020
#define DT_EXPANDTABS 0x00000040
#define DT_TABSTOP 0x00000080
#define DT_NOCLIP 0x00000100
#define DT_EXTERNALLEADING 0x00000200
#define DT_CALCRECT 0x00000400
#define DT_NOPREFIX 0x00000800
#define DT_INTERNAL 0x00001000
#endif

#ifndef LF_FACESIZE
#define LF_FACESIZE 32
#endif

struct D3DXFONT_DESCW {
    INT Height;
    UINT Width;
    UINT Weight;
    UINT MipLevels;
    BOOL Italic;
    BYTE CharSet;
    BYTE OutputPrecision;
    BYTE Quality;
    BYTE PitchAndFamily;
    WCHAR FaceName[LF_FACESIZE];
};
typedef D3DXFONT_DESCW* LPD3DXFONT_DESCW;

struct ID3DXSprite;
typedef ID3DXSprite* LPD3DXSPRITE;

struct ID3DXFont : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDescW(D3DXFONT_DESCW* desc) = 0;
    virtual HRESULT PreloadTextW(LPCWSTR text, INT count) = 0;
    // Draws (or with DT_CALCRECT measures) text in a rectangle; returns the
    // height of the text in pixels, 0 on failure.
    virtual INT DrawTextW(LPD3DXSPRITE sprite, LPCWSTR text, INT count, LPRECT rect, DWORD format,
                          D3DCOLOR color) = 0;
    virtual INT DrawTextA(LPD3DXSPRITE sprite, LPCSTR text, INT count, LPRECT rect, DWORD format,
                          D3DCOLOR color) = 0;
    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;
};
typedef ID3DXFont* LPD3DXFONT;

HRESULT D3DXCreateFontW(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels, BOOL italic,
                        DWORD charSet, DWORD outputPrecision, DWORD quality, DWORD pitchAndFamily, LPCWSTR faceName,
                        ID3DXFont** font);
HRESULT D3DXCreateFontIndirectW(IDirect3DDevice9* device, const D3DXFONT_DESCW* desc, ID3DXFont** font);

// Installs the font file held in memory for this process (through
// fontconfig); returns null when the data is no usable font. *numFonts gets
// the number of faces installed.
HANDLE AddFontMemResourceEx(void* fileView, DWORD size, void* reserved, DWORD* numFonts);
BOOL RemoveFontMemResourceEx(HANDLE font);
// Fonts installed from memory have no file name; for those this fails as on Windows.
BOOL RemoveFontResourceW(LPCWSTR fileName);

// ---------------------------------------------------------------------------
// 3D text
// ---------------------------------------------------------------------------
struct POINTFLOAT {
    FLOAT x, y;
};
struct GLYPHMETRICSFLOAT {
    FLOAT gmfBlackBoxX;
    FLOAT gmfBlackBoxY;
    POINTFLOAT gmfptGlyphOrigin;
    FLOAT gmfCellIncX;
    FLOAT gmfCellIncY;
};
typedef GLYPHMETRICSFLOAT* LPGLYPHMETRICSFLOAT;

struct ID3DXMesh;
struct ID3DXBuffer;
// Extruded text in the font selected into hdc: outlines flattened to the
// chordal deviation (0: one font unit), front cap at z = 0, back cap at
// z = -extrusion, units of one em. glyphMetrics, when given, receives one
// record per character.
HRESULT D3DXCreateTextW(IDirect3DDevice9* device, HDC hdc, LPCWSTR text, FLOAT deviation, FLOAT extrusion,
                        ID3DXMesh** mesh, ID3DXBuffer** adjacency, LPGLYPHMETRICSFLOAT glyphMetrics);
