// Effects on the real device: programs, parameters, states and errors.
#include "port/d3d9/device_fixture.h"
#include "port/d3dx9/d3dx9effect.h"
#include "port/d3dx9/d3dx9tex.h"

#include <string>

namespace {

const char kEffect[] = R"(// A flat colour and a textured look.
parameter mat4 MatrixWorld;
parameter mat4 MatrixView;
parameter mat4 MatrixProjection;
parameter float CurrentTime;
parameter vec4 Tint = 1 0 0 1;
parameter sampler2D Picture = 1;

vertexcode <<<
vec4 toClip(vec4 p) { return PortFinishPosition(MatrixProjection * MatrixView * MatrixWorld * p); }
>>>

technique Flat {
    pass P0 {
        state CULLMODE NONE;
        state D3DRS_ZENABLE FALSE;
        vertex <<< void main() { gl_Position = toClip(vec4(a_position.xyz, 1.0)); } >>>
        fragment <<< out vec4 colour; void main() { colour = Tint; } >>>
    }
}

technique Textured {
    pass P0 {
        vertex <<< out vec2 uv; void main() { uv = a_tex0.xy; gl_Position = toClip(vec4(a_position.xyz, 1.0)); } >>>
        fragment <<< in vec2 uv; out vec4 colour; void main() { colour = texture(Picture, uv); } >>>
    }
}
)";

class EffectTest : public DeviceTest {
protected:
    ID3DXEffect* make(const std::string& text, ID3DXBuffer** errors = nullptr, HRESULT* result = nullptr) {
        ID3DXEffect* e = nullptr;
        const HRESULT hr = D3DXCreateEffect(device, text.data(), (UINT)text.size(), nullptr, nullptr, 0, nullptr, &e,
                                            errors);
        if (result) *result = hr;
        return e;
    }
    // A screen-filling quad in world units under an orthographic projection.
    void drawQuad(ID3DXEffect* e) {
        struct V {
            float x, y, z, u, v;
        };
        const V q[4] = {{-1, 1, 0.5f, 0, 0}, {1, 1, 0.5f, 1, 0}, {-1, -1, 0.5f, 0, 1}, {1, -1, 0.5f, 1, 1}};
        UINT passes = 0;
        ASSERT_EQ(e->Begin(&passes, 0), D3D_OK);
        for (UINT p = 0; p < passes; ++p) {
            ASSERT_EQ(e->BeginPass(p), D3D_OK);
            device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
            device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(V));
            e->EndPass();
        }
        e->End();
    }
    void matrices(ID3DXEffect* e) {
        D3DXMATRIX id, proj;
        D3DXMatrixIdentity(&id);
        D3DXMatrixOrthoLH(&proj, 2, 2, 0, 1);
        EXPECT_EQ(e->SetMatrix("MatrixWorld", &id), D3D_OK);
        e->SetMatrix("MatrixView", &id);
        e->SetMatrix(e->GetParameterByName(nullptr, "MatrixProjection"), &proj);
    }
};

} // namespace

