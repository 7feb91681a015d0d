// Effects on the real device: programs, parameters, states and errors.
#include "port/d3d9/device_fixture.h"
#include "port/d3dx9/d3dx9effect.h"
#include "port/d3dx9/d3dx9tex.h"

#include <cmath>
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

namespace {

// One technique around `declarations`; its pass sets `states`.
std::string withTechnique(const std::string& declarations, const std::string& states = std::string()) {
    return declarations + "\ntechnique T { pass P {\n" + states +
           " vertex <<< void main() { gl_Position = vec4(a_position.xyz, 1.0); } >>>\n"
           " fragment <<< out vec4 c; void main() { c = vec4(1.0); } >>>\n} }\n";
}

std::string errorText(ID3DXBuffer* errors) {
    std::string text = errors ? static_cast<const char*>(errors->GetBufferPointer()) : "";
    if (errors) errors->Release();
    return text;
}

} // namespace

TEST_F(EffectTest, NumbersOfTheFileAreRangeCheckedBeforeAnyConversion) {
    struct Case {
        const char* text;
        const char* states;
        const char* message;   // null: accepted
    };
    const Case cases[] = {
        {"parameter sampler2D S = 4294967295;", "", "sampler S must be a whole number from 0 to 7, not '4294967295'"},
        {"parameter sampler2D S = nan;", "", "not 'nan'"},
        {"parameter sampler2D S = -1;", "", "not '-1'"},
        {"parameter sampler2D S = 8;", "", "not '8'"},
        {"parameter sampler2D S = 1.5;", "", "not '1.5'"},
        {"parameter sampler2D S = 7;", "", nullptr},
        {"parameter int I = 1e10;", "", "int parameter I must be a whole number"},
        {"parameter int I = -2147483648;", "", nullptr},
        {"parameter bool B = 2;", "", "bool parameter B must be a whole number from 0 to 1"},
        {"parameter float F = inf;", "", "expected a number but found 'inf'"},
        {"parameter float F = 1e39;", "", "expected a number but found '1e39'"},
        {"parameter vec4 V = 1 2 nan 4;", "", "expected a number but found 'nan'"},
        {"parameter float F = -3.4e38;", "", nullptr},
        {"parameter float F = -3.5e38;", "", "expected a number but found '-3.5e38'"},
        {"", " state ALPHAREF -1;\n", "bad value '-1' for ALPHAREF"},
        {"", " state ALPHAREF 4294967296;\n", "bad value '4294967296'"},
        {"", " state ALPHAREF 0x1FFFFFFFF;\n", "bad value '0x1FFFFFFFF'"},
        {"", " state POINTSIZE 1e39.0;\n", "bad value '1e39.0'"},
        {"", " state POINTSIZE nan.5;\n", "bad value 'nan.5'"},
        {"", " state ALPHAREF 0xFF;\n", nullptr},
        {"", " state POINTSIZE 2.5;\n", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + c.states);
        ID3DXBuffer* errors = nullptr;
        HRESULT hr = D3D_OK;
        ID3DXEffect* e = make(withTechnique(c.text, c.states), &errors, &hr);
        const std::string text = errorText(errors);
        if (!c.message) {
            EXPECT_EQ(hr, D3D_OK) << text;
            ASSERT_NE(e, nullptr);
            e->Release();
            continue;
        }
        EXPECT_EQ(e, nullptr);
        EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
    }
}

