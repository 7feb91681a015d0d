// Base Windows / Direct3D types the D3DX layer builds on.
#pragma once

#if __has_include("port/d3d9/d3d9types.h")
#include "port/d3d9/d3d9types.h"
#else
// Layout-identical stand-ins used until the device's type header exists.
#include <cstdint>
typedef int BOOL;
typedef float FLOAT;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t HRESULT;
typedef int32_t LONG;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
typedef DWORD D3DCOLOR;
struct D3DVECTOR { float x, y, z; };
struct D3DCOLORVALUE { float r, g, b, a; };
struct D3DMATRIX {
    union {
        struct {
            float _11, _12, _13, _14;
            float _21, _22, _23, _24;
            float _31, _32, _33, _34;
            float _41, _42, _43, _44;
        };
        float m[4][4];
    };
};
#endif
