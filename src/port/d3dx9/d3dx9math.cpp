#include "port/d3dx9/d3dx9math.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TW_D3DX_HAVE_SSE2 1
#else
#define TW_D3DX_HAVE_SSE2 0
#endif

namespace {

// D3DX switches its optimised paths on by default.
bool g_simdEnabled = TW_D3DX_HAVE_SSE2 != 0;

inline bool useSimd() { return TW_D3DX_HAVE_SSE2 && g_simdEnabled; }

void multiplyScalar(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                          a.m[i][3] * b.m[3][j];
}

#if TW_D3DX_HAVE_SSE2
// Same summation order as the scalar path, so both give bit-identical results.
void multiplySse(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b) {
    const __m128 b0 = _mm_loadu_ps(b.m[0]);
    const __m128 b1 = _mm_loadu_ps(b.m[1]);
    const __m128 b2 = _mm_loadu_ps(b.m[2]);
    const __m128 b3 = _mm_loadu_ps(b.m[3]);
    for (int i = 0; i < 4; ++i) {
        __m128 r = _mm_mul_ps(_mm_set1_ps(a.m[i][0]), b0);
        r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(a.m[i][1]), b1));
        r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(a.m[i][2]), b2));
        r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(a.m[i][3]), b3));
        _mm_storeu_ps(out.m[i], r);
    }
}
#endif

void multiply(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX tmp;
#if TW_D3DX_HAVE_SSE2
    if (useSimd()) {
        multiplySse(tmp, a, b);
        out = tmp;
        return;
    }
#endif
    multiplyScalar(tmp, a, b);
    out = tmp;
}

void setIdentity(D3DMATRIX& m) {
    std::memset(&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.0f;
}

} // namespace

// ---------------------------------------------------------------------------
// D3DXMATRIX members
// ---------------------------------------------------------------------------
D3DXMATRIX::D3DXMATRIX(const FLOAT* p) { std::memcpy(&_11, p, sizeof(FLOAT) * 16); }

D3DXMATRIX::D3DXMATRIX(FLOAT f11, FLOAT f12, FLOAT f13, FLOAT f14, FLOAT f21, FLOAT f22, FLOAT f23,
                       FLOAT f24, FLOAT f31, FLOAT f32, FLOAT f33, FLOAT f34, FLOAT f41, FLOAT f42,
                       FLOAT f43, FLOAT f44) {
    _11 = f11; _12 = f12; _13 = f13; _14 = f14;
    _21 = f21; _22 = f22; _23 = f23; _24 = f24;
    _31 = f31; _32 = f32; _33 = f33; _34 = f34;
    _41 = f41; _42 = f42; _43 = f43; _44 = f44;
}

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& mat) {
    multiply(*this, *this, mat);
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator+=(const D3DXMATRIX& mat) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] += mat.m[i][j];
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator-=(const D3DXMATRIX& mat) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] -= mat.m[i][j];
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator*=(FLOAT f) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] *= f;
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator/=(FLOAT f) {
    const FLOAT inv = 1.0f / f;
    return *this *= inv;
}

D3DXMATRIX D3DXMATRIX::operator-() const {
    D3DXMATRIX r(*this);
    return r *= -1.0f;
}

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& mat) const {
    D3DXMATRIX r;
    multiply(r, *this, mat);
    return r;
}

D3DXMATRIX D3DXMATRIX::operator+(const D3DXMATRIX& mat) const {
    D3DXMATRIX r(*this);
    return r += mat;
}

D3DXMATRIX D3DXMATRIX::operator-(const D3DXMATRIX& mat) const {
    D3DXMATRIX r(*this);
    return r -= mat;
}

D3DXMATRIX D3DXMATRIX::operator*(FLOAT f) const {
    D3DXMATRIX r(*this);
    return r *= f;
}

D3DXMATRIX D3DXMATRIX::operator/(FLOAT f) const {
    D3DXMATRIX r(*this);
    return r /= f;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& mat) const {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (m[i][j] != mat.m[i][j]) return false;
    return true;
}

