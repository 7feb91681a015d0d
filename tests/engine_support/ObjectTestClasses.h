#pragma once
// Small classes for the object-model tests, standing in for the scene
// classes that are built elsewhere, and a fixture that gives every test an
// empty set of resource managers, a scratch folder and the in-memory log.
// Exactly one source file of a test program defines
// TW_OBJECT_TEST_CLASSES_IMPLEMENTATION before including this header.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BaseClasses/BaseModule.h"
#include "BaseClasses/BaseResource.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/ScratchFolder.h"
#include "Logger/Logger.h"
#include "ResourceManager/FromFactory.h"
#include "ResourceManager/ResManager.h"

// A plain scene object that modules list; counts its calls.
class TestObject : public C_BaseResource, public ContainedInModule {
    TW_POOLED_CLASS(TestObject)
public:
    TestObject() { ResourceLevel = 2; }
    ~TestObject() override { ++Destroyed; }
    void Update() override { ++Updates; C_BaseResource::Update(); }
    void Load(IDirect3DDevice9* device) override { ++Loads; C_BaseResource::Load(device); }
    void Draw(IDirect3DDevice9* device) override { ++Draws; C_BaseResource::Draw(device); }
    void CalcDistance(C_BaseObject* other) override { ++DistanceCalls; C_BaseResource::CalcDistance(other); }
    int Updates = 0;
    int Loads = 0;
    int Draws = 0;
    int DistanceCalls = 0;
    static inline int Destroyed = 0;
};

// A resource that modules do not list (no marker), at level 1 like meshes.
class TestMesh : public C_BaseResource {
    TW_POOLED_CLASS(TestMesh)
public:
    TestMesh() { ResourceLevel = 1; }
    void Load(IDirect3DDevice9* device) override { LoadOrder().push_back(Name); C_BaseResource::Load(device); }
    static std::vector<std::wstring>& LoadOrder() { static std::vector<std::wstring> order; return order; }
};

// Level 0, like states and textures.
class TestState : public C_BaseResource {
    TW_POOLED_CLASS(TestState)
public:
    void Load(IDirect3DDevice9* device) override { TestMesh::LoadOrder().push_back(Name); C_BaseResource::Load(device); }
};

// Level -1, like render surfaces.
class TestSurface : public C_BaseResource {
    TW_POOLED_CLASS(TestSurface)
public:
    TestSurface() { ResourceLevel = -1; }
    void Load(IDirect3DDevice9* device) override
    {
        ++Loads;
        if (!MakesOnLoad.empty()) C_ResManager::Instance().AddResource(MakesOnLoad.c_str(), L"made by a surface", L"");
        C_BaseResource::Load(device);
    }
    int Loads = 0;
    static inline std::wstring MakesOnLoad;   // a class whose object the load creates
};

// The pure resource of the load run: level 9999, loads nothing.
class TestPureResource : public C_BaseResource {
    TW_POOLED_CLASS(TestPureResource)
public:
    TestPureResource() { ResourceLevel = 9999; }
    void Load(IDirect3DDevice9*) override {}
};

// Registered but not a resource: managers must refuse it.
class TestNotResource : public C_BaseObject {
    TW_POOLED_CLASS(TestNotResource)
};

#ifdef TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
TW_REGISTER_CLASS(TestObject)
TW_REGISTER_CLASS(TestMesh)
TW_REGISTER_CLASS(TestState)
TW_REGISTER_CLASS(TestSurface)
TW_REGISTER_CLASS_AS(TestPureResource, "C_PureResource")
TW_REGISTER_CLASS(TestNotResource)
#endif

// One program folder for the whole test program: the file manager and the
// text table take the program folder once, at their first use.
inline ScratchFolder& TestProgramFolder()
{
    static ScratchFolder folder;
    return folder;
}

class ObjectModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(dir.path()));
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path(), error))
            std::filesystem::remove_all(entry.path(), error);
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionEnable, L"1");
        logger::Logger::SetOption(logger::OptionFilter, L"4");
        logger::Logger::SetOption(logger::OptionRepetitions, L"1");
        logger::Logger::Activate(logger::Mock);
        C_ResManager::Instance().Clear();
        TestMesh::LoadOrder().clear();
        m_ScriptCall = C_BaseObject::ScriptCall;
        m_RunScript = C_BaseResource::RunScript;
        m_Queue = C_BaseObject::RenderQueueInsert;
        m_Effects = C_BaseResource::EffectSupport;
        m_Cameras = C_BaseModule::CameraSupport;
        m_Pick = C_BaseModule::PickObject;
    }
    void TearDown() override
    {
        C_ResManager::Instance().Clear();
        C_BaseModule::CameraSupport = m_Cameras;
        C_BaseModule::PickObject = m_Pick;
        C_BaseObject::RenderQueueInsert = m_Queue;
        C_BaseObject::ScriptCall = m_ScriptCall;
        C_BaseResource::RunScript = m_RunScript;
        C_BaseResource::EffectSupport = m_Effects;
        logger::Logger::Activate(logger::AllReports);
    }

    static std::wstring Log() { return logger::Logger::Instance().MockText(); }
    static bool Logged(const std::wstring& text) { return Log().find(text) != std::wstring::npos; }
    static std::size_t CountLogged(const std::wstring& text)
    {
        const std::wstring log = Log();
        std::size_t count = 0;
        for (std::size_t at = log.find(text); at != std::wstring::npos; at = log.find(text, at + 1)) ++count;
        return count;
    }
    static C_ResManager& Managers() { return C_ResManager::Instance(); }
    std::wstring Path(const std::string& name) const { return VORTALEX::PathToWide(dir / name); }
    void WriteFile(const std::string& name, const std::string& bytes) const { ScratchFolder::Write(dir / name, bytes); }

    ScratchFolder& dir = TestProgramFolder();

private:
    // What the rest of the engine installed, put back after each test.
    C_BaseObject::ScriptCallFunction m_ScriptCall = nullptr;
    C_BaseResource::RunScriptFunction m_RunScript = nullptr;
    C_BaseObject::RenderQueueInsertFunction m_Queue = nullptr;
    C_BaseResource::C_EffectSupport m_Effects;
    C_BaseModule::C_CameraSupport m_Cameras;
    C_BaseModule::PickObjectFunction m_Pick = nullptr;
};
