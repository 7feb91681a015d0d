#include "BaseClasses/Base3DWindow.h"

#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>

#include "Common/CodePage.h"
#include "Logger/Logger.h"
#include "QueueRendering/QueueRendering.h"
#include "Render/GUI/LoadScreen.h"
#include "Render/Resources/BaseTexture9.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/ResManager.h"
#include "VirtualFileSystem/FileManager.h"
#include "port/win32/runoptions.h"

int32_t C_Base3DWindow::ExceptionCount = 0;

namespace {

// Where the frame's exception warnings say they come from.
constexpr const char* kRenderSignature = "void __thiscall C_Base3DWindow::Render(void)";
constexpr const char* kRenderSource = "BaseClasses\\Base3DWindow";

void LogRenderException(int line, const std::wstring& text)
{
    if (!logger::Logger::WouldCommit(logger::Warning)) return;
    logger::Logger::Message message(logger::Warning, "warning", line, kRenderSource, kRenderSignature);
    message << text;
    message.Commit();
}

}  // namespace

VORTALEX::vector<C_BaseObject::StatusObject, 100>& C_Base3DWindow::SavedStatuses()
{
    static VORTALEX::vector<C_BaseObject::StatusObject, 100> statuses;
    return statuses;
}

std::wstring C_Base3DWindow::ProcessCommandLine()
{
    // The window is built before the framework has parsed the arguments, so
    // it reads them itself.
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string line;
    std::size_t start = all.find('\0');
    while (start != std::string::npos && start + 1 < all.size()) {
        const std::size_t end = all.find('\0', start + 1);
        if (!line.empty()) line += ' ';
        line += all.substr(start + 1, (end == std::string::npos ? all.size() : end) - start - 1);
        start = end;
    }
    return VORTALEX::codepage::DecodeText(line);
}

std::wstring C_Base3DWindow::MainModuleFor(const std::wstring& commandLine)
{
    if (!commandLine.empty()) {
        // A relative name is looked up like any name of the program, in the
        // storage archives too, whose entries are written with '\'.
        std::wstring file = commandLine;
        if (file.front() != L'/')
            for (wchar_t& c : file)
                if (c == L'/') c = L'\\';
        return file;
    }
    C_BaseResource* resource = C_ResManager::Instance().AddResource(L"C_D3DXSTRING", L"MainModule", L"MainModule");
    std::wstring file = resource ? C_ResManager::Instance().GetText(L"MainModule") : std::wstring();
    return file.empty() ? std::wstring(L"MainModule.xml") : file;
}

C_Base3DWindow::C_Base3DWindow()
{
    m_pLoadScreen = new C_LoadScreen;
    C_CommonData& common = CommonData();
    common.ScreenWidth = static_cast<int32_t>(PresentParameters.BackBufferWidth);
    common.ScreenHeight = static_cast<int32_t>(PresentParameters.BackBufferHeight);
    m_MainModule = MainModuleFor(ProcessCommandLine());
}

C_Base3DWindow::~C_Base3DWindow()
{
    delete m_pLoadScreen;
    m_pLoadScreen = nullptr;
}

