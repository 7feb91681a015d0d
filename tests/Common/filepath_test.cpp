#include <gtest/gtest.h>

#include "Common/CodePage.h"
#include "Common/FilePath.h"
#include "Common/ScratchFolder.h"

namespace fs = std::filesystem;
using VORTALEX::MapPath;

namespace {
std::wstring Wide(const fs::path& p) { return VORTALEX::PathToWide(p); }
}  // namespace

TEST(MapPath, BackslashesAndExactPaths) {
    ScratchFolder dir;
    fs::create_directories(dir / "Media/Meshes");
    ScratchFolder::Write(dir / "Media/Meshes/Box.x", "x");
    const std::wstring root = Wide(dir.path());
    EXPECT_EQ(MapPath(root + L"\\Media\\Meshes\\Box.x"), dir / "Media/Meshes/Box.x");
    EXPECT_EQ(MapPath(root + L"/Media\\Meshes/Box.x"), dir / "Media/Meshes/Box.x");
    EXPECT_EQ(MapPath(root + L"\\\\Media\\\\Meshes\\Box.x"), dir / "Media/Meshes/Box.x");
    EXPECT_TRUE(MapPath(L"").empty());
}

TEST(MapPath, MatchesEveryComponentIgnoringCaseIncludingCyrillic) {
    ScratchFolder dir;
    fs::create_directories(dir / "Media" / fs::path(u8"Текстуры"));
    const fs::path file = dir / "Media" / fs::path(u8"Текстуры") / fs::path(u8"Трава.DDS");
    ScratchFolder::Write(file, "dds");
    const std::wstring root = Wide(dir.path());
    EXPECT_EQ(MapPath(root + L"\\MEDIA\\текстуры\\трава.dds"), file);
    EXPECT_EQ(MapPath(root + L"\\media\\ТЕКСТУРЫ\\ТРАВА.dds"), file);
}

TEST(MapPath, MissingTailIsKeptAsWrittenBehindTheMatchedFolders) {
    ScratchFolder dir;
    fs::create_directories(dir / "Logs");
    const std::wstring root = Wide(dir.path());
    EXPECT_EQ(MapPath(root + L"\\LOGS\\new\\file.log"), dir / "Logs/new/file.log");
    EXPECT_EQ(MapPath(root + L"\\Logs\\..\\Logs\\a.txt"), dir / "Logs/../Logs/a.txt");
}

TEST(MapPath, RelativePathsResolveAgainstTheCurrentFolder) {
    ScratchFolder dir;
    fs::create_directories(dir / "Sub");
    ScratchFolder::Write(dir / "Sub/Settings.XML", "<a/>");
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const fs::path mapped = MapPath(L"sub\\settings.xml");
    fs::current_path(previous);
    EXPECT_EQ(mapped, fs::path("Sub/Settings.XML"));
}

TEST(MapPath, Windows1251FileNamesAreMatched) {
    ScratchFolder dir;
    // A name written by a program that used the 8-bit code page: "Мир" in Windows-1251.
    const fs::path odd = dir / std::string("\xCC\xE8\xF0.txt");
    ScratchFolder::Write(odd, "1");
    EXPECT_EQ(MapPath(Wide(dir.path()) + L"\\мир.TXT"), odd);
}
