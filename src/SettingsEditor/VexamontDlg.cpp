#include "SettingsEditor/VexamontDlg.h"

#include <cairo.h>

#include <cstring>

#include "Common/CodePage.h"
#include "SettingsEditor/DeviceTest.h"
#include "SettingsEditor/Resources.h"

namespace {

std::string U8(std::wstring_view text) { return VORTALEX::codepage::ToUtf8(text); }
std::wstring Wide(const char* text) { return text ? VORTALEX::codepage::FromUtf8(text) : std::wstring(); }

// Reads a number as _wtoi does: blanks, a sign and digits; saturates.
int ToInt(const std::wstring& text)
{
    const wchar_t* p = text.c_str();
    while (*p == L' ' || *p == L'\t') ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
    long long value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + (*p - L'0');
        if (value > 2147483648LL) break;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return 2147483647;
    if (value < -2147483648LL) return -2147483647 - 1;
    return static_cast<int>(value);
}

// Numbers only, as an edit with the number style takes them: whatever else
// is typed or pasted is dropped.
void OnInsertDigits(GtkEditable* editable, gchar* text, gint length, gint* position, gpointer data)
{
    const std::size_t size = length < 0 ? std::strlen(text) : static_cast<std::size_t>(length);
    std::string digits;
    for (std::size_t i = 0; i < size; ++i)
        if (text[i] >= '0' && text[i] <= '9') digits += text[i];
    if (digits.size() == size) return;
    g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(&OnInsertDigits), data);
    gtk_editable_insert_text(editable, digits.c_str(), static_cast<gint>(digits.size()), position);
    g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(&OnInsertDigits), data);
    g_signal_stop_emission_by_name(editable, "insert-text");
}

GtkWidget* FrameWidget(const wchar_t* caption)
{
    GtkWidget* frame = gtk_frame_new(U8(caption).c_str());
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_ETCHED_IN);
    return frame;
}

GtkWidget* ListWidget(const std::vector<const wchar_t*>& entries)
{
    GtkWidget* list = gtk_combo_box_text_new();
    for (const wchar_t* entry : entries) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(list), U8(entry).c_str());
    // A narrow list shows the start of a long name, as a drop-down list
    // does; the opened list shows every name whole.
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(list));
    for (GList* cell = cells; cell; cell = cell->next)
        g_object_set(cell->data, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
    g_list_free(cells);
    return list;
}

GdkPixbuf* IconPixbuf()
{
    const auto bytes = FindProgramResource(L"Icon");
    if (bytes.empty()) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr) && gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf) g_object_ref(pixbuf);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return pixbuf;
}

void PumpDialogEvents()
{
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

const char* const kStyle = R"css(
window.vexamont, window.vexamont * {
    font-family: "MS Sans Serif", "Liberation Sans", "DejaVu Sans", sans-serif;
    font-size: 8pt;
}
window.vexamont button { padding: 1px 6px; min-height: 0; min-width: 0; }
window.vexamont combobox button { padding: 0 2px 0 4px; min-height: 0; }
window.vexamont combobox arrow { min-height: 12px; min-width: 12px; -gtk-icon-transform: scale(0.75); }
window.vexamont entry { padding: 0 3px; min-height: 0; }
window.vexamont notebook tab { padding: 2px 8px; min-height: 0; }
window.vexamont frame > border { border-radius: 0; }
window.vexamont checkbutton, window.vexamont radiobutton { padding: 0; min-height: 0; }
window.vexamont check, window.vexamont radio { min-height: 12px; min-width: 12px; margin: 0 4px 0 0; }
window.vexamont textview text { background-color: #ffffff; }
)css";

}  // namespace

void VexamontInstallStyle()
{
    static bool installed = false;
    if (installed) return;
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen) return;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
    installed = true;
}

// ---------------------------------------------------------------------------
// Dialog units
// ---------------------------------------------------------------------------
C_DialogUnits::C_DialogUnits(GtkWidget* widget)
{
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    // The rounding of the system's average character width.
    if (width > 0) m_BaseX = (width / 26 + 1) / 2;
    if (height > 0) m_BaseY = height;
}

