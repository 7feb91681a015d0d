// Runs the real Tarnwick program headless twice on the same scene, once with
// a device lost in the middle of the run, and checks that the reset and the
// reload behind the load screen bring back the very same scene.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestProgram/ProgramOutput.h"

#include "Common/CodePage.h"
#include "Common/ScratchFolder.h"

namespace {

// The named texts: meshes are named by their value strings, the 2D text by
// its entries.
const char* const kText =
    "FolderTexture = textures\n"
    "FolderFont = fonts\n"
    "LoadScreen = Loading\n"
    "LoadScreenFont = DejaVu Sans; 40; 700\n"
    "Full = 0.0; 0.0; 1.0; 1.0\n"
    "View = 0.0; 0.25; 1.0; 1.0\n"
    "NearFar = 0.5; 1000\n"
    "EyeAt = 0; 30; 12\n"
    "EyeAngles = 1.75; 0; 0\n"
    "Word = RESET\n"
    "WordFlags = DT_CENTER; DT_TOP; DT_SINGLELINE\n"
    "WordRect = 0.0; 0.0; 1.0; 0.25\n"
    "WordColour = 0xFFFFFFFF\n"
    "WordFont = DejaVu Sans; 80; 700\n"
    "Floor = 60; 60; 1\n"
    "FloorAt = 0; 0; -0.5\n"
    "Cube = 6; 6; 6\n"
    "HouseAt = -5; 0; 3\n"
    "Stack = 1.5; 1.5; 5\n"
    "ChimneyAt = 1.5; 1.5; 4\n"
    "Ball = 3; 24\n"
    "BallAt = 7; 2; 3\n";

const char* const kMain =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<scene name=\"Reset\" class=\"C_BaseModule\">\n"
    "  <c name=\"Screen\" class=\"C_GUICamera\" value=\"Full; 0.5235988; 0xFF203040;\"/>\n"
    "  <t name=\"Title\" class=\"C_BaseText2D\" value=\"Word; WordFlags; WordRect; WordColour; WordFont\"/>\n"
    "  <m name=\"world.xml\" class=\"C_BaseModule\"/>\n"
    "</scene>\n";

// The nested module: a textured floor, a house with a chimney tied to it
// (its position is relative to the house) and a ball sharing a material.
const char* const kWorld =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<world name=\"World\" class=\"C_BaseModule\">\n"
    "  <camera name=\"Eye\" class=\"C_FirstFaceCamera\" value=\"View; 0.9; ; EyeAt; EyeAngles; NearFar; 10;\"/>\n"
    "  <light name=\"Sun\" class=\"C_D3DLIGHT9_DIRECTIONAL\" value=\"0xFFFFFFFF; 0; 0; 0.5; -0.6; -0.62; 1000;\"/>\n"
    "  <state name=\"Ambient\" class=\"C_RenderState\" value=\"D3DRS_AMBIENT; 4210752;\"/>\n"
    "  <material name=\"White\" class=\"C_D3DMATERIAL9\" value=\"0xFFFFFFFF; 0xFFFFFFFF; 0; 0; 0;\"/>\n"
    "  <material name=\"Red\" class=\"C_D3DMATERIAL9\" value=\"0xFFE03020; 0xFFE03020; 0; 0; 0;\"/>\n"
    "  <texture name=\"Checker\" class=\"C_D3DTEXTURE9\" value=\"checker.bmp; 0;\"/>\n"
    "  <texture name=\"Plain\" class=\"C_D3DTEXTURE9\" value=\"null; 0;\"/>\n"
    "  <object name=\"Floor\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; Floor; FloorAt;\""
    " extra=\"Ambient; White; Checker\"/>\n"
    "  <object name=\"House\" class=\"C_TiedPositionObject\" value=\"C_D3DXMESH9_BOX; Cube; HouseAt;\""
    " extra=\"White; Checker\"/>\n"
    "  <object name=\"Chimney\" class=\"C_TiedPositionObject\""
    " value=\"C_D3DXMESH9_BOX; Stack; ChimneyAt; ; ; House\" extra=\"Red; Plain\"/>\n"
    "  <object name=\"Ball\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_SPHERE; Ball; BallAt;\""
    " extra=\"Red; Plain\"/>\n"
    "</world>\n";

using tw_test::Image;
using tw_test::ReadAll;
using tw_test::ReadPng;

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// The scene of a run: text.ini, the main module, the nested module and
// other files of the program folder by their names.
struct Scene {
    std::string text = kText;
    std::string main = kMain;
    std::string world = kWorld;
    std::vector<std::pair<std::string, std::string>> files;
};

// One run of the program in a folder of its own; its log and screenshot.
struct RunResult {
    int exitCode = -1;
    Image shot;
    std::string log;
    std::string output;
};

}  // namespace