TEST_F(EffectTest, ParametersTakeOnlyTheSettersOfTheirKind) {
    const std::string text =
        "parameter float F = 0.5;\nparameter int I = 7;\nparameter bool B;\nparameter vec2 V2;\n"
        "parameter vec4 V;\nparameter mat4 M;\nparameter sampler2D S = 2;\n"
        "technique T { pass P {\n"
        " vertex <<< void main() { gl_Position = PortFinishPosition(vec4(a_position.xyz, 1.0)); } >>>\n"
        " fragment <<< out vec4 c; void main() { c = I > 1000 ? vec4(1.0, 0.0, 0.0, 1.0) :\n"
        "   (I < -1000 ? vec4(0.0, 1.0, 0.0, 1.0) : vec4(0.0, 0.0, 1.0, 1.0)); } >>>\n} }\n";
    ID3DXEffect* e = make(text);
    ASSERT_NE(e, nullptr);
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    const D3DXVECTOR4 v(5, 6, 7, 8);
    float f = 0;

    // Refused, and the value stays.
    EXPECT_EQ(e->SetMatrix("F", &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(e->SetTexture("F", nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(e->GetFloat("F", &f), D3D_OK);
    EXPECT_EQ(f, 0.5f);
    for (const char* name : {"M", "V", "V2", "S"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(e->SetFloat(name, 1.0f), D3DERR_INVALIDCALL);
        EXPECT_EQ(e->SetInt(name, 1), D3DERR_INVALIDCALL);
        EXPECT_EQ(e->SetBool(name, TRUE), D3DERR_INVALIDCALL);
        EXPECT_EQ(e->GetFloat(name, &f), D3DERR_INVALIDCALL);
    }
    EXPECT_EQ(e->SetVector("M", &v), D3DERR_INVALIDCALL);
    EXPECT_EQ(e->SetVector("S", &v), D3DERR_INVALIDCALL);
    EXPECT_EQ(e->SetMatrix("V", &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(e->GetMatrix("V", &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(e->SetTexture("S", nullptr), D3D_OK);

    // Scalars convert to the parameter's type.
    EXPECT_EQ(e->SetFloat("I", 2.7f), D3D_OK);
    e->GetFloat("I", &f);
    EXPECT_EQ(f, 2.0f);
    EXPECT_EQ(e->SetFloat("B", 0.25f), D3D_OK);
    e->GetFloat("B", &f);
    EXPECT_EQ(f, 1.0f);
    EXPECT_EQ(e->SetInt("F", 3), D3D_OK);
    e->GetFloat("F", &f);
    EXPECT_EQ(f, 3.0f);
    EXPECT_EQ(e->SetVector("F", &v), D3D_OK);
    e->GetFloat("F", &f);
    EXPECT_EQ(f, 5.0f);
    EXPECT_EQ(e->SetVector("V2", &v), D3D_OK);
    EXPECT_EQ(e->SetFloat("I", std::nanf("")), D3D_OK);
    e->GetFloat("I", &f);
    EXPECT_EQ(f, 0.0f);

    // Out-of-range values saturate on their way to the program.
    auto colourFor = [&](float value) {
        e->SetFloat("I", value);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        drawQuad(e);
        device->EndScene();
        return Pixel(ReadBack(), kWidth / 2, kHeight / 2);
    };
    EXPECT_NEAR_COLOR(colourFor(1e30f), 255, 0, 0, 1);
    EXPECT_NEAR_COLOR(colourFor(-1e30f), 0, 255, 0, 1);
    EXPECT_NEAR_COLOR(colourFor(12.0f), 0, 0, 255, 1);
    e->Release();
}

TEST_F(EffectTest, ValidationFollowsTheDeviceAndEveryStateOfEveryPass) {
    auto pass = [](const std::string& states) {
        return " pass P {\n" + states +
               "  vertex <<< void main() { gl_Position = vec4(a_position.xyz, 1.0); } >>>\n"
               "  fragment <<< out vec4 c; void main() { c = vec4(1.0); } >>>\n }\n";
    };
    const std::string text = "technique Good {" + pass(" state CULLMODE NONE;\n") + "}\n" +
                             "technique BadCull {" + pass(" state CULLMODE 9;\n") + "}\n" +
                             "technique BadRef {" + pass(" state ALPHAREF 300;\n") + "}\n" +
                             "technique BadSecondPass {" + pass("") + pass(" state ZFUNC 0;\n") + "}\n" +
                             "technique BadBlend {" + pass(" state SRCBLEND 16;\n") + "}\n" +
                             "technique Last {" + pass(" state SRCBLEND INVSRCALPHA;\n state BLENDOP MAX;\n") + "}\n";
    ID3DXBuffer* errors = nullptr;
    ID3DXEffect* e = make(text, &errors);
    ASSERT_NE(e, nullptr) << errorText(errors);
    EXPECT_EQ(e->ValidateTechnique("Good"), D3D_OK);
    EXPECT_EQ(e->ValidateTechnique("BadCull"), D3DERR_CONFLICTINGRENDERSTATE);
    EXPECT_EQ(e->ValidateTechnique("BadRef"), D3DERR_UNSUPPORTEDFACTORVALUE);
    EXPECT_TRUE(FAILED(e->ValidateTechnique("BadSecondPass")));
    EXPECT_TRUE(FAILED(e->ValidateTechnique("BadBlend")));
    EXPECT_EQ(e->ValidateTechnique("Last"), D3D_OK);
    EXPECT_EQ(e->ValidateTechnique("Nowhere"), D3DERR_INVALIDCALL);
    // Null: the current technique.
    EXPECT_EQ(e->ValidateTechnique(nullptr), D3D_OK);
    ASSERT_EQ(e->SetTechnique("BadCull"), D3D_OK);
    EXPECT_EQ(e->ValidateTechnique(nullptr), D3DERR_CONFLICTINGRENDERSTATE);
    D3DXHANDLE next = nullptr;
    ASSERT_EQ(e->FindNextValidTechnique(nullptr, &next), D3D_OK);
    EXPECT_STREQ(next, "Good");
    ASSERT_EQ(e->FindNextValidTechnique("Good", &next), D3D_OK);
    EXPECT_STREQ(next, "Last");
    EXPECT_EQ(e->FindNextValidTechnique("Last", &next), S_FALSE);

    // Nothing validates on a lost device; after Reset it does again, without
    // the effect being made anew.
    PortDeviceForceLoss(device);
    EXPECT_EQ(e->ValidateTechnique("Good"), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST) << "validation does not move the loss on";
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(e->ValidateTechnique("Good"), D3DERR_DEVICELOST);
    EXPECT_EQ(e->OnLostDevice(), D3D_OK);
    D3DPRESENT_PARAMETERS p = DefaultParams();
    ASSERT_EQ(device->Reset(&p), D3D_OK);
    EXPECT_EQ(e->OnResetDevice(), D3D_OK);
    EXPECT_EQ(e->ValidateTechnique("Good"), D3D_OK);
    e->Release();
}
