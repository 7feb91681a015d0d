#include "BaseClasses/Direct3D9Settings.h"

#include <exception>
#include <filesystem>

#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/MessageBox.h"
#include "Logger/Logger.h"
#include "Platform/Platform.h"

C_Direct3D9Settings::C_Direct3D9Settings()
    : VORTALEX::XMLSettings(nullptr, nullptr)
{
    // Every relative path of the program (log folder, text.ini, modules)
    // starts in the program's folder, whatever folder it was started from.
    try {
        std::error_code error;
        std::filesystem::current_path(VORTALEX::MapPath(VORTALEX::PathToProgram().str()), error);
    } catch (const std::exception&) {
    }
    logger::Logger::SetOption(logger::OptionFolder, L"..\\log");
    logger::Logger::SetOption(logger::OptionOutput, L"2");
    logger::Logger::SetOption(logger::OptionRepetitions, L"0");
    LOG_INFO(L"Запуск программы");
    if (!LoadError().empty())
        LOG_WARNING(L"Файл настроек не прочитан, взяты значения по умолчанию: " << LoadError());

    m_pDirect3DDevice = nullptr;
    C_Platform::D3DXCpuOptimizations();
    OpenDirect3D();
}

C_Direct3D9Settings::~C_Direct3D9Settings() noexcept
try {
    // Values that were never read or filled in would replace the user's
    // section with zeros; such a run leaves the file as it was.
    if (VideoReady()) SaveVideo();
    ReleaseDirect3D();
} catch (const VORTALEX::Exception& e) {
    // The settings base could not write the file (read-only folder, full
    // disk): the program is ending anyway, so say why and end normally.
    LOG_WARNING(L"Файл настроек не записан: " << e.GetDescription());
    return;
} catch (const std::exception& e) {
    LOG_WARNING(L"Файл настроек не записан: " << e.what());
    return;
} catch (...) {
    LOG_WARNING(L"Файл настроек не записан");
    return;
}

void C_Direct3D9Settings::SelectVideoSection() { SetSection(L"Video"); }

std::wstring C_Direct3D9Settings::ReadVideoText(const wchar_t* key) { return GetParameter(key); }

int C_Direct3D9Settings::ReadVideoInt(const wchar_t* key) { return GetParameterInt(key); }

void C_Direct3D9Settings::WriteVideoInt(const wchar_t* key, int value) { SetParameter(key, value); }

void C_Direct3D9Settings::ShowVideoMessage(const wchar_t* text) { VORTALEX::ShowMessageBox(text, L"Tarnwick"); }

void C_Direct3D9Settings::ReportReplaced(const std::wstring& items)
{
    // Distinct by text: a reload that replaces other values is logged too,
    // even with repetitions switched off.
    if (!logger::Logger::WouldCommit(logger::Warning)) return;
    logger::Logger::Message message(logger::Warning, "warning", __LINE__, __FILE__, __PRETTY_FUNCTION__);
    message.DistinctByText() << L"Недопустимые значения в settings.xml заменены:" << items;
    message.Commit();
}