// ---------------------------------------------------------------------------
// D3DXCOLOR
// ---------------------------------------------------------------------------
D3DXCOLOR::D3DXCOLOR(DWORD argb) {
    const FLOAT f = 1.0f / 255.0f;
    r = f * (FLOAT)((argb >> 16) & 0xff);
    g = f * (FLOAT)((argb >> 8) & 0xff);
    b = f * (FLOAT)(argb & 0xff);
    a = f * (FLOAT)((argb >> 24) & 0xff);
}

static DWORD colorChannel(FLOAT v) {
    if (!(v > 0.0f)) return 0; // also catches NaN
    if (v >= 1.0f) return 0xff;
    return (DWORD)(v * 255.0f + 0.5f);
}

D3DXCOLOR::operator DWORD() const {
    return (colorChannel(a) << 24) | (colorChannel(r) << 16) | (colorChannel(g) << 8) | colorChannel(b);
}

// ---------------------------------------------------------------------------
// Vectors
// ---------------------------------------------------------------------------
FLOAT D3DXVec2Length(const D3DXVECTOR2* v) { return std::sqrt(v->x * v->x + v->y * v->y); }

D3DXVECTOR2* D3DXVec2Normalize(D3DXVECTOR2* out, const D3DXVECTOR2* v) {
    const FLOAT len = D3DXVec2Length(v);
    if (len == 0.0f) {
        out->x = out->y = 0.0f;
    } else {
        out->x = v->x / len;
        out->y = v->y / len;
    }
    return out;
}

D3DXVECTOR4* D3DXVec2Transform(D3DXVECTOR4* out, const D3DXVECTOR2* v, const D3DXMATRIX* m) {
    const D3DXVECTOR2 s = *v;
    out->x = m->_11 * s.x + m->_21 * s.y + m->_41;
    out->y = m->_12 * s.x + m->_22 * s.y + m->_42;
    out->z = m->_13 * s.x + m->_23 * s.y + m->_43;
    out->w = m->_14 * s.x + m->_24 * s.y + m->_44;
    return out;
}

D3DXVECTOR2* D3DXVec2TransformCoord(D3DXVECTOR2* out, const D3DXVECTOR2* v, const D3DXMATRIX* m) {
    const D3DXVECTOR2 s = *v;
    const FLOAT w = m->_14 * s.x + m->_24 * s.y + m->_44;
    out->x = (m->_11 * s.x + m->_21 * s.y + m->_41) / w;
    out->y = (m->_12 * s.x + m->_22 * s.y + m->_42) / w;
    return out;
}

FLOAT D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(D3DXVec3LengthSq(v)); }

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    const D3DXVECTOR3 r(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
    *out = r;
    return out;
}

D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = D3DXVECTOR3(a->x + b->x, a->y + b->y, a->z + b->z);
    return out;
}

D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = D3DXVECTOR3(a->x - b->x, a->y - b->y, a->z - b->z);
    return out;
}

D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, FLOAT s) {
    *out = D3DXVECTOR3(v->x * s, v->y * s, v->z * s);
    return out;
}

D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = D3DXVECTOR3(a->x < b->x ? a->x : b->x, a->y < b->y ? a->y : b->y, a->z < b->z ? a->z : b->z);
    return out;
}

D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
    *out = D3DXVECTOR3(a->x > b->x ? a->x : b->x, a->y > b->y ? a->y : b->y, a->z > b->z ? a->z : b->z);
    return out;
}

