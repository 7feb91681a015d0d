// The HTML drawer: markup syntax, entities, colours and lengths, the style
// sheet, layout within the maximum width, tables, backgrounds, pictures and
// hostile markup, checked through what it draws.
#include <gtest/gtest.h>

#include <climits>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <unistd.h>

#include "Common/Environment.h"
#include "engine_support/ObjectTestClasses.h"
#include "Render/GUI/HtmlCanvas.h"
#include "Render/GUI/HtmlDrawer.h"
#include "Render/GUI/HtmlEffects.h"
#include "Render/GUI/HtmlMarkup.h"
#include "Render/GUI/HtmlStyle.h"
#include "Render/Resources/D3DXSTRING.h"

namespace {

C_HtmlDrawer& Drawer() { return C_HtmlDrawer::Instance(); }

// Draws markup into a fresh white canvas with the given margins.
SIZE Draw(HtmlCanvas& canvas, const std::wstring& markup, int left = 0, int top = 0) {
    return Drawer().DrawPanel(canvas.dc(), canvas.width(), markup, left, top);
}

bool SamePixels(const HtmlCanvas& a, const HtmlCanvas& b) {
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.at(x, y) != b.at(x, y)) return false;
    return true;
}

class HtmlDrawerTest : public ::testing::Test {
protected:
    // The program folder of the scene tests in this program: the file
    // manager takes the folder once, at its first use, whichever test that is.
    void SetUp() override { VORTALEX::OverrideProgramFolder(VORTALEX::PathToWide(TestProgramFolder().path())); }
    void TearDown() override { Drawer().ResetStyleSheet(); }
};

} // namespace

// ---------------------------------------------------------------------------
// Markup syntax and entities
// ---------------------------------------------------------------------------
TEST(HtmlMarkup, TagsAttributesAndTheEscapedLessThan) {
    using html::Token;
    auto tokens = html::Tokenize(L"a<<b <FONT Face = 'Arial' size=3 color=\"#ff0000\" nowrap>x</font >y");
    ASSERT_EQ(tokens.size(), 5u);
    EXPECT_EQ(tokens[0].type, Token::Text);
    EXPECT_EQ(tokens[0].text, L"a<b ");
    EXPECT_EQ(tokens[1].type, Token::Open);
    EXPECT_EQ(tokens[1].text, L"font");
    ASSERT_EQ(tokens[1].attributes.size(), 4u);
    EXPECT_EQ(*tokens[1].Find(L"face"), L"Arial");
    EXPECT_EQ(*tokens[1].Find(L"size"), L"3");
    EXPECT_EQ(*tokens[1].Find(L"color"), L"#ff0000");
    ASSERT_NE(tokens[1].Find(L"nowrap"), nullptr); // an attribute without a value
    EXPECT_EQ(*tokens[1].Find(L"nowrap"), L"");
    EXPECT_EQ(tokens[3].type, Token::Close);
    EXPECT_EQ(tokens[3].text, L"font");
    EXPECT_EQ(tokens[4].text, L"y");

    // A quote never closed ends with the tag; what follows is still read.
    tokens = html::Tokenize(L"<td bgcolor=\"red>cell</td>");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(*tokens[0].Find(L"bgcolor"), L"red");
    EXPECT_EQ(tokens[1].text, L"cell");
    // "<" with no tag name, a tag never closed, and comments.
    tokens = html::Tokenize(L"1 < 2 <!-- hidden --><b>x<");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[0].text, L"1 < 2 ");
    EXPECT_EQ(tokens[2].text, L"x<");
    tokens = html::Tokenize(L"x <b class=a");
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].text, L"x <b class=a");
    tokens = html::Tokenize(L"<br/><hr width=50%/>");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].text, L"br");
    EXPECT_EQ(*tokens[1].Find(L"width"), L"50%/");
}

TEST(HtmlMarkup, EntityTable) {
    EXPECT_EQ(html::ExpandEntities(L"&amp;&bull;&copy;&euro;&gt;&iquest;&lt;&nbsp;&para;&pound;&quot;&reg;&trade;"),
              L"&\u2022\u00A9\u20AC>\u00BF<< \u00B6\u00A3\"\u00AE\u2122");
    // Unknown and unterminated entities stay as written; numeric ones work.
    EXPECT_EQ(html::ExpandEntities(L"&nosuch; & &copy &#169;&#x2022;&#0;&#xD800;"),
              L"&nosuch; & &copy \u00A9\u2022&#0;&#xD800;");
    // "&lt;" ends up as a literal "<" once the markup is read.
    auto tokens = html::Tokenize(html::ExpandEntities(L"&lt;b&gt; is bold"));
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].text, L"<b> is bold");
}

