#pragma once
// The settings editor's dialog (GTK 3): the main window "Vexamont" with the
// tab control of three pages, the buttons "Сохранить изменения" and
// "Проверить" and the log box. Controls are laid out in dialog units of the
// dialog's font, as a dialog template places them, and are found by their
// control IDs.

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SettingsEditor/Direct3D9Settings.h"
#include "SettingsEditor/XMLFiles.h"

// Control IDs of the dialog and its pages.
enum {
    IDC_WIDTH = 1000, IDC_HEIGHT = 1001, IDC_SCREEN_SIZE = 1002, IDC_WINDOWED = 1003, IDC_FULL_SCREEN = 1004,
    IDC_SAVE = 1005, IDC_CHECK = 1006, IDC_ADAPTER_TYPE = 1008, IDC_TEXTURE_FILTER = 1009, IDC_MULTISAMPLE = 1010,
    IDC_LOG = 1011, IDC_TABS = 1012, IDC_FILLMODE = 1013, IDC_ZENABLE = 1014, IDC_ZWRITEENABLE = 1015,
    IDC_ALPHABLENDENABLE = 1016, IDC_SRCBLEND = 1017, IDC_DESTBLEND = 1018, IDC_CLIPPING = 1019,
    IDC_MULTISAMPLEANTIALIAS = 1020, IDC_ANTIALIASEDLINEENABLE = 1021, IDC_CULLMODE = 1022, IDC_LIGHTING = 1023,
    IDC_SPECULARENABLE = 1024, IDC_AMBIENT_COLOUR = 1025
};

// A rectangle in dialog units.
struct DluRect {
    int x, y, cx, cy;
};

// Dialog units of a font, converted to pixels as a dialog template's are:
// a horizontal unit is a quarter of the font's average character width, a
// vertical one an eighth of its height.
class C_DialogUnits {
public:
    // Measures the font the widget draws its text with.
    explicit C_DialogUnits(GtkWidget* widget);
    int X(int units) const { return (units * m_BaseX + 2) / 4; }
    int Y(int units) const { return (units * m_BaseY + 4) / 8; }
    int BaseX() const { return m_BaseX; }
    int BaseY() const { return m_BaseY; }

private:
    int m_BaseX = 6;
    int m_BaseY = 13;
};

// A page of the tab control: a child dialog with a caption (its tab title)
// and a white background.
class C_DlgTabCtrl {
public:
    C_DlgTabCtrl(const wchar_t* caption, const C_DialogUnits& units);
    virtual ~C_DlgTabCtrl();
    C_DlgTabCtrl(const C_DlgTabCtrl&) = delete;
    C_DlgTabCtrl& operator=(const C_DlgTabCtrl&) = delete;

    const std::wstring& Caption() const { return m_Caption; }
    GtkWidget* Widget() const { return m_Page; }
    // The control of that ID on this page, or null.
    GtkWidget* GetDlgItem(int id) const;

protected:
    GtkWidget* Place(GtkWidget* widget, DluRect rect, int id = 0);
    GtkWidget* AddGroup(const wchar_t* caption, DluRect rect);
    GtkWidget* AddStatic(const wchar_t* text, DluRect rect);
    GtkWidget* AddList(int id, const std::vector<const wchar_t*>& entries, DluRect rect);

    const C_DialogUnits& m_Units;

private:
    std::wstring m_Caption;
    GtkWidget* m_Page = nullptr;     // owned through a reference of its own
    GtkWidget* m_Fixed = nullptr;
    std::map<int, GtkWidget*> m_Items;
};

// The tab control holding the pages.
class C_TabCtrl {
public:
    void Create(GtkWidget* notebook) { m_Notebook = notebook; }
    void InsertItem(C_DlgTabCtrl& page);
    int GetCurSel() const;
    void SetCurSel(int index);
    int GetItemCount() const;
    std::wstring GetItemText(int index) const;
    GtkWidget* Widget() const { return m_Notebook; }

private:
    GtkWidget* m_Notebook = nullptr;
};