class TarnwickDeviceReset : public ::testing::Test {
protected:
    // Frames presented in every run; the loss comes well after the first
    // load run and leaves time for the second.
    static constexpr int kFrames = 70;
    static constexpr int kLossAfter = 30;

    RunResult Run(const std::string& name, int loseAfter, int frames = kFrames, const Scene& scene = Scene())
    {
        const std::filesystem::path root = dir.path() / name;
        const std::filesystem::path program = root / "program";
        std::filesystem::create_directories(program / "textures");
        std::filesystem::copy_file(std::filesystem::path(TW_BINARY_DIR) / "Tarnwick", program / "Tarnwick");
        std::filesystem::copy_file(std::filesystem::path(TW_SOURCE_DIR) / "demo" / "textures" / "checker.bmp",
                                   program / "textures" / "checker.bmp");
        ScratchFolder::Write(program / "text.ini", scene.text);
        ScratchFolder::Write(program / "MainModule.xml", scene.main);
        ScratchFolder::Write(program / "world.xml", scene.world);
        for (const auto& [file, bytes] : scene.files) {
            std::filesystem::create_directories((program / file).parent_path());
            ScratchFolder::Write(program / file, bytes);
        }

        std::string command = "cd '" + program.string() + "' && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=" +
                              std::to_string(frames) + " TARNWICK_STEP_MS=16 TARNWICK_SCREENSHOT='" +
                              (root / "shot.png").string() + "'";
        if (loseAfter > 0) command += " TARNWICK_LOSE_DEVICE=" + std::to_string(loseAfter);
        command += " timeout 120 ./Tarnwick > '" + (root / "out.txt").string() + "' 2>&1";
        const int status = std::system(command.c_str());

        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.shot = ReadPng(root / "shot.png");
        result.output = ReadAll(root / "out.txt");
        if (std::filesystem::exists(root / "log"))
            for (const auto& entry : std::filesystem::directory_iterator(root / "log"))
                if (entry.path().extension() == ".html") result.log += ReadAll(entry.path());
        return result;
    }

    static int Differing(const Image& a, const Image& b)
    {
        int differing = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x) {
                const unsigned p = a.Pixel(x, y), q = b.Pixel(x, y);
                for (int shift = 0; shift < 24; shift += 8) {
                    const int d = static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF);
                    if (d > 2 || d < -2) {
                        ++differing;
                        break;
                    }
                }
            }
        return differing;
    }

    ScratchFolder dir;
};

TEST_F(TarnwickDeviceReset, TheSceneAfterALostDeviceIsTheSceneBeforeIt)
{
    const RunResult plain = Run("plain", 0);
    const RunResult lost = Run("lost", kLossAfter);
    ASSERT_EQ(plain.exitCode, 0) << plain.output;
    ASSERT_EQ(lost.exitCode, 0) << lost.output;
    ASSERT_EQ(plain.shot.width, 800);
    ASSERT_EQ(plain.shot.height, 600);
    ASSERT_EQ(lost.shot.width, plain.shot.width);
    ASSERT_EQ(lost.shot.height, plain.shot.height);

    // The reference picture shows the scene: the title, the textured floor
    // (light and dark squares), the red chimney and ball.
    int title = 0, red = 0, background = 0;
    for (int y = 120; y < 260; ++y)
        for (int x = 200; x < 600; ++x) title += plain.shot.Pixel(x, y) == 0xFFFFFFu;
    for (int y = 400; y < 600; ++y)
        for (int x = 0; x < 800; ++x) {
            const unsigned p = plain.shot.Pixel(x, y);
            const unsigned r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
            red += r > 2 * g + 20 && r > 2 * b + 20;
            background += p == 0x203040u;
        }
    EXPECT_GT(title, 500) << "the title text";
    EXPECT_GT(red, 200) << "the red chimney and ball";
    EXPECT_LT(background, 200 * 800 / 10) << "the lower part is scene, not background";

    // After the loss, the reset and the reload the picture is the same,
    // pixel for pixel but for rounding.
    EXPECT_EQ(Differing(plain.shot, lost.shot), 0);

    // The reload found every object by its name: no lookup failed, no parent
    // went missing, nothing was made a second time (which would warn or show
    // up as more warnings than the plain run logged).
    for (const wchar_t* message :
         {L"Запрос ресурса, которого не было добавлено", L"Попытка привязаться к несуществующему объекту",
          L"Не создан объект класса", L"Попытка загрузки пустого менеджера"})
        EXPECT_EQ(Count(lost.log, VORTALEX::codepage::ToCp1251(message)), 0u);
    EXPECT_EQ(Count(lost.log, "#FFFFC0"), Count(plain.log, "#FFFFC0")) << "warnings in the log";

    // The device really was lost: right after the loss the load screen is up
    // and the scene is hidden behind it.
    const RunResult during = Run("during", kLossAfter, kLossAfter + 2);
    ASSERT_EQ(during.exitCode, 0) << during.output;
    ASSERT_EQ(during.shot.width, plain.shot.width);
    int changed = 0;
    for (int y = 400; y < 600; ++y)
        for (int x = 0; x < 800; ++x) changed += during.shot.Pixel(x, y) != plain.shot.Pixel(x, y);
    EXPECT_GT(changed, 200 * 800 / 2) << "the floor is not drawn while the scene reloads";
}

