// Objects drawn through effect files by the render queue, on the real device.

#include "Render/Targets/TargetsFixture.h"

#include <cmath>

namespace {

const char kVertex[] = "vertex <<< void main() { gl_Position = toClip(vec4(a_position.xyz, 1.0)); } >>>\n";

std::string Pass(const std::string& name, const std::string& colour, const std::string& states = std::string())
{
    return "    pass " + name + " {\n" + states + "        " + kVertex +
           "        fragment <<< out vec4 colour; void main() { colour = " + colour + "; } >>>\n    }\n";
}

// Three techniques: one the device refuses (a cull mode that does not
// exist), one coloured by the time, and one of two passes whose colours add.
std::string TestEffect()
{
    return "parameter mat4 MatrixWorld;\n"
           "parameter mat4 MatrixView;\n"
           "parameter mat4 MatrixProjection;\n"
           "parameter float CurrentTime;\n"
           "vertexcode <<<\n"
           "vec4 toClip(vec4 p) { return PortFinishPosition(MatrixProjection * MatrixView * MatrixWorld * p); }\n"
           ">>>\n"
           "technique Broken {\n" +
           Pass("P0", "vec4(1.0, 0.0, 1.0, 1.0)", "        state CULLMODE 9;\n") +
           "}\n"
           "technique Clock {\n" +
           Pass("P0", "vec4(fract(CurrentTime), 1.0, 0.0, 1.0)") +
           "}\n"
           "technique TwoPasses {\n" +
           Pass("Blue", "vec4(0.0, 0.0, 1.0, 1.0)") +
           Pass("AddGreen", "vec4(0.0, 1.0, 0.0, 1.0)",
                "        state ALPHABLENDENABLE TRUE;\n        state SRCBLEND ONE;\n        state DESTBLEND ONE;\n") +
           "}\n";
}

std::string BoxElement(const std::string& name, const std::string& shape, const std::string& place, const std::string& effect)
{
    return "  <p name=\"" + name + "\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; " + shape + "; " + place +
           ";\" extra=\"Red; NoTexture\"" + (effect.empty() ? std::string() : " effect=\"" + effect + "\"") + "/>\n";
}

} // namespace

class EffectsTest : public TargetsTest {
protected:
    void SetUp() override
    {
        TargetsTest::SetUp();
        auto& texts = C_D3DXSTRING::C_AllStrings::Instance();
        for (const wchar_t* line : {L"TG_A = -60; 0; 0;", L"TG_B = -20; 0; 0;", L"TG_C = 20; 0; 0;", L"TG_D = 60; 0; 0;"})
            texts.AddLine(line);
        Put("effects/test.fx", TestEffect());
    }
    C_PositionObject* Box(const wchar_t* name) { return dynamic_cast<C_PositionObject*>(Object(name)); }
};

TEST_F(EffectsTest, ObjectsWithinTheEffectDistanceDrawThroughTheirTechnique)
{
    Load("  <e name=\"Fx\" class=\"C_D3DXEFFECT\" value=\"test.fx\"/>\n" +
         BoxElement("FxBox", "RT_Cube", "RT_Left", "Fx; 1000; Missing; Broken; Clock") +
         BoxElement("Passes", "TG_Small", "RT_Origin", "Fx; 1000; TwoPasses") + BoxElement("PlainBox", "RT_Cube", "RT_Right", ""));
    auto* effect = dynamic_cast<C_D3DXEFFECT*>(Managers().GetResource(L"Fx", L"C_D3DXEFFECT", false));
    ASSERT_NE(effect, nullptr);
    ASSERT_NE(effect->D3DXEffect, nullptr);
    C_PositionObject* fxBox = Box(L"FxBox");
    ASSERT_NE(fxBox, nullptr);
    EXPECT_EQ(fxBox->Effect, effect);
    EXPECT_EQ(fxBox->Technique, L"Clock") << "the unknown and the refused techniques are passed over";
    EXPECT_FLOAT_EQ(fxBox->EffectDistance, 1000.0f);
    EXPECT_EQ(Box(L"Passes")->Technique, L"TwoPasses");
    EXPECT_FALSE(Logged(L"не подошла"));

    NextFrameAt(1500);
    std::vector<uint32_t> pixels = Frame();
    // The effect's colour, where the world, view and projection matrices put
    // the box: the same place the fixed-function pipeline draws it.
    uint32_t p = At(pixels, 40, 60);
    EXPECT_NEAR(Red(p), 128, 2) << "CurrentTime 1.5 s";
    EXPECT_EQ(Green(p), 255);
    EXPECT_TRUE(IsGreen(At(pixels, 40, 60 - 30))) << "nothing drawn outside the box";
    EXPECT_TRUE(IsRed(At(pixels, 120, 60))) << "the box without an effect";
    p = At(pixels, 80, 60);
    EXPECT_EQ(Blue(p), 255) << "first pass";
    EXPECT_EQ(Green(p), 255) << "second pass added";
    EXPECT_EQ(Red(p), 0);
    EXPECT_EQ(effect->Object, nullptr) << "the queue's object is kept for one draw only";

    // At exactly the effect distance the effect is used, a hair nearer limit
    // and it is not.
    const float distance = fxBox->GetDistance(Object(L"Cam"));
    ASSERT_GT(distance, 100.0f);
    fxBox->EffectDistance = distance;
    EXPECT_EQ(Green(At(Frame(), 40, 60)), 255);
    fxBox->EffectDistance = std::nextafter(distance, 0.0f);
    EXPECT_TRUE(IsRed(At(Frame(), 40, 60)));
}