// ---------------------------------------------------------------------------
// Pages and the tab control
// ---------------------------------------------------------------------------
C_DlgTabCtrl::C_DlgTabCtrl(const wchar_t* caption, const C_DialogUnits& units)
    : m_Units(units)
    , m_Caption(caption)
{
    m_Page = gtk_event_box_new();
    g_object_ref_sink(m_Page);
    // Pages are white, as a property page on a tab control is.
    gtk_widget_set_app_paintable(m_Page, TRUE);
    g_signal_connect(m_Page, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer) -> gboolean {
                         cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
                         cairo_paint(cr);
                         return FALSE;
                     }),
                     nullptr);
    m_Fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(m_Page), m_Fixed);
}

C_DlgTabCtrl::~C_DlgTabCtrl()
{
    gtk_widget_destroy(m_Page);
    g_object_unref(m_Page);
}

GtkWidget* C_DlgTabCtrl::GetDlgItem(int id) const
{
    const auto found = m_Items.find(id);
    return found == m_Items.end() ? nullptr : found->second;
}

GtkWidget* C_DlgTabCtrl::Place(GtkWidget* widget, DluRect rect, int id)
{
    gtk_widget_set_size_request(widget, m_Units.X(rect.cx), m_Units.Y(rect.cy));
    gtk_fixed_put(GTK_FIXED(m_Fixed), widget, m_Units.X(rect.x), m_Units.Y(rect.y));
    if (id) m_Items[id] = widget;
    return widget;
}

GtkWidget* C_DlgTabCtrl::AddGroup(const wchar_t* caption, DluRect rect) { return Place(FrameWidget(caption), rect); }

GtkWidget* C_DlgTabCtrl::AddStatic(const wchar_t* text, DluRect rect)
{
    GtkWidget* label = gtk_label_new(U8(text).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return Place(label, rect);
}

GtkWidget* C_DlgTabCtrl::AddList(int id, const std::vector<const wchar_t*>& entries, DluRect rect)
{
    return Place(ListWidget(entries), rect, id);
}

void C_TabCtrl::InsertItem(C_DlgTabCtrl& page)
{
    GtkWidget* title = gtk_label_new(U8(page.Caption()).c_str());
    gtk_notebook_append_page(GTK_NOTEBOOK(m_Notebook), page.Widget(), title);
}

int C_TabCtrl::GetCurSel() const { return gtk_notebook_get_current_page(GTK_NOTEBOOK(m_Notebook)); }

void C_TabCtrl::SetCurSel(int index) { gtk_notebook_set_current_page(GTK_NOTEBOOK(m_Notebook), index); }

int C_TabCtrl::GetItemCount() const { return gtk_notebook_get_n_pages(GTK_NOTEBOOK(m_Notebook)); }

std::wstring C_TabCtrl::GetItemText(int index) const
{
    GtkWidget* page = gtk_notebook_get_nth_page(GTK_NOTEBOOK(m_Notebook), index);
    return page ? Wide(gtk_notebook_get_tab_label_text(GTK_NOTEBOOK(m_Notebook), page)) : std::wstring();
}

// ---------------------------------------------------------------------------
// Page 129
// ---------------------------------------------------------------------------
C_dlgMainSettings::C_dlgMainSettings(const C_DialogUnits& units)
    : C_DlgTabCtrl(L"Основные", units)
{
    AddGroup(L"Основные настройки", {4, 3, 358, 127});

    AddGroup(L"Тип видеоустройства", {12, 15, 165, 31});
    AddList(IDC_ADAPTER_TYPE, {L"D3DDEVTYPE_HAL", L"D3DDEVTYPE_REF", L"D3DDEVTYPE_SW"}, {19, 27, 151, 14});

    AddGroup(L"Экран", {12, 51, 165, 74});
    AddGroup(L"Разрешение", {19, 61, 151, 31});
    for (int id : {IDC_WIDTH, IDC_HEIGHT}) {
        GtkWidget* edit = gtk_entry_new();
        gtk_entry_set_max_length(GTK_ENTRY(edit), 10);
        gtk_entry_set_input_purpose(GTK_ENTRY(edit), GTK_INPUT_PURPOSE_DIGITS);
        gtk_entry_set_width_chars(GTK_ENTRY(edit), 1);
        g_signal_connect(edit, "insert-text", G_CALLBACK(OnInsertDigits), nullptr);
        Place(edit, {id == IDC_WIDTH ? 26 : 99, 73, 56, 13}, id);
    }
    GtkWidget* x = AddStatic(L"X", {86, 75, 10, 9});
    gtk_label_set_xalign(GTK_LABEL(x), 0.5f);
    Place(gtk_button_new_with_label(U8(L"Экранное").c_str()), {19, 99, 62, 15}, IDC_SCREEN_SIZE);
    GtkWidget* full = gtk_radio_button_new_with_label(nullptr, U8(L"Во весь экран").c_str());
    GtkWidget* window = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(full), U8(L"В окне").c_str());
    Place(full, {90, 97, 82, 11}, IDC_FULL_SCREEN);
    Place(window, {90, 110, 82, 11}, IDC_WINDOWED);

    AddGroup(L"Фильтрация текстур", {185, 15, 170, 31});
    AddList(IDC_TEXTURE_FILTER,
            {L"D3DTEXF_NONE", L"D3DTEXF_POINT", L"D3DTEXF_LINEAR", L"D3DTEXF_ANISOTROPIC", L"D3DTEXF_PYRAMIDALQUAD",
             L"D3DTEXF_GAUSSIANQUAD"},
            {192, 27, 156, 14});

    AddGroup(L"Полноэкранное сглаживание", {185, 51, 170, 31});
    std::vector<std::wstring> names{L"D3DMULTISAMPLE_NONE", L"D3DMULTISAMPLE_NONMASKABLE"};
    for (int samples = 2; samples <= 16; ++samples)
        names.push_back(L"D3DMULTISAMPLE_" + std::to_wstring(samples) + L"_SAMPLES");
    std::vector<const wchar_t*> entries;
    for (const std::wstring& name : names) entries.push_back(name.c_str());
    AddList(IDC_MULTISAMPLE, entries, {192, 63, 156, 14});
}

