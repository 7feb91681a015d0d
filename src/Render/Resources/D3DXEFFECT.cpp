#include "Render/Resources/D3DXEFFECT.h"

#include <climits>
#include <cstring>

#include "BaseClasses/DataFile.h"
#include "BaseClasses/LiveObjects.h"
#include "Common/CodePage.h"
#include "Logger/Logger.h"
#include "QueueRendering/QueueRendering.h"
#include "Render/Position/PositionObject.h"
#include "ResourceManager/ResManager.h"

TW_REGISTER_CLASS(C_D3DXEFFECT)

namespace {

[[maybe_unused]] const bool g_installed = [] {
    C_D3DXEFFECT::InstallSupport();
    return true;
}();

// The camera's matrices as the last effect draw read them from the device.
D3DXMATRIX g_View;
D3DXMATRIX g_Projection;

} // namespace

void C_D3DXEFFECT::InstallSupport()
{
    C_BaseResource::EffectSupport.Find = [](const std::wstring& name) -> C_D3DXEFFECT* {
        return dynamic_cast<C_D3DXEFFECT*>(C_ResManager::Instance().GetResource(name.c_str(), L"C_D3DXEFFECT", false));
    };
    C_BaseResource::EffectSupport.ValidateTechnique = [](C_D3DXEFFECT* effect, const std::wstring& technique) {
        return effect && effect->ValidateTechnique(technique);
    };
    C_QueueRendering::DrawWithEffect = [](C_D3DXEFFECT* effect, C_BaseObject* object, IDirect3DDevice9* device) {
        effect->Object = object;
        effect->Draw(device);
    };
    C_PositionObject::SetEffectMatrix = [](C_D3DXEFFECT* effect, const char* parameter, const D3DXMATRIX& matrix) {
        effect->SetMatrixAndCommit(parameter, matrix);
    };
}

C_D3DXEFFECT::C_D3DXEFFECT() { ResourceLevel = 9997; }

C_D3DXEFFECT::~C_D3DXEFFECT()
{
    ReleaseEffect();
    ForEachLiveObject([this](C_BaseObject* object) {
        if (object->Effect == this) object->Effect = nullptr;
    });
}

float C_D3DXEFFECT::TimeInSeconds(uint32_t milliseconds)
{
    return static_cast<float>(static_cast<double>(milliseconds) / 1000.0);
}

void C_D3DXEFFECT::ReleaseEffect()
{
    if (D3DXEffect) D3DXEffect->Release();
    D3DXEffect = nullptr;
}

void C_D3DXEFFECT::Load(IDirect3DDevice9* device)
{
    C_BaseResource::Load(device);
    ReleaseEffect();
    const std::wstring path = C_ResManager::Instance().GetText(L"FolderEffect") + L"\\" + GetField(0);
    std::string bytes;
    if (!ReadDataFile(path, bytes) || bytes.empty() || bytes.size() > UINT_MAX) return;
    ID3DXBuffer* errors = nullptr;
    const HRESULT created = D3DXCreateEffect(device, bytes.data(), static_cast<UINT>(bytes.size()), nullptr, nullptr,
                                             0, nullptr, &D3DXEffect, &errors);
    if (FAILED(created)) {
        D3DXEffect = nullptr;
        std::string text;
        if (errors && errors->GetBufferPointer())
            text.assign(static_cast<const char*>(errors->GetBufferPointer()),
                        strnlen(static_cast<const char*>(errors->GetBufferPointer()), errors->GetBufferSize()));
        LOG_WARNING(L"Не загружен файл эффекта: " << VORTALEX::codepage::DecodeText(text));
    }
    if (errors) errors->Release();
    if (D3DXEffect) CheckParameterTypes();
}

void C_D3DXEFFECT::CheckParameterTypes()
{
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    auto check = [this](const char* name, bool accepted) {
        if (!accepted && D3DXEffect->GetParameterByName(nullptr, name))
            LOG_WARNING(L"Параметр " << VORTALEX::codepage::DecodeText(name) << L" эффекта " << Name
                                     << L" объявлен с неверным типом");
    };
    check("CurrentTime", SUCCEEDED(D3DXEffect->SetFloat("CurrentTime", 0.0f)));
    for (const char* name : {"MatrixWorld", "MatrixView", "MatrixProjection"})
        check(name, SUCCEEDED(D3DXEffect->SetMatrix(name, &identity)));
}

void C_D3DXEFFECT::Unload()
{
    ReleaseEffect();
    Object = nullptr;
    C_BaseResource::Unload();
}

bool C_D3DXEFFECT::ValidateTechnique(const std::wstring& technique)
{
    if (!D3DXEffect || technique.empty()) return false;
    const std::string name = VORTALEX::codepage::ToUtf8(technique);
    return SUCCEEDED(D3DXEffect->ValidateTechnique(name.c_str()));
}

void C_D3DXEFFECT::SetMatrixAndCommit(const char* parameter, const D3DXMATRIX& matrix)
{
    if (!D3DXEffect) return;
    D3DXEffect->SetMatrix(parameter, &matrix);
    D3DXEffect->CommitChanges();
}

void C_D3DXEFFECT::Draw(IDirect3DDevice9* device)
{
    // The object is the queue's for this one draw: drawn again later (as an
    // extra object, say) the effect must not reach an object deleted since.
    C_BaseObject* object = Object;
    Object = nullptr;
    if (!object) return;
    if (!D3DXEffect || !device || object->Technique.empty()) {
        object->Draw(device);
        return;
    }
    const std::string technique = VORTALEX::codepage::ToUtf8(object->Technique);
    if (FAILED(D3DXEffect->SetTechnique(technique.c_str()))) {
        object->Draw(device);
        return;
    }
    D3DXEffect->SetFloat("CurrentTime", TimeInSeconds(CommonData().Time));
    device->GetTransform(D3DTS_VIEW, &g_View);
    D3DXEffect->SetMatrix("MatrixView", &g_View);
    device->GetTransform(D3DTS_PROJECTION, &g_Projection);
    D3DXEffect->SetMatrix("MatrixProjection", &g_Projection);
    UINT passes = 0;
    if (FAILED(D3DXEffect->Begin(&passes, 0))) {
        object->Draw(device);
        return;
    }
    for (UINT pass = 0; pass < passes; ++pass) {
        if (FAILED(D3DXEffect->BeginPass(pass))) continue;
        object->Draw(device);
        D3DXEffect->EndPass();
    }
    D3DXEffect->End();
}
