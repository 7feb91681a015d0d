#include "QueueRendering/QueueRendering.h"

#include <cstdio>
#include <iterator>
#include <typeinfo>
#include <string>
#include <utility>

#include "BaseClasses/ParameterString.h"
#include "Logger/Logger.h"
#include "Render/Camera/BaseCamera.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"

C_QueueRendering::C_SurfaceSupport C_QueueRendering::SurfaceSupport;
C_QueueRendering::EffectDrawFunction C_QueueRendering::DrawWithEffect = nullptr;

namespace {

using QueuePool = VORTALEX::memory_pool<C_QueueRendering::C_QueueOne, 32>;

[[maybe_unused]] const bool g_installed = [] {
    C_QueueRendering::InstallInsert();
    return true;
}();

}  // namespace

float GetCameraDistanceSize(C_BaseObject* const& object)
{
    return static_cast<float>(static_cast<double>(object->GetDistance(nullptr)) -
                              static_cast<double>(object->GetRadius()));
}

// Objects queue themselves through the base object's hook.
void C_QueueRendering::InstallInsert()
{
    C_BaseObject::RenderQueueInsert = [](C_BaseObject* object) { Instance().Add(object); };
}

void C_QueueRendering::C_QueueOne::Reserve()
{
    m_Keys.reserve(100);
    m_Arrivals.reserve(100);
    m_ArrivalKeys.reserve(100);
}

void C_QueueRendering::C_QueueOne::Insert(C_BaseObject* object)
{
    m_ArrivalKeys.push_back(GetCameraDistanceSize(object));
    m_Arrivals.push_back(object);
}

void C_QueueRendering::C_QueueOne::Settle()
{
    if (m_Arrivals.empty()) return;
    if (empty()) {
        (m_Scratch ? m_Scratch->Ordering : m_Ordering).Compute(m_ArrivalKeys.data(), m_ArrivalKeys.size(), m_Order);
        resize(m_Order.size());
        m_Keys.resize(m_Order.size());
        for (std::size_t i = 0; i < m_Order.size(); ++i) {
            (*this)[i] = m_Arrivals[m_Order[i]];
            m_Keys[i] = m_ArrivalKeys[m_Order[i]];
        }
    } else {
        // Objects queued after the list was settled (while it was drawn):
        // inserted one by one into it, as they arrived.
        for (std::size_t a = 0; a < m_Arrivals.size(); ++a) {
            const float key = m_ArrivalKeys[a];
            std::size_t low = 0;
            std::size_t high = m_Keys.size();
            while (low != high) {
                const std::size_t middle = (low + high) / 2;
                if (m_Keys[middle] == key) {
                    low = middle;
                    break;
                }
                if (key < m_Keys[middle]) high = middle;
                else low = middle + 1;
            }
            m_Keys.insert(m_Keys.begin() + static_cast<std::ptrdiff_t>(low), key);
            insert(begin() + static_cast<std::ptrdiff_t>(low), m_Arrivals[a]);
        }
    }
    m_Arrivals.clear();
    m_ArrivalKeys.clear();
}

void C_QueueRendering::C_QueueOne::SwapLists(C_QueueScratch& scratch)
{
    static_cast<std::vector<C_BaseObject*>&>(*this).swap(scratch.Items);
    m_Arrivals.swap(scratch.Arrivals);
    m_Keys.swap(scratch.Keys);
    m_ArrivalKeys.swap(scratch.ArrivalKeys);
    m_Order.swap(scratch.Order);
}

void C_QueueRendering::C_QueueOne::Borrow(C_QueueScratch& scratch)
{
    GiveBack();
    scratch.Items.clear();
    scratch.Arrivals.clear();
    scratch.Keys.clear();
    scratch.ArrivalKeys.clear();
    scratch.Order.clear();
    // Whatever this queue held already stays in it.
    for (C_BaseObject* object : *this) scratch.Items.push_back(object);
    for (C_BaseObject* object : m_Arrivals) scratch.Arrivals.push_back(object);
    scratch.Keys.insert(scratch.Keys.end(), m_Keys.begin(), m_Keys.end());
    scratch.ArrivalKeys.insert(scratch.ArrivalKeys.end(), m_ArrivalKeys.begin(), m_ArrivalKeys.end());
    SwapLists(scratch);
    m_Scratch = &scratch;
}

void C_QueueRendering::C_QueueOne::GiveBack()
{
    if (!m_Scratch) return;
    SwapLists(*m_Scratch);
    m_Scratch = nullptr;
}

void C_QueueRendering::C_QueueOne::RemoveAt(std::size_t index)
{
    m_Keys.erase(m_Keys.begin() + static_cast<std::ptrdiff_t>(index));
    erase(begin() + static_cast<std::ptrdiff_t>(index));
}

void C_QueueRendering::C_QueueOne::clear()
{
    m_Keys.clear();
    m_Arrivals.clear();
    m_ArrivalKeys.clear();
    std::vector<C_BaseObject*>::clear();
}

C_QueueRendering& C_QueueRendering::Instance()
{
    static C_QueueRendering queue;
    return queue;
}

C_QueueRendering::~C_QueueRendering()
{
    // The pool may already be gone at exit; the queues hold nothing owned.
    Queues.clear();
}