// Page 129, "Основные": device type, resolution, windowed or full screen,
// texture filter and multisampling.
class C_dlgMainSettings : public C_DlgTabCtrl {
public:
    enum { IDD = 129 };
    explicit C_dlgMainSettings(const C_DialogUnits& units);
};

// Page 130, "RenderState": the twelve default render states, each written
// to "modules\DefaultRenderState.xml" as soon as it changes.
class C_dlgRenderState : public C_DlgTabCtrl {
public:
    enum { IDD = 130 };
    explicit C_dlgRenderState(const C_DialogUnits& units);

    C_XMLState& State() { return m_State; }

private:
    struct Control;
    static const Control kControls[12];

    void Load();
    void Write(const Control& control);
    void ApplyDependencies();
    static void OnChanged(GtkWidget* widget, gpointer page);

    C_XMLState m_State;
    bool m_Loading = false;
};

// Page 131, "SamplerState": no controls.
class C_dlgSamplerState : public C_DlgTabCtrl {
public:
    enum { IDD = 131 };
    explicit C_dlgSamplerState(const C_DialogUnits& units);
};

// The main dialog (102).
class CVexamontDlg {
public:
    enum { IDD = 102 };
    CVexamontDlg();
    ~CVexamontDlg();
    CVexamontDlg(const CVexamontDlg&) = delete;
    CVexamontDlg& operator=(const CVexamontDlg&) = delete;

    // Builds the window and its pages and fills the controls: the start of
    // the dialog. False when GTK has no display.
    bool Create();
    // Shows the dialog and runs until it is closed.
    int DoModal();
    // Closes the dialog as Escape and the close box do (during a device
    // test, once the test is over).
    void Close();
    bool IsOpen() const { return m_Window != nullptr; }

    // The control of that ID in the dialog or on one of its pages.
    GtkWidget* GetDlgItem(int id) const;
    GtkWidget* Window() const { return m_Window; }
    C_TabCtrl& Tabs() { return m_Tabs; }
    C_dlgRenderState* RenderStatePage() { return m_RenderState.get(); }
    C_Direct3D9Settings& Settings() { return m_Settings; }
    const std::wstring& LogText() const { return m_Log; }
    const C_DialogUnits* Units() const { return m_Units.get(); }

    // Page 129 and the settings object, one way or the other. Towards the
    // settings it returns notes on values no device can use.
    std::wstring ExchangeSettings(bool toSettings);
    // The device test, its lines shown in the log box as they come.
    bool RunDeviceTest();
    // Frames presented by the last device test.
    int LastTestFrames() const { return m_LastFrames; }
    // Why the last device test failed (empty after a success).
    const std::wstring& LastTestFailure() const { return m_LastFailure; }

    // The buttons.
    void OnScreenSize();
    void OnSaveChanges();
    void OnCheck();
    void OnAmbientColour();

    // Writes what the dialog shows into a PNG file.
    bool WriteScreenshot(const std::string& file);

private:
    void AddLog(const std::wstring& text);
    void ShowLog();
    void EndDialog();
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer dialog);
    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer dialog);

    C_Direct3D9Settings m_Settings;
    std::unique_ptr<C_DialogUnits> m_Units;
    std::unique_ptr<C_dlgMainSettings> m_MainSettings;
    std::unique_ptr<C_dlgRenderState> m_RenderState;
    std::unique_ptr<C_dlgSamplerState> m_SamplerState;
    C_TabCtrl m_Tabs;
    GtkWidget* m_Window = nullptr;
    GtkWidget* m_Fixed = nullptr;
    std::map<int, GtkWidget*> m_Items;
    std::wstring m_Log;
    bool m_Testing = false;
    bool m_CloseAfterTest = false;
    bool m_Modal = false;
    int m_LastFrames = 0;
    std::wstring m_LastFailure;
};

// Installs the dialog's look (font, compact controls, white pages) once.
void VexamontInstallStyle();
