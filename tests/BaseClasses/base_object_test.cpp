#include "engine_support/ObjectTestClasses.h"

#include <cmath>
#include <limits>

#include "Render/Resources/D3DXEFFECT.h"
#include "Render/Resources/D3DXSTRING.h"
#include "Script/LuaScriptBase.h"

namespace {

std::vector<std::pair<std::string, std::wstring>>& Chunks()
{
    static std::vector<std::pair<std::string, std::wstring>> chunks;
    return chunks;
}
void RecordChunk(const std::string& code, const std::wstring& name) { Chunks().emplace_back(code, name); }

C_D3DXEFFECT g_Effect;
C_D3DXEFFECT* FindEffect(const std::wstring& name) { return name == L"Glow" ? &g_Effect : nullptr; }
std::wstring g_ValidTechnique;
bool Validate(C_D3DXEFFECT*, const std::wstring& technique) { return technique == g_ValidTechnique; }

std::vector<C_BaseObject*>& Queued()
{
    static std::vector<C_BaseObject*> queued;
    return queued;
}
void Queue(C_BaseObject* object) { Queued().push_back(object); }

} // namespace

class BaseObjectTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        Chunks().clear();
        Queued().clear();
        for (D3DXPLANE& plane : C_BaseObject::CommonData().FrustumPlanes) plane = D3DXPLANE(0, 0, 0, 0);
        C_BaseObject::CommonData().RenderPass = 0;
    }
    TestObject* Make(const wchar_t* name)
    {
        return static_cast<TestObject*>(Managers().AddResource(L"TestObject", name, L""));
    }
    C_BaseModule* MakeModule(const wchar_t* name)
    {
        return static_cast<C_BaseModule*>(Managers().AddResource(L"C_BaseModule", name, L""));
    }
};

TEST_F(BaseObjectTest, DistancesSetTheNearFlagBelowOneHundred)
{
    TestObject* o = Make(L"o");
    TestObject* far = Make(L"far");
    TestObject* close = Make(L"close");
    far->Position = D3DXVECTOR3(100, 0, 0);
    close->Position = D3DXVECTOR3(0, 99.99f, 0);
    o->ClearDistances();
    EXPECT_FALSE(o->Near);
    o->CalcDistance(far);
    EXPECT_FALSE(o->Near);
    EXPECT_FLOAT_EQ(o->GetDistance(far), 100.0f);
    o->CalcDistance(close);
    EXPECT_TRUE(o->Near);
    // Never measured: 0, and listed from then on.
    TestObject* other = Make(L"other");
    EXPECT_EQ(o->Distances.count(other), 0u);
    EXPECT_EQ(o->GetDistance(other), 0.0f);
    EXPECT_EQ(o->Distances.count(other), 1u);
    // Null means the current camera.
    C_BaseObject::CommonData().CurrentCamera = far;
    EXPECT_FLOAT_EQ(o->GetDistance(nullptr), 100.0f);
    C_BaseObject::CommonData().CurrentCamera = nullptr;
    o->ClearDistances();
    EXPECT_TRUE(o->Distances.empty());
}

TEST_F(BaseObjectTest, TheFrustumTestCullsSpheresBehindAnyPlane)
{
    auto& planes = C_BaseObject::CommonData().FrustumPlanes;
    planes[0] = D3DXPLANE(1, 0, 0, 0);    // x >= 0
    planes[5] = D3DXPLANE(0, 0, 1, -10);  // z >= 10
    EXPECT_EQ(C_BaseObject::FrustumTest(D3DXVECTOR3(-5, 0, 20), 1), -1.0f);
    EXPECT_EQ(C_BaseObject::FrustumTest(D3DXVECTOR3(-1, 0, 20), 1), -1.0f);   // touching from outside
    EXPECT_FLOAT_EQ(C_BaseObject::FrustumTest(D3DXVECTOR3(5, 0, 20), 1), 11.0f);
    EXPECT_EQ(C_BaseObject::FrustumTest(D3DXVECTOR3(-500, 0, 0), 0), 0.0f);   // radius 0: inside

    TestObject* o = Make(L"o");
    o->Position = D3DXVECTOR3(5, 0, 20);
    o->Radius = 1;
    C_BaseObject::RenderQueueInsert = nullptr;
    o->AddToRenderQueue();
    EXPECT_TRUE(Queued().empty());   // no render queue installed: nothing happens
    C_BaseObject::RenderQueueInsert = &Queue;
    o->AddToRenderQueue();
    o->Position = D3DXVECTOR3(-5, 0, 20);
    o->AddToRenderQueue();
    o->Position = D3DXVECTOR3(5, 0, 20);
    o->SetStatus(C_BaseObject::NotRender);
    o->AddToRenderQueue();
    ASSERT_EQ(Queued().size(), 1u);
    EXPECT_EQ(Queued()[0], o);
}