TEST_F(TarnwickDeviceReset, ACapturedSurfaceAnEffectAndThePrePassComeBackAfterALostDevice)
{
    // The world of the test above, plus: the occlusion pre-pass, a monitor
    // in the world showing a capture made by a camera high above, and the
    // ball drawn through an effect with a colour of its own.
    Scene scene;
    scene.text += "OcclusionCulling = true\n"
                  "FolderEffect = effects\n"
                  "TopAt = 0; 0; 200\n"
                  "TopDown = 3.1415927; 0; 0\n"
                  "Capture = Begin; Top; Floor; House; Chimney; Ball; End\n"
                  "Panel = 8; 0.5; 6\n"
                  "PanelAt = 0; -6; 8\n";
    scene.main =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<scene name=\"Reset\" class=\"C_BaseModule\">\n"
        "  <c name=\"Screen\" class=\"C_GUICamera\" value=\"Full; 0.5235988; 0xFF203040;\" extra=\"Capture\"/>\n"
        "  <rig name=\"Rig\" class=\"C_BaseModule\" status=\"disabled\">\n"
        "    <c name=\"Top\" class=\"C_FirstFaceCamera\" value=\"Full; 0.8; 0xFF0000FF; TopAt; TopDown; NearFar;\"/>\n"
        "  </rig>\n"
        "  <s name=\"Surface\" class=\"C_Surface9\" value=\"128; 96;\"/>\n"
        "  <b name=\"Begin\" class=\"C_SurfaceBegin\" value=\"Surface\"/>\n"
        "  <e name=\"End\" class=\"C_SurfaceEnd\" value=\"Surface\"/>\n"
        "  <f name=\"Fx\" class=\"C_D3DXEFFECT\" value=\"cyan.fx\"/>\n"
        "  <m name=\"world.xml\" class=\"C_BaseModule\"/>\n"
        "</scene>\n";
    std::string world = kWorld;
    const std::string ball = "extra=\"Red; Plain\"/>\n</world>";
    world.replace(world.rfind(ball), ball.size(),
                  "extra=\"Red; Plain\" effect=\"Fx; 1000; Cyan\"/>\n"
                  "  <material name=\"Glowing\" class=\"C_D3DMATERIAL9\" value=\"0; 0; 0; 0xFFFFFFFF; 0;\"/>\n"
                  "  <object name=\"Monitor\" class=\"C_PositionObject\" value=\"C_D3DXMESH9_BOX; Panel; PanelAt;\""
                  " extra=\"Glowing; Surface\"/>\n</world>");
    scene.world = world;
    scene.files.emplace_back("effects/cyan.fx",
                             "parameter mat4 MatrixWorld;\nparameter mat4 MatrixView;\nparameter mat4 MatrixProjection;\n"
                             "technique Cyan {\n  pass P {\n"
                             "    vertex <<< void main() { gl_Position = PortFinishPosition(MatrixProjection * "
                             "MatrixView * MatrixWorld * vec4(a_position.xyz, 1.0)); } >>>\n"
                             "    fragment <<< out vec4 c; void main() { c = vec4(0.0, 1.0, 1.0, 1.0); } >>>\n"
                             "  }\n}\n");

    const RunResult plain = Run("plain", 0, kFrames, scene);
    const RunResult lost = Run("lost", kLossAfter, kFrames, scene);
    ASSERT_EQ(plain.exitCode, 0) << plain.output;
    ASSERT_EQ(lost.exitCode, 0) << lost.output;
    ASSERT_EQ(plain.shot.width, 800);
    ASSERT_EQ(lost.shot.width, plain.shot.width);
    ASSERT_EQ(lost.shot.height, plain.shot.height);

    // The picture has the capture camera's blue on the monitor and the
    // effect's cyan on the ball.
    int blue = 0, cyan = 0;
    for (int y = 150; y < 600; ++y)
        for (int x = 0; x < 800; ++x) {
            const unsigned p = plain.shot.Pixel(x, y);
            const unsigned r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
            blue += b > 200 && r < 40 && g < 40;
            cyan += g > 200 && b > 200 && r < 40;
        }
    EXPECT_GT(blue, 500) << "the monitor shows the capture";
    EXPECT_GT(cyan, 200) << "the ball is drawn through its effect";
    EXPECT_EQ(Differing(plain.shot, lost.shot), 0);
    EXPECT_EQ(Count(lost.log, "#FFFFC0"), Count(plain.log, "#FFFFC0")) << "warnings in the log";
}
