#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <stdexcept>
#include <string>

#include <memory>

#include "Common/CodePage.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Common/ScratchFolder.h"
#include "Wrappers/XMLParser/XMLSettings.h"

using VORTALEX::XMLSettings;

namespace {

class XMLSettingsTest : public ::testing::Test {
protected:
    std::wstring File() const { return VORTALEX::PathToWide(dir / "settings.xml"); }
    std::string Bytes() const { return ScratchFolder::Read(dir / "settings.xml"); }
    ScratchFolder dir;
};

}  // namespace

TEST_F(XMLSettingsTest, RoundTripWithCyrillicValuesAndExactLayout) {
    {
        XMLSettings s(L"Video", File().c_str());
        s.SetParameter(L"Adapter", 1);
        s.SetParameter(L"Name", L"Основной экран");
        s.SetSection(L"Logger");
        s.SetParameter(L"Folder", L"..\\log");
    }
    EXPECT_EQ(Bytes(),
              "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\n"
              "<entity name=\"Video\">\n"
              "\t<entity name=\"Adapter\" value=\"1\"/>\n"
              "\t<entity name=\"Name\" value=\"\xCE\xF1\xED\xEE\xE2\xED\xEE\xE9 \xFD\xEA\xF0\xE0\xED\"/>\n"
              "</entity>\n"
              "<entity name=\"Logger\">\n"
              "\t<entity name=\"Folder\" value=\"..\\log\"/>\n"
              "</entity>\n\n");
    XMLSettings s(L"Video", File().c_str());
    EXPECT_EQ(s.GetParameter(L"Name"), L"Основной экран");
    EXPECT_EQ(s.GetParameterInt(L"Adapter"), 1);
    s.SetSection(L"Logger");
    EXPECT_EQ(s.RequireParameter(L"Folder"), L"..\\log");
    EXPECT_FALSE(s.Modified());
}

TEST_F(XMLSettingsTest, MissingParametersReadEmptyAndRequireThrows) {
    XMLSettings s(L"Video", File().c_str());
    EXPECT_EQ(s.GetParameter(L"Adapter"), L"");
    EXPECT_EQ(s.GetParameterInt(L"Adapter"), 0);
    try {
        s.RequireParameter(L"Adapter");
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "XMLSettings: Not find parameter.");
    }
    EXPECT_FALSE(s.Modified());
}

TEST_F(XMLSettingsTest, ReadingAMissingSectionDoesNotWriteTheFile) {
    { XMLSettings s(L"Video", File().c_str()); }
    EXPECT_FALSE(std::filesystem::exists(dir / "settings.xml"));
}

TEST_F(XMLSettingsTest, SettingTwiceKeepsOneElementWithTheLastValue) {
    {
        XMLSettings s(L"Video", File().c_str());
        s.SetParameter(L"Width", 800);
        s.SetParameter(L"Height", 600);
        s.SetParameter(L"Width", 1024);
        EXPECT_TRUE(s.FindParameter(L"Width"));
    }
    const std::string bytes = Bytes();
    EXPECT_EQ(bytes.find("name=\"Width\""), bytes.rfind("name=\"Width\""));
    XMLSettings s(L"Video", File().c_str());
    EXPECT_EQ(s.GetParameterInt(L"Width"), 1024);
    EXPECT_EQ(s.GetParameterInt(L"Height"), 600);
}

TEST_F(XMLSettingsTest, NamesCompareCaseSensitively) {
    {
        XMLSettings s(L"Video", File().c_str());
        s.SetParameter(L"Adapter", 2);
    }
    XMLSettings s(L"video", File().c_str());
    EXPECT_EQ(s.GetParameter(L"Adapter"), L"");
    s.SetSection(L"Video");
    EXPECT_EQ(s.GetParameter(L"adapter"), L"");
    EXPECT_EQ(s.GetParameterInt(L"Adapter"), 2);
}

TEST_F(XMLSettingsTest, IntegerReadingFollowsWtoi) {
    {
        XMLSettings s(L"N", File().c_str());
        s.SetParameter(L"Neg", INT_MIN);
        s.SetParameter(L"Text", L"  42px");
        s.SetParameter(L"Word", L"many");
        s.SetParameter(L"Big", L"3000000000");
    }
    XMLSettings s(L"N", File().c_str());
    EXPECT_EQ(s.GetParameter(L"Neg"), L"-2147483648");
    EXPECT_EQ(s.GetParameterInt(L"Neg"), INT_MIN);
    EXPECT_EQ(s.GetParameterInt(L"Text"), 42);
    EXPECT_EQ(s.GetParameterInt(L"Word"), 0);
    EXPECT_EQ(s.GetParameterInt(L"Big"), INT_MAX);
}

TEST_F(XMLSettingsTest, BrokenFilesReadAsEmptyAndAreReplacedWhole) {
    for (const std::string& content : {std::string(""), std::string("not xml at all"),
                                       std::string("<?xml version=\"1.0\"?>\n<entity name=\"Video\">\n<entity")}) {
        ScratchFolder::Write(dir / "settings.xml", content);
        {
            XMLSettings s(L"Video", File().c_str());
            EXPECT_EQ(s.GetParameter(L"Adapter"), L"");
            s.SetParameter(L"Adapter", 3);
        }
        XMLSettings s(L"Video", File().c_str());
        EXPECT_EQ(s.GetParameterInt(L"Adapter"), 3);
    }
}

