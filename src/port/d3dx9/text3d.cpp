// 3D text: glyph outlines from pango/cairo, flattened to the chordal
// deviation, caps tessellated with the GLU tessellator, sides extruded.
#include "port/d3dx9/meshimpl.h"
#include "port/d3dx9/wingdi.h"

#include <GL/glu.h>
#include <pango/pangocairo.h>

#include <array>
#include <cmath>
#include <deque>
#include <new>
#include <string>
#include <vector>

using namespace d3dx;

namespace {

// Outlines are taken at this size; one em is this many pixels.
constexpr double kEmPixels = 1024.0;
// A deviation of 0 means one unit of a 2048-unit em square.
constexpr double kDefaultDeviation = 1.0 / 2048.0;

struct Point {
    double x, y;
};
using Contour = std::vector<Point>;

struct Tessellation {
    std::deque<std::array<GLdouble, 3>> extra; // points made where outlines cross
    std::vector<Point> points;                 // every cap vertex
    std::vector<uint32_t> triangles;           // counter-clockwise seen from +z
    bool failed = false;
};

void GLAPIENTRY onBegin(GLenum, void*) {}
void GLAPIENTRY onEdgeFlag(GLboolean, void*) {} // its presence makes GLU emit plain triangles
void GLAPIENTRY onVertex(void* vertex, void* data) {
    auto* t = static_cast<Tessellation*>(data);
    t->triangles.push_back((uint32_t)(uintptr_t)vertex);
}
void GLAPIENTRY onCombine(GLdouble coords[3], void*[4], GLfloat[4], void** out, void* data) {
    auto* t = static_cast<Tessellation*>(data);
    t->points.push_back({coords[0], coords[1]});
    *out = (void*)(uintptr_t)(t->points.size() - 1);
}
void GLAPIENTRY onError(GLenum, void* data) { static_cast<Tessellation*>(data)->failed = true; }

bool tessellate(const std::vector<Contour>& contours, Tessellation& t) {
    GLUtesselator* tess = gluNewTess();
    if (!tess) return false;
    gluTessCallback(tess, GLU_TESS_BEGIN_DATA, (_GLUfuncptr)onBegin);
    gluTessCallback(tess, GLU_TESS_EDGE_FLAG_DATA, (_GLUfuncptr)onEdgeFlag);
    gluTessCallback(tess, GLU_TESS_VERTEX_DATA, (_GLUfuncptr)onVertex);
    gluTessCallback(tess, GLU_TESS_COMBINE_DATA, (_GLUfuncptr)onCombine);
    gluTessCallback(tess, GLU_TESS_ERROR_DATA, (_GLUfuncptr)onError);
    gluTessProperty(tess, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_NONZERO);
    gluTessNormal(tess, 0, 0, 1);
    std::vector<std::array<GLdouble, 3>> coords;
    for (const Contour& c : contours)
        for (const Point& p : c) {
            t.points.push_back(p);
            coords.push_back({p.x, p.y, 0.0});
        }
    gluTessBeginPolygon(tess, &t);
    size_t at = 0;
    for (const Contour& c : contours) {
        gluTessBeginContour(tess);
        for (size_t i = 0; i < c.size(); ++i, ++at) gluTessVertex(tess, coords[at].data(), (void*)(uintptr_t)at);
        gluTessEndContour(tess);
    }
    gluTessEndPolygon(tess);
    gluDeleteTess(tess);
    return !t.failed && t.triangles.size() % 3 == 0;
}

double signedArea(const Contour& c) {
    double a = 0;
    for (size_t i = 0; i < c.size(); ++i) {
        const Point& p = c[i];
        const Point& q = c[(i + 1) % c.size()];
        a += p.x * q.y - q.x * p.y;
    }
    return a / 2;
}

struct PN {
    D3DXVECTOR3 p, n;
};

} // namespace

