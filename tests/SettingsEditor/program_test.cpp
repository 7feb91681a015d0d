// The Vexamont program as users and scripts run it, on copies of the demo
// folder: the device check without a dialog, its help, the dialog under a
// display, and the render states it writes reaching Tarnwick's picture.

#include <sys/wait.h>

#include "SettingsEditor/EditorTest.h"
#include "SettingsEditor/VexamontDlg.h"
#include "TestProgram/ProgramOutput.h"

using editor_test::EditorFixture;
using tw_test::Image;
using tw_test::ReadPng;

namespace {

// Counts lines of text equal to `line`.
int CountLines(const std::string& text, const std::string& line)
{
    int n = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        n += text.compare(start, end - start, line) == 0;
        start = end + 1;
    }
    return n;
}

}  // namespace

class VexamontProgram : public EditorFixture {
protected:
    void SetUp() override
    {
        EditorFixture::SetUp();
        // The demo folder as the build leaves it, both programs beside it.
        std::filesystem::remove_all(program);
        std::filesystem::copy(std::filesystem::path(TW_SOURCE_DIR) / "demo", program,
                              std::filesystem::copy_options::recursive);
        for (const char* binary : {"Vexamont", "Tarnwick"})
            std::filesystem::copy_file(std::filesystem::path(TW_BINARY_DIR) / binary, program / binary);
    }