D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b, FLOAT s) {
    *out = D3DXVECTOR3(a->x + s * (b->x - a->x), a->y + s * (b->y - a->y), a->z + s * (b->z - a->z));
    return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
    const FLOAT len = D3DXVec3Length(v);
    if (len == 0.0f) {
        *out = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    } else {
        *out = D3DXVECTOR3(v->x / len, v->y / len, v->z / len);
    }
    return out;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const D3DXVECTOR3 s = *v;
    out->x = m->_11 * s.x + m->_21 * s.y + m->_31 * s.z + m->_41;
    out->y = m->_12 * s.x + m->_22 * s.y + m->_32 * s.z + m->_42;
    out->z = m->_13 * s.x + m->_23 * s.y + m->_33 * s.z + m->_43;
    out->w = m->_14 * s.x + m->_24 * s.y + m->_34 * s.z + m->_44;
    return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const D3DXVECTOR3 s = *v;
    const FLOAT w = m->_14 * s.x + m->_24 * s.y + m->_34 * s.z + m->_44;
    out->x = (m->_11 * s.x + m->_21 * s.y + m->_31 * s.z + m->_41) / w;
    out->y = (m->_12 * s.x + m->_22 * s.y + m->_32 * s.z + m->_42) / w;
    out->z = (m->_13 * s.x + m->_23 * s.y + m->_33 * s.z + m->_43) / w;
    return out;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const D3DXVECTOR3 s = *v;
    out->x = m->_11 * s.x + m->_21 * s.y + m->_31 * s.z;
    out->y = m->_12 * s.x + m->_22 * s.y + m->_32 * s.z;
    out->z = m->_13 * s.x + m->_23 * s.y + m->_33 * s.z;
    return out;
}

namespace {

template <bool Coord>
void transformArray(unsigned char* out, UINT outstride, const unsigned char* in, UINT instride,
                    const D3DXMATRIX* m, UINT n) {
#if TW_D3DX_HAVE_SSE2
    if (useSimd()) {
        const __m128 r0 = _mm_loadu_ps(m->m[0]);
        const __m128 r1 = _mm_loadu_ps(m->m[1]);
        const __m128 r2 = _mm_loadu_ps(m->m[2]);
        const __m128 r3 = Coord ? _mm_loadu_ps(m->m[3]) : _mm_setzero_ps();
        for (UINT i = 0; i < n; ++i) {
            float s[3];
            std::memcpy(s, in + (size_t)i * instride, sizeof s);
            __m128 r = _mm_mul_ps(_mm_set1_ps(s[0]), r0);
            r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(s[1]), r1));
            r = _mm_add_ps(r, _mm_mul_ps(_mm_set1_ps(s[2]), r2));
            float res[4];
            if (Coord) {
                r = _mm_add_ps(r, r3);
                _mm_storeu_ps(res, r);
                const float w = res[3];
                res[0] /= w;
                res[1] /= w;
                res[2] /= w;
            } else {
                _mm_storeu_ps(res, r);
            }
            std::memcpy(out + (size_t)i * outstride, res, sizeof(float) * 3);
        }
        return;
    }
#endif
    for (UINT i = 0; i < n; ++i) {
        D3DXVECTOR3 s;
        std::memcpy(&s, in + (size_t)i * instride, sizeof s);
        D3DXVECTOR3 r;
        if (Coord)
            D3DXVec3TransformCoord(&r, &s, m);
        else
            D3DXVec3TransformNormal(&r, &s, m);
        std::memcpy(out + (size_t)i * outstride, &r, sizeof r);
    }
}

} // namespace

D3DXVECTOR3* D3DXVec3TransformCoordArray(D3DXVECTOR3* out, UINT outstride, const D3DXVECTOR3* in,
                                         UINT instride, const D3DXMATRIX* m, UINT n) {
    transformArray<true>(reinterpret_cast<unsigned char*>(out), outstride,
                         reinterpret_cast<const unsigned char*>(in), instride, m, n);
    return out;
}

D3DXVECTOR3* D3DXVec3TransformNormalArray(D3DXVECTOR3* out, UINT outstride, const D3DXVECTOR3* in,
                                          UINT instride, const D3DXMATRIX* m, UINT n) {
    transformArray<false>(reinterpret_cast<unsigned char*>(out), outstride,
                          reinterpret_cast<const unsigned char*>(in), instride, m, n);
    return out;
}

FLOAT D3DXVec4Length(const D3DXVECTOR4* v) { return std::sqrt(D3DXVec4Dot(v, v)); }

D3DXVECTOR4* D3DXVec4Normalize(D3DXVECTOR4* out, const D3DXVECTOR4* v) {
    const FLOAT len = D3DXVec4Length(v);
    if (len == 0.0f)
        *out = D3DXVECTOR4(0.0f, 0.0f, 0.0f, 0.0f);
    else
        *out = D3DXVECTOR4(v->x / len, v->y / len, v->z / len, v->w / len);
    return out;
}

