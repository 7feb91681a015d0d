#include "port/d3dx9/d3dx9math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

void expectMatrixNear(const D3DXMATRIX& got, const D3DXMATRIX& want, float eps = 1e-5f) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(got.m[i][j], want.m[i][j], eps) << "element " << i << "," << j;
}

void expectVecNear(const D3DXVECTOR3& got, const D3DXVECTOR3& want, float eps = 1e-5f) {
    EXPECT_NEAR(got.x, want.x, eps);
    EXPECT_NEAR(got.y, want.y, eps);
    EXPECT_NEAR(got.z, want.z, eps);
}

D3DXMATRIX randomMatrix(std::mt19937& rng) {
    std::uniform_real_distribution<float> d(-5.0f, 5.0f);
    D3DXMATRIX m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m.m[i][j] = d(rng);
    return m;
}

} // namespace

TEST(D3DXMath, LayoutMatchesDirect3D) {
    static_assert(sizeof(D3DXMATRIX) == 64);
    static_assert(sizeof(D3DXVECTOR3) == 12);
    static_assert(sizeof(D3DXVECTOR4) == 16);
    static_assert(sizeof(D3DXCOLOR) == 16);
    static_assert(sizeof(D3DXPLANE) == 16);
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    m._43 = 7.0f;
    EXPECT_EQ(m.m[3][2], 7.0f);
    EXPECT_EQ(m(3, 2), 7.0f);
    EXPECT_EQ(static_cast<const float*>(m)[14], 7.0f);
}

TEST(D3DXMath, PerspectiveFovLHPublishedValues) {
    D3DXMATRIX m;
    D3DXMatrixPerspectiveFovLH(&m, D3DX_PI / 4.0f, 4.0f / 3.0f, 0.1f, 10000.0f);
    const float t = std::tan(D3DX_PI / 8.0f);
    D3DXMATRIX want(1.0f / (4.0f / 3.0f * t), 0, 0, 0, 0, 1.0f / t, 0, 0, 0, 0, 10000.0f / (10000.0f - 0.1f), 1,
                    0, 0, 0.1f * 10000.0f / (0.1f - 10000.0f), 0);
    expectMatrixNear(m, want);
    EXPECT_NEAR(m._22, 2.4142137f, 1e-5f);

    // View-space depth zn and zf land on 0 and 1 after the divide.
    for (float z : {0.1f, 10000.0f}) {
        D3DXVECTOR3 p(0, 0, z), out;
        D3DXVec3TransformCoord(&out, &p, &m);
        EXPECT_NEAR(out.z, z == 0.1f ? 0.0f : 1.0f, 1e-4f);
    }
}

TEST(D3DXMath, SingleAxisRotationsMoveAxesAsPublished) {
    const float a = 0.7f;
    D3DXMATRIX rx, ry, rz;
    D3DXMatrixRotationX(&rx, a);
    D3DXMatrixRotationY(&ry, a);
    D3DXMatrixRotationZ(&rz, a);
    D3DXVECTOR3 out;
    const D3DXVECTOR3 ex(1, 0, 0), ey(0, 1, 0), ez(0, 0, 1);
    D3DXVec3TransformNormal(&out, &ex, &rz);
    expectVecNear(out, D3DXVECTOR3(std::cos(a), std::sin(a), 0));
    D3DXVec3TransformNormal(&out, &ey, &rx);
    expectVecNear(out, D3DXVECTOR3(0, std::cos(a), std::sin(a)));
    D3DXVec3TransformNormal(&out, &ez, &ry);
    expectVecNear(out, D3DXVECTOR3(std::sin(a), 0, std::cos(a)));

    // An arbitrary axis through a coordinate axis equals the single-axis matrix.
    D3DXMATRIX axis;
    D3DXVECTOR3 zAxis(0, 0, 5);
    D3DXMatrixRotationAxis(&axis, &zAxis, a);
    expectMatrixNear(axis, rz);
    D3DXVECTOR3 xAxis(2, 0, 0);
    D3DXMatrixRotationAxis(&axis, &xAxis, a);
    expectMatrixNear(axis, rx);
}