// ---------------------------------------------------------------------------
// Colours, lengths and the style sheet
// ---------------------------------------------------------------------------
TEST(HtmlStyle, ColoursInEveryNotation) {
    using html::ParseColour;
    EXPECT_EQ(ParseColour(L"#ff9900"), RGB(255, 153, 0));
    EXPECT_EQ(ParseColour(L" #FF9900 "), RGB(255, 153, 0));
    EXPECT_EQ(ParseColour(L"#f90"), RGB(255, 153, 0));
    EXPECT_EQ(ParseColour(L"0x102030"), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(ParseColour(L"0xff"), RGB(0, 0, 255));
    EXPECT_EQ(ParseColour(L"gold"), RGB(255, 215, 0));
    EXPECT_EQ(ParseColour(L"AliceBlue"), RGB(240, 248, 255));
    EXPECT_EQ(ParseColour(L"yellowgreen"), RGB(154, 205, 50));
    EXPECT_EQ(ParseColour(L"snow"), RGB(255, 250, 250));
    EXPECT_EQ(ParseColour(L"maroon"), RGB(128, 0, 0));
    EXPECT_EQ(ParseColour(L"buttonface"), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(ParseColour(L"infobackground"), GetSysColor(COLOR_INFOBK));
    EXPECT_EQ(ParseColour(L"threeddarkshadow"), GetSysColor(COLOR_3DDKSHADOW));
    EXPECT_EQ(ParseColour(L"#12"), std::nullopt);
    EXPECT_EQ(ParseColour(L"0xZZ"), std::nullopt);
    EXPECT_EQ(ParseColour(L"#gggggg"), std::nullopt);
    EXPECT_EQ(ParseColour(L"0x"), std::nullopt);
    EXPECT_EQ(ParseColour(L"notacolour"), std::nullopt);
    EXPECT_EQ(ParseColour(L""), std::nullopt);
}

TEST(HtmlStyle, LengthsInEveryUnit) {
    auto px = [](const wchar_t* text, double font = 10, double reference = 200) {
        std::optional<html::Length> l = html::ParseLength(text);
        return l ? l->Pixels(font, reference) : -1.0;
    };
    EXPECT_DOUBLE_EQ(px(L"12px"), 12);
    EXPECT_DOUBLE_EQ(px(L"12"), 12);
    EXPECT_NEAR(px(L"10pt"), 13.333, 0.001);
    EXPECT_DOUBLE_EQ(px(L"1pc"), 16);
    EXPECT_DOUBLE_EQ(px(L"1in"), 96);
    EXPECT_NEAR(px(L"2.54cm"), 96, 1e-9);
    EXPECT_NEAR(px(L"25.4mm"), 96, 1e-9);
    EXPECT_DOUBLE_EQ(px(L"2em"), 20);
    EXPECT_DOUBLE_EQ(px(L"2ex"), 10);
    EXPECT_DOUBLE_EQ(px(L"2x"), 10);
    EXPECT_DOUBLE_EQ(px(L"50%"), 100);
    EXPECT_DOUBLE_EQ(px(L"1.5EM"), 15);
    EXPECT_EQ(html::ParseLength(L"px"), std::nullopt);
    EXPECT_EQ(html::ParseLength(L"12furlongs"), std::nullopt);
    EXPECT_EQ(html::ParseLength(L""), std::nullopt);
}

TEST(HtmlStyle, DefaultSheetInItsOrderAndTheRuleGrammar) {
    html::StyleSheet sheet;
    EXPECT_EQ(sheet.Parse(html::DefaultStyleSheet()), 17u);
    const wchar_t* order[] = {L"body", L"p",   L"h1",     L"h2",      L"h3",  L"h4",  L"h5",  L"h6",          L"pre",
                              L"code", L"a:link", L"a:hover", L"sub", L"sup", L"big", L"small", L".cpp-comment"};
    for (size_t i = 0; i < 17; ++i) EXPECT_EQ(sheet.Rules()[i].selector, order[i]);
    html::TextStyle body, text;
    html::BoxStyle box;
    html::Apply(sheet.Find(L"h6"), body, text, box);
    EXPECT_EQ(text.colour, RGB(0x62, 0x62, 0x62));
    EXPECT_NEAR(text.size, body.size * 0.65, 1e-9);
    EXPECT_EQ(text.weight, FW_NORMAL);
    text = body;
    html::Apply(sheet.Find(L"pre"), body, text, box);
    EXPECT_EQ(text.family, L"Courier");
    EXPECT_EQ(box.background, RGB(0xfb, 0xed, 0xbb));

    // Lists of selectors, comments, unknown properties, and a rule left open.
    html::StyleSheet mine;
    EXPECT_EQ(mine.Parse(L"/* { */ h1, .big {color: red; zoom: 3; font-size: 2em !important}\n"
                         L"em {font-style:normal; text-transform: uppercase; text-decoration: underline overline"),
              3u);
    text = body;
    html::Apply(mine.Find(L".big"), body, text, box);
    EXPECT_EQ(text.colour, RGB(255, 0, 0));
    EXPECT_DOUBLE_EQ(text.size, body.size * 2);
    text = body;
    text.italic = true;
    html::Apply(mine.Find(L"EM"), body, text, box);
    EXPECT_FALSE(text.italic);
    EXPECT_EQ(text.transform, html::Transform::Upper);
    EXPECT_TRUE(text.underline && text.overline && !text.strike);
    // Values that do not parse leave the style alone.
    text = body;
    html::Apply(html::ParseDeclarations(L"color:#12; font-size:huge; font-weight:heavy; border-width:thick;"
                                        L"margin:1px 2px 3px; padding:4px; border-style:double"),
                body, text, box);
    EXPECT_EQ(text.colour, body.colour);
    EXPECT_EQ(text.size, body.size);
    EXPECT_EQ(text.weight, body.weight);
    EXPECT_EQ(box.borderWidth, 5.0);
    EXPECT_EQ(box.margin.left, 2.0);
    EXPECT_EQ(box.margin.bottom, 3.0);
    EXPECT_EQ(box.padding.right, 4.0);
    EXPECT_EQ(box.borderStyle, html::BorderStyle::Double);
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------
TEST_F(HtmlDrawerTest, MarginsKeepTextWithinTheMaximumWidth) {
    HtmlCanvas canvas(256, 256);
    const std::wstring text =
        L"Long flowing text that must wrap several times, with punctuation; colons: dashes-and "
        L"parentheses (inside) brackets [here] and braces {there}? Yes! A_very_long_word_without_any_break_in_it_at_all "
        L"<b>bold</b> <big>big words</big> and the end.";
    const SIZE size = Draw(canvas, text, 10, 10);
    const RECT ink = canvas.inked();
    EXPECT_GE(ink.left, 10);
    EXPECT_LE(ink.right, 246);
    EXPECT_GE(ink.top, 10);
    EXPECT_LE(size.cx, 236);
    EXPECT_GT(size.cy, 5 * 13); // it did wrap
    EXPECT_EQ(Drawer().GetMaxWidth(), 236);
}

TEST_F(HtmlDrawerTest, LinesBreakAfterEachBreakCharacter) {
    HtmlCanvas scratch(8, 8);
    HFONT font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, FF_SWISS, L"Verdana");
    HGDIOBJ old = SelectObject(scratch.dc(), font);
    auto width = [&](const std::wstring& s) {
        SIZE e{};
        GetTextExtentPoint32W(scratch.dc(), s.c_str(), (int)s.size(), &e);
        return (int)e.cx;
    };
    for (wchar_t c : std::wstring(L" -.,!:;)}]?x")) {
        const std::wstring text = std::wstring(L"one") + c + L"two";
        const std::wstring head = std::wstring(L"one") + (c == L' ' ? L"" : std::wstring(1, c));
        const int limit = width(std::wstring(L"one") + c + L"tw");
        HtmlCanvas canvas(200, 60);
        Drawer().SetMaxWidth(limit);
        const SIZE size = Drawer().Draw(canvas.dc(), text, POINT{0, 0});
        const int lines = std::max(width(head), width(L"two"));
        if (c == L'x') {
            // No break character: the word is cut where the line ends.
            EXPECT_GT(size.cx, lines + 1);
        } else {
            EXPECT_LE(size.cx, lines + 1) << "break after '" << (char)c << "'";
        }
        EXPECT_LE(size.cx, limit);
        HtmlCanvas wide(200, 60);
        Drawer().SetMaxWidth(200);
        EXPECT_LT(Drawer().Draw(wide.dc(), text, POINT{0, 0}).cy, size.cy) << "one line when there is room";
    }
    SelectObject(scratch.dc(), old);
    DeleteObject(font);
}

TEST_F(HtmlDrawerTest, EntitiesDrawTheirCharacters) {
    for (auto [entity, character] : {std::pair{L"&copy;", L"\u00A9"}, std::pair{L"&bull;", L"\u2022"}}) {
        HtmlCanvas byEntity(64, 32), byCharacter(64, 32), plain(64, 32);
        Draw(byEntity, std::wstring(L"<big>") + entity + L"</big>");
        Draw(byCharacter, std::wstring(L"<big>") + character + L"</big>");
        Draw(plain, L"<big>c</big>");
        EXPECT_GT(byEntity.count(0x000000, 60), 3);
        EXPECT_TRUE(SamePixels(byEntity, byCharacter)) << "entity " << (entity[1] == 'c' ? "copy" : "bull");
        EXPECT_FALSE(SamePixels(byEntity, plain));
    }
}

TEST_F(HtmlDrawerTest, DefaultSheetColoursReachThePixels) {
    HtmlCanvas canvas(256, 128);
    Draw(canvas, L"<h2>Orange heading</h2><code>code = 1;</code> plain <h3>h3</h3>", 4, 4);
    EXPECT_GT(canvas.count(0xFF9900), 20);
    EXPECT_GT(canvas.count(0x990000, 24), 5);
    HtmlCanvas plain(256, 64);
    Draw(plain, L"plain black text only");
    EXPECT_EQ(plain.count(0xFF9900, 40), 0);
    EXPECT_EQ(plain.count(0x990000, 40), 0);
    EXPECT_GT(plain.count(0x000000), 10);
    // Headings are bigger than body text; sub and sup are smaller and shifted.
    HtmlCanvas h1(256, 64), body(256, 64);
    const SIZE big = Draw(h1, L"<h1>Hh</h1>");
    const SIZE small = Draw(body, L"Hh");
    EXPECT_GT(big.cx, small.cx);
    EXPECT_GT(h1.inked().bottom - h1.inked().top, body.inked().bottom - body.inked().top);
    HtmlCanvas alone(100, 40), sub(100, 40), sup(100, 40);
    Draw(alone, L"<big>H</big>");
    Draw(sub, L"<big>H</big><sub>x</sub>");
    Draw(sup, L"<big>H</big><sup>x</sup>");
    auto rows = [&](const HtmlCanvas& c) { // ink right of the capital
        int top = 40, bottom = -1;
        for (int y = 0; y < 40; ++y)
            for (int x = alone.inked().right + 1; x < 100; ++x)
                if (c.at(x, y) != 0xFFFFFF) top = std::min(top, y), bottom = std::max(bottom, y);
        return std::pair{top, bottom};
    };
    const auto [subTop, subBottom] = rows(sub);
    const auto [supTop, supBottom] = rows(sup);
    ASSERT_GE(subBottom, 0);
    ASSERT_GE(supBottom, 0);
    EXPECT_GT(subBottom, supBottom + 2);
    EXPECT_LT(supTop, subTop - 2);
}

TEST_F(HtmlDrawerTest, StylesFromTagsClassesSheetsAndAttributes) {
    Drawer().AddStyleSheet(L".warn {color:#00c000; font-weight:bold}");
    HtmlCanvas canvas(300, 120);
    Draw(canvas, L"<span class=warn>green</span> <font color=0x0000ff bkgnd=yellow size=5>blue</font> "
                 L"<span style=\"color:red; background-color:#00ffff\">red</span>"
                 L"<style>.mine {color: fuchsia}</style><span class=mine>pink</span>");
    EXPECT_GT(canvas.count(0x00C000), 10);
    EXPECT_GT(canvas.count(0x0000FF), 10);
    EXPECT_GT(canvas.count(0xFFFF00), 100); // the font's background
    EXPECT_GT(canvas.count(0xFF0000), 5);
    EXPECT_GT(canvas.count(0x00FFFF), 100);
    EXPECT_GT(canvas.count(0xFF00FF, 40), 5);
    // A sheet given inside one text does not outlive it.
    HtmlCanvas later(300, 40);
    Draw(later, L"<span class=mine>pink</span>");
    EXPECT_EQ(later.count(0xFF00FF, 40), 0);
    Drawer().ResetStyleSheet();
    HtmlCanvas reset(300, 40);
    Draw(reset, L"<span class=warn>green</span>");
    EXPECT_EQ(reset.count(0x00C000, 40), 0);
    // Text transforms.
    HtmlCanvas upper(300, 40), written(300, 40);
    Draw(upper, L"<span style=\"text-transform:uppercase\">abc</span>");
    Draw(written, L"ABC");
    EXPECT_TRUE(SamePixels(upper, written));
}

TEST_F(HtmlDrawerTest, AlignmentTagsPlaceLines) {
    HtmlCanvas left(200, 30), centre(200, 30), right(200, 30);
    Draw(left, L"<left>word</left>");
    Draw(centre, L"<center>word</center>");
    Draw(right, L"<right>word</right>");
    EXPECT_LT(left.inked().left, 3);
    EXPECT_NEAR((centre.inked().left + centre.inked().right) / 2, 100, 4);
    EXPECT_GE(right.inked().right, 196);
    // Justified lines reach both edges, but not the paragraph's last line.
    HtmlCanvas justified(200, 200);
    Draw(justified, L"<justify>aaa bbb ccc ddd eee fff ggg hhh iii jjj kkk lll mmm nnn ooo ppp qqq rrr sss</justify>");
    int fullRows = 0;
    for (int y = 0; y < 14; ++y)
        for (int x = 195; x < 200; ++x) fullRows += justified.at(x, y) != 0xFFFFFF;
    EXPECT_GT(fullRows, 0);
}

TEST_F(HtmlDrawerTest, PreformattedTextRulesAndBreaks) {
    // Line feeds break lines only inside pre, which keeps its sheet background.
    HtmlCanvas flowing(256, 80), pre(256, 80), oneLine(256, 80);
    const SIZE a = Draw(flowing, L"first\nsecond");
    const SIZE b = Draw(pre, L"<pre>first\nsecond</pre>");
    const SIZE c = Draw(oneLine, L"<pre>first second</pre>");
    EXPECT_LT(a.cy, b.cy);
    EXPECT_LT(c.cy, b.cy);
    EXPECT_EQ(pre.at(250, 2), 0xFBEDBBu); // the block is as wide as the panel
    EXPECT_EQ(flowing.count(0xFBEDBB), 0);
    // br breaks; t moves to the next tab stop.
    HtmlCanvas broken(256, 80), tabbed(256, 80), plain(256, 80);
    EXPECT_GT(Draw(broken, L"x<br>y").cy, Draw(plain, L"x y").cy);
    Draw(tabbed, L"<t>y");
    EXPECT_GT(tabbed.inked().left, 40);
    // A rule across the whole width, or a share of it.
    HtmlCanvas full(200, 40), half(200, 40);
    Draw(full, L"<hr>");
    Draw(half, L"<hr width=50%>");
    EXPECT_EQ(full.inked().left, 0);
    EXPECT_EQ(full.inked().right, 200);
    EXPECT_EQ(half.inked().right - half.inked().left, 100);
    EXPECT_GT(full.count(0x808080), 150); // the etched line's shadow
}

TEST_F(HtmlDrawerTest, TablesSpanRowsAndColumnsWithCellColours) {
    HtmlCanvas canvas(256, 256);
    const SIZE size = Draw(canvas,
                           L"<table cellpadding=4 cellspacing=2 border=1 bordercolor=black>"
                           L"<tr><td rowspan=2 bgcolor=#ff0000 width=60>tall</td><td bgcolor=#00ff00 width=80>a</td>"
                           L"<td bgcolor=#0000ff width=80>b</td></tr>"
                           L"<tr><td colspan=2 bgcolor=#ffff00 height=40>wide</td></tr></table>after",
                           0, 0);
    // The tall cell runs down past both rows; the wide one under both columns.
    int redTop = 256, redBottom = -1, yellowLeft = 256, yellowRight = -1, greenBottom = -1;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint32_t p = canvas.at(x, y);
            if (p == 0xFF0000) redTop = std::min(redTop, y), redBottom = std::max(redBottom, y);
            if (p == 0xFFFF00) yellowLeft = std::min(yellowLeft, x), yellowRight = std::max(yellowRight, x);
            if (p == 0x00FF00) greenBottom = std::max(greenBottom, y);
        }
    ASSERT_GE(redBottom, 0);
    ASSERT_GE(yellowRight, 0);
    EXPECT_GT(redBottom, greenBottom + 30); // through the 40-pixel second row
    EXPECT_LT(yellowLeft, 100);
    EXPECT_GT(yellowRight - yellowLeft, 150);
    int blueLeft = 256;
    for (int x = 0; x < 256; ++x)
        if (canvas.at(x, 10) == 0x0000FF) blueLeft = std::min(blueLeft, x);
    EXPECT_GE(blueLeft, 60 + 80);
    EXPECT_GT(size.cy, 40 + 20);
    // Text after the table starts below it.
    EXPECT_GT(canvas.inked().bottom, redBottom + 5);
}

TEST_F(HtmlDrawerTest, EveryBackgroundEffectLooksDifferent) {
    const wchar_t* names[] = {L"transparent", L"solid",     L"hgradient", L"vgradient", L"hcgradient", L"vcgradient",
                              L"3hgradient",  L"3vgradient", L"noise",     L"diagshade", L"hshade",     L"vshade",
                              L"hbump",       L"vbump",     L"softbump",  L"hardbump",  L"metal"};
    std::set<std::vector<uint32_t>> seen;
    for (const wchar_t* name : names) {
        EXPECT_TRUE(html::ParseEffect(name).has_value()) << "effect " << (int)seen.size();
        HtmlCanvas canvas(64, 48);
        Draw(canvas, std::wstring(L"<table cellspacing=0 cellpadding=0><tr><td width=64 height=48 bgcolor=#3366cc "
                                  L"bgmidcolor=#ffffff bgendcolor=#99ccff bgeffect=") +
                         name + L"></td></tr></table>");
        std::vector<uint32_t> pixels(canvas.bits(), canvas.bits() + 64 * 48);
        for (uint32_t& p : pixels) p &= 0xFFFFFF;
        EXPECT_TRUE(seen.insert(pixels).second) << "effect " << (int)seen.size() << " repeats another";
        if (std::wstring(name) == L"transparent") {
            EXPECT_EQ(canvas.count(0xFFFFFF), 64 * 48);
        }
        if (std::wstring(name) == L"solid") {
            EXPECT_EQ(canvas.count(0x3366CC), 64 * 48);
        }
    }
    EXPECT_FALSE(html::ParseEffect(L"sparkle").has_value());
    EXPECT_EQ(html::ParseEffect(L"HGradient"), html::Background::HGradient);
}

TEST_F(HtmlDrawerTest, LinksUseTheirStyleAndReportTheirArea) {
    HtmlCanvas canvas(200, 40);
    Draw(canvas, L"see <a href=\"page.htm\" msg=hello>the link</a> here", 5, 5);
    EXPECT_GT(canvas.count(0x0000FF), 10);
    ASSERT_EQ(Drawer().GetLinks().size(), 1u);
    const C_HtmlDrawer::LinkArea& link = Drawer().GetLinks()[0];
    EXPECT_EQ(link.href, L"page.htm");
    EXPECT_EQ(link.msg, L"hello");
    EXPECT_GT(link.rect.left, 5);
    EXPECT_GT(link.rect.right, link.rect.left + 20);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x)
            if (canvas.at(x, y) == 0x0000FF) {
                EXPECT_GE(x, link.rect.left);
                EXPECT_LT(x, link.rect.right);
            }
}

