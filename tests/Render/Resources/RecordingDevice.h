// A CPU-only device that records the state changes the scene objects make,
// in order, and keeps the state so that reads see what was set.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "port/d3dx9/fake_device.h"

namespace scenetest {

struct StateCall {
    std::string What;   // "rs", "samp", "tss", "tex", "light", "enable", "material", "world"
    DWORD A = 0, B = 0, C = 0;
    bool operator==(const StateCall&) const = default;
};

// An occlusion query whose count is ready after `Pending` polls.
class FakeQuery : public testdev::Ref<IDirect3DQuery9> {
public:
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    D3DQUERYTYPE GetType() override { return D3DQUERYTYPE_OCCLUSION; }
    DWORD GetDataSize() override { return sizeof(DWORD); }
    HRESULT Issue(DWORD flags) override
    {
        Issued.push_back(flags);
        return D3D_OK;
    }
    HRESULT GetData(void* data, DWORD size, DWORD flags) override
    {
        ++Polls;
        LastFlags = flags;
        if (Polls <= Pending) return S_FALSE;
        if (data && size >= sizeof(DWORD)) *static_cast<DWORD*>(data) = Pixels;
        return S_OK;
    }
    std::vector<DWORD> Issued;
    int Polls = 0;
    int Pending = 0;
    DWORD Pixels = 0;
    DWORD LastFlags = 0;
};

class RecordingDevice : public testdev::Device9 {
public:
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override
    {
        RenderStates[state] = value;
        Calls.push_back({"rs", DWORD(state), value, 0});
        return D3D_OK;
    }
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override
    {
        *value = RenderStates[state];
        return D3D_OK;
    }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override
    {
        SamplerStates[{sampler, DWORD(type)}] = value;
        Calls.push_back({"samp", sampler, DWORD(type), value});
        return D3D_OK;
    }
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override
    {
        *value = SamplerStates[{sampler, DWORD(type)}];
        return D3D_OK;
    }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override
    {
        Calls.push_back({"tss", stage, DWORD(type), value});
        return D3D_OK;
    }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override
    {
        if (stage < 16) Bound[stage] = texture;
        Calls.push_back({"tex", stage, texture ? 1u : 0u, 0});
        return D3D_OK;
    }
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override
    {
        Lights[index] = *light;
        Calls.push_back({"light", index, 0, 0});
        return D3D_OK;
    }
    HRESULT LightEnable(DWORD index, BOOL enable) override
    {
        Enabled[index] = enable != FALSE;
        Calls.push_back({"enable", index, DWORD(enable != FALSE), 0});
        return D3D_OK;
    }
    HRESULT SetMaterial(const D3DMATERIAL9* material) override
    {
        Material = *material;
        Calls.push_back({"material", 0, 0, 0});
        return D3D_OK;
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override
    {
        if (state == D3DTS_WORLD) {
            World = *matrix;
            Calls.push_back({"world", 0, 0, 0});
        }
        return D3D_OK;
    }
    HRESULT CreateQuery(D3DQUERYTYPE, IDirect3DQuery9** query) override
    {
        *query = new FakeQuery;
        return D3D_OK;
    }

    std::vector<StateCall> CallsOf(const std::string& what) const
    {
        std::vector<StateCall> out;
        for (const StateCall& call : Calls)
            if (call.What == what) out.push_back(call);
        return out;
    }

    std::map<DWORD, DWORD> RenderStates;
    std::map<std::pair<DWORD, DWORD>, DWORD> SamplerStates;
    std::map<DWORD, D3DLIGHT9> Lights;
    std::map<DWORD, bool> Enabled;
    IDirect3DBaseTexture9* Bound[16] = {};
    D3DMATERIAL9 Material{};
    D3DMATRIX World{};
    std::vector<StateCall> Calls;
};

} // namespace scenetest