// ---------------------------------------------------------------------------
// Page 130
// ---------------------------------------------------------------------------
namespace {
const wchar_t* const kFillModes[] = {L"D3DFILL_POINT", L"D3DFILL_WIREFRAME", L"D3DFILL_SOLID"};
const wchar_t* const kZBuffer[] = {L"D3DZB_TRUE", L"D3DZB_FALSE"};
const wchar_t* const kTrueFalse[] = {L"TRUE", L"FALSE"};
const wchar_t* const kBlends[] = {L"D3DBLEND_ZERO",         L"D3DBLEND_ONE",          L"D3DBLEND_SRCCOLOR",
                                  L"D3DBLEND_INVSRCCOLOR",  L"D3DBLEND_SRCALPHA",     L"D3DBLEND_INVSRCALPHA",
                                  L"D3DBLEND_DESTALPHA",    L"D3DBLEND_INVDESTALPHA", L"D3DBLEND_DESTCOLOR",
                                  L"D3DBLEND_INVDESTCOLOR", L"D3DBLEND_SRCALPHASAT",  L"D3DBLEND_BOTHSRCALPHA",
                                  L"D3DBLEND_BOTHINVSRCALPHA"};
const wchar_t* const kCullModes[] = {L"D3DCULL_NONE", L"D3DCULL_CW", L"D3DCULL_CCW"};
}  // namespace

// One state of the page: a list of value names, or a check whose values are
// {on, off}. `column` and `row` place its label and control.
struct C_dlgRenderState::Control {
    int number;
    int id;
    const wchar_t* state;
    const wchar_t* const* values;
    int count;
    bool check;
    const wchar_t* defaultValue;
    int column;
    int row;
};