D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* out, const D3DXVECTOR4* v, const D3DXMATRIX* m) {
    const D3DXVECTOR4 s = *v;
    out->x = m->_11 * s.x + m->_21 * s.y + m->_31 * s.z + m->_41 * s.w;
    out->y = m->_12 * s.x + m->_22 * s.y + m->_32 * s.z + m->_42 * s.w;
    out->z = m->_13 * s.x + m->_23 * s.y + m->_33 * s.z + m->_43 * s.w;
    out->w = m->_14 * s.x + m->_24 * s.y + m->_34 * s.z + m->_44 * s.w;
    return out;
}

// ---------------------------------------------------------------------------
// Matrices
// ---------------------------------------------------------------------------
D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    setIdentity(*out);
    return out;
}

BOOL D3DXMatrixIsIdentity(const D3DXMATRIX* m) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (m->m[i][j] != (i == j ? 1.0f : 0.0f)) return FALSE;
    return TRUE;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
    multiply(*out, *a, *b);
    return out;
}

D3DXMATRIX* D3DXMatrixMultiplyTranspose(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
    D3DXMATRIX t;
    multiply(t, *a, *b);
    return D3DXMatrixTranspose(out, &t);
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
    const D3DXMATRIX s = *m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out->m[i][j] = s.m[j][i];
    return out;
}

namespace {

// The 2x2 sub-determinants of the lower two rows, shared by the
// determinant and the inverse.
struct Cofactors {
    FLOAT c[4][4]; // c[i][j]: cofactor of element (i, j)
    FLOAT det;
};

void cofactors(const D3DMATRIX& a, Cofactors& r) {
    const float* m = &a._11;
    // Pairs of the first two rows and of the last two rows.
    const float s0 = m[0] * m[5] - m[4] * m[1];
    const float s1 = m[0] * m[6] - m[4] * m[2];
    const float s2 = m[0] * m[7] - m[4] * m[3];
    const float s3 = m[1] * m[6] - m[5] * m[2];
    const float s4 = m[1] * m[7] - m[5] * m[3];
    const float s5 = m[2] * m[7] - m[6] * m[3];

    const float c5 = m[10] * m[15] - m[14] * m[11];
    const float c4 = m[9] * m[15] - m[13] * m[11];
    const float c3 = m[9] * m[14] - m[13] * m[10];
    const float c2 = m[8] * m[15] - m[12] * m[11];
    const float c1 = m[8] * m[14] - m[12] * m[10];
    const float c0 = m[8] * m[13] - m[12] * m[9];

    r.det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;

    // Adjugate (transposed cofactors), laid out so that inverse = adj / det.
    float* o = &r.c[0][0];
    o[0] = m[5] * c5 - m[6] * c4 + m[7] * c3;
    o[1] = -m[1] * c5 + m[2] * c4 - m[3] * c3;
    o[2] = m[13] * s5 - m[14] * s4 + m[15] * s3;
    o[3] = -m[9] * s5 + m[10] * s4 - m[11] * s3;

    o[4] = -m[4] * c5 + m[6] * c2 - m[7] * c1;
    o[5] = m[0] * c5 - m[2] * c2 + m[3] * c1;
    o[6] = -m[12] * s5 + m[14] * s2 - m[15] * s1;
    o[7] = m[8] * s5 - m[10] * s2 + m[11] * s1;

    o[8] = m[4] * c4 - m[5] * c2 + m[7] * c0;
    o[9] = -m[0] * c4 + m[1] * c2 - m[3] * c0;
    o[10] = m[12] * s4 - m[13] * s2 + m[15] * s0;
    o[11] = -m[8] * s4 + m[9] * s2 - m[11] * s0;

    o[12] = -m[4] * c3 + m[5] * c1 - m[6] * c0;
    o[13] = m[0] * c3 - m[1] * c1 + m[2] * c0;
    o[14] = -m[12] * s3 + m[13] * s1 - m[14] * s0;
    o[15] = m[8] * s3 - m[9] * s1 + m[10] * s0;
}

} // namespace

