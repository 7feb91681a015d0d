// HTML drawer speed: a 2 KB marked-up text with headings, styled runs,
// entities and a table with a gradient background, laid out and drawn into a
// 512 x 512 panel; the markup reading alone; and the whole load of a
// 512 x 512 C_GUIHtmlOutput on a real (headless) device: the texture and
// surface made, the device context, the drawing, the colour key over every
// pixel and the uploads.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_device.h"
#include "../tests/port/d3d9/device_setup.h"
#include "Common/Environment.h"
#include "Common/FilePath.h"
#include "Logger/Logger.h"
#include "Render/GUI/GUIHtmlOutput.h"
#include "Render/GUI/HtmlDrawer.h"
#include "Render/Resources/D3DXSTRING.h"
#include "ResourceManager/FromFactory.h"
#include "port/win32/afxwin.h"
#include "Render/GUI/HtmlMarkup.h"
#include "port/d3dx9/wingdi.h"

namespace {

std::wstring PanelText() {
    std::wstring s =
        L"<h2>Machine status</h2><p>Spindle and axes report every frame.</p>"
        L"Plain text with <b>bold</b>, <i>italic</i>, <u>underlined</u> and <code>G01 X10 Y20</code> words, "
        L"entities &copy; &bull; &euro; &trade; and a <a href=\"help\">link</a>. "
        L"<font face=\"Courier New\" color=#006600 bkgnd=#eeffee>monospaced run</font> x<sub>2</sub> y<sup>3</sup>."
        L"<table border=1 cellpadding=3 cellspacing=2 bgcolor=#ddeeff bgendcolor=#6688aa bgeffect=vgradient "
        L"width=100%><tr><td rowspan=2 bgcolor=#ffcc99 bgeffect=softbump>Axis</td><td>X</td><td>Y</td><td>Z</td></tr>"
        L"<tr><td>10.000</td><td>20.000</td><td>-5.250</td></tr>"
        L"<tr><td colspan=4 align=center bgcolor=gold bgeffect=hardbump>Feed 1200 mm/min</td></tr>"
        L"<tr><td bgeffect=metal bgcolor=silver>Tool</td><td colspan=3>End mill, 6 mm, two flutes</td></tr></table>"
        L"<hr width=80%><center>Centred note about the cycle.</center>";
    while (s.size() < 2048)
        s += L"<span class=cpp-comment>// comment line, wrapped where it must.</span> More words follow; "
             L"they break at spaces, dashes-and commas.<br>";
    return s.substr(0, s.rfind(L'<'));
}

struct Canvas {
    Canvas() {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = 512;
        info.bmiHeader.biHeight = -512;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        dc = CreateCompatibleDC(nullptr);
        SelectObject(dc, bitmap);
    }
    ~Canvas() {
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    HBITMAP bitmap;
    HDC dc;
};

void BM_HtmlPanel2KB(benchmark::State& state) {
    const std::wstring text = PanelText();
    Canvas canvas;
    C_HtmlDrawer& drawer = C_HtmlDrawer::Instance();
    for (auto _ : state) {
        const SIZE size = drawer.DrawPanel(canvas.dc, 512, text, 10, 10);
        benchmark::DoNotOptimize(size);
    }
    state.counters["chars"] = (double)text.size();
}
BENCHMARK(BM_HtmlPanel2KB)->Unit(benchmark::kMillisecond);

void BM_HtmlMarkupRead2KB(benchmark::State& state) {
    const std::wstring text = PanelText();
    for (auto _ : state) benchmark::DoNotOptimize(html::Tokenize(html::ExpandEntities(text)));
}
BENCHMARK(BM_HtmlMarkupRead2KB)->Unit(benchmark::kMicrosecond);


void BM_HtmlPanelLoad512(benchmark::State& state) {
    // No text.ini and no log files: the program folder is the temporary one
    // and messages stay in memory.
    VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(std::filesystem::temp_directory_path()));
    logger::Logger::Activate(logger::Mock);
    BenchDevice& device = Dev();
    if (!device.device) {
        state.SkipWithError("no device");
        return;
    }
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"BenchPanelText = " + PanelText());
    auto* panel = dynamic_cast<C_GUIHtmlOutput*>(C_FromFactory(L"C_GUIHtmlOutput").Create());
    if (!panel) {
        state.SkipWithError("no panel class");
        return;
    }
    panel->SetName(L"BenchPanel");
    panel->SetValue(L"512; 512; ; ; BenchPanelText; 10; 10;");
    for (auto _ : state) {
        panel->Load(device.device);
        if (!panel->Surface) {
            state.SkipWithError("the panel made no surface");
            break;
        }
        state.PauseTiming();
        panel->Unload();
        state.ResumeTiming();
    }
    panel->Unload();
    panel->ReleaseToPool();
}
BENCHMARK(BM_HtmlPanelLoad512)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
