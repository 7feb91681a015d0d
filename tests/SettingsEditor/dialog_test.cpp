// The dialog, driven through its GTK widgets as a user drives it: controls
// and captions, the exchange between page 129 and the settings, the buttons,
// the render-state page and what closing writes.

#include <functional>

#include "SettingsEditor/EditorTest.h"
#include "SettingsEditor/VexamontDlg.h"
#include "Wrappers/XMLParser/XMLSettings.h"
#include "spine_support/FakeDirect3D.h"

using editor_test::Boxes;
using editor_test::EditorFixture;
using editor_test::Pump;
using editor_test::Utf8;

namespace {

std::wstring Wide(const char* text) { return text ? VORTALEX::codepage::FromUtf8(text) : std::wstring(); }

std::vector<std::wstring> Entries(GtkWidget* list)
{
    std::vector<std::wstring> entries;
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(list));
    GtkTreeIter it;
    for (bool more = gtk_tree_model_get_iter_first(model, &it); more; more = gtk_tree_model_iter_next(model, &it)) {
        gchar* text = nullptr;
        gtk_tree_model_get(model, &it, 0, &text, -1);
        entries.push_back(Wide(text));
        g_free(text);
    }
    return entries;
}

int Selected(GtkWidget* list) { return gtk_combo_box_get_active(GTK_COMBO_BOX(list)); }
void Select(GtkWidget* list, int index) { gtk_combo_box_set_active(GTK_COMBO_BOX(list), index); }
bool Checked(GtkWidget* button) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)); }
void Click(GtkWidget* button) { gtk_button_clicked(GTK_BUTTON(button)); }
std::wstring Text(GtkWidget* edit) { return Wide(gtk_entry_get_text(GTK_ENTRY(edit))); }
std::wstring Caption(GtkWidget* button) { return Wide(gtk_button_get_label(GTK_BUTTON(button))); }

void SetText(GtkWidget* edit, const std::wstring& text)
{
    gtk_editable_delete_text(GTK_EDITABLE(edit), 0, -1);
    gint position = 0;
    const std::string utf8 = Utf8(text);
    gtk_editable_insert_text(GTK_EDITABLE(edit), utf8.c_str(), -1, &position);
}

// Every frame caption and static text under a widget, in tree order.
void CollectTexts(GtkWidget* widget, std::vector<std::wstring>& frames, std::vector<std::wstring>& labels)
{
    if (GTK_IS_FRAME(widget)) frames.push_back(Wide(gtk_frame_get_label(GTK_FRAME(widget))));
    else if (GTK_IS_LABEL(widget) && !GTK_IS_BUTTON(gtk_widget_get_parent(widget)))
        labels.push_back(Wide(gtk_label_get_text(GTK_LABEL(widget))));
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* child = children; child; child = child->next)
            CollectTexts(GTK_WIDGET(child->data), frames, labels);
        g_list_free(children);
    }
}

void PressKey(GtkWidget* window, guint key)
{
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->key.keyval = key;
    event->key.send_event = TRUE;
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_main_do_event(event);
    gdk_event_free(event);
}

FakeDirect3D* g_fake = nullptr;
IDirect3D9* MakeFake(UINT) { return g_fake; }

const wchar_t* const kStates[12] = {L"D3DRS_FILLMODE; D3DFILL_SOLID;",
                                    L"D3DRS_ZENABLE; D3DZB_TRUE;",
                                    L"D3DRS_ZWRITEENABLE; TRUE;",
                                    L"D3DRS_ALPHABLENDENABLE; TRUE;",
                                    L"D3DRS_SRCBLEND; D3DBLEND_SRCCOLOR;",
                                    L"D3DRS_DESTBLEND; D3DBLEND_INVSRCCOLOR;",
                                    L"D3DRS_CLIPPING; TRUE;",
                                    L"D3DRS_MULTISAMPLEANTIALIAS; TRUE;",
                                    L"D3DRS_ANTIALIASEDLINEENABLE; TRUE;",
                                    L"D3DRS_CULLMODE; D3DCULL_CCW;",
                                    L"D3DRS_LIGHTING; TRUE;",
                                    L"D3DRS_SPECULARENABLE; TRUE;"};

}  // namespace

class DialogTest : public EditorFixture {
protected:
    void SetUp() override
    {
        EditorFixture::SetUp();
        RequireDisplay();
    }
    void TearDown() override
    {
        C_Direct3D9Settings::CreateDirect3D = &Direct3DCreate9;
        EditorFixture::TearDown();
    }

