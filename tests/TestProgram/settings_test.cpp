#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BaseClasses/Direct3D9Settings.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/MessageBox.h"
#include "Common/ScratchFolder.h"
#include "Logger/Logger.h"
#include "spine_support/FakeDirect3D.h"

namespace {

FakeDirect3D* g_fake = nullptr;
IDirect3D9* MakeFake(UINT version) { return version == 32 ? g_fake : nullptr; }
IDirect3D9* MakeNothing(UINT) { return nullptr; }

std::vector<std::wstring> g_boxes;
void RecordBox(std::wstring_view text, std::wstring_view) { g_boxes.emplace_back(text); }

const wchar_t* const kKeys[] = {L"Adapter", L"AdapterType", L"CreateDeviceFlag", L"TextureFilterType",
                                L"BackBufferWidth", L"BackBufferHeight", L"BackBufferFormat", L"BackBufferCount",
                                L"MultiSampleType", L"MultiSampleQuality", L"SwapEffect", L"Windowed",
                                L"EnableAutoDepthStencil", L"AutoDepthStencilFormat", L"Flags",
                                L"FullScreen_RefreshRateInHz", L"PresentationInterval"};

}  // namespace

// The program folder is a subfolder of a scratch folder, so the log folder
// "..\log" that the settings choose lands in the scratch folder too.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = dir.path() / "program";
        std::filesystem::create_directories(program);
        VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(program));
        previousFolder = std::filesystem::current_path();
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionFilter, L"4");
        logger::Logger::SetOption(logger::OptionEnable, L"1");
        g_fake = &fake;
        C_Direct3D9Settings::CreateDirect3D = &MakeFake;
        previousBox = VORTALEX::SetMessageBoxHandler(&RecordBox);
        g_boxes.clear();
    }
    void TearDown() override
    {
        VORTALEX::SetMessageBoxHandler(previousBox);
        C_Direct3D9Settings::CreateDirect3D = &Direct3DCreate9;
        logger::Logger::Activate(logger::AllReports);
        logger::Logger::SetOption(logger::OptionFolder, L"logger");
        logger::Logger::SetOption(logger::OptionRepetitions, L"1");
        std::filesystem::current_path(previousFolder);
        VORTALEX::OverrideProgramFolder(L"");
    }

    // Runs one construction and destruction, with the in-memory log on.
    std::wstring Run(const std::function<void(C_Direct3D9Settings&)>& check = {})
    {
        logger::Logger::Activate(logger::Mock);
        {
            C_Direct3D9Settings settings;
            if (check) check(settings);
        }
        return logger::Logger::Instance().MockText();
    }

    void WriteVideo(const std::wstring& entries)
    {
        std::wofstream out(program / "settings.xml");
        out << L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<entity name=\"Video\">" << entries << L"</entity>\n";
    }

    std::vector<int> SavedVideo()
    {
        VORTALEX::XMLSettings file(L"Video", VORTALEX::PathToWide(program / "settings.xml").c_str());
        std::vector<int> values;
        for (const wchar_t* key : kKeys) {
            EXPECT_FALSE(file.GetParameter(key).empty()) << "missing key";
            values.push_back(file.GetParameterInt(key));
        }
        return values;
    }

    ScratchFolder dir;
    std::filesystem::path program;
    std::filesystem::path previousFolder;
    VORTALEX::MessageBoxHandler previousBox = nullptr;
    FakeDirect3D fake;
};