const C_dlgRenderState::Control C_dlgRenderState::kControls[12] = {
    {1, IDC_FILLMODE, L"D3DRS_FILLMODE", kFillModes, 3, false, L"D3DFILL_SOLID", 0, 0},
    {2, IDC_ZENABLE, L"D3DRS_ZENABLE", kZBuffer, 2, true, L"D3DZB_TRUE", 0, 2},
    {3, IDC_ZWRITEENABLE, L"D3DRS_ZWRITEENABLE", kTrueFalse, 2, true, L"TRUE", 0, 3},
    {4, IDC_ALPHABLENDENABLE, L"D3DRS_ALPHABLENDENABLE", kTrueFalse, 2, true, L"TRUE", 0, 4},
    {5, IDC_SRCBLEND, L"D3DRS_SRCBLEND", kBlends, 13, false, L"D3DBLEND_SRCCOLOR", 0, 5},
    {6, IDC_DESTBLEND, L"D3DRS_DESTBLEND", kBlends, 13, false, L"D3DBLEND_INVSRCCOLOR", 0, 6},
    {7, IDC_CLIPPING, L"D3DRS_CLIPPING", kTrueFalse, 2, true, L"TRUE", 1, 0},
    {8, IDC_MULTISAMPLEANTIALIAS, L"D3DRS_MULTISAMPLEANTIALIAS", kTrueFalse, 2, true, L"TRUE", 1, 1},
    {9, IDC_ANTIALIASEDLINEENABLE, L"D3DRS_ANTIALIASEDLINEENABLE", kTrueFalse, 2, true, L"TRUE", 1, 2},
    {10, IDC_CULLMODE, L"D3DRS_CULLMODE", kCullModes, 3, false, L"D3DCULL_CCW", 0, 1},
    {11, IDC_LIGHTING, L"D3DRS_LIGHTING", kTrueFalse, 2, true, L"TRUE", 1, 3},
    {12, IDC_SPECULARENABLE, L"D3DRS_SPECULARENABLE", kTrueFalse, 2, true, L"TRUE", 1, 4},
};

namespace {
// Page 130's two columns: where labels and controls start and how wide
// they are, in dialog units; rows are 16 units apart.
struct ColumnLayout {
    int label, labelWidth, control, controlWidth;
};
constexpr ColumnLayout kColumns[2] = {{11, 105, 118, 86}, {211, 122, 336, 12}};
constexpr int RowY(int row) { return 15 + row * 16; }
}  // namespace

C_dlgRenderState::C_dlgRenderState(const C_DialogUnits& units)
    : C_DlgTabCtrl(L"RenderState", units)
{
    AddGroup(L"RenderState", {4, 3, 358, 127});
    for (const Control& c : kControls) {
        const ColumnLayout& column = kColumns[c.column];
        const int y = RowY(c.row);
        AddStatic(c.state, {column.label, y + 3, column.labelWidth, 9});
        GtkWidget* widget = nullptr;
        if (c.check) {
            widget = Place(gtk_check_button_new(), {column.control, y + 2, 12, 11}, c.id);
            g_signal_connect(widget, "toggled", G_CALLBACK(&C_dlgRenderState::OnChanged), this);
        } else {
            widget = AddList(c.id, std::vector<const wchar_t*>(c.values, c.values + c.count),
                             {column.control, y, column.controlWidth, 14});
            g_signal_connect(widget, "changed", G_CALLBACK(&C_dlgRenderState::OnChanged), this);
        }
        g_object_set_data(G_OBJECT(widget), "vexamont-state", const_cast<Control*>(&c));
    }
    const ColumnLayout& right = kColumns[1];
    AddStatic(L"D3DRS_AMBIENT", {right.label, RowY(5) + 3, 70, 9});
    Place(gtk_button_new_with_label(U8(L"Выбрать цвет").c_str()), {286, RowY(5), 68, 15}, IDC_AMBIENT_COLOUR);
    Load();
}

void C_dlgRenderState::Load()
{
    m_Loading = true;
    for (const Control& c : kControls) {
        const std::wstring name = L"RenderState" + std::to_wstring(c.number);
        const std::wstring state = m_State.GetState(name.c_str(), 1);
        const std::wstring value = m_State.GetState(name.c_str(), 2);
        int index = -1;
        for (int i = 0; i < c.count; ++i)
            if (value == c.values[i]) index = i;
        // A depth buffer using w is still a depth buffer: shown as on and
        // left as it is until the user changes it.
        if (c.id == IDC_ZENABLE && value == L"D3DZB_USEW") index = 0;
        const bool readable =
            index >= 0 && state == c.state && m_State.GetStateClass(name.c_str()) == L"C_RenderState";
        if (!readable) {
            for (int i = 0; i < c.count; ++i)
                if (std::wcscmp(c.defaultValue, c.values[i]) == 0) index = i;
            m_State.SetState(name.c_str(), L"C_RenderState",
                             (std::wstring(c.state) + L"; " + c.defaultValue + L";").c_str());
        }
        GtkWidget* widget = GetDlgItem(c.id);
        if (c.check) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), index == 0);
        else gtk_combo_box_set_active(GTK_COMBO_BOX(widget), index);
    }
    m_Loading = false;
    ApplyDependencies();
}

