// Internal: value conversions, state checks and Direct3D-to-OpenGL mappings
// shared by the device's source files.
#pragma once

#include <cstdint>
#include <cstring>

#include "port/d3d9/device.h"

namespace d3d9 {

// The device whose OpenGL context was made current last (nullptr when none).
extern PortDevice* g_current;

inline float AsFloat(DWORD v) {
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}
inline DWORD AsDword(float f) {
    DWORD v;
    std::memcpy(&v, &f, 4);
    return v;
}

inline void ColorToFloats(D3DCOLOR c, float out[4]) {
    out[0] = ((c >> 16) & 0xFF) / 255.0f;
    out[1] = ((c >> 8) & 0xFF) / 255.0f;
    out[2] = (c & 0xFF) / 255.0f;
    out[3] = ((c >> 24) & 0xFF) / 255.0f;
}

inline D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

inline D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
    return r;
}

inline bool ValidRenderState(DWORD s) {
    static bool table[256];
    static bool built = false;
    if (!built) {
        const DWORD list[] = {7,   8,   9,   14,  15,  16,  19,  20,  22,  23,  24,  25,  26,  27,  28,  29,  34,
                              35,  36,  37,  38,  48,  52,  53,  54,  55,  56,  57,  58,  59,  60,  128, 129, 130,
                              131, 132, 133, 134, 135, 136, 137, 139, 140, 141, 142, 143, 145, 146, 147, 148, 151,
                              152, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 165, 166, 167, 168, 170, 171,
                              172, 173, 174, 175, 176, 178, 179, 180, 181, 182, 183, 184, 185, 186, 187, 188, 189,
                              190, 191, 192, 193, 194, 195, 198, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209};
        for (DWORD v : list) table[v] = true;
        built = true;
    }
    return s < 256 && table[s];
}

inline bool ValidStageState(DWORD t) {
    return (t >= 1 && t <= 11) || t == 22 || t == 23 || t == 24 || t == 26 || t == 27 || t == 28 || t == 32;
}

inline int SamplerSlot(DWORD sampler) {
    if (sampler < 16) return static_cast<int>(sampler);
    if (sampler >= D3DDMAPSAMPLER && sampler <= D3DVERTEXTEXTURESAMPLER3) return static_cast<int>(16 + sampler - D3DDMAPSAMPLER);
    return -1;
}

inline bool ValidPrimitive(D3DPRIMITIVETYPE t) { return t >= D3DPT_POINTLIST && t <= D3DPT_TRIANGLEFAN; }

// GL_POINTS is 0: validity is checked with ValidPrimitive first.
inline GLenum GLMode(D3DPRIMITIVETYPE t) {
    switch (t) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLELIST: return GL_TRIANGLES;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return 0;
    }
}

inline uint64_t VertexCount(D3DPRIMITIVETYPE t, UINT prims) {
    switch (t) {
    case D3DPT_POINTLIST: return prims;
    case D3DPT_LINELIST: return 2ull * prims;
    case D3DPT_LINESTRIP: return prims + 1ull;
    case D3DPT_TRIANGLELIST: return 3ull * prims;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return prims + 2ull;
    default: return 0;
    }
}

inline GLenum GLBlend(DWORD b) {
    switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BOTHSRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_BOTHINVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
    }
}

inline void BlendPair(DWORD src, DWORD dst, GLenum& s, GLenum& d) {
    s = GLBlend(src);
    d = GLBlend(dst);
    // The "both" factors set source and destination together.
    if (src == D3DBLEND_BOTHSRCALPHA) d = GL_ONE_MINUS_SRC_ALPHA;
    if (src == D3DBLEND_BOTHINVSRCALPHA) d = GL_SRC_ALPHA;
}

inline GLenum GLBlendOp(DWORD op) {
    switch (op) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

inline GLenum GLCompare(DWORD f) {
    switch (f) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

inline GLenum GLStencilOp(DWORD op) {
    switch (op) {
    case D3DSTENCILOP_ZERO: return GL_ZERO;
    case D3DSTENCILOP_REPLACE: return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT: return GL_INCR;
    case D3DSTENCILOP_DECRSAT: return GL_DECR;
    case D3DSTENCILOP_INVERT: return GL_INVERT;
    case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
    }
}

inline GLenum GLAddress(DWORD a, bool mirrorClamp) {
    switch (a) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE: return mirrorClamp ? GL_MIRROR_CLAMP_TO_EDGE : GL_CLAMP_TO_EDGE;
    default: return GL_REPEAT;
    }
}

inline bool UsesTexture(int op, DWORD a0, DWORD a1, DWORD a2) {
    if (op == D3DTOP_BLENDTEXTUREALPHA || op == D3DTOP_BLENDTEXTUREALPHAPM) return true;
    auto is = [](DWORD a) { return (a & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
    bool u0 = op == D3DTOP_MULTIPLYADD || op == D3DTOP_LERP;
    bool u1 = op != D3DTOP_SELECTARG2;
    bool u2 = op != D3DTOP_SELECTARG1;
    return (u0 && is(a0)) || (u1 && is(a1)) || (u2 && is(a2));
}

// Surfaces that can be drawn into: the back buffer, render targets and
// levels of render-target textures.
inline bool IsColorTarget(PortSurface* s) {
    return s->SurfaceKind() == PortSurface::Kind::BackBuffer || s->SurfaceKind() == PortSurface::Kind::RenderTarget ||
           (s->SurfaceKind() == PortSurface::Kind::TextureLevel && s->Texture()->IsRenderTarget());
}

}  // namespace d3d9
