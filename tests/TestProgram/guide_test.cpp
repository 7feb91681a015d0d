// The scene author's guide (docs/) run as its readers run it: every example
// folder under docs/examples runs headless in the real Tarnwick, loads
// without a warning or error in its log and draws a picture that is more
// than the clear colour; the storage-archive recipe packs an example and
// draws the same picture. (The reference pages are checked against the
// program's tables in tests/programs/guide.)

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "TestProgram/ProgramOutput.h"

#include "Common/CodePage.h"
#include "Common/ScratchFolder.h"

namespace fs = std::filesystem;

namespace {

using tw_test::Image;
using tw_test::ReadAll;
using tw_test::ReadPng;

const fs::path kDocs = fs::path(TW_SOURCE_DIR) / "docs";

std::string Narrow(const std::wstring& text) { return VORTALEX::codepage::ToUtf8(text); }

// The example program folders, by folder name.
std::vector<std::string> ExampleFolders()
{
    std::vector<std::string> names;
    const fs::path root = kDocs / "examples";
    if (fs::is_directory(root))
        for (const auto& entry : fs::directory_iterator(root))
            if (entry.is_directory() && fs::exists(entry.path() / "MainModule.xml"))
                names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// One row of the HTML log: its level word and its text.
struct LogRow {
    std::string level;
    std::string text;
};

std::vector<LogRow> ReadLogRows(const fs::path& folder)
{
    std::vector<LogRow> rows;
    if (!fs::is_directory(folder)) return rows;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".html") continue;
        const std::string html = Narrow(VORTALEX::codepage::FromCp1251(ReadAll(entry.path())));
        // A message row holds the level and the text as the first two bold
        // cells after the timestamp.
        static const std::regex cell(R"(<b>&nbsp;([\s\S]*?)</b>)");
        std::size_t at = 0;
        while ((at = html.find("<tr>", at)) != std::string::npos) {
            const std::size_t end = html.find("</tr>", at);
            const std::string rowText = html.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at += 4;
            std::vector<std::string> cells;
            for (std::sregex_iterator i(rowText.begin(), rowText.end(), cell), last; i != last; ++i)
                cells.push_back((*i)[1]);
            if (cells.size() >= 2) rows.push_back({cells[0], cells[1]});
        }
    }
    return rows;
}

}  // namespace

// ---------------------------------------------------------------------------
// The example folders, run as a user runs them
// ---------------------------------------------------------------------------

class GuideExample : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        program = dir.path() / "program";
        fs::copy(kDocs / "examples" / GetParam(), program, fs::copy_options::recursive);
        fs::copy_file(fs::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick");
    }

    int Run(int frames)
    {
        const std::string command = "cd '" + program.string() +
                                    "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=" + std::to_string(frames) +
                                    " TARNWICK_STEP_MS=20 TARNWICK_SCREENSHOT='" + (dir / "shot.png").string() +
                                    "' timeout 120 ./Tarnwick > '" + (dir / "out.txt").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    ScratchFolder dir;
    fs::path program;
};

TEST_P(GuideExample, LoadsWithoutWarningsAndDrawsTheScene)
{
    ASSERT_EQ(Run(90), 0) << ReadAll(dir / "out.txt");

    const std::vector<LogRow> rows = ReadLogRows(dir / "log");
    ASSERT_FALSE(rows.empty()) << "the run wrote no log";
    for (const LogRow& row : rows)
        EXPECT_TRUE(row.level == "info") << row.level << ": " << row.text;

    const Image shot = ReadPng(dir / "shot.png");
    ASSERT_EQ(shot.width, 800);
    ASSERT_EQ(shot.height, 600);
    std::map<unsigned, int> counts;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) ++counts[shot.Pixel(x, y)];
    const auto background =
        std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; });
    // The load screen clears to black: the examples clear to other colours,
    // so a picture of a scene still loading fails here.
    EXPECT_NE(background->first, 0u) << "the picture is the load screen's black";
    const int drawn = shot.width * shot.height - background->second;
    EXPECT_GT(drawn, 2000) << "only the clear colour " << std::hex << background->first << " was drawn";
}

INSTANTIATE_TEST_SUITE_P(Folders, GuideExample, ::testing::ValuesIn(ExampleFolders()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// The recipe of docs/storage.md: the media example with its meshes and
// textures packed by vfspack into an archive named in text.ini, the loose
// folders gone, draws the same picture.
TEST(GuideRecipes, AnArchiveReplacesTheLooseFilesOfTheMediaExample)
{
    ScratchFolder dir;
    auto run = [&](const fs::path& program, const fs::path& shot) {
        fs::copy_file(fs::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick");
        const std::string command = "cd '" + program.string() +
                                    "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=40 TARNWICK_STEP_MS=20 "
                                    "TARNWICK_SCREENSHOT='" + shot.string() + "' timeout 120 ./Tarnwick > /dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const fs::path loose = dir.path() / "loose" / "program";
    const fs::path packed = dir.path() / "packed" / "program";
    fs::create_directories(loose.parent_path());
    fs::create_directories(packed.parent_path());
    fs::copy(kDocs / "examples" / "media", loose, fs::copy_options::recursive);
    fs::copy(kDocs / "examples" / "media", packed, fs::copy_options::recursive);

    const std::string pack = "cd '" + packed.string() + "' && '" + (fs::path(TW_BINARY_DIR) / "vfspack").string() +
                             "' create media.vfs meshes textures > /dev/null";
    ASSERT_EQ(std::system(pack.c_str()), 0);
    {
        std::ofstream ini(packed / "text.ini", std::ios::app);
        ini << "Storage0 = media.vfs\n";
    }
    fs::remove_all(packed / "meshes");
    fs::remove_all(packed / "textures");

    ASSERT_EQ(run(loose, dir.path() / "loose.png"), 0);
    ASSERT_EQ(run(packed, dir.path() / "packed.png"), 0);
    for (const LogRow& row : ReadLogRows(dir.path() / "packed" / "log"))
        EXPECT_EQ(row.level, "info") << row.text;

    const Image a = ReadPng(dir.path() / "loose.png");
    const Image b = ReadPng(dir.path() / "packed.png");
    ASSERT_EQ(a.width, 800);
    ASSERT_EQ(b.width, 800);
    ASSERT_EQ(a.height, b.height);
    int differing = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) differing += a.Pixel(x, y) != b.Pixel(x, y);
    EXPECT_EQ(differing, 0) << "the archive's scene looks different from the loose files'";
    // The scene shows its textures: the sky's blue fills the top of the picture.
    const unsigned top = a.Pixel(400, 10);
    EXPECT_GT(int(top & 0xFF), int((top >> 16) & 0xFF)) << std::hex << top;
}

TEST(GuideExamples, EveryExampleFolderIsAProgramFolderNamedByTheGuide)
{
    const std::vector<std::string> folders = ExampleFolders();
    ASSERT_GE(folders.size(), 5u);
    const std::string gallery = ReadAll(kDocs / "examples.md");
    for (const std::string& name : folders) {
        EXPECT_TRUE(fs::exists(kDocs / "examples" / name / "text.ini")) << name;
        EXPECT_NE(gallery.find("examples/" + name), std::string::npos) << name << " is missing from examples.md";
        EXPECT_TRUE(fs::exists(kDocs / "images" / (name + ".png")))
            << name << " has no picture: run scripts/docs-shots.sh";
    }
}