TEST_F(HtmlDrawerTest, PicturesFromFilesAndResourcesWithoutThem) {
    // A 2 x 1 24-bit BMP: red then blue, in the program folder.
    const std::filesystem::path folder =
        std::filesystem::path(VORTALEX::PathToProgram().str()) / ("html_pictures_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        const unsigned char bmp[] = {
            'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,        // file header
            40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0,      // info: 2 x 1, 24 bits
            0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
            0, 0, 255, 255, 0, 0, 0, 0,                            // red, blue (BGR), padding
        };
        std::ofstream(folder / "strip.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bmp), sizeof bmp);
    }
    const std::wstring file = L"html_pictures_" + std::to_wstring(::getpid()) + L"\\strip.bmp";
    HtmlCanvas canvas(200, 40);
    Draw(canvas, L"<bmp file=\"" + file + L"\" width=20 height=10><ilst file=\"" + file +
                     L"\" index=1 cx=1 width=10 height=10>");
    EXPECT_EQ(canvas.at(2, 5), 0xFF0000u);  // left half of the stretched strip
    EXPECT_EQ(canvas.at(17, 5), 0x0000FFu); // right half
    EXPECT_EQ(canvas.at(25, 5), 0x0000FFu); // the list's second picture
    // Resources that only Windows has keep their room and draw nothing.
    HtmlCanvas resource(200, 40), missing(200, 40);
    Draw(resource, L"<icon idres=5 srcdll=shell32.dll cx=40 cy=16>X");
    EXPECT_GE(resource.inked().left, 40);
    Draw(missing, L"<bmp file=\"no such picture.bmp\">X<bmp handle=1234>");
    EXPECT_LT(missing.inked().left, 4);
    std::filesystem::remove_all(folder);
    // String resources are the program's named texts.
    C_D3DXSTRING::C_AllStrings::Instance().AddLine(L"HtmlDrawerGreeting = Hello there");
    HtmlCanvas named(200, 40), written(200, 40), absent(200, 40);
    Draw(named, L"<string idres=HtmlDrawerGreeting>");
    Draw(written, L"Hello there");
    EXPECT_TRUE(SamePixels(named, written));
    Draw(absent, L"<string idres=HtmlDrawerNoSuchKey><string index=7>");
    EXPECT_EQ(absent.inked().right, -1);
}