TEST_F(EffectsTest, CurrentTimeIsSecondsInMillisecondStepsAndWrapsWithTheTickCount)
{
    EXPECT_EQ(C_D3DXEFFECT::TimeInSeconds(0), 0.0f);
    EXPECT_EQ(C_D3DXEFFECT::TimeInSeconds(1), 0.001f);
    EXPECT_EQ(C_D3DXEFFECT::TimeInSeconds(1500), 1.5f);
    EXPECT_EQ(C_D3DXEFFECT::TimeInSeconds(123456), 123.456f);
    EXPECT_EQ(C_D3DXEFFECT::TimeInSeconds(0xFFFFFFFFu), static_cast<float>(4294967.295));

    Load("  <e name=\"Fx\" class=\"C_D3DXEFFECT\" value=\"test.fx\"/>\n" +
         BoxElement("FxBox", "RT_Cube", "RT_Left", "Fx; 1000; Clock"));
    ID3DXEffect* effect = dynamic_cast<C_D3DXEFFECT*>(Managers().GetResource(L"Fx", L"C_D3DXEFFECT", false))->D3DXEffect;
    ASSERT_NE(effect, nullptr);
    float seconds = -1.0f;
    NextFrameAt(250);
    EXPECT_NEAR(Red(At(Frame(), 40, 60)), 64, 2);
    ASSERT_EQ(effect->GetFloat("CurrentTime", &seconds), D3D_OK);
    EXPECT_EQ(seconds, 0.25f);
    NextFrameAt(0xFFFFFFF0u);
    Frame();
    effect->GetFloat("CurrentTime", &seconds);
    EXPECT_EQ(seconds, C_D3DXEFFECT::TimeInSeconds(0xFFFFFFF0u));
    EXPECT_GT(seconds, 4294967.0f);
    // The next frame's tick count has wrapped to 0: so has the time.
    const std::vector<uint32_t> pixels = Frame();
    EXPECT_EQ(C_BaseObject::CommonData().Time, 0u);
    effect->GetFloat("CurrentTime", &seconds);
    EXPECT_EQ(seconds, 0.0f);
    EXPECT_LT(Red(At(pixels, 40, 60)), 2);
    EXPECT_EQ(Green(At(pixels, 40, 60)), 255);
}

