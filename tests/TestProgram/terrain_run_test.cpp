// The terrain scene of the demo, run by the real Tarnwick program headless:
// a script asks GetTerraineHeight at a few points and writes the answers to
// the log, which must match heights worked out here from the generated map;
// the screenshot must show lit, textured hills under the sky.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "Common/ScratchFolder.h"
#include "TestProgram/ProgramOutput.h"

namespace {

namespace fs = std::filesystem;

// GetTerraineHeight worked out from the raw map: the sections cover
// slices × (side / slices) cells across the terrain, and each cell is split
// along its diagonal from (c, r) to (c + 1, r + 1).
struct Terrain {
    std::vector<uint16_t> samples;
    long side = 0;
    int slices = 0;
    float slice = 0.0f, scale = 0.0f;

    float Centred(long col, long row) const
    {
        if (col <= 0 || row <= 0 || col >= side || row >= side) return 0.0f;
        return float(samples[std::size_t(row * side + col)]) / 65535.0f - 0.5f;
    }
    double Height(double x, double y) const
    {
        const float width = slice * float(slices);
        const float cells = float(slices * (side / slices));
        const float fx = (float(x) / width + 0.5f) * cells, fy = (float(y) / width + 0.5f) * cells;
        if (fx < 0.0f || fy < 0.0f || fx > cells || fy > cells) return 0.0;
        const long c = long(fx), r = long(fy);
        const float dx = fx - float(c), dy = fy - float(r);
        const float h00 = Centred(c, r), h10 = Centred(c + 1, r), h01 = Centred(c, r + 1), h11 = Centred(c + 1, r + 1);
        const float h = dy <= dx ? h10 + (h00 - h10) * (1.0f - dx) + (h11 - h10) * dy
                                 : h01 + (h00 - h01) * (1.0f - dy) + (h11 - h01) * dx;
        return double(scale * h);
    }
};

const char* const kProbeScript =
    "-- Writes the ground height at a few points once the scene runs.\n"
    "local calls = 0\n"
    "local points = { {0, 0}, {123.4, -56.7}, {-300.5, 250.25}, {410, -410}, {-499, 499},\n"
    "                 {250, 125}, {-20, -170}, {600, 0} }\n"
    "function Probe(id)\n"
    "  calls = calls + 1\n"
    "  if calls == 3 then\n"
    "    for _, p in ipairs(points) do\n"
    "      ToLog(string.format('TerrainProbe %.3f %.3f %.5f', p[1], p[2], GetTerraineHeight(p[1], p[2])))\n"
    "    end\n"
    "  end\n"
    "end\n";

const char* const kProbeModule =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<probe name=\"Probe\" class=\"C_BaseModule\" script=\"probe.lua; Probe\">\n"
    "  <module name=\"modules\\Terrain.xml\" class=\"C_BaseModule\"/>\n"
    "</probe>\n";

}  // namespace