// ---------------------------------------------------------------------------
// Hostile markup
// ---------------------------------------------------------------------------
TEST_F(HtmlDrawerTest, BadMarkupLaysOutWhatItCan) {
    const std::wstring deep = [] {
        std::wstring s;
        for (int i = 0; i < 10000; ++i) s += i % 2 ? L"<b>" : L"<font color=red>";
        s += L"deep";
        for (int i = 0; i < 10000; ++i) s += i % 2 ? L"</font>" : L"</b>";
        return s;
    }();
    const std::wstring deepTables = [] {
        std::wstring s;
        for (int i = 0; i < 200; ++i) s += L"<table><tr><td>";
        return s + L"inner";
    }();
    const std::wstring megabyte = [] {
        std::wstring s;
        const std::wstring piece = L"<b>word</b> <i>text</i> &amp; more, <td>";
        while (s.size() < 1000000) s += piece;
        return s;
    }();
    const std::wstring bigTable = [] {
        std::wstring s = L"<table border=1>";
        for (int r = 0; r < 300; ++r) {
            s += L"<tr>";
            for (int c = 0; c < 20; ++c) s += L"<td>" + std::to_wstring(r * c) + L"</td>";
        }
        return s + L"</table>";
    }();
    const std::vector<std::wstring> inputs = {
        L"<b><i>unclosed", L"<b>mismatched</i></b></u>", L"ends with <", L"<", L"<<", L"<td>cell outside</tr>",
        L"<font color>no value</font>", L"<font color=\"red>unclosed quote", L"<font face='Arial>x",
        L"<blink>unknown tag</blink>", L"&unknown; &#99999999; &", L"<span style=\"frobnicate: 12\">x</span>",
        L"<font color=#12>x</font><font color=0xZZ>y</font>", L"<style>h1 {color: red", L"<h1>styled?</h1>",
        L"<table><tr><td rowspan=10000>a</td><td colspan=0>b</td></tr><tr><td colspan=100000>c</td></tr></table>",
        L"<table width=1000000 height=1000000 cellpadding=-5 cellspacing=99999><tr><td>x</td></tr></table>",
        L"<hr width=-5><hr width=500%><font size=999>x</font><font size=-999>y</font>",
        L"<bmp width=100000 height=100000><t><t><br><br>", L"</table></tr></td></b>", deep, deepTables, megabyte,
        bigTable,
    };
    for (size_t i = 0; i < inputs.size(); ++i) {
        HtmlCanvas canvas(256, 256);
        const SIZE size = Draw(canvas, inputs[i], 10, 10);
        EXPECT_GE(size.cx, 0) << "input " << i;
        EXPECT_GE(size.cy, 0) << "input " << i;
        const RECT ink = canvas.inked();
        if (ink.right >= 0) {
            EXPECT_GE(ink.left, 10) << "input " << i;
        }
    }
    // Unknown tags and nesting beyond the limit still show their text.
    HtmlCanvas unknown(200, 40);
    Draw(unknown, L"<blink>visible</blink>");
    EXPECT_GT(unknown.count(0x000000, 60), 10);
    HtmlCanvas nested(200, 40);
    Draw(nested, deep);
    EXPECT_GT(nested.count(0x000000, 80) + nested.count(0xFF0000, 80), 10);
    // A margin wider than half the surface: nothing drawn left of it, no crash.
    HtmlCanvas narrow(256, 64);
    Draw(narrow, L"some text that has nowhere to go", 200, 0);
    EXPECT_EQ(Drawer().GetMaxWidth(), 0);
    if (narrow.inked().right >= 0) {
        EXPECT_GE(narrow.inked().left, 200);
    }
    // Margins at the integer limits leave no width rather than wrapping
    // round into a wide one.
    for (const int margin : {INT_MAX, INT_MAX / 2 + 1}) {
        HtmlCanvas far(64, 16);
        Draw(far, L"text", margin, 0);
        EXPECT_EQ(Drawer().GetMaxWidth(), 0) << margin;
        EXPECT_EQ(far.inked().right, -1) << "nothing on the surface";
    }
    Drawer().DrawPanel(narrow.dc(), 256, L"x", INT_MIN / 2, 0);
    EXPECT_EQ(Drawer().GetMaxWidth(), INT_MAX) << "a negative margin widens, up to the limit";
    // A missing drawing context draws nothing.
    EXPECT_EQ(Drawer().Draw(nullptr, L"x", POINT{0, 0}).cy, 0);
}