void C_dlgRenderState::Write(const Control& c)
{
    GtkWidget* widget = GetDlgItem(c.id);
    const int index = c.check ? (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget)) ? 0 : 1)
                              : gtk_combo_box_get_active(GTK_COMBO_BOX(widget));
    if (index < 0 || index >= c.count) return;
    const std::wstring name = L"RenderState" + std::to_wstring(c.number);
    m_State.SetState(name.c_str(), L"C_RenderState", (std::wstring(c.state) + L"; " + c.values[index] + L";").c_str());
}

void C_dlgRenderState::ApplyDependencies()
{
    GtkWidget* zEnable = GetDlgItem(IDC_ZENABLE);
    GtkWidget* zWrite = GetDlgItem(IDC_ZWRITEENABLE);
    const bool depth = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(zEnable));
    // Without a depth buffer there is nothing to write into: z-write is
    // cleared (and so written) and cannot be switched on.
    if (!depth) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(zWrite), FALSE);
    gtk_widget_set_sensitive(zWrite, depth);
    const bool blending = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(GetDlgItem(IDC_ALPHABLENDENABLE)));
    gtk_widget_set_sensitive(GetDlgItem(IDC_SRCBLEND), blending);
    gtk_widget_set_sensitive(GetDlgItem(IDC_DESTBLEND), blending);
}

void C_dlgRenderState::OnChanged(GtkWidget* widget, gpointer data)
{
    auto* page = static_cast<C_dlgRenderState*>(data);
    const auto* control = static_cast<const Control*>(g_object_get_data(G_OBJECT(widget), "vexamont-state"));
    if (page->m_Loading || !control) return;
    page->Write(*control);
    if (control->id == IDC_ZENABLE || control->id == IDC_ALPHABLENDENABLE) page->ApplyDependencies();
}

// ---------------------------------------------------------------------------
// Page 131
// ---------------------------------------------------------------------------
C_dlgSamplerState::C_dlgSamplerState(const C_DialogUnits& units)
    : C_DlgTabCtrl(L"SamplerState", units)
{
}

// ---------------------------------------------------------------------------
// The dialog
// ---------------------------------------------------------------------------
CVexamontDlg::CVexamontDlg() = default;

CVexamontDlg::~CVexamontDlg()
{
    if (m_Window) gtk_widget_destroy(m_Window);
    m_Window = nullptr;
    // The pages go first: the render-state page saves its file as it goes,
    // then the settings object writes the "Video" section and saves.
    m_RenderState.reset();
    m_MainSettings.reset();
    m_SamplerState.reset();
}