FLOAT D3DXMatrixDeterminant(const D3DXMATRIX* m) {
    Cofactors c;
    cofactors(*m, c);
    return c.det;
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, FLOAT* determinant, const D3DXMATRIX* m) {
    Cofactors c;
    cofactors(*m, c);
    if (c.det == 0.0f) return nullptr;
    if (determinant) *determinant = c.det;
    const FLOAT inv = 1.0f / c.det;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out->m[i][j] = c.c[i][j] * inv;
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, FLOAT x, FLOAT y, FLOAT z) {
    setIdentity(*out);
    out->_41 = x;
    out->_42 = y;
    out->_43 = z;
    return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, FLOAT sx, FLOAT sy, FLOAT sz) {
    setIdentity(*out);
    out->_11 = sx;
    out->_22 = sy;
    out->_33 = sz;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, FLOAT angle) {
    const FLOAT s = std::sin(angle), c = std::cos(angle);
    setIdentity(*out);
    out->_22 = c;
    out->_23 = s;
    out->_32 = -s;
    out->_33 = c;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, FLOAT angle) {
    const FLOAT s = std::sin(angle), c = std::cos(angle);
    setIdentity(*out);
    out->_11 = c;
    out->_13 = -s;
    out->_31 = s;
    out->_33 = c;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, FLOAT angle) {
    const FLOAT s = std::sin(angle), c = std::cos(angle);
    setIdentity(*out);
    out->_11 = c;
    out->_12 = s;
    out->_21 = -s;
    out->_22 = c;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, FLOAT angle) {
    D3DXVECTOR3 v;
    D3DXVec3Normalize(&v, axis);
    const FLOAT s = std::sin(angle), c = std::cos(angle), t = 1.0f - c;
    setIdentity(*out);
    out->_11 = t * v.x * v.x + c;
    out->_12 = t * v.x * v.y + s * v.z;
    out->_13 = t * v.x * v.z - s * v.y;
    out->_21 = t * v.x * v.y - s * v.z;
    out->_22 = t * v.y * v.y + c;
    out->_23 = t * v.y * v.z + s * v.x;
    out->_31 = t * v.x * v.z + s * v.y;
    out->_32 = t * v.y * v.z - s * v.x;
    out->_33 = t * v.z * v.z + c;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q) {
    const FLOAT x = q->x, y = q->y, z = q->z, w = q->w;
    setIdentity(*out);
    out->_11 = 1.0f - 2.0f * (y * y + z * z);
    out->_12 = 2.0f * (x * y + z * w);
    out->_13 = 2.0f * (x * z - y * w);
    out->_21 = 2.0f * (x * y - z * w);
    out->_22 = 1.0f - 2.0f * (x * x + z * z);
    out->_23 = 2.0f * (y * z + x * w);
    out->_31 = 2.0f * (x * z + y * w);
    out->_32 = 2.0f * (y * z - x * w);
    out->_33 = 1.0f - 2.0f * (x * x + y * y);
    return out;
}