std::size_t C_QueueRendering::Add(C_BaseObject* object)
{
    if (!object) return Queues.size();
    // A frame queues thousands of objects of a few classes: a class seen not
    // to be a camera is not looked up again.
    const std::type_info* type = &typeid(*object);
    C_BaseCamera* camera = type == LastNonCamera ? nullptr : dynamic_cast<C_BaseCamera*>(object);
    if (!camera) LastNonCamera = type;
    if (camera) {
        C_QueueOne* queue = QueuePool::Instance().Allocate(camera);
        if (Scratches.size() <= Queues.size()) Scratches.push_back(std::make_unique<C_QueueScratch>());
        queue->Borrow(*Scratches[Queues.size()]);
        Queues.push_back(queue);
        return Queues.size();
    }
    if (Queues.empty()) {
        LOG_WARNING(L"Попытка добавления объекта в очередь рендеринга до камеры: " << object->Name);
        return 0;
    }
    Queues.back()->Insert(object);
    return Queues.size();
}

void C_QueueRendering::ClearQueues()
{
    QueuePool& pool = QueuePool::Instance();
    for (C_QueueOne* queue : Queues) {
        queue->clear();
        queue->GiveBack();
        pool.Release(queue);
    }
    Queues.clear();
}

void C_QueueRendering::Draw(IDirect3DDevice9* device)
{
    for (C_QueueOne* queue : Queues) queue->Settle();
    switch (CommonData().RenderPass) {
    case 1: DrawOcclusion(device); break;
    case 0: DrawMain(device); break;
    default: break;
    }
}

void C_QueueRendering::DrawOcclusion(IDirect3DDevice9* device)
{
    // A script may have deleted the surface since the queue was loaded.
    if (OcclusionSurface && !IsLive(OcclusionSurface)) OcclusionSurface = nullptr;
    if (!OcclusionSurface || !SurfaceSupport.Query || !SurfaceSupport.BeginSurface || !SurfaceSupport.EndSurface)
        return;
    IDirect3DQuery9* query = SurfaceSupport.Query(OcclusionSurface);
    if (!query) return;
    C_CommonData& common = CommonData();
    common.OcclusionQuery = query;
    if (!SurfaceSupport.BeginSurface(OcclusionSurface)) return;

    // The pass's own states, in this order. The scene's values come back
    // afterwards: states are set by scene objects only when they change, so
    // left as the pass sets them they would draw the whole frame unlit,
    // unblended and solid, and the pre-pass would change the picture.
    static constexpr std::pair<D3DRENDERSTATETYPE, DWORD> passStates[] = {
        {D3DRS_ZENABLE, TRUE},         {D3DRS_ZWRITEENABLE, TRUE}, {D3DRS_ALPHABLENDENABLE, FALSE},
        {D3DRS_LIGHTING, FALSE},       {D3DRS_ALPHATESTENABLE, FALSE}, {D3DRS_FOGENABLE, FALSE},
        {D3DRS_FILLMODE, D3DFILL_SOLID}};
    DWORD sceneStates[std::size(passStates)] = {};
    for (std::size_t i = 0; i < std::size(passStates); ++i) {
        if (FAILED(device->GetRenderState(passStates[i].first, &sceneStates[i]))) sceneStates[i] = passStates[i].second;
        device->SetRenderState(passStates[i].first, passStates[i].second);
    }

    for (C_QueueOne* queue : Queues) {
        if (queue->Camera) queue->Camera->Draw(device);
        std::size_t i = 0;
        while (i < queue->size()) {
            common.VisiblePixels = 10000;
            (*queue)[i]->Draw(device);
            if (common.VisiblePixels < 1) queue->RemoveAt(i);
            else ++i;
        }
    }
    if (SurfaceSupport.CloseCaptures) SurfaceSupport.CloseCaptures();
    SurfaceSupport.EndSurface(OcclusionSurface);
    for (std::size_t i = 0; i < std::size(passStates); ++i) device->SetRenderState(passStates[i].first, sceneStates[i]);
}

void C_QueueRendering::DrawMain(IDirect3DDevice9* device)
{
    for (C_QueueOne* queue : Queues) {
        if (queue->Camera) queue->Camera->Draw(device);
        for (std::size_t i = queue->size(); i-- > 0;) {
            if (i >= PrefetchAhead) Prefetch((*queue)[i - PrefetchAhead]);
            if (i >= PrefetchAhead / 2) PrefetchDrawData((*queue)[i - PrefetchAhead / 2]);
            C_BaseObject* object = (*queue)[i];
            if (object->Effect && DrawWithEffect && object->GetDistance(nullptr) <= object->EffectDistance)
                DrawWithEffect(object->Effect, object, device);
            else
                object->Draw(device);
        }
    }
    if (SurfaceSupport.CloseCaptures) SurfaceSupport.CloseCaptures();
}

void C_QueueRendering::Load(IDirect3DDevice9*)
{
    C_ResManager& manager = C_ResManager::Instance();
    const std::wstring switchText = ParameterString::ToLower(manager.GetText(L"OcclusionCulling"));
    if (switchText.find(L"true") == std::wstring::npos) return;
    const C_CommonData& common = CommonData();
    // A zero-sized screen would divide by zero; such a surface keeps the
    // surface's own default height.
    const int height = common.ScreenWidth > 0 ? 320 * common.ScreenHeight / common.ScreenWidth : 0;
    wchar_t value[64];
    std::swprintf(value, 64, L"%i; %i;", 320, height);
    OcclusionSurface = manager.AddResource(L"C_Surface9", L"OcclusionSurface", value);
}

void C_QueueRendering::Unload()
{
    OcclusionSurface = nullptr;
    C_BaseResource::Unload();
}