bool CVexamontDlg::Create()
{
    if (m_Window) return true;
    if (!gdk_display_get_default()) return false;
    VexamontInstallStyle();

    m_Window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_style_context_add_class(gtk_widget_get_style_context(m_Window), "vexamont");
    gtk_window_set_title(GTK_WINDOW(m_Window), "Vexamont");
    gtk_window_set_resizable(GTK_WINDOW(m_Window), FALSE);
    gtk_window_set_position(GTK_WINDOW(m_Window), GTK_WIN_POS_CENTER);
    if (GdkPixbuf* icon = IconPixbuf()) {
        gtk_window_set_icon(GTK_WINDOW(m_Window), icon);
        g_object_unref(icon);
    }
    g_signal_connect(m_Window, "delete-event", G_CALLBACK(&CVexamontDlg::OnDelete), this);
    g_signal_connect(m_Window, "key-press-event", G_CALLBACK(&CVexamontDlg::OnKey), this);
    g_signal_connect(m_Window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer dialog) {
                         static_cast<CVexamontDlg*>(dialog)->m_Window = nullptr;
                     }),
                     this);

    m_Units = std::make_unique<C_DialogUnits>(m_Window);
    const C_DialogUnits& u = *m_Units;
    m_Fixed = gtk_fixed_new();
    gtk_widget_set_size_request(m_Fixed, u.X(402), u.Y(286));
    gtk_container_add(GTK_CONTAINER(m_Window), m_Fixed);
    auto place = [&](GtkWidget* widget, DluRect r, int id = 0) {
        gtk_widget_set_size_request(widget, u.X(r.cx), u.Y(r.cy));
        gtk_fixed_put(GTK_FIXED(m_Fixed), widget, u.X(r.x), u.Y(r.y));
        if (id) m_Items[id] = widget;
        return widget;
    };

    place(FrameWidget(L" Настройки 3D видеоустройства "), {7, 4, 388, 190});
    GtkWidget* notebook = place(gtk_notebook_new(), {14, 16, 374, 155}, IDC_TABS);
    m_Tabs.Create(notebook);
    GtkWidget* save = place(gtk_button_new_with_label(U8(L"Сохранить изменения").c_str()), {298, 175, 90, 15}, IDC_SAVE);
    place(FrameWidget(L"Тест"), {7, 198, 100, 81});
    GtkWidget* check = place(gtk_button_new_with_label(U8(L"Проверить").c_str()), {17, 213, 80, 15}, IDC_CHECK);
    place(FrameWidget(L"Лог"), {113, 198, 282, 81});
    GtkWidget* log = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(log), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(log), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(log), GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(log), 2);
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroll), log);
    place(scroll, {120, 210, 268, 63});
    m_Items[IDC_LOG] = log;

    g_signal_connect(save, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                         static_cast<CVexamontDlg*>(d)->OnSaveChanges();
                     }),
                     this);
    g_signal_connect(check, "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                         static_cast<CVexamontDlg*>(d)->OnCheck();
                     }),
                     this);

    // The start of the dialog: the three tabs in order, then the settings
    // into the controls.
    m_MainSettings = std::make_unique<C_dlgMainSettings>(u);
    m_RenderState = std::make_unique<C_dlgRenderState>(u);
    m_SamplerState = std::make_unique<C_dlgSamplerState>(u);
    m_Tabs.InsertItem(*m_MainSettings);
    m_Tabs.InsertItem(*m_RenderState);
    m_Tabs.InsertItem(*m_SamplerState);
    g_signal_connect(m_MainSettings->GetDlgItem(IDC_SCREEN_SIZE), "clicked", G_CALLBACK(+[](GtkButton*, gpointer d) {
                         static_cast<CVexamontDlg*>(d)->OnScreenSize();
                     }),
                     this);
    g_signal_connect(m_RenderState->GetDlgItem(IDC_AMBIENT_COLOUR), "clicked",
                     G_CALLBACK(+[](GtkButton*, gpointer d) { static_cast<CVexamontDlg*>(d)->OnAmbientColour(); }),
                     this);
    ExchangeSettings(false);

    // What went wrong with the files shows in the log from the start.
    AddLog(m_Settings.TakeNotes());
    AddLog(m_RenderState->State().TakeNotes());
    gtk_widget_show_all(m_Fixed);
    return true;
}

int CVexamontDlg::DoModal()
{
    if (!Create()) return IDCANCEL;
    gtk_widget_show(m_Window);
    m_Modal = true;
    while (m_Window) gtk_main_iteration();
    m_Modal = false;
    return IDCANCEL;
}

void CVexamontDlg::Close()
{
    if (m_Testing) {
        m_CloseAfterTest = true;
        return;
    }
    EndDialog();
}

void CVexamontDlg::EndDialog()
{
    if (m_Window) gtk_widget_destroy(m_Window);
    m_Window = nullptr;
}

gboolean CVexamontDlg::OnDelete(GtkWidget*, GdkEvent*, gpointer dialog)
{
    static_cast<CVexamontDlg*>(dialog)->Close();
    return TRUE;
}

gboolean CVexamontDlg::OnKey(GtkWidget*, GdkEventKey* event, gpointer dialog)
{
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    static_cast<CVexamontDlg*>(dialog)->Close();
    return TRUE;
}

GtkWidget* CVexamontDlg::GetDlgItem(int id) const
{
    const auto found = m_Items.find(id);
    if (found != m_Items.end()) return found->second;
    for (const C_DlgTabCtrl* page : {static_cast<const C_DlgTabCtrl*>(m_MainSettings.get()),
                                     static_cast<const C_DlgTabCtrl*>(m_RenderState.get()),
                                     static_cast<const C_DlgTabCtrl*>(m_SamplerState.get())})
        if (page)
            if (GtkWidget* item = page->GetDlgItem(id)) return item;
    return nullptr;
}