TEST_F(BaseObjectTest, InvalidIdsDoNothingInEveryStaticOperation)
{
    TestObject* o = Make(L"o");
    TestObject* gone = Make(L"gone");
    const double goneId = C_BaseObject::ToID(gone);
    ASSERT_TRUE(Managers().DeleteObject(gone));
    o->CursorStatus.Value = 2;
    o->ExtraObjects.push_back(o);
    o->ScriptDescription = L"keep";
    o->EffectDescription = L"keep";

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double ids[] = {0.0, -1.0, 1.0, 12345.5, goneId, C_BaseObject::ToID(o) + 8.0, nan,
                          std::numeric_limits<double>::infinity(), 1e300};
    for (double id : ids) {
        EXPECT_EQ(C_BaseObject::DisableObject(id), 0.0);
        EXPECT_EQ(C_BaseObject::NotRenderObject(id), 0.0);
        EXPECT_EQ(C_BaseObject::VisibleObject(id), 0.0);
        EXPECT_EQ(C_BaseObject::DeleteObject(id), 0.0);
        EXPECT_EQ(C_BaseObject::GetCursorStatus(id), 0.0);
        EXPECT_EQ(C_BaseResource::AddExtraObject(id, C_BaseObject::ToID(o)), 0.0);
        EXPECT_EQ(C_BaseResource::AddExtraObject(C_BaseObject::ToID(o), id), 0.0);
        EXPECT_EQ(C_BaseResource::DeleteExtraObject(C_BaseObject::ToID(o), id), 0.0);
        EXPECT_EQ(C_BaseResource::DeleteExtraObject(id, C_BaseObject::ToID(o)), 0.0);
        EXPECT_EQ(C_BaseResource::ClearExtraObjects(id), 0.0);
        EXPECT_EQ(C_BaseResource::SetAnotherScript(id, "x.lua"), 0.0);
        EXPECT_EQ(C_BaseResource::ClearScript(id), 0.0);
        EXPECT_EQ(C_BaseResource::SetAnotherEffect(id, "Glow"), 0.0);
        EXPECT_EQ(C_BaseResource::ClearEffect(id), 0.0);
        EXPECT_EQ(C_BaseObject::CreateObject(id, "TestObject", "made", "", "", "", ""), 0.0);
    }
    EXPECT_EQ(o->Status, C_BaseObject::Visible);
    EXPECT_EQ(o->ExtraObjects.size(), 1u);
    EXPECT_EQ(o->ScriptDescription, L"keep");
    EXPECT_EQ(o->EffectDescription, L"keep");
    EXPECT_EQ(Managers().GetResource(L"made", L"TestObject", false), nullptr);   // nothing made for a bad module
    EXPECT_TRUE(C_BaseObject::IsLive(o));
    EXPECT_EQ(C_BaseObject::GetCursorStatus(C_BaseObject::ToID(o)), 2.0);
}

TEST_F(BaseObjectTest, StatusOperationsAndDeletionThroughIds)
{
    TestObject* o = Make(L"o");
    const double id = C_BaseObject::GetObjectID("o");
    EXPECT_EQ(id, C_BaseObject::ToID(o));
    EXPECT_EQ(C_BaseObject::FromID(id), o);
    C_BaseObject::DisableObject(id);
    EXPECT_EQ(o->Status, C_BaseObject::Disabled);
    C_BaseObject::NotRenderObject(id);
    EXPECT_EQ(o->Status, C_BaseObject::NotRender);
    C_BaseObject::VisibleObject(id);
    EXPECT_EQ(o->Status, C_BaseObject::Visible);

    o->ReferenceCount = 1;
    C_BaseObject::DeleteObject(id);
    EXPECT_EQ(o->Status, C_BaseObject::Deleted);
    EXPECT_TRUE(C_BaseObject::IsLive(o));
    o->ReferenceCount = 0;
    C_BaseObject::DeleteObject(id);
    EXPECT_EQ(C_BaseObject::FromID(id), nullptr);
    EXPECT_EQ(C_BaseObject::GetObjectID("o"), 0.0);
    EXPECT_TRUE(Logged(L"Запрос ресурса, которого не было добавлено: o"));
}

