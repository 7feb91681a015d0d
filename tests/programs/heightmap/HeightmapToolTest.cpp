// The tool that makes the demo terrain's files: the same arguments give the
// same bytes, the sizes and formats are what the engine reads, and bad
// arguments end with a message instead of a file.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Common/ScratchFolder.h"

namespace {

namespace fs = std::filesystem;

int RunTool(const std::string& arguments, const ScratchFolder& dir)
{
    const std::string command = "'" + (fs::path(TW_BINARY_DIR) / "heightmap").string() + "' " + arguments + " 2> '" +
                                (dir / "err.txt").string() + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint32_t Le32(const std::string& bytes, std::size_t at)
{
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

}  // namespace

TEST(HeightmapTool, MapsAreDeterministicRawSamplesWithAMiddleHeightBorder)
{
    ScratchFolder dir;
    ASSERT_EQ(RunTool("--side 129 '" + (dir / "a.raw").string() + "'", dir), 0);
    ASSERT_EQ(RunTool("--side 129 '" + (dir / "b.raw").string() + "'", dir), 0);
    const std::string a = ScratchFolder::Read(dir / "a.raw");
    ASSERT_EQ(a.size(), 129u * 129 * 2);
    EXPECT_EQ(a, ScratchFolder::Read(dir / "b.raw"));
    auto sample = [&a](int col, int row) {
        const std::size_t at = std::size_t(row * 129 + col) * 2;
        return int(uint8_t(a[at]) | (uint8_t(a[at + 1]) << 8));
    };
    EXPECT_EQ(sample(0, 50), 32768);
    EXPECT_EQ(sample(128, 7), 32768);
    int lowest = 65535, highest = 0;
    for (int row = 1; row < 128; ++row)
        for (int col = 1; col < 128; ++col) {
            lowest = std::min(lowest, sample(col, row));
            highest = std::max(highest, sample(col, row));
        }
    EXPECT_LT(lowest, 32768 - 3000) << "a valley";
    EXPECT_GT(highest, 32768 + 6000) << "hills";

    ASSERT_EQ(RunTool("--side 65 --bits 8 --seed 3 '" + (dir / "c.raw").string() + "'", dir), 0);
    const std::string c = ScratchFolder::Read(dir / "c.raw");
    ASSERT_EQ(c.size(), 65u * 65);
    EXPECT_EQ(uint8_t(c[0]), 128);
}

TEST(HeightmapTool, GrassIsA24BitBmpAndBadArgumentsWriteNothing)
{
    ScratchFolder dir;
    ASSERT_EQ(RunTool("--grass --size 64 '" + (dir / "g.bmp").string() + "'", dir), 0);
    const std::string bmp = ScratchFolder::Read(dir / "g.bmp");
    ASSERT_EQ(bmp.size(), 54u + 64 * 64 * 3);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bmp, 18), 64u);
    EXPECT_EQ(Le32(bmp, 22), 64u);
    EXPECT_EQ(uint8_t(bmp[28]), 24);
    // Greener than anything else, everywhere.
    for (std::size_t at = 54; at + 2 < bmp.size(); at += 3) {
        ASSERT_GT(uint8_t(bmp[at + 1]), uint8_t(bmp[at])) << at;
        ASSERT_GT(uint8_t(bmp[at + 1]), uint8_t(bmp[at + 2])) << at;
    }

    for (const char* bad : {"", "--side 1 x.raw", "--side 99999 x.raw", "--bits 12 x.raw", "--side", "--frobnicate x.raw"}) {
        EXPECT_EQ(RunTool(std::string(bad), dir), 2) << bad;
        EXPECT_NE(ScratchFolder::Read(dir / "err.txt").find("usage: heightmap"), std::string::npos) << bad;
    }
    EXPECT_FALSE(fs::exists(fs::current_path() / "x.raw"));
    EXPECT_EQ(RunTool("'" + (dir / "no" / "such" / "folder.raw").string() + "'", dir), 1);
    EXPECT_NE(ScratchFolder::Read(dir / "err.txt").find("cannot write"), std::string::npos);
}