std::wstring CVexamontDlg::ExchangeSettings(bool toSettings)
{
    if (!m_MainSettings) return {};
    static const int kFilters[] = {D3DTEXF_NONE, D3DTEXF_POINT, D3DTEXF_LINEAR, D3DTEXF_ANISOTROPIC,
                                   D3DTEXF_PYRAMIDALQUAD, D3DTEXF_GAUSSIANQUAD};
    C_Direct3D9Settings& s = m_Settings;
    D3DPRESENT_PARAMETERS& p = s.PresentParameters;
    GtkComboBox* adapterType = GTK_COMBO_BOX(GetDlgItem(IDC_ADAPTER_TYPE));
    GtkEntry* width = GTK_ENTRY(GetDlgItem(IDC_WIDTH));
    GtkEntry* height = GTK_ENTRY(GetDlgItem(IDC_HEIGHT));
    GtkToggleButton* windowed = GTK_TOGGLE_BUTTON(GetDlgItem(IDC_WINDOWED));
    GtkToggleButton* fullScreen = GTK_TOGGLE_BUTTON(GetDlgItem(IDC_FULL_SCREEN));
    GtkComboBox* filter = GTK_COMBO_BOX(GetDlgItem(IDC_TEXTURE_FILTER));
    GtkComboBox* multisample = GTK_COMBO_BOX(GetDlgItem(IDC_MULTISAMPLE));

    if (!toSettings) {
        gtk_combo_box_set_active(adapterType, s.AdapterType >= 1 && s.AdapterType <= 3 ? s.AdapterType - 1 : -1);
        gtk_entry_set_text(width, std::to_string(static_cast<int>(p.BackBufferWidth)).c_str());
        gtk_entry_set_text(height, std::to_string(static_cast<int>(p.BackBufferHeight)).c_str());
        gtk_button_clicked(GTK_BUTTON(p.Windowed ? windowed : fullScreen));
        int filterIndex = -1;
        for (int i = 0; i < 6; ++i)
            if (kFilters[i] == s.TextureFilterType) filterIndex = i;
        gtk_combo_box_set_active(filter, filterIndex);
        const int samples = static_cast<int>(p.MultiSampleType);
        gtk_combo_box_set_active(multisample, samples >= 0 && samples <= 16 ? samples : -1);
        return {};
    }

    // A list without a selection leaves its setting as it was.
    const int type = gtk_combo_box_get_active(adapterType);
    if (type >= 0 && type <= 2) s.AdapterType = type + 1;
    const int w = ToInt(Wide(gtk_entry_get_text(width)));
    const int h = ToInt(Wide(gtk_entry_get_text(height)));
    p.BackBufferWidth = static_cast<UINT>(w);
    p.BackBufferHeight = static_cast<UINT>(h);
    if (gtk_toggle_button_get_active(windowed)) p.Windowed = TRUE;
    else if (gtk_toggle_button_get_active(fullScreen)) p.Windowed = FALSE;
    const int filterIndex = gtk_combo_box_get_active(filter);
    if (filterIndex >= 0 && filterIndex < 6) s.TextureFilterType = kFilters[filterIndex];
    const int samples = gtk_combo_box_get_active(multisample);
    if (samples >= 0 && samples <= 16) {
        // Only a type with quality levels keeps its level.
        if (samples != static_cast<int>(p.MultiSampleType)) p.MultiSampleQuality = 0;
        p.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(samples);
    }

    std::wstring notes;
    if (w < 1 || w > 16384 || h < 1 || h > 16384)
        notes = L"Разрешение " + std::to_wstring(w) + L" X " + std::to_wstring(h) +
                L" не годится для устройства (от 1 до 16384 точек по каждой стороне).\r\n";
    return notes;
}

void CVexamontDlg::AddLog(const std::wstring& text)
{
    if (text.empty()) return;
    m_Log += text;
    ShowLog();
}

void CVexamontDlg::ShowLog()
{
    GtkWidget* log = GetDlgItem(IDC_LOG);
    if (!log) return;
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(log));
    gtk_text_buffer_set_text(buffer, U8(m_Log).c_str(), -1);
    // The newest line stays in view; the scroll waits for the new text's
    // layout, so the mark must outlive this call.
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    GtkTextMark* mark = gtk_text_buffer_get_mark(buffer, "vexamont-end");
    if (mark) gtk_text_buffer_move_mark(buffer, mark, &end);
    else mark = gtk_text_buffer_create_mark(buffer, "vexamont-end", &end, FALSE);
    gtk_text_view_scroll_to_mark(GTK_TEXT_VIEW(log), mark, 0.0, TRUE, 0.0, 1.0);
}