TEST_F(EffectsTest, BrokenEffectsWarnAndTheirObjectsDrawWithoutThem)
{
    Put("effects/bad.fx", "technique Oops {\n");
    Put("effects/glsl.fx", "technique T {\n  pass P {\n"
                           "    vertex <<< void main() { gl_Position = nonsense; } >>>\n"
                           "    fragment <<< out vec4 c; void main() { c = vec4(1.0); } >>>\n  }\n}\n");
    Put("effects/numbers.fx", "parameter sampler2D Picture = 4294967295;\n" + TestEffect());
    Put("effects/nan.fx", "parameter float Level = nan;\n" + TestEffect());
    // Declared with other types than the engine sets them: the effect is
    // used, the wrong parameters are left alone.
    Put("effects/types.fx", "parameter float MatrixWorld;\nparameter mat4 CurrentTime;\n"
                            "technique Flat {\n  pass P {\n"
                            "    vertex <<< void main() { gl_Position = PortFinishPosition("
                            "vec4(a_position.xy / 100.0, 0.5, 1.0)); } >>>\n"
                            "    fragment <<< out vec4 c; void main() { c = vec4(1.0); } >>>\n  }\n}\n");
    Load("  <e name=\"Bad\" class=\"C_D3DXEFFECT\" value=\"bad.fx\"/>\n"
         "  <e name=\"Glsl\" class=\"C_D3DXEFFECT\" value=\"glsl.fx\"/>\n"
         "  <e name=\"Numbers\" class=\"C_D3DXEFFECT\" value=\"numbers.fx\"/>\n"
         "  <e name=\"Nan\" class=\"C_D3DXEFFECT\" value=\"nan.fx\"/>\n"
         "  <e name=\"Types\" class=\"C_D3DXEFFECT\" value=\"types.fx\"/>\n"
         "  <e name=\"Absent\" class=\"C_D3DXEFFECT\" value=\"absent.fx\"/>\n"
         "  <e name=\"Fx\" class=\"C_D3DXEFFECT\" value=\"test.fx\"/>\n" +
         BoxElement("BadBox", "TG_Small", "TG_A", "Bad; 1000; Oops") + BoxElement("NoSuch", "TG_Small", "TG_B", "Nope; 1000; Clock") +
         BoxElement("Untried", "TG_Small", "TG_C", "Fx; 1000; Nope; Nada") +
         BoxElement("AbsentBox", "TG_Small", "TG_D", "Absent; 1000; Clock") + BoxElement("TypesBox", "TG_Small", "RT_Origin", "Types; 1000; Flat"));

    EXPECT_TRUE(Logged(L"Не загружен файл эффекта: effect(2)"));
    EXPECT_TRUE(Logged(L"nonsense")) << "the compiler's message";
    EXPECT_TRUE(Logged(L"the stage of sampler Picture must be a whole number from 0 to 7, not '4294967295'"));
    EXPECT_TRUE(Logged(L"expected a number but found 'nan'"));
    EXPECT_EQ(CountLogged(L"Не загружен файл эффекта"), 4u) << "the missing file is silent";
    EXPECT_TRUE(Logged(L"Параметр MatrixWorld эффекта Types объявлен с неверным типом"));
    EXPECT_TRUE(Logged(L"Параметр CurrentTime эффекта Types объявлен с неверным типом"));
    EXPECT_FALSE(Logged(L"Параметр MatrixView")) << "parameters an effect leaves out are fine";
    EXPECT_TRUE(Logged(L"Объекту NoSuch установлен несуществующий эффект Nope"));
    EXPECT_TRUE(Logged(L"Объекту Untried не подошла ни одна техника эффекта Fx"));
    EXPECT_TRUE(Logged(L"Объекту BadBox не подошла ни одна техника эффекта Bad"));
    EXPECT_EQ(Box(L"Untried")->Technique, L"");

    const std::vector<uint32_t> pixels = Frame();
    for (int x : {20, 60, 100, 140}) EXPECT_TRUE(IsRed(At(pixels, x, 60))) << "x " << x << " drawn as without effect";
    // The effect with mistyped parameters still draws, with what it has.
    EXPECT_EQ(Box(L"TypesBox")->Technique, L"Flat");
    const uint32_t white = At(pixels, 80, 60);
    EXPECT_GT(Red(white) + Green(white) + Blue(white), 750) << std::hex << white;
}

TEST_F(EffectsTest, ADeletedEffectIsForgottenByItsObjects)
{
    Load("  <e name=\"Fx\" class=\"C_D3DXEFFECT\" value=\"test.fx\"/>\n" +
         BoxElement("FxBox", "RT_Cube", "RT_Left", "Fx; 1000; Clock"));
    NextFrameAt(1500);
    EXPECT_EQ(Green(At(Frame(), 40, 60)), 255);
    C_BaseObject::DeleteObject(C_BaseObject::ToID(Managers().GetResource(L"Fx", L"C_D3DXEFFECT", false)));
    EXPECT_EQ(Managers().GetResource(L"Fx", L"C_D3DXEFFECT", false), nullptr);
    EXPECT_EQ(Box(L"FxBox")->Effect, nullptr);
    EXPECT_TRUE(IsRed(At(Frame(), 40, 60)));
}
