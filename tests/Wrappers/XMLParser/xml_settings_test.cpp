#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <stdexcept>
#include <string>

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