HRESULT D3DXCreateTextW(IDirect3DDevice9* device, HDC hdc, LPCWSTR text, FLOAT deviation, FLOAT extrusion,
                        ID3DXMesh** meshOut, ID3DXBuffer** adjacency, LPGLYPHMETRICSFLOAT glyphMetrics) {
    if (!device || !hdc || !text || !meshOut || !text[0] || !(deviation >= 0.0f) || !(extrusion >= 0.0f))
        return D3DERR_INVALIDCALL;
    *meshOut = nullptr;
    if (adjacency) *adjacency = nullptr;
    const LOGFONTW* lf = gdi::selectedFont(hdc);
    if (!lf) return D3DERR_INVALIDCALL; // the context's stock font has no outlines

    size_t length = 0;
    while (text[length]) ++length;
    std::wstring line(text, length);
    for (wchar_t& c : line)
        if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
    std::string utf8;
    for (wchar_t wc : line) {
        uint32_t c = (uint32_t)wc;
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) utf8 += (char)c;
        else if (c < 0x800) utf8 += {(char)(0xC0 | (c >> 6)), (char)(0x80 | (c & 0x3F))};
        else if (c < 0x10000) utf8 += {(char)(0xE0 | (c >> 12)), (char)(0x80 | ((c >> 6) & 0x3F)), (char)(0x80 | (c & 0x3F))};
        else utf8 += {(char)(0xF0 | (c >> 18)), (char)(0x80 | ((c >> 12) & 0x3F)), (char)(0x80 | ((c >> 6) & 0x3F)), (char)(0x80 | (c & 0x3F))};
    }

    // Outlines in em units, y up, baseline at 0.
    std::vector<Contour> contours;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* desc = gdi::describe(*lf, kEmPixels);
    pango_layout_set_font_description(layout, desc);
    pango_layout_set_text(layout, utf8.c_str(), (int)utf8.size());
    const double baseline = pango_layout_get_baseline(layout) / (double)PANGO_SCALE;
    cairo_set_tolerance(cr, std::max(1e-3, (deviation > 0 ? deviation : kDefaultDeviation) * kEmPixels));
    cairo_move_to(cr, 0, 0);
    pango_cairo_layout_path(cr, layout);
    cairo_path_t* path = cairo_copy_path_flat(cr);
    if (path && path->status == CAIRO_STATUS_SUCCESS) {
        Contour current;
        auto finish = [&] {
            if (current.size() > 1 && current.front().x == current.back().x && current.front().y == current.back().y)
                current.pop_back();
            if (current.size() >= 3 && std::fabs(signedArea(current)) > 1e-12) contours.push_back(std::move(current));
            current.clear();
        };
        for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
            const cairo_path_data_t& d = path->data[i];
            const Point p = d.header.type == CAIRO_PATH_CLOSE_PATH
                                ? Point{0, 0}
                                : Point{path->data[i + 1].point.x / kEmPixels,
                                        (baseline - path->data[i + 1].point.y) / kEmPixels};
            switch (d.header.type) {
            case CAIRO_PATH_MOVE_TO:
                finish();
                current.push_back(p);
                break;
            case CAIRO_PATH_LINE_TO:
                if (current.empty() || current.back().x != p.x || current.back().y != p.y) current.push_back(p);
                break;
            case CAIRO_PATH_CLOSE_PATH: finish(); break;
            default: break; // flat paths hold no curves
            }
        }
        finish();
    }
    if (path) cairo_path_destroy(path);

    if (glyphMetrics) {
        // One record per character, from the layout's character positions.
        const char* begin = utf8.c_str();
        const char* at = begin;
        for (size_t i = 0; i < line.size(); ++i) {
            PangoRectangle pos;
            pango_layout_index_to_pos(layout, (int)(at - begin), &pos);
            GLYPHMETRICSFLOAT& g = glyphMetrics[i];
            g.gmfCellIncX = (float)(pos.width / (double)PANGO_SCALE / kEmPixels);
            g.gmfCellIncY = 0.0f;
            g.gmfBlackBoxX = g.gmfCellIncX;
            g.gmfBlackBoxY = (float)(pos.height / (double)PANGO_SCALE / kEmPixels);
            g.gmfptGlyphOrigin = {(float)(pos.x / (double)PANGO_SCALE / kEmPixels),
                                  (float)((baseline - pos.y / (double)PANGO_SCALE) / kEmPixels)};
            at = g_utf8_next_char(at);
        }
    }
    pango_font_description_free(desc);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);

    if (contours.empty()) return D3DERR_INVALIDCALL; // only blanks: nothing to extrude

    try {
        Tessellation t;
        if (!tessellate(contours, t)) return E_FAIL;

        // The filled side of every directed edge is the same (nonzero fonts):
        // the biggest contour is an outer one and shows which.
        size_t biggest = 0;
        for (size_t i = 1; i < contours.size(); ++i)
            if (std::fabs(signedArea(contours[i])) > std::fabs(signedArea(contours[biggest]))) biggest = i;
        const double outward = signedArea(contours[biggest]) > 0 ? 1.0 : -1.0;

        std::vector<PN> verts;
        std::vector<uint32_t> idx;
        const float back = -extrusion;
        // Sides: every edge its own quad; normals smoothed across gentle corners.
        for (const Contour& c : contours) {
            const size_t n = c.size();
            std::vector<D3DXVECTOR3> edgeNormal(n);
            for (size_t i = 0; i < n; ++i) {
                const Point& a = c[i];
                const Point& b = c[(i + 1) % n];
                D3DXVECTOR3 nrm((float)((b.y - a.y) * outward), (float)(-(b.x - a.x) * outward), 0.0f);
                D3DXVec3Normalize(&nrm, &nrm);
                edgeNormal[i] = nrm;
            }
            auto cornerNormal = [&](size_t edge, size_t neighbour) {
                const D3DXVECTOR3& e = edgeNormal[edge];
                const D3DXVECTOR3& o = edgeNormal[neighbour];
                if (D3DXVec3Dot(&e, &o) < 0.8f) return e; // sharp corner: keep the face's own
                D3DXVECTOR3 s = e + o;
                D3DXVec3Normalize(&s, &s);
                return s;
            };
            for (size_t i = 0; i < n; ++i) {
                const Point& a = c[i];
                const Point& b = c[(i + 1) % n];
                const D3DXVECTOR3 na = cornerNormal(i, (i + n - 1) % n), nb = cornerNormal(i, (i + 1) % n);
                const uint32_t base = (uint32_t)verts.size();
                verts.push_back({D3DXVECTOR3((float)a.x, (float)a.y, 0.0f), na});
                verts.push_back({D3DXVECTOR3((float)b.x, (float)b.y, 0.0f), nb});
                verts.push_back({D3DXVECTOR3((float)a.x, (float)a.y, back), na});
                verts.push_back({D3DXVECTOR3((float)b.x, (float)b.y, back), nb});
                // Both triangles face along the outward normal (clockwise seen from outside).
                if (outward < 0) {
                    idx.insert(idx.end(), {base, base + 1, base + 2, base + 1, base + 3, base + 2});
                } else {
                    idx.insert(idx.end(), {base, base + 2, base + 1, base + 1, base + 2, base + 3});
                }
            }
        }
        // Caps: z = 0 facing +z, z = -extrusion facing -z (+z when flat).
        const uint32_t front = (uint32_t)verts.size();
        for (const Point& p : t.points) verts.push_back({D3DXVECTOR3((float)p.x, (float)p.y, 0.0f), D3DXVECTOR3(0, 0, 1)});
        const uint32_t rear = (uint32_t)verts.size();
        const float backNormal = extrusion == 0.0f ? 1.0f : -1.0f;
        for (const Point& p : t.points)
            verts.push_back({D3DXVECTOR3((float)p.x, (float)p.y, back), D3DXVECTOR3(0, 0, backNormal)});
        for (size_t i = 0; i + 2 < t.triangles.size(); i += 3)
            idx.insert(idx.end(), {front + t.triangles[i], front + t.triangles[i + 1], front + t.triangles[i + 2]});
        for (size_t i = 0; i + 2 < t.triangles.size(); i += 3) {
            if (extrusion == 0.0f)
                idx.insert(idx.end(), {rear + t.triangles[i], rear + t.triangles[i + 1], rear + t.triangles[i + 2]});
            else
                idx.insert(idx.end(), {rear + t.triangles[i], rear + t.triangles[i + 2], rear + t.triangles[i + 1]});
        }

        DWORD options = D3DXMESH_MANAGED;
        if (verts.size() > 0x10000u) options |= D3DXMESH_32BIT;
        Mesh* mesh = nullptr;
        HRESULT hr = createMesh((DWORD)(idx.size() / 3), (DWORD)verts.size(), options, D3DFVF_XYZ | D3DFVF_NORMAL,
                                device, &mesh);
        if (FAILED(hr)) return hr;
        MeshData& d = mesh->data();
        std::memcpy(d.vertices.data(), verts.data(), verts.size() * sizeof(PN));
        d.setIndices32(idx);
        d.attribTable.push_back(D3DXATTRIBUTERANGE{0, 0, d.numFaces, 0, d.numVertices});
        if (adjacency) {
            std::vector<DWORD> adj((size_t)d.numFaces * 3);
            mesh->GenerateAdjacency(0.0f, adj.data());
            *adjacency = makeDwordBuffer(adj.data(), adj.size());
            if (!*adjacency) {
                mesh->Release();
                return E_OUTOFMEMORY;
            }
        }
        *meshOut = mesh;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}
