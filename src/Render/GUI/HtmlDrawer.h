#pragma once
// The process-wide HTML drawer: lays out a short piece of marked-up text
// (tags, entities, tables, a style sheet, decorative backgrounds) and draws
// it into a GDI device context. The HTML output panel draws its surface
// through it.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Render/GUI/HtmlStyle.h"
#include "port/d3dx9/wingdi.h"

namespace html {
struct Picture;
class FontCache;
} // namespace html

class C_HtmlDrawer {
public:
    C_HtmlDrawer();
    ~C_HtmlDrawer();
    C_HtmlDrawer(const C_HtmlDrawer&) = delete;
    C_HtmlDrawer& operator=(const C_HtmlDrawer&) = delete;

    // The one drawer of the process, created on first use.
    static C_HtmlDrawer& Instance();

    // Widest line in pixels; a negative width lays out as 0 (one piece of
    // text per line, nothing drawn wider than it needs).
    void SetMaxWidth(int width);
    int GetMaxWidth() const { return m_MaxWidth; }

    // Lays the markup out from the top-left point within the maximum width
    // and draws it; returns the size laid out (widest line, total height).
    // Lines below the context's clip box are not laid out.
    SIZE Draw(HDC hdc, const std::wstring& markup, POINT topLeft);
    // The panel's call: the maximum width is the surface width less both
    // margins, and the text starts at (left, top).
    SIZE DrawPanel(HDC hdc, int surfaceWidth, const std::wstring& markup, int left, int top);

    // Adds rules to the sheet (after those already there, so they win);
    // returns how many rules were read.
    size_t AddStyleSheet(const std::wstring& sheet);
    // Back to the built-in sheet alone.
    void ResetStyleSheet();
    const html::StyleSheet& GetStyleSheet() const { return m_Sheet; }

    // Links of the last drawing: where each link's text lies.
    struct LinkArea {
        RECT rect;
        std::wstring href, msg;
    };
    const std::vector<LinkArea>& GetLinks() const { return m_Links; }

    // A picture file read through the file manager (cached); null when it
    // cannot be read or decoded.
    std::shared_ptr<const html::Picture> LoadPicture(const std::wstring& file);

private:
    int m_MaxWidth = 0;
    html::StyleSheet m_Sheet;
    std::vector<LinkArea> m_Links;
    std::unique_ptr<html::FontCache> m_Fonts;
    std::map<std::wstring, std::shared_ptr<const html::Picture>> m_Pictures; // null: failed
};