TEST_F(XMLSettingsTest, FailedSaveThrowsCodeFiveAndKeepsTheOldFile) {
    {
        XMLSettings s(L"Video", File().c_str());
        s.SetParameter(L"Adapter", 1);
    }
    const std::string before = Bytes();
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool canStillWrite = ::access(dir.path().c_str(), W_OK) == 0;  // true when run as root
    int code = -1;
    try {
        XMLSettings s(L"Video", File().c_str());
        s.SetParameter(L"Adapter", 2);
    } catch (const VORTALEX::xml_parser::IXMLParser::XMLException& e) {
        code = e.GetCode();
    }
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    if (!canStillWrite) {
        EXPECT_EQ(code, 5);
        EXPECT_EQ(Bytes(), before);
    }
}

TEST_F(XMLSettingsTest, DefaultFileIsBesideTheProgram) {
    VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(dir.path()));
    {
        XMLSettings s(L"Video");
        EXPECT_EQ(s.Path(), VORTALEX::PathToWide(dir.path()) + L"\\settings.xml");
        s.SetParameter(L"Adapter", 5);
    }
    VORTALEX::OverrideProgramFolder(L"");
    XMLSettings s(L"Video", File().c_str());
    EXPECT_EQ(s.GetParameterInt(L"Adapter"), 5);
}

TEST_F(XMLSettingsTest, AnUnreadableFileIsKeptBesideItselfBeforeASaveReplacesIt) {
    const std::string cut = "<?xml version=\"1.0\"?>\n<entity name=\"Logger\">\n<entity name=\"Filter\" val";
    ScratchFolder::Write(dir / "settings.xml", cut);
    {
        XMLSettings reader(L"Logger", File().c_str());
        EXPECT_NE(reader.LoadError().find(L"(3)"), std::wstring::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "settings.xml.broken")) << "reading alone keeps nothing";
    {
        XMLSettings s(L"Video", File().c_str());
        s.SetParameter(L"Adapter", 1);
    }
    EXPECT_EQ(ScratchFolder::Read(dir / "settings.xml.broken"), cut);
    EXPECT_EQ(XMLSettings(L"Video", File().c_str()).GetParameterInt(L"Adapter"), 1);

    // A newer unreadable file replaces the older copy.
    ScratchFolder::Write(dir / "settings.xml", "<entity");
    {
        XMLSettings s(L"Video", File().c_str());
        s.SetParameter(L"Adapter", 2);
    }
    EXPECT_EQ(ScratchFolder::Read(dir / "settings.xml.broken"), "<entity");

    // A missing file is no broken one.
    std::filesystem::remove(dir / "settings.xml");
    XMLSettings fresh(L"Video", File().c_str());
    EXPECT_TRUE(fresh.LoadError().empty());
}

TEST_F(XMLSettingsTest, AFileRewrittenSinceItWasReadIsNotTakenForTheBrokenOne) {
    ScratchFolder::Write(dir / "settings.xml", "not xml");
    auto first = std::make_unique<XMLSettings>(L"Video", File().c_str());
    {
        XMLSettings second(L"Logger", File().c_str());
        second.SetParameter(L"Filter", 2);
    }
    first->SetParameter(L"Adapter", 3);
    first.reset();
    EXPECT_EQ(ScratchFolder::Read(dir / "settings.xml.broken"), "not xml");
    EXPECT_EQ(XMLSettings(L"Video", File().c_str()).GetParameterInt(L"Adapter"), 3) << "the last one destroyed wins";
}

TEST_F(XMLSettingsTest, AFailedSaveSaysWhyAndLeavesNoTemporary) {
    // A folder that is a file: no user, root included, can write below it.
    ScratchFolder::Write(dir / "plain", "x");
    const std::wstring inside = VORTALEX::PathToWide(dir / "plain" / "settings.xml");
    std::wstring detail;
    try {
        XMLSettings s(L"Video", inside.c_str());
        s.SetParameter(L"Adapter", 1);
    } catch (const VORTALEX::xml_parser::IXMLParser::XMLException& e) {
        EXPECT_EQ(e.GetCode(), 5);
        detail = e.GetDescription();
    }
    EXPECT_NE(detail.find(inside), std::wstring::npos);
    EXPECT_NE(detail.find(L"Not a directory"), std::wstring::npos) << VORTALEX::codepage::ToUtf8(detail);
    EXPECT_NE(detail.find(L"Ошибка при сохранении файла"), std::wstring::npos);
    // A save that worked leaves only the file itself.
    {
        XMLSettings s(L"Video", File().c_str());
        s.SetParameter(L"Adapter", 1);
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(XMLSettingsTest, TemporariesOfSavesThatWereKilledAreRemoved) {
    // Process numbers above the kernel's limit never run; this process runs.
    const std::string mine = "settings.xml.tmp" + std::to_string(::getpid());
    for (const std::string name : {"settings.xml.tmp99999998", mine.c_str(), "settings.xml.tmp", "settings.xml.tmp12a",
                                   "other.xml.tmp99999998"})
        ScratchFolder::Write(dir / name, "partial");
    XMLSettings s(L"Video", File().c_str());
    EXPECT_FALSE(std::filesystem::exists(dir / "settings.xml.tmp99999998"));
    EXPECT_TRUE(std::filesystem::exists(dir / mine));
    EXPECT_TRUE(std::filesystem::exists(dir / "settings.xml.tmp"));
    EXPECT_TRUE(std::filesystem::exists(dir / "settings.xml.tmp12a"));
    EXPECT_TRUE(std::filesystem::exists(dir / "other.xml.tmp99999998"));
}