    // Opens the dialog, lets `use` work it, then closes it as Escape does.
    void WithDialog(const std::function<void(CVexamontDlg&)>& use)
    {
        CVexamontDlg dialog;
        ASSERT_TRUE(dialog.Create());
        gtk_widget_show(dialog.Window());
        Pump();
        use(dialog);
        if (dialog.IsOpen()) PressKey(dialog.Window(), GDK_KEY_Escape);
        EXPECT_FALSE(dialog.IsOpen());
    }

    int Stored(const wchar_t* key) const
    {
        VORTALEX::XMLSettings file(L"Video", VORTALEX::PathToWide(Settings()).c_str());
        return file.GetParameterInt(key);
    }
    std::vector<std::wstring> StoredStates() const
    {
        std::vector<std::wstring> lines;
        TiXmlDocument document;
        document.LoadFile(States().c_str(), TIXML_ENCODING_LEGACY);
        for (TiXmlElement* e = document.FirstChildElement("entity"); e; e = e->NextSiblingElement("entity"))
            lines.push_back(VORTALEX::codepage::FromCp1251(e->Attribute("name")) + L"|" +
                            VORTALEX::codepage::FromCp1251(e->Attribute("class")) + L"|" +
                            VORTALEX::codepage::FromCp1251(e->Attribute("value")));
        return lines;
    }
    static std::wstring StateLine(int number, const std::wstring& value)
    {
        return L"RenderState" + std::to_wstring(number) + L"|C_RenderState|" + value;
    }
};

TEST_F(DialogTest, ControlsCaptionsAndListsAreAsSpecified)
{
    WithDialog([](CVexamontDlg& d) {
        EXPECT_EQ(Wide(gtk_window_get_title(GTK_WINDOW(d.Window()))), L"Vexamont");
        EXPECT_NE(gtk_window_get_icon(GTK_WINDOW(d.Window())), nullptr);
        // 402 x 286 dialog units of the dialog's font.
        const C_DialogUnits& u = *d.Units();
        EXPECT_EQ(gtk_widget_get_allocated_width(d.Window()), u.X(402));
        EXPECT_EQ(gtk_widget_get_allocated_height(d.Window()), u.Y(286));

        ASSERT_EQ(d.Tabs().GetItemCount(), 3);
        EXPECT_EQ(d.Tabs().GetItemText(0), L"Основные");
        EXPECT_EQ(d.Tabs().GetItemText(1), L"RenderState");
        EXPECT_EQ(d.Tabs().GetItemText(2), L"SamplerState");
        EXPECT_EQ(d.Tabs().GetCurSel(), 0);
        EXPECT_EQ(Caption(d.GetDlgItem(IDC_SAVE)), L"Сохранить изменения");
        EXPECT_EQ(Caption(d.GetDlgItem(IDC_CHECK)), L"Проверить");
        EXPECT_EQ(Caption(d.GetDlgItem(IDC_SCREEN_SIZE)), L"Экранное");
        EXPECT_EQ(Caption(d.GetDlgItem(IDC_FULL_SCREEN)), L"Во весь экран");
        EXPECT_EQ(Caption(d.GetDlgItem(IDC_WINDOWED)), L"В окне");
        EXPECT_EQ(Caption(d.GetDlgItem(IDC_AMBIENT_COLOUR)), L"Выбрать цвет");
        GtkWidget* log = d.GetDlgItem(IDC_LOG);
        ASSERT_TRUE(GTK_IS_TEXT_VIEW(log));
        EXPECT_FALSE(gtk_text_view_get_editable(GTK_TEXT_VIEW(log)));

        std::vector<std::wstring> frames, labels;
        CollectTexts(d.Window(), frames, labels);
        // The frame around the tabs, the pages' group boxes, then the two
        // group boxes below.
        EXPECT_EQ(frames, (std::vector<std::wstring>{L" Настройки 3D видеоустройства ", L"Основные настройки",
                                                     L"Тип видеоустройства", L"Экран", L"Разрешение",
                                                     L"Фильтрация текстур", L"Полноэкранное сглаживание",
                                                     L"RenderState", L"Тест", L"Лог"}));
        for (const wchar_t* label :
             {L"X", L"D3DRS_FILLMODE", L"D3DRS_ZENABLE", L"D3DRS_ZWRITEENABLE", L"D3DRS_ALPHABLENDENABLE",
              L"D3DRS_SRCBLEND", L"D3DRS_DESTBLEND", L"D3DRS_CLIPPING", L"D3DRS_MULTISAMPLEANTIALIAS",
              L"D3DRS_ANTIALIASEDLINEENABLE", L"D3DRS_CULLMODE", L"D3DRS_LIGHTING", L"D3DRS_SPECULARENABLE",
              L"D3DRS_AMBIENT"})
            EXPECT_NE(std::find(labels.begin(), labels.end(), label), labels.end()) << Utf8(label);

        EXPECT_EQ(Entries(d.GetDlgItem(IDC_ADAPTER_TYPE)),
                  (std::vector<std::wstring>{L"D3DDEVTYPE_HAL", L"D3DDEVTYPE_REF", L"D3DDEVTYPE_SW"}));
        EXPECT_EQ(Entries(d.GetDlgItem(IDC_TEXTURE_FILTER)),
                  (std::vector<std::wstring>{L"D3DTEXF_NONE", L"D3DTEXF_POINT", L"D3DTEXF_LINEAR",
                                             L"D3DTEXF_ANISOTROPIC", L"D3DTEXF_PYRAMIDALQUAD",
                                             L"D3DTEXF_GAUSSIANQUAD"}));
        const std::vector<std::wstring> samples = Entries(d.GetDlgItem(IDC_MULTISAMPLE));
        ASSERT_EQ(samples.size(), 17u);
        EXPECT_EQ(samples[0], L"D3DMULTISAMPLE_NONE");
        EXPECT_EQ(samples[1], L"D3DMULTISAMPLE_NONMASKABLE");
        EXPECT_EQ(samples[2], L"D3DMULTISAMPLE_2_SAMPLES");
        EXPECT_EQ(samples[16], L"D3DMULTISAMPLE_16_SAMPLES");
        EXPECT_EQ(Entries(d.GetDlgItem(IDC_FILLMODE)),
                  (std::vector<std::wstring>{L"D3DFILL_POINT", L"D3DFILL_WIREFRAME", L"D3DFILL_SOLID"}));
        EXPECT_EQ(Entries(d.GetDlgItem(IDC_CULLMODE)),
                  (std::vector<std::wstring>{L"D3DCULL_NONE", L"D3DCULL_CW", L"D3DCULL_CCW"}));
        const std::vector<std::wstring> blends{
            L"D3DBLEND_ZERO",        L"D3DBLEND_ONE",          L"D3DBLEND_SRCCOLOR",    L"D3DBLEND_INVSRCCOLOR",
            L"D3DBLEND_SRCALPHA",    L"D3DBLEND_INVSRCALPHA",  L"D3DBLEND_DESTALPHA",   L"D3DBLEND_INVDESTALPHA",
            L"D3DBLEND_DESTCOLOR",   L"D3DBLEND_INVDESTCOLOR", L"D3DBLEND_SRCALPHASAT", L"D3DBLEND_BOTHSRCALPHA",
            L"D3DBLEND_BOTHINVSRCALPHA"};
        EXPECT_EQ(Entries(d.GetDlgItem(IDC_SRCBLEND)), blends);
        EXPECT_EQ(Entries(d.GetDlgItem(IDC_DESTBLEND)), blends);
        for (int id : {IDC_ZENABLE, IDC_ZWRITEENABLE, IDC_ALPHABLENDENABLE, IDC_CLIPPING, IDC_MULTISAMPLEANTIALIAS,
                       IDC_ANTIALIASEDLINEENABLE, IDC_LIGHTING, IDC_SPECULARENABLE})
            EXPECT_TRUE(GTK_IS_CHECK_BUTTON(d.GetDlgItem(id))) << id;
    });
}