bool C_Base3DWindow::Create3DWindow()
{
    if (!m_pDirect3D) return false;
    const LPCWSTR windowClass = AfxRegisterWndClass(0);
    const bool windowed = PresentParameters.Windowed != FALSE;
    const DWORD style = windowed ? (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX) : (WS_POPUP | WS_BORDER | WS_SYSMENU);
    RECT rect{0, 0, static_cast<LONG>(PresentParameters.BackBufferWidth),
              static_cast<LONG>(PresentParameters.BackBufferHeight)};
    if (!CreateEx(WS_EX_TOPMOST, windowClass, Name.c_str(), style, rect, nullptr, 0)) return false;

    if (windowed) {
        CalcWindowRect(&rect);
        const LONG width = rect.right - rect.left;
        const LONG height = rect.bottom - rect.top;
        MoveWindow((GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width,
                   height, TRUE);
    }
    SetForegroundWindow();

    PresentParameters.hDeviceWindow = m_hWnd;
    const HRESULT created = m_pDirect3D->CreateDevice(
        static_cast<UINT>(Adapter), static_cast<D3DDEVTYPE>(AdapterType), m_hWnd,
        static_cast<DWORD>(CreateDeviceFlag) | D3DCREATE_MULTITHREADED | D3DCREATE_FPU_PRESERVE, &PresentParameters,
        &m_pDirect3DDevice);
    if (FAILED(created)) {
        DestroyWindow();
        if (m_pDirect3DDevice) {
            m_pDirect3DDevice->Release();
            m_pDirect3DDevice = nullptr;
        }
        return false;
    }
    SetTextureFilter();
    ShowWindow(SW_SHOW);
    CommonData().Input.Initialise(m_hWnd);
    m_Reload = true;
    return true;
}

void C_Base3DWindow::SetTextureFilter()
{
    if (!m_pDirect3DDevice) return;
    m_pDirect3DDevice->SetSamplerState(0, D3DSAMP_MAGFILTER, static_cast<DWORD>(TextureFilterType));
    m_pDirect3DDevice->SetSamplerState(0, D3DSAMP_MINFILTER, static_cast<DWORD>(TextureFilterType));
}

void C_Base3DWindow::EnableWindow3D() { ::EnableWindow(m_hWnd, TRUE); }
void C_Base3DWindow::DisableWindow3D() { ::EnableWindow(m_hWnd, FALSE); }

void C_Base3DWindow::Render()
{
    if (ExceptionCount > 10) {
        SendMessage(WM_CLOSE);
        // A closed window has nothing left to draw into.
        if (!m_hWnd) return;
    }
    try {
        Frame();
    } catch (const std::exception& e) {
        LogRenderException(__LINE__, VORTALEX::codepage::DecodeText(e.what()));
        ++ExceptionCount;
    } catch (...) {
        LogRenderException(__LINE__, L"Неизвестное исключение");
        ++ExceptionCount;
    }
}

void C_Base3DWindow::Frame()
{
    if (m_Reload) ReloadMainModule();
    IDirect3DDevice9* device = m_pDirect3DDevice;
    if (!device) {
        Sleep(0);
        return;
    }
    C_QueueRendering& queue = C_QueueRendering::Instance();
    C_ResManager& managers = C_ResManager::Instance();
    C_CommonData& common = CommonData();

    const HRESULT level = device->TestCooperativeLevel();
    bool usable = true;
    if (level == D3DERR_DEVICELOST) {
        Sleep(10);
        return;
    }
    if (level == D3DERR_DEVICENOTRESET) {
        {
            // Only device objects go; the scene is loaded again as it is.
            C_BaseResource::C_DeviceRelease deviceOnly;
            queue.Unload();
        }
        managers.ReleaseDeviceObjects();
        if (FAILED(device->Reset(&PresentParameters))) {
            Sleep(10);
            return;
        }
        SetTextureFilter();
        // The occlusion surface was kept with the scene; the load run that
        // follows rebuilds its device objects, and the pass comes back.
        queue.Load(device);
        ShowLoadScreen();
        // Every resource has lost its device objects, however far a load
        // run that the loss interrupted had come: the run starts over.
        managers.RestartLoad();
        m_Loading = true;
        PortSceneLoading();
        return;
    }
    if (FAILED(level)) usable = false;

    if (usable) {
        common.Time = GetTickCount();
        common.Input.ReadKeyboard();
        common.Input.ReadMouse();
        C_BaseModule::Update();
        // Objects that scripts deleted during the update go now, before
        // anything is queued or drawn.
        managers.DeletePending();
        if (m_Reload) return;
        C_BaseModule::AddToRenderQueue();

        common.RenderPass = 1;
        queue.Draw(device);
        if (SUCCEEDED(device->BeginScene())) {
            common.RenderPass = 0;
            queue.Draw(device);
            device->EndScene();
            device->Present(nullptr, nullptr, nullptr, nullptr);
            queue.ClearQueues();
            for (DWORD stage = 0; stage < 8; ++stage) device->SetTexture(stage, nullptr);
            C_BaseTexture9::ClearStageTable();
            common.MouseWheel = 0;
        } else {
            // The queues are rebuilt every frame; kept, they would grow with
            // every frame the scene cannot begin.
            queue.ClearQueues();
        }
    }

    if (m_Loading) {
        m_Loading = managers.Load(device);
        managers.DeletePending();   // what load-time scripts deleted
        if (m_pLoadScreen) m_pLoadScreen->Progress.SetText(managers.Progress());
        if (!m_Loading) {
            Sleep(200);
            HideLoadScreen();
            PortSceneLoaded();
        }
    }
    Sleep(0);
}

void C_Base3DWindow::ReloadMainModule()
{
    // A switch asked for while this one loads (by a script the load runs) is
    // kept for the next frame; a load that fails is tried again.
    m_Reload = false;
    try {
        C_BaseModule::Unload();
        m_LoadScreenUp = false;   // the statuses saved belong to the list just emptied
        C_QueueRendering::Instance().Unload();
        C_ResManager& managers = C_ResManager::Instance();
        managers.Clear();
        // The text table names the storage archives; they must be mounted
        // before the module file is looked for, also when no text has been
        // asked for yet (a main module named on the command line).
        C_D3DXSTRING::C_AllStrings::Instance();
        *this << m_MainModule;
        if (m_pLoadScreen) {
            m_pLoadScreen->C_BaseModule::Unload();
            m_pLoadScreen->SetName(L"LoadScreen");
            m_pLoadScreen->Load(m_pDirect3DDevice);
            AddToModule(m_pLoadScreen);
        }
        managers.AddResource(L"C_PureResource", L"Unknown", L"");
        if (m_hWnd) SetWindowText(Name.c_str());
        ShowLoadScreen();
        C_QueueRendering::Instance().Load(m_pDirect3DDevice);
        managers.DeletePending();
        m_Loading = true;
        PortSceneLoading();
    } catch (...) {
        m_Reload = true;
        throw;
    }
}

void C_Base3DWindow::ShowLoadScreen()
{
    auto& saved = SavedStatuses();
    // Shown again while it is up (the device was lost during loading): the
    // statuses saved the first time are the scene's own, while the objects
    // now all read 0; only objects that joined since have theirs saved.
    if (!m_LoadScreenUp) saved.clear();
    for (std::size_t i = saved.size(); i < size(); ++i) {
        C_BaseObject* object = (*this)[i];
        saved.push_back(object->GetStatus());
        object->SetStatus(Disabled);
    }
    m_LoadScreenUp = true;
    if (m_pLoadScreen) m_pLoadScreen->SetStatus(Visible);
}

void C_Base3DWindow::HideLoadScreen()
{
    const auto& saved = SavedStatuses();
    // Objects that joined the module while loading have no saved status and
    // keep their own.
    for (std::size_t i = 0; i < size() && i < saved.size(); ++i) (*this)[i]->SetStatus(saved[i]);
    m_LoadScreenUp = false;
    if (m_pLoadScreen) m_pLoadScreen->SetStatus(Disabled);
}

double C_Base3DWindow::LoadMainModule(const std::string& file)
{
    auto* window = dynamic_cast<C_Base3DWindow*>(AfxGetMainWnd());
    if (window) {
        window->m_MainModule = VORTALEX::codepage::DecodeText(file);
        window->m_Reload = true;
    } else {
        LOG_WARNING(L"!pWnd");
    }
    return 0.0;
}

void C_Base3DWindow::OnClose()
{
    // The device draws through a context that lives with the window, so
    // everything that holds device objects lets go of them, and the device
    // itself is released, while the window still exists.
    C_QueueRendering::Instance().ClearQueues();
    C_QueueRendering::Instance().Unload();
    C_ResManager::Instance().Clear();
    CommonData().Input.Release();
    if (m_pDirect3DDevice) {
        m_pDirect3DDevice->Release();
        m_pDirect3DDevice = nullptr;
    }
    Default();
    C_ResManager::Instance().Clear();
    VORTALEX::FileManager::Instance().CloseStorages();
}

void C_Base3DWindow::OnMouseMove(UINT, POINT point)
{
    CommonData().MouseX = point.x;
    CommonData().MouseY = point.y;
    Default();
}

BOOL C_Base3DWindow::OnMouseWheel(UINT, short delta, POINT)
{
    CommonData().MouseWheel = delta;
    return static_cast<BOOL>(Default());
}