TEST_F(BaseObjectTest, CreateObjectAddsTextsOrMakesLoadsAndListsObjects)
{
    C_BaseObject::CreateObject(0, "C_D3DXSTRING", "CreatedKey", "a; b", "", "", "");
    C_BaseObject::CreateObject(0, "C_D3DXSTRING", "CreatedOther = kept", "ignored", "", "", "");
    auto& table = C_D3DXSTRING::C_AllStrings::Instance();
    EXPECT_EQ(table.Lookup(L"CreatedKey"), L"a; b");
    EXPECT_EQ(table.Lookup(L"CreatedOther"), L"kept");
    EXPECT_EQ(Managers().GetManager(L"C_D3DXSTRING"), nullptr);   // no object for a text

    C_BaseModule* module = MakeModule(L"scene");
    Make(L"extra1");
    C_BaseObject::CreateObject(C_BaseObject::ToID(module), "TestObject", "made", "1;2", "", "FALSE", "extra1");
    auto* made = static_cast<TestObject*>(Managers().GetResource(L"made", L"TestObject", false));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->Value, L"1;2");
    EXPECT_FALSE(made->Static);
    EXPECT_EQ(made->Loads, 1);
    EXPECT_EQ(made->Extra, L"");
    ASSERT_EQ(made->ExtraObjects.size(), 1u);
    EXPECT_EQ(made->ReferenceCount, 1);
    ASSERT_EQ(module->size(), 1u);
    EXPECT_FALSE(module->Static);

    C_BaseObject::CreateObject(0, "TestObject", "loose", "", "", "true", "");
    EXPECT_TRUE(Managers().GetResource(L"loose", L"TestObject", false)->Static);

    // A module that can no longer be found by its name (renamed after it
    // was sorted in, so the search misses it).
    MakeModule(L"a");
    MakeModule(L"b");
    module->SetName(L"0renamed");
    C_BaseObject::CreateObject(C_BaseObject::ToID(module), "TestObject", "orphan", "", "", "", "");
    EXPECT_TRUE(Logged(L"Не найден модуль: 0renamed"));
    EXPECT_EQ(module->size(), 1u);
    // An unknown class makes nothing.
    C_BaseObject::CreateObject(0, "C_Nothing", "n", "", "", "", "");
    EXPECT_TRUE(Logged(L"не создан объект ресурса: n"));
}

TEST_F(BaseObjectTest, ScriptsAreReadFromTheScriptFolderAndRunOnce)
{
    C_BaseObject::CreateObject(0, "C_D3DXSTRING", "FolderScript", "scripts", "", "", "");
    std::filesystem::create_directories(dir / "scripts");
    WriteFile("scripts/move.lua", "function Move(id) end");
    TestObject* o = Make(L"o");
    o->ScriptDescription = L"move.lua; Move";
    C_BaseResource::RunScript = nullptr;
    o->LoadScript();
    EXPECT_EQ(o->ScriptFunction, L"");   // no script host: read, nothing run
    C_BaseResource::RunScript = &RecordChunk;
    o->LoadScript();
    ASSERT_EQ(Chunks().size(), 1u);
    EXPECT_EQ(Chunks()[0].first, "function Move(id) end");
    EXPECT_EQ(Chunks()[0].second, L"scripts\\move.lua");
    EXPECT_EQ(o->ScriptFunction, L"Move");
    o->LoadScript();   // a function is set: nothing again
    EXPECT_EQ(Chunks().size(), 1u);

    C_BaseResource::SetAnotherScript(C_BaseObject::ToID(o), "missing.lua; Other");
    EXPECT_EQ(o->ScriptFunction, L"");
    EXPECT_EQ(Chunks().size(), 1u);
    C_BaseResource::SetAnotherScript(C_BaseObject::ToID(o), "; Other");
    EXPECT_EQ(o->ScriptFunction, L"");
    C_BaseResource::SetAnotherScript(C_BaseObject::ToID(o), "move.lua; Again");
    EXPECT_EQ(o->ScriptFunction, L"Again");
    C_BaseResource::ClearScript(C_BaseObject::ToID(o));
    EXPECT_EQ(o->ScriptFunction, L"");
    EXPECT_EQ(o->ScriptDescription, L"");
}

TEST_F(BaseObjectTest, EffectsAreFoundByNameAndTheFirstValidTechniqueIsChosen)
{
    TestObject* o = Make(L"o");
    o->EffectDescription = L"Glow; 0; First; Second";
    o->LoadEffect();
    EXPECT_TRUE(Logged(L"Объекту o установлен несуществующий эффект Glow"));
    EXPECT_EQ(o->Effect, nullptr);

    C_BaseResource::EffectSupport.Find = &FindEffect;
    C_BaseResource::EffectSupport.ValidateTechnique = &Validate;
    g_ValidTechnique = L"Second";
    o->LoadEffect();
    EXPECT_EQ(o->Effect, &g_Effect);
    EXPECT_FLOAT_EQ(o->EffectDistance, 200.0f);
    EXPECT_EQ(o->Technique, L"Second");
    g_ValidTechnique = L"First";
    o->LoadEffect();
    EXPECT_EQ(o->Technique, L"First");
    g_ValidTechnique = L"None";
    o->LoadEffect();
    EXPECT_EQ(o->Technique, L"First");   // unchanged
    EXPECT_TRUE(Logged(L"Объекту o не подошла ни одна техника эффекта Glow"));

    C_BaseResource::SetAnotherEffect(C_BaseObject::ToID(o), "Missing; 50; Second");
    EXPECT_EQ(o->Effect, &g_Effect);   // stays as it was
    EXPECT_FLOAT_EQ(o->EffectDistance, 50.0f);
    C_BaseResource::ClearEffect(C_BaseObject::ToID(o));
    EXPECT_EQ(o->EffectDescription, L"");
}

