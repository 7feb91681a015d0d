// The engine functions that scripts call, published in this order during
// static initialisation (the first one creates the Lua state). Objects are
// passed as IDs of kind long; every function checks that an ID names a live
// object of its class before using it. Functions of classes that do not
// exist yet are published together with their class, each with one line at
// its place in this list.

#include <string>

#include "BaseClasses/Base3DWindow.h"
#include "BaseClasses/BaseObject.h"
#include "BaseClasses/BaseResource.h"
#include "Render/Camera/BaseCamera.h"
#include "Render/GUI/BaseText2D.h"
#include "Render/Position/PositionObject.h"
#include "Render/Position/AxisMoveObject.h"
#include "Render/Terrain/C_TerrainHeightMap.h"
#include "Script/LuaScriptBase.h"
#include "Script/LuaScriptDeclareFunction.h"
#include "Script/ScriptFunctions.h"

namespace {

using std::string;

std::vector<std::string>& Names()
{
    static std::vector<std::string> names;
    return names;
}

// Publishes one function and remembers its name.
template <class Declaration>
struct Published : Declaration {
    explicit Published(const wchar_t* name) : Declaration(name)
    {
        if (C_LuaScriptBase::GetState()) Names().push_back(C_LuaScriptBase::ToNarrow(name));
    }
};

// clang-format off
Published<C_LuaScriptDeclareFunction1<double, string, &C_BaseObject::MessageBoxW>> g_MessageBox(L"MessageBox");
Published<C_LuaScriptDeclareFunction1<double, string, &C_BaseObject::ToLog>> g_ToLog(L"ToLog");
Published<C_LuaScriptDeclareFunction1<double, string, &C_BaseObject::GetObjectID>> g_GetObjectID(L"GetObjectID");
Published<C_LuaScriptDeclareFunction0<double, &C_BaseObject::GetTime>> g_GetCurrentTime(L"GetCurrentTime");
Published<C_LuaScriptDeclareFunction1<double, long, &C_BaseObject::DisableObject>> g_DisableObject(L"DisableObject");
Published<C_LuaScriptDeclareFunction1<double, long, &C_BaseObject::NotRenderObject>> g_NotRenderObject(L"NotRenderObject");
Published<C_LuaScriptDeclareFunction1<double, long, &C_BaseObject::VisibleObject>> g_VisibleObject(L"VisibleObject");
Published<C_LuaScriptDeclareFunction1<double, long, &C_BaseObject::DeleteObject>> g_DeleteObject(L"DeleteObject");
Published<C_LuaScriptDeclareFunction0<double, &C_BaseObject::GetScreenWidth>> g_GetScreenWidth(L"GetScreenWidth");
Published<C_LuaScriptDeclareFunction0<double, &C_BaseObject::GetScreenHeight>> g_GetScreenHeight(L"GetScreenHeight");
Published<C_LuaScriptDeclareFunction0<double, &C_BaseObject::GetMouseX>> g_GetMouseX(L"GetMouseX");
Published<C_LuaScriptDeclareFunction0<double, &C_BaseObject::GetMouseY>> g_GetMouseY(L"GetMouseY");
Published<C_LuaScriptDeclareFunction1<double, long, &C_BaseObject::GetCursorStatus>> g_GetCursorStatus(L"GetCursorStatus");
Published<C_LuaScriptDeclareFunction0<double, &C_BaseObject::Exit>> g_Exit(L"Exit");
Published<C_LuaScriptDeclareFunction1<string, string, &C_BaseObject::DlgOpenFile>> g_DlgOpenFile(L"DlgOpenFile");
Published<C_LuaScriptDeclareFunction7<double, long, string, string, string, string, string, string, &C_BaseObject::CreateObject>> g_CreateObject(L"CreateObject");
Published<C_LuaScriptDeclareFunction0<string, &C_BaseObject::GetPathToProgram>> g_GetPathToProgram(L"GetPathToProgram");
Published<C_LuaScriptDeclareFunction2<double, long, long, &C_BaseResource::AddExtraObject>> g_AddExtraObject(L"AddExtraObject");
Published<C_LuaScriptDeclareFunction2<double, long, long, &C_BaseResource::DeleteExtraObject>> g_DeleteExtraObject(L"DeleteExtraObject");
Published<C_LuaScriptDeclareFunction1<double, long, &C_BaseResource::ClearExtraObjects>> g_ClearExtraObjects(L"ClearExtraObjects");
Published<C_LuaScriptDeclareFunction2<double, long, string, &C_BaseResource::SetAnotherScript>> g_SetAnotherScript(L"SetAnotherScript");
Published<C_LuaScriptDeclareFunction1<double, long, &C_BaseResource::ClearScript>> g_ClearScript(L"ClearScript");
Published<C_LuaScriptDeclareFunction2<double, long, string, &C_BaseResource::SetAnotherEffect>> g_SetAnotherEffect(L"SetAnotherEffect");
Published<C_LuaScriptDeclareFunction1<double, long, &C_BaseResource::ClearEffect>> g_ClearEffect(L"ClearEffect");
Published<C_LuaScriptDeclareFunction1<double, string, &C_Base3DWindow::LoadMainModule>> g_LoadMainModule(L"LoadMainModule");
Published<C_LuaScriptDeclareFunction2<double, long, string, &C_BaseText2D::SetString>> g_SetString(L"SetString");
Published<C_LuaScriptDeclareFunction2<double, double, double, &C_TerrainHeightMap::GetTerraineHeight>> g_GetTerraineHeight(L"GetTerraineHeight");
Published<C_LuaScriptDeclareFunction2<double, long, double, &C_PositionObject::SetPositionX>> g_SetPositionX(L"SetPositionX");
Published<C_LuaScriptDeclareFunction2<double, long, double, &C_PositionObject::SetPositionY>> g_SetPositionY(L"SetPositionY");
Published<C_LuaScriptDeclareFunction2<double, long, double, &C_PositionObject::SetPositionZ>> g_SetPositionZ(L"SetPositionZ");
Published<C_LuaScriptDeclareFunction2<double, long, double, &C_PositionObject::SetPositionA>> g_SetPositionA(L"SetPositionA");
Published<C_LuaScriptDeclareFunction2<double, long, double, &C_PositionObject::SetPositionB>> g_SetPositionB(L"SetPositionB");
Published<C_LuaScriptDeclareFunction2<double, long, double, &C_PositionObject::SetPositionC>> g_SetPositionC(L"SetPositionC");
Published<C_LuaScriptDeclareFunction1<double, long, &C_PositionObject::GetPositionX>> g_GetPositionX(L"GetPositionX");
Published<C_LuaScriptDeclareFunction1<double, long, &C_PositionObject::GetPositionY>> g_GetPositionY(L"GetPositionY");
Published<C_LuaScriptDeclareFunction1<double, long, &C_PositionObject::GetPositionZ>> g_GetPositionZ(L"GetPositionZ");
Published<C_LuaScriptDeclareFunction1<double, long, &C_PositionObject::GetPositionA>> g_GetPositionA(L"GetPositionA");
Published<C_LuaScriptDeclareFunction1<double, long, &C_PositionObject::GetPositionB>> g_GetPositionB(L"GetPositionB");
Published<C_LuaScriptDeclareFunction1<double, long, &C_PositionObject::GetPositionC>> g_GetPositionC(L"GetPositionC");
Published<C_LuaScriptDeclareFunction2<double, long, string, &C_PositionObject::GetPositionFromAxis>> g_GetPositionFromAxis(L"GetPositionFromAxis");
Published<C_LuaScriptDeclareFunction1<double, long, &C_AxisMoveObject::GetStartPoint>> g_GetStartPoint(L"GetStartPoint");
Published<C_LuaScriptDeclareFunction0<double, &C_AxisMoveObject::GetStartTime>> g_GetStartTime(L"GetStartTime");
Published<C_LuaScriptDeclareFunction1<double, long, &C_AxisMoveObject::GetFinishPoint>> g_GetFinishPoint(L"GetFinishPoint");
Published<C_LuaScriptDeclareFunction0<double, &C_AxisMoveObject::GetFinishTime>> g_GetFinishTime(L"GetFinishTime");
Published<C_LuaScriptDeclareFunction0<double, &C_AxisMoveObject::GetNumCommand>> g_GetNumCommand(L"GetNumCommand");
Published<C_LuaScriptDeclareFunction1<double, string, &C_AxisMoveObject::LoadProgramm>> g_LoadProgramm(L"LoadProgramm");
Published<C_LuaScriptDeclareFunction1<string, double, &C_AxisMoveObject::GetStringCommand>> g_GetStringCommand(L"GetStringCommand");
Published<C_LuaScriptDeclareFunction1<double, double, &C_AxisMoveObject::SetPause>> g_SetPause(L"SetPause");
Published<C_LuaScriptDeclareFunction2<double, long, string, &C_AxisMoveObject::GetLocalPositionFromAxis>> g_GetLocalPositionFromAxis(L"GetLocalPositionFromAxis");
Published<C_LuaScriptDeclareFunction3<double, long, string, double, &C_BaseCamera::SetCameraCoord>> g_SetCameraCoord(L"SetCameraCoord");
Published<C_LuaScriptDeclareFunction2<double, long, string, &C_BaseCamera::GetCameraCoord>> g_GetCameraCoord(L"GetCameraCoord");
// clang-format on

}  // namespace

const std::vector<std::string>& ScriptFunctions::PublishedNames()
{
    return Names();
}
