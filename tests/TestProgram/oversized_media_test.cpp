// Tarnwick started on a program folder whose text.ini names a 10,000-pixel
// load-screen font and whose scene loads a PNG of 16,384 x 16,384 grey
// pixels: the program runs its frames and ends normally without taking
// gigabytes of memory (the font is drawn at the largest character height,
// the picture is refused from its header).

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "TestProgram/ProgramOutput.h"

#include "Common/ScratchFolder.h"

namespace {

std::string BigEndian(uint32_t v)
{
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
    return std::string(b, 4);
}

std::string Chunk(const char* type, const std::string& data)
{
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    return BigEndian(static_cast<uint32_t>(data.size())) + type + data + BigEndian(static_cast<uint32_t>(crc));
}

// A real, complete grey PNG of side x side black pixels: about a megabyte
// of file for a quarter of a gigapixel.
std::string GreyPng(uint32_t side)
{
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, 15, 9, Z_RLE);
    const std::string row(side + 1, '\0'); // filter byte and the samples
    std::string packed;
    char out[1 << 16];
    for (uint32_t y = 0; y < side; ++y) {
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
        zs.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == side ? Z_FINISH : Z_NO_FLUSH;
        do {
            zs.next_out = reinterpret_cast<Bytef*>(out);
            zs.avail_out = sizeof out;
            deflate(&zs, flush);
            packed.append(out, sizeof out - zs.avail_out);
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    std::string header = BigEndian(side) + BigEndian(side);
    header += '\x08'; // 8-bit
    header += '\x00'; // grey
    header += std::string(3, '\0');
    return "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header) + Chunk("IDAT", packed) + Chunk("IEND", "");
}

}  // namespace

TEST(TarnwickOversizedMedia, AHugeFontAndAPictureBombRunInBoundedMemory)
{
    ScratchFolder dir;
    const std::filesystem::path program = dir.path() / "program";
    std::filesystem::create_directories(program / "textures");
    std::filesystem::copy_file(std::filesystem::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick");
    ScratchFolder::Write(program / "text.ini",
                         "FolderTexture = textures\n"
                         "LoadScreen = Loading\n"
                         "LoadScreenFont = DejaVu Sans; 10000; 700\n"
                         "Full = 0; 0; 1; 1\n"
                         "Word = HUGE\n"
                         "WordFlags = DT_CENTER; DT_VCENTER; DT_SINGLELINE\n"
                         "WordRect = 0.0; 0.0; 1.0; 1.0\n"
                         "WordColour = 0xFFFFFFFF\n"
                         "WordFont = DejaVu Sans; 10000; 700\n");
    ScratchFolder::Write(program / "MainModule.xml",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<scene name=\"Bombs\" class=\"C_BaseModule\">\n"
                         "  <c name=\"Cam\" class=\"C_GUICamera\" value=\"Full; 0.5235988; 0xFF204060;\"/>\n"
                         "  <x name=\"Bomb\" class=\"C_D3DTEXTURE9\" value=\"bomb.png; 0;\"/>\n"
                         "  <t name=\"Text\" class=\"C_BaseText2D\" value=\"Word; WordFlags; WordRect; WordColour; WordFont\"/>\n"
                         "</scene>\n");
    const std::string bomb = GreyPng(16384);
    EXPECT_LT(bomb.size(), 2u << 20);
    ScratchFolder::Write(program / "textures" / "bomb.png", bomb);

    const std::string command = "cd '" + program.string() +
                                "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=40 TARNWICK_STEP_MS=16 TARNWICK_SCREENSHOT='" +
                                (dir.path() / "shot.png").string() + "' timeout 120 ./Tarnwick > '" +
                                (dir.path() / "out.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << tw_test::ReadAll(dir.path() / "out.txt");

    // The largest resident size of any program this test started.
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 1024L * 1024L) << "kilobytes";

    // The scene came up after loading: its camera's colour fills the corner.
    const tw_test::Image shot = tw_test::ReadPng(dir.path() / "shot.png");
    ASSERT_EQ(shot.width, 800);
    EXPECT_EQ(shot.Pixel(2, 2), 0x204060u);
}
