// The fixture of the scene-object tests: empty resource managers, the
// in-memory log, the main pass, fresh light lists and a recording device.
#pragma once

#include "engine_support/ObjectTestClasses.h"

#include "Render/Resources/D3DLIGHT9.h"
#include "Render/Resources/RecordingDevice.h"

class SceneResourceTest : public ObjectModelTest {
protected:
    void SetUp() override
    {
        ObjectModelTest::SetUp();
        C_BaseObject::CommonData().RenderPass = 0;
        C_BaseObject::CommonData().CurrentCamera = nullptr;
        auto& lists = C_D3DLIGHT9::Lists();
        lists.PerCamera.clear();
        lists.LastCamera = nullptr;
        lists.EnabledCount = 0;
    }
    void TearDown() override
    {
        C_BaseObject::CommonData().RenderPass = 0;
        C_BaseObject::CommonData().CurrentCamera = nullptr;
        ObjectModelTest::TearDown();
    }
    template <class T>
    T* Make(const wchar_t* className, const wchar_t* name, const wchar_t* value)
    {
        auto* object = dynamic_cast<T*>(Managers().AddResource(className, name, value));
        EXPECT_NE(object, nullptr) << "class " << testing::PrintToString(std::wstring(className));
        if (object) object->Load(&device);
        return object;
    }

    scenetest::RecordingDevice device;
};