TEST(D3DXMath, YawPitchRollIsRollThenPitchThenYaw) {
    const float yaw = 3.0f * D3DX_PI / 4.0f, pitch = 9.0f * D3DX_PI / 20.0f, roll = -3.0f * D3DX_PI / 10.0f;
    D3DXMATRIX m, rx, ry, rz, want;
    D3DXMatrixRotationYawPitchRoll(&m, yaw, pitch, roll);
    D3DXMatrixRotationZ(&rz, roll);
    D3DXMatrixRotationX(&rx, pitch);
    D3DXMatrixRotationY(&ry, yaw);
    want = rz * rx * ry;
    expectMatrixNear(m, want);
    // Hand-evaluated row 2: (cp*sy, -sp, cp*cy).
    EXPECT_NEAR(m._31, std::cos(pitch) * std::sin(yaw), 1e-6f);
    EXPECT_NEAR(m._32, -std::sin(pitch), 1e-6f);
    EXPECT_NEAR(m._33, std::cos(pitch) * std::cos(yaw), 1e-6f);
    EXPECT_EQ(m._44, 1.0f);
    EXPECT_EQ(m._41, 0.0f);

    // The quaternion form describes the same rotation.
    D3DXQUATERNION q;
    D3DXQuaternionRotationYawPitchRoll(&q, yaw, pitch, roll);
    D3DXMATRIX fromQ;
    D3DXMatrixRotationQuaternion(&fromQ, &q);
    expectMatrixNear(fromQ, m);
}

TEST(D3DXMath, QuaternionMultiplyComposesInD3DXOrder) {
    D3DXQUATERNION a, b, ab;
    D3DXVECTOR3 axisA(1, 2, 3), axisB(-2, 0.5f, 1);
    D3DXQuaternionRotationAxis(&a, &axisA, 0.9f);
    D3DXQuaternionRotationAxis(&b, &axisB, -1.3f);
    D3DXQuaternionMultiply(&ab, &a, &b);
    D3DXMATRIX ma, mb, mab;
    D3DXMatrixRotationQuaternion(&ma, &a);
    D3DXMatrixRotationQuaternion(&mb, &b);
    D3DXMatrixRotationQuaternion(&mab, &ab);
    expectMatrixNear(mab, ma * mb);
    D3DXMATRIX axisM;
    D3DXMatrixRotationAxis(&axisM, &axisA, 0.9f);
    expectMatrixNear(axisM, ma);

    D3DXQUATERNION half;
    D3DXQuaternionSlerp(&half, &a, &a, 0.5f);
    EXPECT_NEAR(half.w, a.w, 1e-6f);
}

TEST(D3DXMath, InverseAndDeterminant) {
    // Upper-triangular: the determinant is the product of the diagonal.
    D3DXMATRIX tri(2, 1, 3, 4, 0, -3, 5, 1, 0, 0, 0.5f, 2, 0, 0, 0, 4);
    FLOAT det = 0;
    D3DXMATRIX inv;
    ASSERT_NE(D3DXMatrixInverse(&inv, &det, &tri), nullptr);
    EXPECT_FLOAT_EQ(det, 2.0f * -3.0f * 0.5f * 4.0f);
    EXPECT_FLOAT_EQ(D3DXMatrixDeterminant(&tri), -12.0f);
    D3DXMATRIX id;
    D3DXMatrixIdentity(&id);
    expectMatrixNear(tri * inv, id);
    expectMatrixNear(inv * tri, id);

    std::mt19937 rng(1234);
    for (int k = 0; k < 50; ++k) {
        D3DXMATRIX m = randomMatrix(rng);
        D3DXMATRIX mi;
        FLOAT d = 0;
        ASSERT_NE(D3DXMatrixInverse(&mi, &d, &m), nullptr);
        if (std::fabs(d) < 1.0f) continue; // keep the check well conditioned
        expectMatrixNear(m * mi, id, 1e-3f);
        EXPECT_FLOAT_EQ(d, D3DXMatrixDeterminant(&m));
    }

    // In-place inversion works.
    D3DXMATRIX t;
    D3DXMatrixTranslation(&t, 1, 2, 3);
    D3DXMatrixInverse(&t, nullptr, &t);
    EXPECT_FLOAT_EQ(t._41, -1.0f);
    EXPECT_FLOAT_EQ(t._43, -3.0f);
}