TEST_F(HtmlDrawerTest, SeededMutationFuzzOfTheMarkup) {
    const std::vector<std::wstring> corpus = {
        L"<h2>Title</h2><p align=center>Para &copy; &bull; <b>bold <i>both</i></b></p>",
        L"<table border=2 bgcolor=gold bgeffect=metal><tr><td rowspan=2>a</td><td colspan=2>b</td></tr>"
        L"<tr><td valign=bottom>c</td><td bgcolor=#123456 bgeffect=noise>d</td></tr></table>",
        L"<style>.x {font-size: 20pt; color: #ff0000}</style><span class=x>big</span><hr width=50%><br>",
        L"<font face=\"Courier New\" size=+2 color=0x00ff00 bkgnd=navy>code</font><sub>2</sub><sup>3</sup>",
        L"<pre>  keep   spaces\n\tand tabs</pre><justify>words words words words</justify><a href=x>link</a>",
    };
    const std::wstring alphabet = L"<>/=\"' &;#abcdefghijklmnopqrstuvwxyz0123456789%-.:{}\r\n\t";
    const char* env = std::getenv("TW_FUZZ_ITERATIONS");
    const int iterations = env ? std::max(1, std::atoi(env)) : 300;
    const char* seedEnv = std::getenv("TW_FUZZ_SEED");
    std::mt19937 rng(seedEnv ? (unsigned)std::strtoul(seedEnv, nullptr, 10) : 1234567u);
    HtmlCanvas canvas(128, 128);
    for (int i = 0; i < iterations; ++i) {
        std::wstring s = corpus[rng() % corpus.size()];
        const int edits = 1 + (int)(rng() % 8);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            const size_t at = rng() % s.size();
            switch (rng() % 5) {
            case 0: s.erase(at, 1 + rng() % 4); break;
            case 1: s.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
            case 2: s[at] = alphabet[rng() % alphabet.size()]; break;
            case 3: s.insert(at, corpus[rng() % corpus.size()].substr(0, rng() % 40)); break;
            default: s.insert(at, s.substr(at, std::min<size_t>(s.size() - at, rng() % 30))); break;
            }
        }
        const SIZE size = Draw(canvas, s, (int)(rng() % 20), (int)(rng() % 20));
        ASSERT_GE(size.cx, 0) << "iteration " << i;
        ASSERT_GE(size.cy, 0) << "iteration " << i;
    }
}