TEST_F(DialogTest, ExchangeSettingsMapsEveryValueBothWays)
{
    WithDialog([](CVexamontDlg& d) {
        C_Direct3D9Settings& s = d.Settings();
        GtkWidget* type = d.GetDlgItem(IDC_ADAPTER_TYPE);
        GtkWidget* filter = d.GetDlgItem(IDC_TEXTURE_FILTER);
        GtkWidget* samples = d.GetDlgItem(IDC_MULTISAMPLE);

        // Towards the controls; values without an entry leave the list
        // without selection.
        const std::pair<int, int> types[] = {{1, 0}, {2, 1}, {3, 2}, {4, -1}, {0, -1}};
        for (auto [value, index] : types) {
            s.AdapterType = value;
            d.ExchangeSettings(false);
            EXPECT_EQ(Selected(type), index) << "AdapterType " << value;
        }
        const std::pair<int, int> filters[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, -1}, {5, -1}, {6, 4}, {7, 5}};
        for (auto [value, index] : filters) {
            s.TextureFilterType = value;
            d.ExchangeSettings(false);
            EXPECT_EQ(Selected(filter), index) << "TextureFilterType " << value;
        }
        for (int value = 0; value <= 16; ++value) {
            s.PresentParameters.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(value);
            d.ExchangeSettings(false);
            EXPECT_EQ(Selected(samples), value);
        }
        s.PresentParameters.BackBufferWidth = 1366;
        s.PresentParameters.BackBufferHeight = 768;
        s.PresentParameters.Windowed = FALSE;
        d.ExchangeSettings(false);
        EXPECT_EQ(Text(d.GetDlgItem(IDC_WIDTH)), L"1366");
        EXPECT_EQ(Text(d.GetDlgItem(IDC_HEIGHT)), L"768");
        EXPECT_TRUE(Checked(d.GetDlgItem(IDC_FULL_SCREEN)));
        EXPECT_FALSE(Checked(d.GetDlgItem(IDC_WINDOWED)));
        s.PresentParameters.Windowed = TRUE;
        d.ExchangeSettings(false);
        EXPECT_TRUE(Checked(d.GetDlgItem(IDC_WINDOWED)));

        // Towards the settings.
        for (auto [value, index] : types) {
            if (index < 0) continue;
            Select(type, index);
            d.ExchangeSettings(true);
            EXPECT_EQ(s.AdapterType, value);
        }
        for (auto [value, index] : filters) {
            if (index < 0) continue;
            Select(filter, index);
            d.ExchangeSettings(true);
            EXPECT_EQ(s.TextureFilterType, value);
        }
        for (int index = 0; index <= 16; ++index) {
            Select(samples, index);
            d.ExchangeSettings(true);
            EXPECT_EQ(static_cast<int>(s.PresentParameters.MultiSampleType), index);
        }
        SetText(d.GetDlgItem(IDC_WIDTH), L"1600");
        SetText(d.GetDlgItem(IDC_HEIGHT), L"900");
        Click(d.GetDlgItem(IDC_FULL_SCREEN));
        d.ExchangeSettings(true);
        EXPECT_EQ(s.PresentParameters.BackBufferWidth, 1600u);
        EXPECT_EQ(s.PresentParameters.BackBufferHeight, 900u);
        EXPECT_EQ(s.PresentParameters.Windowed, FALSE);
        Click(d.GetDlgItem(IDC_WINDOWED));
        d.ExchangeSettings(true);
        EXPECT_EQ(s.PresentParameters.Windowed, TRUE);

        // A list without selection leaves its setting as it was.
        s.TextureFilterType = 5;
        d.ExchangeSettings(false);
        d.ExchangeSettings(true);
        EXPECT_EQ(s.TextureFilterType, 5);
    });
}