    // Runs a program of the folder from another folder; its exit code, with
    // standard output and error in `out`.
    int Run(const std::string& binary, const std::string& arguments, std::string& out,
            const std::string& environment = "")
    {
        const std::filesystem::path output = dir / "out.txt";
        const std::string line = "cd '" + dir.path().string() + "' && env " + environment +
                                 " SDL_VIDEODRIVER=offscreen timeout 120 '" + (program / binary).string() + "' " +
                                 arguments + " > '" + output.string() + "' 2>&1";
        const int status = std::system(line.c_str());
        out = tw_test::ReadAll(output);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(VexamontProgram, CheckOnTheDemoFolderSucceedsAndChangesNoFile)
{
    std::string out;
    const std::filesystem::path stats = dir / "stats.json";
    ASSERT_EQ(Run("Vexamont", "--check", out, "TARNWICK_STEP_MS=50 TARNWICK_STATS='" + stats.string() + "'"), 0) << out;
    EXPECT_EQ(out,
              "Регистрация класса окна...\nУдачно.\nСоздание окна...\nУдачно.\nСоздание 3D устройства...\nУдачно.\n"
              "Создание буфера вершин...\nУдачно.\nБлокирование буфера вершин...\nУдачно.\n"
              "Создание индексного буфера...\nУдачно.\nБлокирование индексного буфера...\nУдачно.\n"
              "Загрузка текстуры...\nУдачно.\nОтображение сцены...\nУдачно.\n");
    EXPECT_EQ(CountLines(out, "Удачно."), 9);
    // 4501 ms of a 50 ms clock.
    EXPECT_NE(tw_test::ReadAll(stats).find("\"frames\": 91,"), std::string::npos) << tw_test::ReadAll(stats);
    EXPECT_FALSE(std::filesystem::exists(program / "settings.xml")) << "a check writes nothing";
    EXPECT_EQ(ScratchFolder::Read(program / "modules" / "DefaultRenderState.xml"),
              ScratchFolder::Read(std::filesystem::path(TW_SOURCE_DIR) / "demo" / "modules" / "DefaultRenderState.xml"));
}

TEST_F(VexamontProgram, CheckFailsWithExitCodeOneAndSaysWhy)
{
    // Sixteen samples: a valid type that this device cannot do.
    WriteVideo(Entry("Adapter", "0") + Entry("AdapterType", "1") + Entry("MultiSampleType", "16") +
               Entry("BackBufferWidth", "640") +
               Entry("BackBufferHeight", "480") + Entry("BackBufferFormat", "21") + Entry("SwapEffect", "1") +
               Entry("Windowed", "1") + Entry("EnableAutoDepthStencil", "1") + Entry("AutoDepthStencilFormat", "75") +
               Entry("CreateDeviceFlag", "64"));
    const std::string before = ScratchFolder::Read(Settings());
    std::string out;
    EXPECT_EQ(Run("Vexamont", "--check", out), 1);
    EXPECT_EQ(out,
              "Регистрация класса окна...\nУдачно.\nСоздание окна...\nУдачно.\nСоздание 3D устройства...\n"
              "Ошибка!\nНевозможно создать 3D окно с выбранными параметрами.\n"
              "Причина: CreateDevice: D3DERR_NOTAVAILABLE.\n");
    EXPECT_EQ(ScratchFolder::Read(Settings()), before);
}

TEST_F(VexamontProgram, HelpUnknownOptionsAndNoDisplay)
{
    std::string out;
    EXPECT_EQ(Run("Vexamont", "--help", out), 0);
    EXPECT_NE(out.find("--check"), std::string::npos);
    EXPECT_NE(out.find("Использование: Vexamont"), std::string::npos);
    EXPECT_EQ(Run("Vexamont", "--frobnicate", out), 2);
    EXPECT_NE(out.find("неизвестный параметр \"--frobnicate\""), std::string::npos);
    EXPECT_EQ(Run("Vexamont", "", out, "-u DISPLAY -u WAYLAND_DISPLAY"), 1);
    EXPECT_NE(out.find("Vexamont --check"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(Settings()));
}

// The dialog of the real program on the test display: shown, drawn into a
// picture, closed as the close box closes it, files written.
TEST_F(VexamontProgram, TheDialogRunsOnADisplayAndWritesBothFilesWhenClosed)
{
    RequireDisplay();
    std::filesystem::remove(States());
    const std::filesystem::path shot = dir / "dialog.png";
    std::string out;
    ASSERT_EQ(Run("Vexamont", "", out, "VEXAMONT_SCREENSHOT='" + shot.string() + "'"), 0) << out;
    const Image picture = ReadPng(shot);
    // The dialog's font: 402 x 286 dialog units.
    GtkWidget* reference = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_style_context_add_class(gtk_widget_get_style_context(reference), "vexamont");
    VexamontInstallStyle();
    const C_DialogUnits units(reference);
    gtk_widget_destroy(reference);
    EXPECT_EQ(picture.width, units.X(402));
    EXPECT_EQ(picture.height, units.Y(286));
    EXPECT_TRUE(std::filesystem::exists(Settings()));
    EXPECT_TRUE(std::filesystem::exists(States()));
}

// A render-state file written by the dialog with fill mode wireframe makes
// Tarnwick draw the demo's scene as lines: the background shows through
// where the floor and the shapes were filled.
TEST_F(VexamontProgram, WireframeChosenInTheDialogMakesTarnwickDrawLines)
{
    RequireDisplay();
    auto background = [this](const char* name) {
        std::string out;
        const std::filesystem::path shot = dir / name;
        EXPECT_EQ(Run("Tarnwick", "", out,
                      "TARNWICK_FRAMES=40 TARNWICK_STEP_MS=20 TARNWICK_SCREENSHOT='" + shot.string() + "'"),
                  0)
            << out;
        const Image picture = ReadPng(shot);
        EXPECT_EQ(picture.width, 800);
        int n = 0;
        // The two 3D views below the title band.
        for (int y = 200; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) n += picture.Pixel(x, y) == 0x1E3C5Au;
        return n;
    };
    const int solid = background("solid.png");

    {
        CVexamontDlg dialog;
        ASSERT_TRUE(dialog.Create());
        GtkWidget* fill = dialog.GetDlgItem(IDC_FILLMODE);
        EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(fill)), 2);
        gtk_combo_box_set_active(GTK_COMBO_BOX(fill), 1);
        dialog.Close();
    }
    EXPECT_NE(ScratchFolder::Read(States()).find("value=\"D3DRS_FILLMODE; D3DFILL_WIREFRAME;\""), std::string::npos);
    const int wireframe = background("wireframe.png");
    // Solid, the floor covers most of both views; as lines, nearly all of
    // them is background.
    const int viewPixels = 800 * 400;
    EXPECT_LT(solid, viewPixels / 3) << solid;
    EXPECT_GT(wireframe, viewPixels * 3 / 4) << wireframe;
}