void CVexamontDlg::OnScreenSize()
{
    ExchangeSettings(true);
    // The monitor the dialog is on, in device pixels.
    GdkDisplay* display = m_Window ? gtk_widget_get_display(m_Window) : gdk_display_get_default();
    GdkMonitor* monitor = nullptr;
    if (display && m_Window && gtk_widget_get_window(m_Window))
        monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(m_Window));
    if (display && !monitor) monitor = gdk_display_get_primary_monitor(display);
    if (display && !monitor) monitor = gdk_display_get_monitor(display, 0);
    if (monitor) {
        GdkRectangle area{};
        gdk_monitor_get_geometry(monitor, &area);
        const int scale = gdk_monitor_get_scale_factor(monitor);
        m_Settings.PresentParameters.BackBufferWidth = static_cast<UINT>(area.width * scale);
        m_Settings.PresentParameters.BackBufferHeight = static_cast<UINT>(area.height * scale);
    }
    ExchangeSettings(false);
}

void CVexamontDlg::OnSaveChanges() { AddLog(ExchangeSettings(true)); }

void CVexamontDlg::OnAmbientColour() { VexamontMessageBox(L"Не реализовано"); }

void CVexamontDlg::OnCheck()
{
    if (m_Testing) return;
    const std::wstring notes = ExchangeSettings(true);
    m_Log.clear();
    AddLog(notes);
    ShowLog();
    if (!RunDeviceTest()) {
        AddLog(L"Ошибка!\r\n");
        AddLog(L"Невозможно создать 3D окно с выбранными параметрами.\r\n");
        if (!m_LastFailure.empty()) AddLog(L"Причина: " + m_LastFailure + L".\r\n");
    }
    ExchangeSettings(false);
    if (m_CloseAfterTest) {
        m_CloseAfterTest = false;
        EndDialog();
    }
}

bool CVexamontDlg::RunDeviceTest()
{
    // The dialog stays painted while the cube spins, but nothing in it can
    // be used until the test is over.
    m_Testing = true;
    GtkWidget* controls[] = {GetDlgItem(IDC_TABS), GetDlgItem(IDC_SAVE), GetDlgItem(IDC_CHECK)};
    for (GtkWidget* control : controls)
        if (control) gtk_widget_set_sensitive(control, FALSE);
    const C_DeviceTestResult result = C_DeviceTest::RunDeviceTest(
        m_Settings,
        [this](const std::wstring& text) {
            AddLog(text);
            PumpDialogEvents();
        },
        &PumpDialogEvents);
    for (GtkWidget* control : controls)
        if (control && m_Window) gtk_widget_set_sensitive(control, TRUE);
    // The test window took the focus; the dialog is the user's again.
    if (m_Window) gtk_window_present(GTK_WINDOW(m_Window));
    m_Testing = false;
    m_LastFrames = result.frames;
    m_LastFailure = result.success ? std::wstring() : result.failure;
    return result.success;
}

bool CVexamontDlg::WriteScreenshot(const std::string& file)
{
    if (!m_Window) return false;
    // Changes made just before (a page switched, controls enabled, log
    // lines added) reach the picture with the window's next paint.
    // The picture shows the dialog as the user at work sees it: with the
    // focus (a display without a window manager gives it to nobody).
    gtk_widget_unset_state_flags(m_Window, GTK_STATE_FLAG_BACKDROP);
    GdkFrameClock* clock = gtk_widget_get_frame_clock(m_Window);
    if (clock) {
        bool painted = false;
        const gulong handler = g_signal_connect_swapped(
            clock, "after-paint", G_CALLBACK(+[](bool* flag) { *flag = true; }), &painted);
        gtk_widget_queue_draw(m_Window);
        gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_PAINT);
        const gint64 deadline = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
        while (!painted && g_get_monotonic_time() < deadline) {
            if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
        }
        g_signal_handler_disconnect(clock, handler);
    }
    gtk_container_check_resize(GTK_CONTAINER(m_Window));
    const int width = gtk_widget_get_allocated_width(m_Window);
    const int height = gtk_widget_get_allocated_height(m_Window);
    if (width <= 1 || height <= 1) return false;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(m_Window, cr);
    cairo_destroy(cr);
    const bool written = cairo_surface_write_to_png(surface, file.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return written;
}