TEST(TerrainRun, ScriptsReadTheGroundOfTheMapAndTheHillsAreLitAndTextured)
{
    ScratchFolder dir;
    const fs::path program = dir.path() / "program";
    const auto options = fs::copy_options::recursive | fs::copy_options::overwrite_existing;
    fs::copy(fs::path(TW_SOURCE_DIR) / "demo", program, options);
    const fs::path generated = fs::path(TW_BINARY_DIR) / "generated";
    ASSERT_TRUE(fs::exists(generated / "terrain" / "hills.raw")) << "the build generates the demo's height map";
    fs::copy(generated, program, options);
    fs::copy_file(fs::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick", fs::copy_options::overwrite_existing);
    ScratchFolder::Write(program / "scripts" / "probe.lua", kProbeScript);
    ScratchFolder::Write(program / "Probe.xml", kProbeModule);

    const std::string command = "cd '" + program.string() +
                                "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=24 TARNWICK_STEP_MS=20 "
                                "TARNWICK_SCREENSHOT='" + (dir / "shot.png").string() +
                                "' timeout 240 ./Tarnwick Probe.xml > '" + (dir / "out.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << tw_test::ReadAll(dir / "out.txt");

    // The terrain's parameters, as the demo module gives them to its sections.
    const std::string module = tw_test::ReadAll(program / "modules" / "Terrain.xml");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(module, found,
                                  std::regex(R"(TerrainS00 = terrain\\hills\.raw; 0; 0; (\d+); ([0-9.]+); ([0-9.]+))")));
    Terrain terrain;
    terrain.slices = std::stoi(found[1]);
    terrain.slice = std::stof(found[2]);
    terrain.scale = std::stof(found[3]);
    const std::string raw = tw_test::ReadAll(generated / "terrain" / "hills.raw");
    terrain.side = long(std::sqrt(double(raw.size() / 2)));
    ASSERT_EQ(terrain.side, 1025);
    terrain.samples.resize(std::size_t(terrain.side * terrain.side));
    for (std::size_t i = 0; i < terrain.samples.size(); ++i)
        terrain.samples[i] = uint16_t(uint8_t(raw[2 * i]) | (uint8_t(raw[2 * i + 1]) << 8));

    std::string log;
    for (const auto& entry : fs::directory_iterator(dir / "log"))
        if (entry.path().extension() == ".html") log += tw_test::ReadAll(entry.path());
    const std::regex probe(R"(TerrainProbe (-?[0-9.]+) (-?[0-9.]+) (-?[0-9.]+))");
    int probes = 0;
    bool someHill = false;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), probe); it != std::sregex_iterator(); ++it) {
        const double x = std::stod((*it)[1]), y = std::stod((*it)[2]), h = std::stod((*it)[3]);
        EXPECT_NEAR(h, terrain.Height(x, y), 1e-3) << "at " << x << ", " << y;
        someHill = someHill || std::fabs(h) > 5.0;
        ++probes;
    }
    EXPECT_EQ(probes, 8) << log.substr(0, 2000);
    EXPECT_TRUE(someHill) << "the probes found no hill";

    // The picture: sky on top; below the horizon green ground whose
    // brightness changes with the slopes (lit) and from pixel to pixel
    // (textured); the red ball on it.
    const tw_test::Image shot = tw_test::ReadPng(dir / "shot.png");
    ASSERT_EQ(shot.width, 800);
    ASSERT_EQ(shot.height, 600);
    EXPECT_EQ(shot.Pixel(5, 5), 0x9CC4E8u) << "the camera's sky colour";
    auto r = [](unsigned p) { return int(p >> 16); };
    auto g = [](unsigned p) { return int((p >> 8) & 0xFF); };
    auto b = [](unsigned p) { return int(p & 0xFF); };
    int green = 0, total = 0, red = 0;
    long steps = 0;
    for (int y = 360; y < 600; ++y)
        for (int x = 0; x < 800; ++x) {
            const unsigned p = shot.Pixel(x, y);
            ++total;
            green += g(p) > r(p) && g(p) > b(p) && g(p) > 30 ? 1 : 0;
            if (x > 0) steps += std::abs(g(p) - g(shot.Pixel(x - 1, y)));
        }
    for (int y = 150; y < 400; ++y)
        for (int x = 0; x < 800; ++x) red += r(shot.Pixel(x, y)) > 150 && g(shot.Pixel(x, y)) < 90 ? 1 : 0;
    EXPECT_GT(green, total * 95 / 100) << "grass below the horizon";
    EXPECT_GT(double(steps) / total, 1.0) << "the grass texture's detail (smooth shading alone stays far below)";
    EXPECT_GT(red, 20) << "the ball on the ground";

    // Lighting: blocks of 40 × 40 pixels of ground (sky, ball and trees left
    // out) differ in brightness far more than the texture alone makes them,
    // and none is black.
    int darkest = 255, brightest = 0;
    for (int by = 200; by + 40 <= 600; by += 40)
        for (int bx = 0; bx + 40 <= 800; bx += 40) {
            long sum = 0, count = 0;
            for (int y = by; y < by + 40; ++y)
                for (int x = bx; x < bx + 40; ++x) {
                    const unsigned p = shot.Pixel(x, y);
                    if (g(p) > r(p) && g(p) > b(p) && b(p) < 120) {
                        sum += g(p);
                        ++count;
                    }
                }
            if (count < 1400) continue;
            darkest = std::min(darkest, int(sum / count));
            brightest = std::max(brightest, int(sum / count));
        }
    ASSERT_LT(darkest, brightest) << "ground blocks were found";
    EXPECT_GT(darkest, 40) << "lit, not black";
    EXPECT_GT(brightest - darkest, 25) << "slopes facing the sun are brighter";
}