TEST_F(DialogTest, GaussianQuadIsStoredAs7AndStored4Or5ShowsNoFilter)
{
    for (const char* stored : {"4", "5"}) {
        WriteVideo(Entry("Adapter", "0") + Entry("AdapterType", "1") + Entry("TextureFilterType", stored) +
                   Entry("BackBufferWidth", "800") + Entry("BackBufferHeight", "600"));
        WithDialog([&](CVexamontDlg& d) { EXPECT_EQ(Selected(d.GetDlgItem(IDC_TEXTURE_FILTER)), -1) << stored; });
        EXPECT_EQ(Stored(L"TextureFilterType"), std::atoi(stored)) << "closing keeps what was stored";
    }
    WithDialog([](CVexamontDlg& d) {
        Select(d.GetDlgItem(IDC_TEXTURE_FILTER), 5);
        EXPECT_EQ(Entries(d.GetDlgItem(IDC_TEXTURE_FILTER))[5], L"D3DTEXF_GAUSSIANQUAD");
        Click(d.GetDlgItem(IDC_SAVE));
    });
    EXPECT_EQ(Stored(L"TextureFilterType"), 7);
}

TEST_F(DialogTest, ScreenSizeTakesTheSizeOfTheMonitorTheDialogIsOn)
{
    WithDialog([](CVexamontDlg& d) {
        Click(d.GetDlgItem(IDC_SCREEN_SIZE));
        // The test display is 1920 x 1080.
        EXPECT_EQ(Text(d.GetDlgItem(IDC_WIDTH)), L"1920");
        EXPECT_EQ(Text(d.GetDlgItem(IDC_HEIGHT)), L"1080");
        EXPECT_EQ(d.Settings().PresentParameters.BackBufferWidth, 1920u);
    });
    EXPECT_EQ(Stored(L"BackBufferWidth"), 1920);
    EXPECT_EQ(Stored(L"BackBufferHeight"), 1080);
}