TEST_F(EffectTest, PassDrawsWithItsProgramAndParameters) {
    ID3DXBuffer* errors = nullptr;
    ID3DXEffect* e = make(kEffect, &errors);
    ASSERT_NE(e, nullptr) << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
    EXPECT_EQ(e->ValidateTechnique("Flat"), D3D_OK);
    EXPECT_EQ(e->ValidateTechnique("Missing"), D3DERR_INVALIDCALL);
    ASSERT_EQ(e->SetTechnique(e->GetTechniqueByName("Flat")), D3D_OK);
    matrices(e);
    EXPECT_EQ(e->SetFloat("CurrentTime", 1.5f), D3D_OK);
    FLOAT t = 0;
    e->GetFloat("CurrentTime", &t);
    EXPECT_EQ(t, 1.5f);
    EXPECT_EQ(e->SetFloat("Nothing", 1.0f), D3DERR_INVALIDCALL);

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device->BeginScene();
    drawQuad(e); // default Tint: red
    device->EndScene();
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), kWidth / 2, kHeight / 2), 255, 0, 0, 1);

    // A change committed inside a pass reaches the next draw.
    device->BeginScene();
    UINT passes = 0;
    e->Begin(&passes, 0);
    e->BeginPass(0);
    const D3DXVECTOR4 green(0, 1, 0, 1);
    e->SetVector("Tint", &green);
    EXPECT_EQ(e->CommitChanges(), D3D_OK);
    struct V {
        float x, y, z, u, v;
    };
    const V q[4] = {{-1, 1, 0.5f, 0, 0}, {1, 1, 0.5f, 1, 0}, {-1, -1, 0.5f, 0, 1}, {1, -1, 0.5f, 1, 1}};
    device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(V));
    // States of the pass are in force inside it.
    DWORD cull = 0;
    device->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, (DWORD)D3DCULL_NONE);
    e->EndPass();
    e->End();
    device->EndScene();
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), kWidth / 2, kHeight / 2), 0, 255, 0, 1);
    // ... and put back afterwards.
    device->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, (DWORD)D3DCULL_CCW);
    DWORD z = 0;
    device->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, (DWORD)D3DZB_TRUE);

    // Drawing after End uses the fixed-function pipeline again: a screen
    // rectangle in its own colour.
    device->BeginScene();
    DrawRect(0, 0, (float)kWidth, (float)kHeight, 0xFF0000FFu);
    device->EndScene();
    EXPECT_NEAR_COLOR(Pixel(ReadBack(), kWidth / 2, kHeight / 2), 0, 0, 255, 1);
    e->Release();
}

TEST_F(EffectTest, SamplersReadTheirTextureStage) {
    ID3DXEffect* e = make(kEffect);
    ASSERT_NE(e, nullptr);
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            reinterpret_cast<DWORD*>(static_cast<char*>(lr.pBits) + y * lr.Pitch)[x] = x ? 0xFF0000FFu : 0xFFFFFF00u;
    tex->UnlockRect(0);
    ASSERT_EQ(e->SetTexture("Picture", tex), D3D_OK);
    e->SetTechnique("Textured");
    matrices(e);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device->BeginScene();
    drawQuad(e);
    device->EndScene();
    const auto px = ReadBack();
    EXPECT_NEAR_COLOR(Pixel(px, kWidth / 4, kHeight / 2), 255, 255, 0, 2);
    EXPECT_NEAR_COLOR(Pixel(px, 3 * kWidth / 4, kHeight / 2), 0, 0, 255, 2);
    device->SetTexture(1, nullptr);
    e->Release(); // lets go of the texture
    EXPECT_EQ(tex->Release(), 0u);
}

TEST_F(EffectTest, ErrorsComeBackAsText) {
    ID3DXBuffer* errors = nullptr;
    HRESULT hr = D3D_OK;
    EXPECT_EQ(make("parameter float A;\ntechnique T {\n pass P { state NOSUCHSTATE 1; }\n}\n", &errors, &hr), nullptr);
    EXPECT_TRUE(FAILED(hr));
    ASSERT_NE(errors, nullptr);
    const std::string parse = static_cast<const char*>(errors->GetBufferPointer());
    EXPECT_NE(parse.find("effect(3)"), std::string::npos) << parse;
    EXPECT_NE(parse.find("NOSUCHSTATE"), std::string::npos) << parse;
    errors->Release();

    const std::string badGlsl = "technique T { pass P {\n vertex <<< void main() { gl_Position = nonsense; } >>>\n"
                                " fragment <<< out vec4 c; void main() { c = vec4(1); } >>>\n} }\n";
    EXPECT_EQ(make(badGlsl, &errors, &hr), nullptr);
    EXPECT_EQ(hr, E_FAIL);
    ASSERT_NE(errors, nullptr);
    const std::string log = static_cast<const char*>(errors->GetBufferPointer());
    EXPECT_NE(log.find("nonsense"), std::string::npos) << log;
    errors->Release();

    EXPECT_EQ(make("technique T { pass P { vertex <<< void main(){} ", &errors, &hr), nullptr);
    EXPECT_TRUE(FAILED(hr));
    errors->Release();
    EXPECT_EQ(make("", nullptr, &hr), nullptr);
    EXPECT_EQ(hr, D3DERR_INVALIDCALL);
}