D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, FLOAT yaw, FLOAT pitch, FLOAT roll) {
    const FLOAT sr = std::sin(roll), cr = std::cos(roll);
    const FLOAT sp = std::sin(pitch), cp = std::cos(pitch);
    const FLOAT sy = std::sin(yaw), cy = std::cos(yaw);
    out->_11 = sr * sp * sy + cr * cy;
    out->_12 = sr * cp;
    out->_13 = sr * sp * cy - cr * sy;
    out->_14 = 0.0f;
    out->_21 = cr * sp * sy - sr * cy;
    out->_22 = cr * cp;
    out->_23 = cr * sp * cy + sr * sy;
    out->_24 = 0.0f;
    out->_31 = cp * sy;
    out->_32 = -sp;
    out->_33 = cp * cy;
    out->_34 = 0.0f;
    out->_41 = out->_42 = out->_43 = 0.0f;
    out->_44 = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, FLOAT fovy, FLOAT aspect, FLOAT zn, FLOAT zf) {
    setIdentity(*out);
    const FLOAT t = std::tan(fovy / 2.0f);
    out->_11 = 1.0f / (aspect * t);
    out->_22 = 1.0f / t;
    out->_33 = zf / (zf - zn);
    out->_34 = 1.0f;
    out->_43 = (zf * zn) / (zn - zf);
    out->_44 = 0.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, FLOAT fovy, FLOAT aspect, FLOAT zn, FLOAT zf) {
    setIdentity(*out);
    const FLOAT t = std::tan(fovy / 2.0f);
    out->_11 = 1.0f / (aspect * t);
    out->_22 = 1.0f / t;
    out->_33 = zf / (zn - zf);
    out->_34 = -1.0f;
    out->_43 = (zf * zn) / (zn - zf);
    out->_44 = 0.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveLH(D3DXMATRIX* out, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf) {
    setIdentity(*out);
    out->_11 = 2.0f * zn / w;
    out->_22 = 2.0f * zn / h;
    out->_33 = zf / (zf - zn);
    out->_34 = 1.0f;
    out->_43 = (zn * zf) / (zn - zf);
    out->_44 = 0.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* out, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf) {
    setIdentity(*out);
    out->_11 = 2.0f / w;
    out->_22 = 2.0f / h;
    out->_33 = 1.0f / (zf - zn);
    out->_43 = zn / (zn - zf);
    return out;
}

D3DXMATRIX* D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* out, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                       FLOAT zf) {
    setIdentity(*out);
    out->_11 = 2.0f / (r - l);
    out->_22 = 2.0f / (t - b);
    out->_33 = 1.0f / (zf - zn);
    out->_41 = -1.0f - 2.0f * l / (r - l);
    out->_42 = 1.0f + 2.0f * t / (b - t);
    out->_43 = zn / (zn - zf);
    return out;
}

static D3DXMATRIX* lookAt(D3DXMATRIX* out, const D3DXVECTOR3& eye, const D3DXVECTOR3& zaxisRaw,
                          const D3DXVECTOR3& up) {
    D3DXVECTOR3 z, x, y, tmp;
    D3DXVec3Normalize(&z, &zaxisRaw);
    D3DXVec3Cross(&tmp, &up, &z);
    D3DXVec3Normalize(&x, &tmp);
    D3DXVec3Cross(&y, &z, &x);
    out->_11 = x.x; out->_21 = x.y; out->_31 = x.z;
    out->_12 = y.x; out->_22 = y.y; out->_32 = y.z;
    out->_13 = z.x; out->_23 = z.y; out->_33 = z.z;
    out->_14 = out->_24 = out->_34 = 0.0f;
    out->_41 = -D3DXVec3Dot(&x, &eye);
    out->_42 = -D3DXVec3Dot(&y, &eye);
    out->_43 = -D3DXVec3Dot(&z, &eye);
    out->_44 = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
    return lookAt(out, *eye, *at - *eye, *up);
}

D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
    return lookAt(out, *eye, *eye - *at, *up);
}

// ---------------------------------------------------------------------------
// Quaternions
// ---------------------------------------------------------------------------
D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* out, FLOAT yaw, FLOAT pitch, FLOAT roll) {
    const FLOAT sy = std::sin(yaw / 2), cy = std::cos(yaw / 2);
    const FLOAT sp = std::sin(pitch / 2), cp = std::cos(pitch / 2);
    const FLOAT sr = std::sin(roll / 2), cr = std::cos(roll / 2);
    out->x = cy * sp * cr + sy * cp * sr;
    out->y = sy * cp * cr - cy * sp * sr;
    out->z = cy * cp * sr - sy * sp * cr;
    out->w = cy * cp * cr + sy * sp * sr;
    return out;
}

D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, FLOAT angle) {
    D3DXVECTOR3 v;
    D3DXVec3Normalize(&v, axis);
    const FLOAT s = std::sin(angle / 2);
    out->x = s * v.x;
    out->y = s * v.y;
    out->z = s * v.z;
    out->w = std::cos(angle / 2);
    return out;
}

D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
    const FLOAT len = std::sqrt(q->x * q->x + q->y * q->y + q->z * q->z + q->w * q->w);
    if (len == 0.0f)
        *out = D3DXQUATERNION(0, 0, 0, 0);
    else
        *out = D3DXQUATERNION(q->x / len, q->y / len, q->z / len, q->w / len);
    return out;
}

