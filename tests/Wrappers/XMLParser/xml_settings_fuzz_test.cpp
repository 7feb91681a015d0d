// Seeded random damage to a settings file: every damaged file is read (as
// far as it parses, else as an empty tree) without harm, a save writes a
// file that reads back with the values set, and a file that could not be
// read is kept beside it first. TW_FUZZ_ITERATIONS and TW_FUZZ_SEED run it
// longer or otherwise (see README).

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "Common/CodePage.h"
#include "Common/FilePath.h"
#include "Common/Fuzz.h"
#include "Common/ScratchFolder.h"
#include "Wrappers/XMLParser/XMLSettings.h"

using VORTALEX::XMLSettings;

TEST(XMLSettingsFuzz, DamagedSettingsFilesAreReadSafelyAndReplacedByReadableOnes)
{
    const std::string seed =
        "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\n"
        "<entity name=\"Video\">\n"
        "\t<entity name=\"Adapter\" value=\"0\"/>\n"
        "\t<entity name=\"BackBufferWidth\" value=\"1024\"/>\n"
        "\t<entity name=\"Name\" value=\"\xCE\xF1\xED\xEE\xE2\xED\xEE\xE9 &amp; &#1046; &lt;\"/>\n"
        "</entity>\n"
        "<entity name=\"Logger\">\n"
        "\t<entity name=\"Folder\" value=\"..\\log\"/>\n"
        "\t<!-- a comment --><entity name=\"Filter\" value=\"3\"/>\n"
        "</entity>\n";
    const std::vector<std::string> tokens = {"<entity name=\"Video\">", "</entity>", "<entity", "name=\"Adapter\"",
                                             "value=\"", "encoding=\"utf-8\"", "<entity><entity><entity>"};
    ScratchFolder dir;
    const std::wstring path = VORTALEX::PathToWide(dir / "settings.xml");
    std::mt19937 random(tw_fuzz::Seed(20240721));
    int unreadable = 0;
    for (int round = 0, n = tw_fuzz::Iterations(300); round < n; ++round) {
        std::string text = seed;
        for (int m = 1 + int(random() % 3); m > 0; --m) tw_fuzz::Mutate(text, random, tokens);
        ScratchFolder::Write(dir / "settings.xml", text);
        std::filesystem::remove(dir / "settings.xml.broken");
        bool broken = false;
        {
            XMLSettings settings(L"Video", path.c_str());
            broken = !settings.LoadError().empty();
            unreadable += broken;
            for (const wchar_t* key : {L"Adapter", L"BackBufferWidth", L"Name", L""}) {
                settings.GetParameter(key);
                settings.GetParameterInt(key);
            }
            settings.SetSection(L"Logger");
            settings.GetParameter(L"Folder");
            settings.SetSection(L"Video");
            settings.SetParameter(L"Adapter", round);
            settings.SetParameter(L"Name", L"Проверка <&>\"'");
        }
        XMLSettings again(L"Video", path.c_str());
        ASSERT_TRUE(again.LoadError().empty()) << "round " << round << ": what was saved reads back";
        EXPECT_EQ(again.GetParameterInt(L"Adapter"), round);
        EXPECT_EQ(again.GetParameter(L"Name"), L"Проверка <&>\"'");
        if (broken) EXPECT_EQ(ScratchFolder::Read(dir / "settings.xml.broken"), text) << "round " << round;
        else EXPECT_FALSE(std::filesystem::exists(dir / "settings.xml.broken")) << "round " << round;
    }
    // The damage reaches both outcomes.
    EXPECT_GT(unreadable, 0);
    EXPECT_LT(unreadable, tw_fuzz::Iterations(300));
}