TEST_F(DialogTest, ClosingWithoutSavingWritesTheLoadedValuesAndKeepsOtherSections)
{
    ScratchFolder::Write(Settings(), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n"
                                     "<entity name=\"Logger\">" + Entry("Folder", "..\\log") + "</entity>\n"
                                     "<entity name=\"Video\">" + Entry("Adapter", "0") + Entry("AdapterType", "1") +
                                     Entry("CreateDeviceFlag", "32") + Entry("TextureFilterType", "1") +
                                     Entry("BackBufferWidth", "1024") + Entry("BackBufferHeight", "768") +
                                     Entry("BackBufferFormat", "22") + Entry("BackBufferCount", "1") +
                                     Entry("MultiSampleType", "2") + Entry("SwapEffect", "1") +
                                     Entry("Windowed", "0") + Entry("EnableAutoDepthStencil", "1") +
                                     Entry("AutoDepthStencilFormat", "80") + Entry("Flags", "2") +
                                     Entry("PresentationInterval", "1") + "</entity>\n");
    WithDialog([](CVexamontDlg& d) {
        EXPECT_EQ(Text(d.GetDlgItem(IDC_WIDTH)), L"1024");
        EXPECT_TRUE(Checked(d.GetDlgItem(IDC_FULL_SCREEN)));
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_MULTISAMPLE)), 2);
        SetText(d.GetDlgItem(IDC_WIDTH), L"1234");   // never saved
        Select(d.GetDlgItem(IDC_TEXTURE_FILTER), 2);
    });
    EXPECT_EQ(Stored(L"BackBufferWidth"), 1024);
    EXPECT_EQ(Stored(L"TextureFilterType"), 1);
    EXPECT_EQ(Stored(L"BackBufferFormat"), 22);
    EXPECT_EQ(Stored(L"AutoDepthStencilFormat"), 80);
    EXPECT_EQ(Stored(L"PresentationInterval"), 1);
    EXPECT_EQ(Stored(L"FullScreen_RefreshRateInHz"), 0) << "a missing key is written";
    VORTALEX::XMLSettings file(L"Logger", VORTALEX::PathToWide(Settings()).c_str());
    EXPECT_EQ(file.GetParameter(L"Folder"), L"..\\log") << "the engine's logger section is kept";

    WithDialog([](CVexamontDlg& d) {
        SetText(d.GetDlgItem(IDC_WIDTH), L"1234");
        Click(d.GetDlgItem(IDC_SAVE));
    });
    EXPECT_EQ(Stored(L"BackBufferWidth"), 1234);
}

TEST_F(DialogTest, WithoutASettingsFileTheProbedDefaultsAreWritten)
{
    FakeDirect3D fake;
    fake.maxColourSamples = 8;
    fake.maxDepthSamples = 6;
    fake.devCaps = 0;
    g_fake = &fake;
    C_Direct3D9Settings::CreateDirect3D = &MakeFake;
    WithDialog([](CVexamontDlg& d) {
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_MULTISAMPLE)), 6);
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_ADAPTER_TYPE)), 0);
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_TEXTURE_FILTER)), 2);
        EXPECT_TRUE(Checked(d.GetDlgItem(IDC_WINDOWED)));
    });
    const wchar_t* keys[] = {L"Adapter", L"AdapterType", L"CreateDeviceFlag", L"TextureFilterType",
                             L"BackBufferWidth", L"BackBufferHeight", L"BackBufferFormat", L"BackBufferCount",
                             L"MultiSampleType", L"MultiSampleQuality", L"SwapEffect", L"Windowed",
                             L"EnableAutoDepthStencil", L"AutoDepthStencilFormat", L"Flags",
                             L"FullScreen_RefreshRateInHz", L"PresentationInterval"};
    const int expected[] = {0, 1, 32, 2, 800, 600, 21, 3, 6, 0, 1, 1, 1, 75, 6, 0, -2147483647 - 1};
    for (int i = 0; i < 17; ++i) EXPECT_EQ(Stored(keys[i]), expected[i]) << Utf8(keys[i]);
    EXPECT_EQ(fake.refs, 0u);
}

TEST_F(DialogTest, EscapeAndTheCloseBoxCloseTheDialogAndEditsTakeOnlyDigits)
{
    CVexamontDlg dialog;
    ASSERT_TRUE(dialog.Create());
    gtk_widget_show(dialog.Window());
    Pump();
    PressKey(dialog.Window(), GDK_KEY_Return);
    EXPECT_TRUE(dialog.IsOpen()) << "only Escape closes";
    GtkWidget* width = dialog.GetDlgItem(IDC_WIDTH);
    SetText(width, L"1a2-3 4");
    EXPECT_EQ(Text(width), L"1234");
    PressKey(dialog.Window(), GDK_KEY_Escape);
    EXPECT_FALSE(dialog.IsOpen());

    CVexamontDlg second;
    ASSERT_TRUE(second.Create());
    gtk_widget_show(second.Window());
    Pump();
    gtk_window_close(GTK_WINDOW(second.Window()));
    Pump();
    EXPECT_FALSE(second.IsOpen());
}