TEST(D3DXMath, SingularInverseReturnsNullAndWritesNothing) {
    D3DXMATRIX singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 1, 5, 5, 5, 5);
    D3DXMATRIX out(9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9);
    const D3DXMATRIX before = out;
    FLOAT det = 42.0f;
    EXPECT_EQ(D3DXMatrixInverse(&out, &det, &singular), nullptr);
    EXPECT_EQ(det, 42.0f);
    EXPECT_TRUE(out == before);
}

TEST(D3DXMath, MultiplyTransposeAndAliasing) {
    std::mt19937 rng(7);
    D3DXMATRIX a = randomMatrix(rng), b = randomMatrix(rng), r;
    D3DXMatrixMultiply(&r, &a, &b);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += (double)a.m[i][k] * b.m[k][j];
            EXPECT_NEAR(r.m[i][j], s, 1e-4);
        }
    D3DXMATRIX aa = a;
    D3DXMatrixMultiply(&aa, &aa, &b); // out aliases the left operand
    EXPECT_TRUE(aa == r);
    D3DXMATRIX bb = b;
    D3DXMatrixMultiply(&bb, &a, &bb); // and the right operand
    EXPECT_TRUE(bb == r);

    D3DXMATRIX t;
    D3DXMatrixTranspose(&t, &a);
    EXPECT_EQ(t._12, a._21);
    EXPECT_EQ(t._43, a._34);
    D3DXMATRIX mt;
    D3DXMatrixMultiplyTranspose(&mt, &a, &b);
    EXPECT_EQ(mt._12, r._21);
}

TEST(D3DXMath, CpuOptimizationsReportTheSimdPathInUseAndAgreeWithScalar) {
    std::mt19937 rng(99);
    D3DXMATRIX a = randomMatrix(rng), b = randomMatrix(rng), fast, slow;
    const D3DX_CPU_OPTIMIZATION on = D3DXCpuOptimizations(TRUE);
#if defined(__SSE2__)
    EXPECT_EQ(on, D3DX_SSE2_OPTIMIZED);
#else
    EXPECT_EQ(on, D3DX_NOT_OPTIMIZED);
#endif
    D3DXMatrixMultiply(&fast, &a, &b);
    D3DXVECTOR3 in[3] = {{1, 2, 3}, {-4, 5, 0.5f}, {0, 0, 0}}, outFast[3], outSlow[3];
    D3DXVec3TransformCoordArray(outFast, sizeof(D3DXVECTOR3), in, sizeof(D3DXVECTOR3), &a, 3);
    EXPECT_EQ(D3DXCpuOptimizations(FALSE), D3DX_NOT_OPTIMIZED);
    D3DXMatrixMultiply(&slow, &a, &b);
    D3DXVec3TransformCoordArray(outSlow, sizeof(D3DXVECTOR3), in, sizeof(D3DXVECTOR3), &a, 3);
    D3DXCpuOptimizations(TRUE);
    EXPECT_TRUE(fast == slow);
    for (int i = 0; i < 3; ++i) {
        D3DXVECTOR3 single;
        D3DXVec3TransformCoord(&single, &in[i], &a);
        expectVecNear(outFast[i], single);
        expectVecNear(outSlow[i], single);
    }
}

TEST(D3DXMath, LookAtLHPlacesTargetOnPositiveZ) {
    D3DXVECTOR3 eye(3, 4, -10), at(3, 4, 0), up(0, 1, 0);
    D3DXMATRIX v;
    D3DXMatrixLookAtLH(&v, &eye, &at, &up);
    D3DXVECTOR3 p;
    D3DXVec3TransformCoord(&p, &at, &v);
    expectVecNear(p, D3DXVECTOR3(0, 0, 10));
    D3DXVECTOR3 right(4, 4, 0);
    D3DXVec3TransformCoord(&p, &right, &v);
    expectVecNear(p, D3DXVECTOR3(1, 0, 10));

    D3DXVECTOR3 eye2(1, 2, 3), at2(-4, 6, 8);
    D3DXMatrixLookAtLH(&v, &eye2, &at2, &up);
    D3DXVec3TransformCoord(&p, &at2, &v);
    D3DXVECTOR3 diff = at2 - eye2;
    expectVecNear(p, D3DXVECTOR3(0, 0, D3DXVec3Length(&diff)), 1e-4f);
}