TEST_F(SettingsTest, WithoutAFileTheDefaultsAreProbedAndWrittenAtExit)
{
    fake.maxColourSamples = 8;
    fake.maxDepthSamples = 4;   // the depth format limits the probe
    Run([&](C_Direct3D9Settings& s) {
        EXPECT_EQ(s.m_pDirect3D, &fake);
        EXPECT_EQ(s.PresentParameters.MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
        // The folder of the program becomes the current one.
        EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(program));
    });
    std::vector<int> probedOrder(17);
    for (int i = 0; i < 17; ++i) probedOrder[i] = i;
    EXPECT_EQ(fake.probed, probedOrder);
    EXPECT_EQ(SavedVideo(), (std::vector<int>{0, 1, 64, 2, 800, 600, 21, 3, 4, 0, 1, 1, 1, 75, 6, 0, -2147483648}));
    EXPECT_EQ(fake.refs, 0u) << "the Direct3D object is released at exit";
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(SettingsTest, StartUpNoticeAndOptimisationAreLoggedFirst)
{
    // Each source location logs once per run, so this runs in a fresh
    // process of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::wstring log = Run();
            const bool ok = log.rfind(L"info:\tЗапуск программы\ninfo:\tОптимизация: D3DX_", 0) == 0 &&
                            logger::Logger::Options()[logger::OptionFolder] == L"..\\log" &&
                            logger::Logger::Options()[logger::OptionRepetitions] == L"0";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SettingsTest, SoftwareVertexProcessingWithoutHardwareTransform)
{
    fake.devCaps = 0;
    fake.maxColourSamples = fake.maxDepthSamples = 0;
    Run();
    const std::vector<int> saved = SavedVideo();
    EXPECT_EQ(saved[2], 32);
    EXPECT_EQ(saved[8], 0);
}

TEST_F(SettingsTest, AnEmptyAdapterValueCountsAsNoSection)
{
    WriteVideo(L"<entity name=\"Adapter\" value=\"\"/><entity name=\"BackBufferWidth\" value=\"1280\"/>");
    Run([](C_Direct3D9Settings& s) { EXPECT_EQ(s.PresentParameters.BackBufferWidth, 800u); });
    EXPECT_EQ(SavedVideo()[4], 800);
}

TEST_F(SettingsTest, AStoredSectionIsReadAsItIs)
{
    std::wstring entries;
    const int values[] = {0, 1, 32, 1, 1024, 768, 22, 1, 2, 0, 1, 1, 1, 80, 2, 0, 1};
    for (int i = 0; i < 17; ++i)
        entries += L"<entity name=\"" + std::wstring(kKeys[i]) + L"\" value=\"" + std::to_wstring(values[i]) + L"\"/>";
    WriteVideo(entries);
    const std::wstring log = Run([](C_Direct3D9Settings& s) {
        EXPECT_EQ(s.PresentParameters.BackBufferWidth, 1024u);
        EXPECT_EQ(s.PresentParameters.AutoDepthStencilFormat, D3DFMT_D16);
        EXPECT_EQ(s.TextureFilterType, D3DTEXF_POINT);
    });
    EXPECT_EQ(log.find(L"warning"), std::wstring::npos) << "nothing replaced";
    EXPECT_TRUE(fake.probed.empty()) << "no probe when the section exists";
    EXPECT_EQ(SavedVideo(), std::vector<int>(std::begin(values), std::end(values)));
}

TEST_F(SettingsTest, OnlyAnAdapterReadsZerosAndUnusableOnesAreReplaced)
{
    WriteVideo(L"<entity name=\"Adapter\" value=\"0\"/>");
    Run([](C_Direct3D9Settings& s) {
        EXPECT_EQ(s.PresentParameters.MultiSampleType, D3DMULTISAMPLE_NONE);   // a usable 0 stays
        EXPECT_EQ(s.PresentParameters.Windowed, FALSE);
        EXPECT_EQ(s.PresentParameters.PresentationInterval, 0u);
    });
    const std::vector<int> saved = SavedVideo();
    EXPECT_EQ(saved[2], 64);
    EXPECT_EQ(saved[4], 800);
    EXPECT_EQ(saved[5], 600);
    EXPECT_EQ(saved[6], 21);   // full screen needs a real format
    EXPECT_EQ(saved[10], 1);
    EXPECT_EQ(saved[11], 0);
}

TEST_F(SettingsTest, AbsurdValuesBecomeSaneOnes)
{
    WriteVideo(L"<entity name=\"Adapter\" value=\"-3\"/><entity name=\"AdapterType\" value=\"1\"/>"
               L"<entity name=\"CreateDeviceFlag\" value=\"64\"/><entity name=\"TextureFilterType\" value=\"99\"/>"
               L"<entity name=\"BackBufferWidth\" value=\"100000\"/><entity name=\"BackBufferHeight\" value=\"abc\"/>"
               L"<entity name=\"BackBufferFormat\" value=\"12345\"/><entity name=\"BackBufferCount\" value=\"1\"/>"
               L"<entity name=\"MultiSampleType\" value=\"40\"/><entity name=\"SwapEffect\" value=\"1\"/>"
               L"<entity name=\"Windowed\" value=\"1\"/><entity name=\"EnableAutoDepthStencil\" value=\"1\"/>"
               L"<entity name=\"AutoDepthStencilFormat\" value=\"21\"/><entity name=\"PresentationInterval\" "
               L"value=\"7\"/>");
    Run([&](C_Direct3D9Settings& s) {
        EXPECT_EQ(s.Adapter, 0);
        EXPECT_EQ(s.PresentParameters.BackBufferWidth, 800u);
        EXPECT_EQ(s.PresentParameters.BackBufferHeight, 600u);
        EXPECT_EQ(s.PresentParameters.BackBufferFormat, D3DFMT_A8R8G8B8);
        EXPECT_EQ(s.PresentParameters.MultiSampleType, D3DMULTISAMPLE_NONE);
        EXPECT_EQ(s.PresentParameters.AutoDepthStencilFormat, D3DFMT_D24S8);
        EXPECT_EQ(s.PresentParameters.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
        EXPECT_EQ(s.TextureFilterType, D3DTEXF_LINEAR);
        EXPECT_EQ(s.CreateDeviceFlag, 64);
    });
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(SettingsTest, ReplacedValuesAreNamedInOneWarning)
{
    Run([](C_Direct3D9Settings& s) {
        logger::Logger::SetOption(logger::OptionRepetitions, L"1");
        const std::size_t before = logger::Logger::Instance().MockText().size();
        s.PresentParameters.BackBufferWidth = 0;
        s.PresentParameters.BackBufferHeight = 100000;
        s.Adapter = -1;
        s.CreateDeviceFlag = D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_SOFTWARE_VERTEXPROCESSING;
        s.CheckVideo();
        const std::wstring log = logger::Logger::Instance().MockText().substr(before);
        EXPECT_EQ(log,
                  L"warning:\tНедопустимые значения в settings.xml заменены: Adapter -1 -> 0; "
                  L"CreateDeviceFlag 96 -> 64; BackBufferWidth 0 -> 800; BackBufferHeight 100000 -> 600;\n");
        s.CheckVideo();
        EXPECT_EQ(logger::Logger::Instance().MockText().substr(before), log) << "sane values log nothing";
    });
}

// Every value is read as an integer and checked before it reaches a field,
// so no enumeration field ever holds a value outside its type.
TEST_F(SettingsTest, MinusOneInEveryKeyBecomesUsableValues)
{
    std::wstring entries;
    for (const wchar_t* key : kKeys) entries += L"<entity name=\"" + std::wstring(key) + L"\" value=\"-1\"/>";
    WriteVideo(entries);
    const std::wstring log = Run([](C_Direct3D9Settings& s) {
        EXPECT_EQ(s.AdapterType, D3DDEVTYPE_HAL);
        EXPECT_EQ(s.PresentParameters.BackBufferFormat, D3DFMT_A8R8G8B8);
        EXPECT_EQ(s.PresentParameters.MultiSampleType, D3DMULTISAMPLE_NONE);
        EXPECT_EQ(s.PresentParameters.SwapEffect, D3DSWAPEFFECT_DISCARD);
        EXPECT_EQ(s.PresentParameters.AutoDepthStencilFormat, D3DFMT_D24S8);
    });
    EXPECT_EQ(SavedVideo(), (std::vector<int>{0, 1, 64, 2, 800, 600, 21, 3, 0, 0, 1, 1, 1, 75, -1, 0, -2147483648}));
    EXPECT_NE(log.find(L"MultiSampleType -1 -> 0;"), std::wstring::npos) << std::string(log.begin(), log.end());
    EXPECT_NE(log.find(L"CreateDeviceFlag -1 -> 64;"), std::wstring::npos);
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(SettingsTest, AnAdapterBeyondTheLastOneBecomesTheFirst)
{
    WriteVideo(L"<entity name=\"Adapter\" value=\"5\"/>");
    Run([](C_Direct3D9Settings& s) { EXPECT_EQ(s.Adapter, 0); });
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(SettingsTest, WithoutDirect3DTheMessageShowsAndTheFileIsLeftAlone)
{
    C_Direct3D9Settings::CreateDirect3D = &MakeNothing;
    WriteVideo(L"<entity name=\"Adapter\" value=\"0\"/><entity name=\"BackBufferWidth\" value=\"1280\"/>");
    Run([](C_Direct3D9Settings& s) { EXPECT_EQ(s.m_pDirect3D, nullptr); });
    EXPECT_EQ(g_boxes, std::vector<std::wstring>{L"C_Direct3D9::C_Direct3D9() - !m_pDirect3D"});
    VORTALEX::XMLSettings file(L"Video", VORTALEX::PathToWide(program / "settings.xml").c_str());
    EXPECT_EQ(file.GetParameterInt(L"BackBufferWidth"), 1280);
    EXPECT_TRUE(file.GetParameter(L"Flags").empty());
}

TEST_F(SettingsTest, CapsAndDisplayModeFailuresShowTheirMessages)
{
    fake.capsResult = E_FAIL;
    Run();
    fake.capsResult = S_OK;
    fake.displayModeResult = E_FAIL;
    Run();
    EXPECT_EQ(g_boxes, (std::vector<std::wstring>{L"FAILED(m_pDirect3D->GetDeviceCaps())",
                                                  L"FAILED(m_pDirect3D->GetAdapterDisplayMode())"}));
}

TEST_F(SettingsTest, AnUnwritableFileIsLoggedNotThrown)
{
    std::filesystem::create_directories(program / "settings.xml");   // a folder where the file would go
    EXPECT_NO_THROW(Run());
}