TEST_F(BaseObjectTest, ExtraObjectsComeFromNamesAndNamedTexts)
{
    TestObject* o = Make(L"o");
    TestObject* a = Make(L"a");
    TestObject* b = Make(L"b");
    auto& table = C_D3DXSTRING::C_AllStrings::Instance();
    table.AddLine(L"ExtraGroupAB = a; b");
    table.AddLine(L"ExtraLoopX = ExtraLoopY");
    table.AddLine(L"ExtraLoopY = ExtraLoopX; a");
    o->SetExtra(L"ExtraGroupAB; a;; b");
    o->Load(nullptr);
    EXPECT_EQ(o->Extra, L"");
    ASSERT_EQ(o->ExtraObjects.size(), 3u);   // a name listed twice is attached twice; the list ends at the empty field
    EXPECT_EQ(o->ExtraObjects[0], a);
    EXPECT_EQ(o->ExtraObjects[1], b);
    EXPECT_EQ(o->ExtraObjects[2], a);

    o->ExtraObjects.clear();
    o->LoadExtraObjects(L"ExtraLoopX");   // texts naming each other end instead of recursing forever
    EXPECT_TRUE(Logged(L"зацикленными ссылками"));

    // Drawing the extras happens in the main pass only.
    o->ExtraObjects.clear();
    C_BaseResource::AddExtraObject(C_BaseObject::ToID(o), C_BaseObject::ToID(a));
    C_BaseResource::AddExtraObject(C_BaseObject::ToID(o), C_BaseObject::ToID(a));
    C_BaseResource::AddExtraObject(C_BaseObject::ToID(o), C_BaseObject::ToID(b));
    EXPECT_EQ(o->ExtraObjects.size(), 2u);
    C_BaseObject::CommonData().RenderPass = 1;
    o->Draw(nullptr);
    EXPECT_EQ(a->Draws, 0);
    C_BaseObject::CommonData().RenderPass = 0;
    o->Draw(nullptr);
    EXPECT_EQ(a->Draws, 1);
    EXPECT_EQ(b->Draws, 1);
    C_BaseResource::DeleteExtraObject(C_BaseObject::ToID(o), C_BaseObject::ToID(a));
    ASSERT_EQ(o->ExtraObjects.size(), 1u);
    EXPECT_EQ(o->ExtraObjects[0], b);
    C_BaseResource::ClearExtraObjects(C_BaseObject::ToID(o));
    EXPECT_TRUE(o->ExtraObjects.empty());
}

TEST_F(BaseObjectTest, ScriptsRunInTheLuaHostAndObjectsCallTheirFunctionEveryUpdate)
{
    C_LuaScriptBase host;   // keeps the interpreter open for this test
    C_BaseObject::CreateObject(0, "C_D3DXSTRING", "FolderScript", "scripts", "", "", "");
    std::filesystem::create_directories(dir / "scripts");
    WriteFile("scripts/count.lua", "loaded = 1\ncalls = 0\nfunction Count(id) calls = calls + 1; lastId = id end\n");
    TestObject* o = Make(L"counter");
    o->ScriptDescription = L"count.lua; Count";
    o->Load(nullptr);
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber("loaded"), 1.0);
    EXPECT_EQ(o->ScriptFunction, L"Count");
    o->Update();
    o->Update();
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber("calls"), 2.0);
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber("lastId"), C_BaseObject::ToID(o));
    C_BaseObject::ScriptCall = nullptr;   // no host: nothing is called
    o->Update();
    EXPECT_EQ(C_LuaScriptBase::GetGlobalNumber("calls"), 2.0);
    // Script texts are UTF-8, or Windows-1251 when not valid UTF-8.
    C_BaseObject::ToLog("\xcf\xf0\xe8 \xd0\x9f");
    EXPECT_TRUE(Logged(L"При Рџ"));
}

TEST_F(BaseObjectTest, WindowServicesWorkWithoutAWindow)
{
    ::setenv("SDL_VIDEODRIVER", "offscreen", 0);   // never a real dialog in tests
    EXPECT_EQ(C_BaseObject::MessageBoxW("Проверка"), 0.0);
    EXPECT_EQ(C_BaseObject::Exit(), 0.0);                  // no main window: nothing to close
    EXPECT_EQ(C_BaseObject::DlgOpenFile(""), "");         // headless: cancelled
    EXPECT_EQ(C_BaseObject::DlgOpenFile("Text|*.txt|"), "");
}