TEST(D3DXMath, OrthoMapsBoxToClipCube) {
    D3DXMATRIX o;
    D3DXMatrixOrthoOffCenterLH(&o, -2, 6, -1, 3, 1, 11);
    D3DXVECTOR3 lo(-2, -1, 1), hi(6, 3, 11), p;
    D3DXVec3TransformCoord(&p, &lo, &o);
    expectVecNear(p, D3DXVECTOR3(-1, -1, 0));
    D3DXVec3TransformCoord(&p, &hi, &o);
    expectVecNear(p, D3DXVECTOR3(1, 1, 1));
    D3DXMATRIX c;
    D3DXMatrixOrthoLH(&c, 8, 4, 1, 11);
    D3DXVECTOR3 corner(4, 2, 11);
    D3DXVec3TransformCoord(&p, &corner, &c);
    expectVecNear(p, D3DXVECTOR3(1, 1, 1));
}

TEST(D3DXMath, VectorHelpers) {
    D3DXVECTOR3 a(1, 2, 3), b(4, 5, 6), r;
    D3DXVec3Cross(&r, &a, &b);
    expectVecNear(r, D3DXVECTOR3(-3, 6, -3));
    EXPECT_FLOAT_EQ(D3DXVec3Dot(&a, &b), 32.0f);
    D3DXVec3Lerp(&r, &a, &b, 0.5f);
    expectVecNear(r, D3DXVECTOR3(2.5f, 3.5f, 4.5f));
    D3DXVECTOR3 zero(0, 0, 0);
    D3DXVec3Normalize(&r, &zero);
    expectVecNear(r, zero);
    D3DXVECTOR3 v(3, 0, 4);
    D3DXVec3Normalize(&v, &v);
    expectVecNear(v, D3DXVECTOR3(0.6f, 0, 0.8f));
    EXPECT_FLOAT_EQ(D3DXVec3Length(&b), std::sqrt(77.0f));

    D3DXMATRIX t;
    D3DXMatrixTranslation(&t, 10, 20, 30);
    D3DXVec3TransformNormal(&r, &a, &t); // normals ignore translation
    expectVecNear(r, a);
    D3DXVECTOR4 h;
    D3DXVec3Transform(&h, &a, &t);
    EXPECT_FLOAT_EQ(h.w, 1.0f);
    EXPECT_FLOAT_EQ(h.z, 33.0f);
}

TEST(D3DXMath, Planes) {
    D3DXVECTOR3 p1(0, 0, 5), p2(1, 0, 5), p3(0, 1, 5);
    D3DXPLANE pl;
    D3DXPlaneFromPoints(&pl, &p1, &p2, &p3);
    EXPECT_FLOAT_EQ(pl.c, 1.0f);
    EXPECT_FLOAT_EQ(pl.d, -5.0f);
    D3DXVECTOR3 q(7, 8, 9);
    EXPECT_FLOAT_EQ(D3DXPlaneDotCoord(&pl, &q), 4.0f);

    D3DXPLANE raw(0, 3, 4, 10), n;
    D3DXPlaneNormalize(&n, &raw);
    EXPECT_FLOAT_EQ(n.b, 0.6f);
    EXPECT_FLOAT_EQ(n.c, 0.8f);
    EXPECT_FLOAT_EQ(n.d, 2.0f);
    D3DXPLANE degenerate(0, 0, 0, 3);
    D3DXPlaneNormalize(&n, &degenerate);
    EXPECT_EQ(n.d, 0.0f);

    D3DXVECTOR3 a(1, 1, 0), b(1, 1, 10), hit;
    ASSERT_NE(D3DXPlaneIntersectLine(&hit, &pl, &a, &b), nullptr);
    expectVecNear(hit, D3DXVECTOR3(1, 1, 5));
    D3DXVECTOR3 c(2, 1, 0);
    EXPECT_EQ(D3DXPlaneIntersectLine(&hit, &pl, &a, &c), nullptr);
}