TEST_F(DialogTest, AMissingStateFileGetsTheTwelveDefaultLines)
{
    ASSERT_FALSE(std::filesystem::exists(States()));
    WithDialog([](CVexamontDlg& d) {
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_FILLMODE)), 2);
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_SRCBLEND)), 2);
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_DESTBLEND)), 3);
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_CULLMODE)), 2);
        EXPECT_TRUE(Checked(d.GetDlgItem(IDC_LIGHTING)));
    });
    std::vector<std::wstring> expected;
    for (int i = 0; i < 12; ++i) expected.push_back(StateLine(i + 1, kStates[i]));
    EXPECT_EQ(StoredStates(), expected);
}

TEST_F(DialogTest, ZBufferAndBlendingSwitchTheirDependentControls)
{
    WithDialog([](CVexamontDlg& d) {
        C_XMLState& states = d.RenderStatePage()->State();
        GtkWidget* zEnable = d.GetDlgItem(IDC_ZENABLE);
        GtkWidget* zWrite = d.GetDlgItem(IDC_ZWRITEENABLE);
        ASSERT_TRUE(Checked(zWrite));
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(zEnable), FALSE);
        EXPECT_FALSE(Checked(zWrite));
        EXPECT_FALSE(gtk_widget_get_sensitive(zWrite));
        // Each change is written at once.
        EXPECT_EQ(states.GetState(L"RenderState2", 2), L"D3DZB_FALSE");
        EXPECT_EQ(states.GetState(L"RenderState3", 2), L"FALSE");
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(zEnable), TRUE);
        EXPECT_TRUE(gtk_widget_get_sensitive(zWrite));
        EXPECT_FALSE(Checked(zWrite)) << "switching z on does not switch z-write on";
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(zEnable), FALSE);

        GtkWidget* blending = d.GetDlgItem(IDC_ALPHABLENDENABLE);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(blending), FALSE);
        EXPECT_FALSE(gtk_widget_get_sensitive(d.GetDlgItem(IDC_SRCBLEND)));
        EXPECT_FALSE(gtk_widget_get_sensitive(d.GetDlgItem(IDC_DESTBLEND)));
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(blending), TRUE);
        EXPECT_TRUE(gtk_widget_get_sensitive(d.GetDlgItem(IDC_SRCBLEND)));
        EXPECT_TRUE(gtk_widget_get_sensitive(d.GetDlgItem(IDC_DESTBLEND)));

        Select(d.GetDlgItem(IDC_FILLMODE), 1);
        Select(d.GetDlgItem(IDC_DESTBLEND), 12);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(d.GetDlgItem(IDC_SPECULARENABLE)), FALSE);
    });
    const std::vector<std::wstring> stored = StoredStates();
    ASSERT_EQ(stored.size(), 12u);
    EXPECT_EQ(stored[0], StateLine(1, L"D3DRS_FILLMODE; D3DFILL_WIREFRAME;"));
    EXPECT_EQ(stored[1], StateLine(2, L"D3DRS_ZENABLE; D3DZB_FALSE;"));
    EXPECT_EQ(stored[2], StateLine(3, L"D3DRS_ZWRITEENABLE; FALSE;"));
    EXPECT_EQ(stored[5], StateLine(6, L"D3DRS_DESTBLEND; D3DBLEND_BOTHINVSRCALPHA;"));
    EXPECT_EQ(stored[11], StateLine(12, L"D3DRS_SPECULARENABLE; FALSE;"));

    // Opened again, the page shows what was written, with its dependencies.
    WithDialog([](CVexamontDlg& d) {
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_FILLMODE)), 1);
        EXPECT_FALSE(Checked(d.GetDlgItem(IDC_ZENABLE)));
        EXPECT_FALSE(gtk_widget_get_sensitive(d.GetDlgItem(IDC_ZWRITEENABLE)));
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_DESTBLEND)), 12);
    });
}