// D3DX order: the result rotates by a first, then by b (= b * a in Hamilton terms).
D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* a, const D3DXQUATERNION* b) {
    const D3DXQUATERNION q1 = *a, q2 = *b;
    out->w = q2.w * q1.w - q2.x * q1.x - q2.y * q1.y - q2.z * q1.z;
    out->x = q2.w * q1.x + q2.x * q1.w + q2.y * q1.z - q2.z * q1.y;
    out->y = q2.w * q1.y - q2.x * q1.z + q2.y * q1.w + q2.z * q1.x;
    out->z = q2.w * q1.z + q2.x * q1.y - q2.y * q1.x + q2.z * q1.w;
    return out;
}

D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* out, const D3DXQUATERNION* a, const D3DXQUATERNION* b,
                                    FLOAT t) {
    FLOAT dot = a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
    FLOAT sign = 1.0f;
    if (dot < 0.0f) {
        dot = -dot;
        sign = -1.0f;
    }
    FLOAT k0 = 1.0f - t, k1 = t;
    if (1.0f - dot > 0.001f) {
        const FLOAT theta = std::acos(dot);
        const FLOAT s = std::sin(theta);
        k0 = std::sin(k0 * theta) / s;
        k1 = std::sin(k1 * theta) / s;
    }
    k1 *= sign;
    *out = D3DXQUATERNION(k0 * a->x + k1 * b->x, k0 * a->y + k1 * b->y, k0 * a->z + k1 * b->z,
                          k0 * a->w + k1 * b->w);
    return out;
}

// ---------------------------------------------------------------------------
// Planes
// ---------------------------------------------------------------------------
D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* out, const D3DXVECTOR3* point, const D3DXVECTOR3* normal) {
    *out = D3DXPLANE(normal->x, normal->y, normal->z, -D3DXVec3Dot(point, normal));
    return out;
}

D3DXPLANE* D3DXPlaneFromPoints(D3DXPLANE* out, const D3DXVECTOR3* v1, const D3DXVECTOR3* v2,
                               const D3DXVECTOR3* v3) {
    const D3DXVECTOR3 e1 = *v2 - *v1, e2 = *v3 - *v1;
    D3DXVECTOR3 n, nn;
    D3DXVec3Cross(&n, &e1, &e2);
    D3DXVec3Normalize(&nn, &n);
    return D3DXPlaneFromPointNormal(out, v1, &nn);
}

D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* out, const D3DXPLANE* p) {
    const FLOAT len = std::sqrt(p->a * p->a + p->b * p->b + p->c * p->c);
    if (len == 0.0f)
        *out = D3DXPLANE(0, 0, 0, 0);
    else
        *out = D3DXPLANE(p->a / len, p->b / len, p->c / len, p->d / len);
    return out;
}

D3DXVECTOR3* D3DXPlaneIntersectLine(D3DXVECTOR3* out, const D3DXPLANE* p, const D3DXVECTOR3* v1,
                                    const D3DXVECTOR3* v2) {
    const D3DXVECTOR3 dir = *v2 - *v1;
    const FLOAT dot = D3DXPlaneDotNormal(p, &dir);
    if (dot == 0.0f) return nullptr;
    const FLOAT t = (p->d + D3DXPlaneDotNormal(p, v1)) / dot;
    *out = *v1 - dir * t;
    return out;
}

D3DXPLANE* D3DXPlaneTransform(D3DXPLANE* out, const D3DXPLANE* p, const D3DXMATRIX* m) {
    const D3DXVECTOR4 v(p->a, p->b, p->c, p->d);
    D3DXVECTOR4 r;
    D3DXVec4Transform(&r, &v, m);
    *out = D3DXPLANE(r.x, r.y, r.z, r.w);
    return out;
}

// ---------------------------------------------------------------------------
// Colours
// ---------------------------------------------------------------------------
D3DXCOLOR* D3DXColorLerp(D3DXCOLOR* out, const D3DXCOLOR* a, const D3DXCOLOR* b, FLOAT s) {
    *out = D3DXCOLOR(a->r + s * (b->r - a->r), a->g + s * (b->g - a->g), a->b + s * (b->b - a->b),
                     a->a + s * (b->a - a->a));
    return out;
}