TEST(D3DXMath, ColourConversions) {
    D3DXCOLOR c(0x80FF4000u);
    EXPECT_FLOAT_EQ(c.a, 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(c.r, 1.0f);
    EXPECT_FLOAT_EQ(c.g, 64.0f / 255.0f);
    EXPECT_FLOAT_EQ(c.b, 0.0f);
    EXPECT_EQ((DWORD)c, 0x80FF4000u);
    D3DXCOLOR over(2.0f, -1.0f, 0.5f, 1.0f);
    EXPECT_EQ((DWORD)over, 0xFFFF0080u);
}

// Cases whose results were checked against the original library.
TEST(D3DXMath, BoxBoundProbe) {
    D3DXVECTOR3 bmin(-3, -2, -1), bmax(7, 8, 9);
    D3DXVECTOR3 pos(5, 5, 11), dir(-4, -5, -6);
    EXPECT_TRUE(D3DXBoxBoundProbe(&bmin, &bmax, &pos, &dir));
    dir = D3DXVECTOR3(4, 5, 6);
    EXPECT_FALSE(D3DXBoxBoundProbe(&bmin, &bmax, &pos, &dir));
    pos = D3DXVECTOR3(-4, 1, -2);
    EXPECT_TRUE(D3DXBoxBoundProbe(&bmin, &bmax, &pos, &dir));

    D3DXVECTOR3 umin(0, 0, 0), umax(1, 1, 1), upos(-3, 0, 0);
    D3DXVECTOR3 up(0, 1, 0), right(1, 0, 0);
    EXPECT_FALSE(D3DXBoxBoundProbe(&umin, &umax, &upos, &up));
    EXPECT_TRUE(D3DXBoxBoundProbe(&umin, &umax, &upos, &right));

    D3DXVECTOR3 dmin(1, 0, 0), dmax(1, 0, 0), dpos(0, 1, 0), ddir(0, 3, 0);
    EXPECT_FALSE(D3DXBoxBoundProbe(&dmin, &dmax, &dpos, &ddir));

    // Starting inside counts as a hit in any direction.
    D3DXVECTOR3 inside(0.5f, 0.5f, 0.5f), back(-1, -1, -1);
    EXPECT_TRUE(D3DXBoxBoundProbe(&umin, &umax, &inside, &back));
}

TEST(D3DXMath, SphereBoundProbe) {
    D3DXVECTOR3 c(1, 2, 3), dir(2, -4, 2);
    const float r = std::sqrt(77.0f);
    D3DXVECTOR3 pos(5, 5, 9);
    EXPECT_TRUE(D3DXSphereBoundProbe(&c, r, &pos, &dir));
    pos = D3DXVECTOR3(45, -75, 49);
    EXPECT_FALSE(D3DXSphereBoundProbe(&c, r, &pos, &dir));
    pos = D3DXVECTOR3(5, 11, 9);
    EXPECT_FALSE(D3DXSphereBoundProbe(&c, r, &pos, &dir));

    // Sphere behind the ray start: no hit; ahead: hit; start inside: hit.
    D3DXVECTOR3 centre(0, 0, 10), origin(0, 0, 0), fwd(0, 0, 1), bwd(0, 0, -1);
    EXPECT_TRUE(D3DXSphereBoundProbe(&centre, 1.0f, &origin, &fwd));
    EXPECT_FALSE(D3DXSphereBoundProbe(&centre, 1.0f, &origin, &bwd));
    EXPECT_TRUE(D3DXSphereBoundProbe(&centre, 20.0f, &origin, &bwd));
}

TEST(D3DXMath, IntersectTri) {
    D3DXVECTOR3 p0(0, 0, 5), p1(2, 0, 5), p2(0, 2, 5), pos(0.5f, 0.5f, 0), dir(0, 0, 2);
    FLOAT u = -1, v = -1, dist = -1;
    ASSERT_TRUE(D3DXIntersectTri(&p0, &p1, &p2, &pos, &dir, &u, &v, &dist));
    EXPECT_FLOAT_EQ(u, 0.25f);
    EXPECT_FLOAT_EQ(v, 0.25f);
    EXPECT_FLOAT_EQ(dist, 2.5f); // in units of the direction's length
    D3DXVECTOR3 away(0, 0, -1);
    EXPECT_FALSE(D3DXIntersectTri(&p0, &p1, &p2, &pos, &away, &u, &v, &dist));
    D3DXVECTOR3 outside(1.5f, 1.5f, 0);
    EXPECT_FALSE(D3DXIntersectTri(&p0, &p1, &p2, &outside, &dir, &u, &v, &dist));
}