// Lines the page cannot show are written with their default when it opens;
// lines it can show stay as they are.
TEST_F(DialogTest, UnreadableStateLinesAreReplacedByTheirDefaults)
{
    ScratchFolder::Write(States(),
                         "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n"
                         "<entity name=\"RenderState1\" class=\"C_RenderState\" value=\"D3DRS_FILLMODE; D3DFILL_BOGUS;\"/>\n"
                         "<entity name=\"RenderState2\" class=\"C_RenderState\" value=\"D3DRS_ZENABLE D3DZB_FALSE\"/>\n"
                         "<entity name=\"RenderState3\" class=\"C_RenderState\" value=\"D3DRS_ZWRITEENABLE; FALSE\"/>\n"
                         "<entity name=\"RenderState4\" class=\"C_Other\" value=\"D3DRS_ALPHABLENDENABLE; FALSE;\"/>\n"
                         "<entity name=\"RenderState5\" class=\"C_RenderState\" value=\"D3DRS_DESTBLEND; D3DBLEND_ONE;\"/>\n"
                         "<entity name=\"RenderState10\" class=\"C_RenderState\" value=\"  D3DRS_CULLMODE ;D3DCULL_NONE; \"/>\n"
                         "<entity name=\"RenderState11\" class=\"C_RenderState\" value=\"d3drs_lighting; FALSE;\"/>\n"
                         "<entity name=\"Other\" class=\"C_SamplerState\" value=\"0; D3DSAMP_MINFILTER; D3DTEXF_POINT;\"/>\n");
    WithDialog([](CVexamontDlg& d) {
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_FILLMODE)), 2);
        EXPECT_TRUE(Checked(d.GetDlgItem(IDC_ZENABLE)));
        EXPECT_FALSE(Checked(d.GetDlgItem(IDC_ZWRITEENABLE)));
        EXPECT_TRUE(Checked(d.GetDlgItem(IDC_ALPHABLENDENABLE)));
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_SRCBLEND)), 2);
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_CULLMODE)), 0);
        EXPECT_TRUE(Checked(d.GetDlgItem(IDC_LIGHTING)));
    });
    const std::vector<std::wstring> stored = StoredStates();
    ASSERT_EQ(stored.size(), 13u);
    EXPECT_EQ(stored[0], StateLine(1, kStates[0])) << "an unknown value name";
    EXPECT_EQ(stored[1], StateLine(2, kStates[1])) << "no ';' between the fields";
    EXPECT_EQ(stored[2], StateLine(3, L"D3DRS_ZWRITEENABLE; FALSE")) << "a missing last ';' still reads";
    EXPECT_EQ(stored[3], StateLine(4, kStates[3])) << "another class";
    EXPECT_EQ(stored[4], StateLine(5, kStates[4])) << "another state";
    EXPECT_EQ(stored[5], StateLine(10, L"  D3DRS_CULLMODE ;D3DCULL_NONE; "));
    EXPECT_EQ(stored[6], StateLine(11, kStates[10])) << "names are case-sensitive";
    EXPECT_EQ(stored[7], L"Other|C_SamplerState|0; D3DSAMP_MINFILTER; D3DTEXF_POINT;") << "other entities are kept";
    EXPECT_EQ(stored[8], StateLine(6, kStates[5]));
    EXPECT_EQ(stored[12], StateLine(12, kStates[11]));
}

TEST_F(DialogTest, TheAmbientColourButtonSaysItIsNotImplemented)
{
    WithDialog([](CVexamontDlg& d) { Click(d.GetDlgItem(IDC_AMBIENT_COLOUR)); });
    EXPECT_EQ(Boxes(), std::vector<std::wstring>{L"Не реализовано"});
}

TEST_F(DialogTest, CheckLogsEveryStepOrTheFailure)
{
    UseClockStep(100);
    WithDialog([](CVexamontDlg& d) {
        Click(d.GetDlgItem(IDC_CHECK));
        EXPECT_EQ(d.LogText(),
                  L"Регистрация класса окна...\r\nУдачно.\r\nСоздание окна...\r\nУдачно.\r\n"
                  L"Создание 3D устройства...\r\nУдачно.\r\nСоздание буфера вершин...\r\nУдачно.\r\n"
                  L"Блокирование буфера вершин...\r\nУдачно.\r\nСоздание индексного буфера...\r\nУдачно.\r\n"
                  L"Блокирование индексного буфера...\r\nУдачно.\r\nЗагрузка текстуры...\r\nУдачно.\r\n"
                  L"Отображение сцены...\r\nУдачно.\r\n");
        EXPECT_EQ(d.LastTestFrames(), 46);
        // The log box shows the same text.
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(d.GetDlgItem(IDC_LOG)));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        gchar* shown = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
        EXPECT_EQ(Wide(shown), d.LogText());
        g_free(shown);
        EXPECT_TRUE(gtk_widget_get_sensitive(d.GetDlgItem(IDC_CHECK)));

        // A width no device can have: the log is emptied first and ends
        // with the two failure lines and the reason.
        SetText(d.GetDlgItem(IDC_WIDTH), L"100000");
        Click(d.GetDlgItem(IDC_CHECK));
        EXPECT_EQ(d.LogText(),
                  L"Разрешение 100000 X 600 не годится для устройства (от 1 до 16384 точек по каждой стороне).\r\n"
                  L"Регистрация класса окна...\r\nУдачно.\r\nСоздание окна...\r\nУдачно.\r\n"
                  L"Создание 3D устройства...\r\nОшибка!\r\n"
                  L"Невозможно создать 3D окно с выбранными параметрами.\r\n"
                  L"Причина: CreateDevice: D3DERR_NOTAVAILABLE.\r\n");
        EXPECT_EQ(Text(d.GetDlgItem(IDC_WIDTH)), L"100000") << "the controls show the settings again";

        // A multisample count this device cannot do.
        SetText(d.GetDlgItem(IDC_WIDTH), L"640");
        Select(d.GetDlgItem(IDC_MULTISAMPLE), 16);
        Click(d.GetDlgItem(IDC_CHECK));
        EXPECT_NE(d.LogText().find(L"Невозможно создать 3D окно"), std::wstring::npos);
    });
}

