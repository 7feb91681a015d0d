#include "SettingsEditor/VexamontApp.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Common/CodePage.h"
#include "Common/MessageBox.h"
#include "SettingsEditor/DeviceTest.h"
#include "SettingsEditor/Direct3D9Settings.h"
#include "SettingsEditor/VexamontDlg.h"
#include "port/win32/runoptions.h"

namespace {

const char* const kHelp =
    "Использование: Vexamont [--check | --help]\n"
    "\n"
    "Без параметров открывает окно настроек видеоустройства. Настройки читаются из\n"
    "\"settings.xml\" и \"modules\\DefaultRenderState.xml\" в папке программы и\n"
    "записываются туда при закрытии окна.\n"
    "\n"
    "  --check  проверить устройство с сохранёнными настройками без окна настроек:\n"
    "           открыть окно \"TestWindow\", 4,5 секунды показывать вращающийся куб,\n"
    "           вывести лог проверки и завершиться с кодом 0 при успехе, 1 при\n"
    "           ошибке. Файлы настроек не изменяются.\n"
    "  --help   показать эту справку.\n"
    "\n"
    "Без дисплея (SDL_VIDEODRIVER=offscreen) проверка идёт в памяти; TARNWICK_STEP_MS\n"
    "задаёт шаг часов на кадр, TARNWICK_STATS и TARNWICK_SCREENSHOT записывают\n"
    "статистику кадров и последний кадр, как у Tarnwick.\n";

// Log text for a terminal: UTF-8 with plain line ends.
std::string ForTerminal(std::wstring_view text)
{
    std::string out = VORTALEX::codepage::ToUtf8(text);
    std::string plain;
    plain.reserve(out.size());
    for (char c : out)
        if (c != '\r') plain += c;
    return plain;
}

void Print(std::FILE* file, std::wstring_view text)
{
    const std::string bytes = ForTerminal(text);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
}

void ToStandardError(std::wstring_view text, std::wstring_view caption)
{
    Print(stderr, std::wstring(caption) + L": " + std::wstring(text) + L"\n");
}

GtkWindow* g_owner = nullptr;

// The editor's message boxes: a modal GTK message box over the dialog on a
// desktop; in headless runs nothing may wait for a user, so the text goes
// to standard error.
void GtkMessageBox(std::wstring_view text, std::wstring_view caption)
{
    if (PortIsHeadless() || !gdk_display_get_default()) {
        ToStandardError(text, caption);
        return;
    }
    GtkWidget* box = gtk_message_dialog_new(g_owner, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s",
                                            VORTALEX::codepage::ToUtf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(box), VORTALEX::codepage::ToUtf8(caption).c_str());
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

}  // namespace

int CVexamontApp::Run(int argc, char** argv)
{
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (first == "--check" && argc == 2) return RunCheck();
    if (argc > 1) {
        std::fprintf(stderr, "Vexamont: неизвестный параметр \"%s\"\n\n%s", argv[1], kHelp);
        return 2;
    }
    return RunDialog(argc, argv);
}

int CVexamontApp::RunCheck()
{
    VORTALEX::SetMessageBoxHandler(&ToStandardError);
    C_Direct3D9Settings settings;
    // A check reads the settings and changes no file.
    settings.KeepFileUnchanged();
    Print(stdout, settings.TakeNotes());
    const C_DeviceTestResult result =
        C_DeviceTest::RunDeviceTest(settings, [](const std::wstring& text) { Print(stdout, text); });
    if (result.success) return 0;
    Print(stdout, L"Ошибка!\r\nНевозможно создать 3D окно с выбранными параметрами.\r\n");
    if (!result.failure.empty()) Print(stdout, L"Причина: " + result.failure + L".\r\n");
    return 1;
}

int CVexamontApp::RunDialog(int argc, char** argv)
{
    g_set_prgname("Vexamont");
    g_set_application_name("Vexamont");
    if (!gtk_init_check(&argc, &argv)) {
        std::fputs("Vexamont: нет дисплея, окно настроек не открыть. Проверка устройства без окна: Vexamont --check;\n"
                   "окно в виртуальном дисплее: xvfb-run ./Vexamont\n",
                   stderr);
        return 1;
    }
    VORTALEX::SetMessageBoxHandler(&GtkMessageBox);
    CVexamontDlg dialog;
    if (!dialog.Create()) return 1;
    g_owner = GTK_WINDOW(dialog.Window());

    // For README's picture and for scripts: once the dialog is drawn, show
    // the chosen page, optionally run the device test, write the dialog as
    // a PNG file and close it as the close box does.
    const char* screenshot = std::getenv("VEXAMONT_SCREENSHOT");
    if (screenshot && *screenshot) {
        // The picture shows where transitions and scrolling end, not a
        // moment of them.
        g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
        struct Shot {
            CVexamontDlg* dialog;
            std::string file;
            bool taken = false;
        };
        static Shot shot{&dialog, screenshot};
        g_signal_connect_after(dialog.Window(), "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer) -> gboolean {
                                   if (!shot.taken) {
                                       shot.taken = true;
                                       g_idle_add(+[](gpointer) -> gboolean {
                                           CVexamontDlg& d = *shot.dialog;
                                           if (const char* page = std::getenv("VEXAMONT_PAGE"))
                                               d.Tabs().SetCurSel(std::atoi(page));
                                           if (const char* run = std::getenv("VEXAMONT_RUN_TEST"); run && *run == '1')
                                               d.OnCheck();
                                           if (!d.WriteScreenshot(shot.file))
                                               std::fprintf(stderr, "Vexamont: снимок окна не записан в %s\n",
                                                            shot.file.c_str());
                                           d.Close();
                                           return G_SOURCE_REMOVE;
                                       },
                                                 nullptr);
                                   }
                                   return FALSE;
                               }),
                               nullptr);
    }
    dialog.DoModal();
    g_owner = nullptr;
    return 0;
}