D3DXCOLOR* D3DXColorModulate(D3DXCOLOR* out, const D3DXCOLOR* a, const D3DXCOLOR* b) {
    *out = D3DXCOLOR(a->r * b->r, a->g * b->g, a->b * b->b, a->a * b->a);
    return out;
}

// ---------------------------------------------------------------------------
// Bounding volumes
// ---------------------------------------------------------------------------
BOOL D3DXSphereBoundProbe(const D3DXVECTOR3* center, FLOAT radius, const D3DXVECTOR3* raypos,
                          const D3DXVECTOR3* raydir) {
    const D3DXVECTOR3 d = *raypos - *center;
    const FLOAT k = D3DXVec3LengthSq(&d) - radius * radius;
    if (k < 0.0f) return TRUE; // the ray starts inside the sphere
    const FLOAT a = D3DXVec3LengthSq(raydir);
    const FLOAT b = D3DXVec3Dot(&d, raydir);
    const FLOAT disc = b * b - a * k;
    return (disc >= 0.0f && b <= 0.0f) ? TRUE : FALSE;
}

BOOL D3DXBoxBoundProbe(const D3DXVECTOR3* minb, const D3DXVECTOR3* maxb, const D3DXVECTOR3* raypos,
                       const D3DXVECTOR3* raydir) {
    // Slab test. Comparisons with NaN (a ray lying in a slab plane) are false,
    // so such a slab never rejects the ray.
    FLOAT tmin = 0.0f, tmax = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        const FLOAT lo = (&minb->x)[axis], hi = (&maxb->x)[axis];
        const FLOAT p = (&raypos->x)[axis];
        const FLOAT inv = 1.0f / (&raydir->x)[axis];
        FLOAT t0, t1;
        if (inv >= 0.0f) {
            t0 = (lo - p) * inv;
            t1 = (hi - p) * inv;
        } else {
            t0 = (hi - p) * inv;
            t1 = (lo - p) * inv;
        }
        if (t1 < 0.0f) return FALSE;
        if (axis == 0) {
            tmin = t0;
            tmax = t1;
            continue;
        }
        if (tmin > t1 || t0 > tmax) return FALSE;
        if (t0 > tmin) tmin = t0;
        if (t1 < tmax) tmax = t1;
    }
    return TRUE;
}

BOOL D3DXIntersectTri(const D3DXVECTOR3* p0, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2,
                      const D3DXVECTOR3* raypos, const D3DXVECTOR3* raydir, FLOAT* u, FLOAT* v, FLOAT* dist) {
    const D3DXVECTOR3 e1 = *p1 - *p0, e2 = *p2 - *p0;
    D3DXVECTOR3 pvec, qvec;
    D3DXVec3Cross(&pvec, raydir, &e2);
    const FLOAT det = D3DXVec3Dot(&e1, &pvec);
    if (det == 0.0f) return FALSE;
    const FLOAT inv = 1.0f / det;
    const D3DXVECTOR3 tvec = *raypos - *p0;
    const FLOAT uu = D3DXVec3Dot(&tvec, &pvec) * inv;
    if (uu < 0.0f || uu > 1.0f) return FALSE;
    D3DXVec3Cross(&qvec, &tvec, &e1);
    const FLOAT vv = D3DXVec3Dot(raydir, &qvec) * inv;
    if (vv < 0.0f || uu + vv > 1.0f) return FALSE;
    const FLOAT t = D3DXVec3Dot(&e2, &qvec) * inv;
    if (t < 0.0f) return FALSE;
    if (u) *u = uu;
    if (v) *v = vv;
    if (dist) *dist = std::fabs(t);
    return TRUE;
}

// ---------------------------------------------------------------------------
// CPU optimisations
// ---------------------------------------------------------------------------
D3DX_CPU_OPTIMIZATION D3DXCpuOptimizations(BOOL enable) {
    g_simdEnabled = TW_D3DX_HAVE_SSE2 && enable;
    return g_simdEnabled ? D3DX_SSE2_OPTIMIZED : D3DX_NOT_OPTIMIZED;
}