// Closing the dialog while the cube spins waits for the test to end.
TEST_F(DialogTest, ClosingDuringTheDeviceTestClosesAfterIt)
{
    UseClockStep(100);
    WithDialog([](CVexamontDlg& d) {
        g_idle_add(+[](gpointer window) -> gboolean {
            gtk_window_close(GTK_WINDOW(window));
            return G_SOURCE_REMOVE;
        },
                   d.Window());
        Click(d.GetDlgItem(IDC_CHECK));
        EXPECT_NE(d.LogText().find(L"Отображение сцены...\r\nУдачно.\r\n"), std::wstring::npos);
        EXPECT_FALSE(d.IsOpen());
    });
}

TEST_F(DialogTest, UnusableStoredValuesAreReplacedAndNamedInTheLog)
{
    WriteVideo(Entry("Adapter", "0") + Entry("AdapterType", "7") + Entry("CreateDeviceFlag", "abc") +
               Entry("TextureFilterType", "-1") + Entry("BackBufferWidth", "99999999999") +
               Entry("BackBufferHeight", "abc") + Entry("BackBufferFormat", "21") + Entry("BackBufferCount", "-1") +
               Entry("MultiSampleType", "40") + Entry("SwapEffect", "1") + Entry("Windowed", "1") +
               Entry("EnableAutoDepthStencil", "1") + Entry("AutoDepthStencilFormat", "75"));
    WithDialog([](CVexamontDlg& d) {
        const std::wstring& log = d.LogText();
        EXPECT_EQ(log.rfind(L"Недопустимые значения в settings.xml заменены:", 0), 0u) << Utf8(log);
        for (const wchar_t* item : {L"AdapterType 7 -> 1;", L"CreateDeviceFlag 0 -> 64;", L"TextureFilterType -1 -> 2;",
                                    L"BackBufferWidth 2147483647 -> 800;", L"BackBufferHeight 0 -> 600;",
                                    L"BackBufferCount -1 -> 3;", L"MultiSampleType 40 -> 0;"})
            EXPECT_NE(log.find(item), std::wstring::npos) << Utf8(item);
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_ADAPTER_TYPE)), 0);
        EXPECT_EQ(Text(d.GetDlgItem(IDC_WIDTH)), L"800");
        EXPECT_EQ(Selected(d.GetDlgItem(IDC_MULTISAMPLE)), 0);
    });
    EXPECT_EQ(Stored(L"AdapterType"), 1);
    EXPECT_EQ(Stored(L"MultiSampleType"), 0);
    EXPECT_EQ(Stored(L"BackBufferHeight"), 600);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(DialogTest, BrokenFilesAreNamedInTheLogAndKept)
{
    ScratchFolder::Write(Settings(), "<entity name=\"Video\"><entity name=\"Adapter\" value=\"0\">");
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<entity>";
    ScratchFolder::Write(States(), deep);
    WithDialog([](CVexamontDlg& d) {
        EXPECT_NE(d.LogText().find(L"Файл settings.xml не разобран"), std::wstring::npos) << Utf8(d.LogText());
        EXPECT_NE(d.LogText().find(L"Файл modules\\DefaultRenderState.xml не прочитан: элементы вложены глубже"),
                  std::wstring::npos);
        EXPECT_EQ(Text(d.GetDlgItem(IDC_WIDTH)), L"800");
    });
    EXPECT_EQ(Stored(L"BackBufferWidth"), 800);
    EXPECT_EQ(StoredStates().size(), 12u);
    EXPECT_EQ(ScratchFolder::Read(program / "modules" / "DefaultRenderState.xml.broken"), deep);
    EXPECT_TRUE(std::filesystem::exists(program / "settings.xml.broken"));
    EXPECT_TRUE(Boxes().empty());
}
