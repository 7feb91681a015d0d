// Reader of .x files. The file is read in two steps: first into a tree of data
// objects, each one's members read as its template declares them (the
// standard templates are known in advance, the file may declare more), then
// the meshes, frames and materials of that tree become plain arrays.
#include "port/d3dx9/xparser.h"

#include "port/d3dx9/xlexer.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <unordered_map>

namespace d3dx::xfile {

namespace {

using namespace detail;

// ---------------------------------------------------------------------------
// Templates
// ---------------------------------------------------------------------------
enum class Prim { None, Number, String };

struct Dim {
    uint32_t fixed = 0;
    int member = -1; // earlier member holding the size, or -1 for a fixed size
};

struct Member {
    Prim prim = Prim::None; // None: a template named by type
    std::string type;
    std::string name;
    std::vector<Dim> dims;
};

struct Template {
    std::string name;
    Guid guid;
    bool hasGuid = false;
    std::vector<Member> members;
    enum class Kind { Closed, Open, Restricted } kind = Kind::Closed;
    std::vector<std::string> allowed;
};

Prim primitive(const std::string& word) {
    static const char* const numbers[] = {"WORD", "DWORD", "FLOAT", "DOUBLE", "CHAR", "UCHAR", "BYTE",
                                          "SWORD", "SDWORD", "ULONGLONG"};
    for (const char* n : numbers)
        if (equalsNoCase(word, n)) return Prim::Number;
    if (equalsNoCase(word, "STRING") || equalsNoCase(word, "LPSTR") || equalsNoCase(word, "CSTRING") ||
        equalsNoCase(word, "UNICODE"))
        return Prim::String;
    return Prim::None;
}

// The templates D3DX knows before reading a file: the standard ones and the
// skinning, declaration and effect extensions that exporters write.
const char kStandardTemplates[] = R"(xof 0302txt 0032
template Header { <3D82AB43-62DA-11CF-AB39-0020AF71E433> WORD major; WORD minor; DWORD flags; }
template Vector { <3D82AB5E-62DA-11CF-AB39-0020AF71E433> FLOAT x; FLOAT y; FLOAT z; }
template Coords2d { <F6F23F44-7686-11CF-8F52-0040333594A3> FLOAT u; FLOAT v; }
template Matrix4x4 { <F6F23F45-7686-11CF-8F52-0040333594A3> array FLOAT matrix[16]; }
template ColorRGBA { <35FF44E0-6C7C-11CF-8F52-0040333594A3> FLOAT red; FLOAT green; FLOAT blue; FLOAT alpha; }
template ColorRGB { <D3E16E81-7835-11CF-8F52-0040333594A3> FLOAT red; FLOAT green; FLOAT blue; }
template IndexedColor { <1630B820-7842-11CF-8F52-0040333594A3> DWORD index; ColorRGBA indexColor; }
template Boolean { <4885AE61-78E8-11CF-8F52-0040333594A3> WORD truefalse; }
template Boolean2d { <4885AE63-78E8-11CF-8F52-0040333594A3> Boolean u; Boolean v; }
template MaterialWrap { <4885AE60-78E8-11CF-8F52-0040333594A3> Boolean u; Boolean v; }
template TextureFilename { <A42790E1-7810-11CF-8F52-0040333594A3> STRING filename; }
template Material { <3D82AB4D-62DA-11CF-AB39-0020AF71E433>
  ColorRGBA faceColor; FLOAT power; ColorRGB specularColor; ColorRGB emissiveColor; [...] }
template MeshFace { <3D82AB5F-62DA-11CF-AB39-0020AF71E433>
  DWORD nFaceVertexIndices; array DWORD faceVertexIndices[nFaceVertexIndices]; }
template MeshFaceWraps { <4885AE62-78E8-11CF-8F52-0040333594A3>
  DWORD nFaceWrapValues; array Boolean2d faceWrapValues[nFaceWrapValues]; }
template MeshTextureCoords { <F6F23F40-7686-11CF-8F52-0040333594A3>
  DWORD nTextureCoords; array Coords2d textureCoords[nTextureCoords]; }
template MeshMaterialList { <F6F23F42-7686-11CF-8F52-0040333594A3>
  DWORD nMaterials; DWORD nFaceIndexes; array DWORD faceIndexes[nFaceIndexes]; [Material] }
template MeshNormals { <F6F23F43-7686-11CF-8F52-0040333594A3>
  DWORD nNormals; array Vector normals[nNormals]; DWORD nFaceNormals; array MeshFace faceNormals[nFaceNormals]; }
template MeshVertexColors { <1630B821-7842-11CF-8F52-0040333594A3>
  DWORD nVertexColors; array IndexedColor vertexColors[nVertexColors]; }
template Mesh { <3D82AB44-62DA-11CF-AB39-0020AF71E433>
  DWORD nVertices; array Vector vertices[nVertices]; DWORD nFaces; array MeshFace faces[nFaces]; [...] }
template FrameTransformMatrix { <F6F23F41-7686-11CF-8F52-0040333594A3> Matrix4x4 frameMatrix; }
template Frame { <3D82AB46-62DA-11CF-AB39-0020AF71E433> [...] }
template FloatKeys { <10DD46A9-775B-11CF-8F52-0040333594A3> DWORD nValues; array FLOAT values[nValues]; }
template TimedFloatKeys { <F406B180-7B3B-11CF-8F52-0040333594A3> DWORD time; FloatKeys tfkeys; }
template AnimationKey { <10DD46A8-775B-11CF-8F52-0040333594A3>
  DWORD keyType; DWORD nKeys; array TimedFloatKeys keys[nKeys]; }
template AnimationOptions { <E2BF56C0-840F-11CF-8F52-0040333594A3> DWORD openclosed; DWORD positionquality; }
template Animation { <3D82AB4F-62DA-11CF-AB39-0020AF71E433> [...] }
template AnimationSet { <3D82AB50-62DA-11CF-AB39-0020AF71E433> [Animation] }
template AnimTicksPerSecond { <9E415A43-7BA6-4A73-8743-B73D47E88476> DWORD AnimTicksPerSecond; }
template XSkinMeshHeader { <3CF169CE-FF7C-44AB-93C0-F78F62D172E2>
  WORD nMaxSkinWeightsPerVertex; WORD nMaxSkinWeightsPerFace; WORD nBones; }
template SkinWeights { <6F0D123B-BAD2-4167-A0D0-80224F25FABB>
  STRING transformNodeName; DWORD nWeights; array DWORD vertexIndices[nWeights]; array FLOAT weights[nWeights];
  Matrix4x4 matrixOffset; }
template VertexDuplicationIndices { <B8D65549-D7C9-4995-89CF-53A9A8B031E3>
  DWORD nIndices; DWORD nOriginalVertices; array DWORD indices[nIndices]; }
template FaceAdjacency { <A64C844A-E282-4756-8B80-250CDE04398C> DWORD nIndices; array DWORD indices[nIndices]; }
template VertexElement { <F752461C-1E23-48F6-B9F8-8350850F336F> DWORD Type; DWORD Method; DWORD Usage; DWORD UsageIndex; }
template DeclData { <BF22E553-292C-4781-9FEA-62BD554BDD93>
  DWORD nElements; array VertexElement Elements[nElements]; DWORD nDWords; array DWORD data[nDWords]; }
template FVFData { <B6E70A0E-8EF9-4E83-94AD-ECC8B0C04897> DWORD dwFVF; DWORD nDWords; array DWORD data[nDWords]; }
template EffectFloats { <F1CFE2B3-0DE3-4E28-AFA1-155A750A282D> DWORD nFloats; array FLOAT Floats[nFloats]; }
template EffectString { <D55B097E-BDB6-4C52-B03D-6051C89D0E42> STRING Value; }
template EffectDWord { <622C0ED0-956E-4DA9-908A-2AF94F3CE716> DWORD Value; }
template EffectParamFloats { <3014B9A0-62F5-478C-9B86-E4AC9F4E418B>
  STRING ParamName; DWORD nFloats; array FLOAT Floats[nFloats]; }
template EffectParamString { <1DBC4C88-94C1-46EE-9076-2C28818C9481> STRING ParamName; STRING Value; }
template EffectParamDWord { <E13963BC-AE51-4C5D-B00F-CFA3A9D97CE5> STRING ParamName; DWORD Value; }
template EffectInstance { <E331F7E4-0559-4CC2-8E99-1CEC1657928F> STRING EffectFilename; [...] }
)";

// ---------------------------------------------------------------------------
// Data objects
// ---------------------------------------------------------------------------
struct Object;

// A child is an object or a reference to a named (or identified) one.
struct Child {
    std::unique_ptr<Object> object;
    std::string refName;
    Guid refGuid;
    bool refHasGuid = false;
};

struct Object {
    std::string type, name;
    Guid guid;
    bool hasGuid = false;
    bool known = false;          // members read by a template
    std::vector<double> numbers; // every number of the members, in order
    std::vector<std::string> strings;
    std::vector<Child> children;
};

class Reader {
public:
    explicit Reader(Lexer& lex) : lex_(&lex) {}

    // Declarations of a template-only file (the standard set).
    void declareAll(Lexer& lex) {
        Lexer* saved = lex_;
        lex_ = &lex;
        while (lex_->peek().kind != Tok::End) {
            const Token t = lex_->next();
            if (t.kind != Tok::Name || t.text != "template") fail();
            declaration();
        }
        lex_ = saved;
    }

    void run(std::vector<std::unique_ptr<Object>>& top) {
        for (;;) {
            const Token& t = lex_->peek();
            if (t.kind == Tok::End) return;
            if (t.kind == Tok::Comma || t.kind == Tok::Semicolon) {
                lex_->next();
                continue;
            }
            if (t.kind == Tok::OBrace) { // a reference outside any object means nothing
                lex_->next();
                reference();
                continue;
            }
            if (t.kind != Tok::Name) fail();
            Token name = lex_->next();
            if (name.text == "template") {
                declaration();
                continue;
            }
            top.push_back(object(name.text, 0));
        }
    }

private:
    Token expect(Tok kind) {
        Token t = lex_->next();
        if (t.kind != kind) fail();
        return t;
    }

    const Template* find(const std::string& name) const {
        auto it = templates_.find(name);
        if (it != templates_.end()) return &it->second;
        // Exporters differ in the case of a few names ("TextureFileName").
        for (const auto& [key, t] : templates_)
            if (key.size() == name.size() && equalsNoCase(key, name.c_str())) return &t;
        return nullptr;
    }

    // template Name { <GUID> members [restriction] }
    void declaration() {
        Template t;
        t.name = expect(Tok::Name).text;
        expect(Tok::OBrace);
        if (lex_->peek().kind == Tok::Guid) {
            t.guid = lex_->next().guid;
            t.hasGuid = true;
        }
        for (;;) {
            Token tok = lex_->next();
            if (tok.kind == Tok::CBrace) break;
            if (tok.kind == Tok::Semicolon || tok.kind == Tok::Comma) continue;
            if (tok.kind == Tok::OBracket) {
                restriction(t);
                expect(Tok::CBrace);
                break;
            }
            if (tok.kind != Tok::Name) fail();
            member(t, tok.text);
        }
        templates_[t.name] = std::move(t);
        // Redeclaring a template changes what earlier checks found.
        resolved_.clear();
        minimum_.clear();
    }

    void member(Template& t, const std::string& first) {
        Member m;
        const bool isArray = first == "array";
        m.type = isArray ? expect(Tok::Name).text : first;
        m.prim = primitive(m.type);
        if (isArray) {
            m.name = expect(Tok::Name).text;
            if (lex_->peek().kind != Tok::OBracket) fail();
            while (lex_->peek().kind == Tok::OBracket) {
                lex_->next();
                const Token d = lex_->next();
                Dim dim;
                if (d.kind == Tok::Number) {
                    if (!(d.number >= 0 && d.number <= 4294967295.0) || d.number != std::floor(d.number)) fail();
                    dim.fixed = (uint32_t)d.number;
                } else if (d.kind == Tok::Name) {
                    // The size is an earlier scalar number of the same template.
                    for (size_t i = 0; i < t.members.size(); ++i)
                        if (t.members[i].name == d.text && t.members[i].prim == Prim::Number &&
                            t.members[i].dims.empty())
                            dim.member = (int)i;
                    if (dim.member < 0) fail();
                } else {
                    fail();
                }
                expect(Tok::CBracket);
                m.dims.push_back(dim);
            }
        } else if (lex_->peek().kind == Tok::Name) {
            m.name = lex_->next().text;
        }
        if (m.prim == Prim::None && m.type == "VOID") fail();
        t.members.push_back(std::move(m));
    }

    // [...] or [Name <GUID>, Name ...]
    void restriction(Template& t) {
        if (lex_->peek().kind == Tok::Dot) {
            for (int i = 0; i < 3; ++i) expect(Tok::Dot);
            expect(Tok::CBracket);
            t.kind = Template::Kind::Open;
            return;
        }
        t.kind = Template::Kind::Restricted;
        for (;;) {
            const Token tok = lex_->next();
            if (tok.kind == Tok::CBracket) break;
            if (tok.kind == Tok::Comma || tok.kind == Tok::Guid) continue;
            if (tok.kind != Tok::Name) fail();
            t.allowed.push_back(tok.text);
        }
        if (t.allowed.empty()) fail();
    }

    // A template whose member types all exist and do not contain themselves.
    bool resolvable(const Template& t, int depth = 0) {
        auto it = resolved_.find(&t);
        if (it != resolved_.end()) return it->second;
        if (depth > 32) return false;
        bool ok = true;
        for (const Member& m : t.members) {
            if (m.prim != Prim::None) continue;
            const Template* sub = find(m.type);
            if (!sub || sub == &t || !resolvable(*sub, depth + 1)) {
                ok = false;
                break;
            }
        }
        resolved_[&t] = ok;
        return ok;
    }

    // The fewest values one instance can hold (0 when it may hold none).
    uint64_t minimum(const Template& t) {
        auto it = minimum_.find(&t);
        if (it != minimum_.end()) return it->second;
        uint64_t n = 0;
        for (const Member& m : t.members) {
            constexpr uint64_t kCap = 1ull << 40; // far beyond any file
            uint64_t each = m.prim != Prim::None ? 1 : minimum(*find(m.type));
            for (const Dim& d : m.dims)
                each = d.member >= 0 ? 0 : (d.fixed && each > kCap / d.fixed) ? kCap : each * d.fixed;
            n = std::min<uint64_t>(n + each, kCap);
        }
        minimum_[&t] = n;
        return n;
    }

    static uint32_t toCount(double v) {
        if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v)) fail();
        return (uint32_t)v;
    }

    void members(const Template& t, Object& o, int depth) {
        if (depth > 32) fail();
        std::vector<double> scalars(t.members.size(), 0.0);
        for (size_t i = 0; i < t.members.size(); ++i) {
            const Member& m = t.members[i];
            uint64_t count = 1;
            for (const Dim& d : m.dims) {
                count *= d.member >= 0 ? toCount(scalars[(size_t)d.member]) : d.fixed;
                if (count > 0xFFFFFFFFull) fail();
            }
            const Template* sub = m.prim == Prim::None ? find(m.type) : nullptr;
            const uint64_t each = sub ? minimum(*sub) : 1;
            if (each == 0) continue; // elements that hold nothing
            // More elements than the rest of the file could hold: a damaged count.
            if (count > lex_->remainingValues() / each) fail();
            for (uint64_t k = 0; k < count; ++k) {
                if (sub) {
                    members(*sub, o, depth + 1);
                    continue;
                }
                if (m.prim == Prim::String) {
                    Token v = lex_->nextData();
                    if (v.kind != Tok::String) fail();
                    o.strings.push_back(std::move(v.text));
                } else {
                    o.numbers.push_back(lex_->number());
                }
            }
            if (m.dims.empty() && m.prim == Prim::Number) scalars[i] = o.numbers.back();
        }
    }

    // { Name } or { <GUID> } or { Name <GUID> }, opening brace already read.
    Child reference() {
        Child c;
        for (;;) {
            Token t = lex_->next();
            if (t.kind == Tok::CBrace) break;
            if (t.kind == Tok::Name && c.refName.empty()) {
                c.refName = std::move(t.text);
            } else if (t.kind == Tok::Guid) {
                c.refGuid = t.guid;
                c.refHasGuid = true;
            } else if (t.kind != Tok::Comma && t.kind != Tok::Semicolon) {
                fail();
            }
        }
        return c;
    }

    std::unique_ptr<Object> object(const std::string& type, int depth) {
        if (depth > 128) fail();
        auto o = std::make_unique<Object>();
        o->type = type;
        if (lex_->peek().kind == Tok::Name) o->name = lex_->next().text;
        expect(Tok::OBrace);
        if (lex_->peek().kind == Tok::Guid) {
            o->guid = lex_->next().guid;
            o->hasGuid = true;
        }
        const Template* t = find(type);
        if (t && resolvable(*t)) {
            o->known = true;
            members(*t, *o, 0);
        }
        // Then child objects and references; values past the template's
        // members (or of a template nobody declared) are passed over.
        for (;;) {
            Token tok = lex_->next();
            switch (tok.kind) {
            case Tok::CBrace: return o;
            case Tok::End: fail();
            case Tok::OBrace: o->children.push_back(reference()); break;
            case Tok::Name: {
                Child c;
                c.object = object(tok.text, depth + 1);
                o->children.push_back(std::move(c));
                break;
            }
            default: break;
            }
        }
    }

    Lexer* lex_;
    std::map<std::string, Template> templates_;
    std::unordered_map<const Template*, bool> resolved_;
    std::unordered_map<const Template*, uint64_t> minimum_;
};

// ---------------------------------------------------------------------------
// From objects to meshes
// ---------------------------------------------------------------------------
// Polygons of any size, stored flat: face f has corners [start[f], start[f+1]).
struct FaceList {
    std::vector<uint32_t> start{0};
    std::vector<uint32_t> corners;
    size_t size() const { return start.size() - 1; }
    size_t count(size_t f) const { return start[f + 1] - start[f]; }
    uint32_t at(size_t f, size_t k) const { return corners[start[f] + k]; }
};

struct RawMesh {
    std::vector<D3DXVECTOR3> positions;
    FaceList faces;
    std::vector<D3DXVECTOR3> normals;
    FaceList normalFaces;
    std::vector<D3DXVECTOR2> texcoords;
    std::vector<std::pair<uint32_t, DWORD>> colors;
    std::vector<DWORD> faceMaterial;
    std::vector<Material> materials;
};

// Reads an object's numbers in order; running past them is a damaged file.
class Cursor {
public:
    explicit Cursor(const Object& o) : v_(o.numbers) {}
    double next() {
        if (at_ >= v_.size()) fail();
        return v_[at_++];
    }
    float real() { return (float)next(); }
    uint32_t count() {
        const double d = next();
        if (!(d >= 0 && d <= 4294967295.0) || d != std::floor(d)) fail();
        return (uint32_t)d;
    }
    size_t left() const { return v_.size() - at_; }
    // Reserving for n elements of `each` numbers is safe only when they are there.
    void need(uint64_t n, uint64_t each) const {
        if (n * each > left()) fail();
    }

private:
    const std::vector<double>& v_;
    size_t at_ = 0;
};

class Builder {
public:
    explicit Builder(const std::vector<std::unique_ptr<Object>>& top) : top_(top) {
        for (const auto& o : top) index(*o);
    }

    void run(Scene& scene) {
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        for (const auto& o : top_) {
            if (o->type == "Frame") frame(*o, identity, scene);
            else if (o->type == "Mesh") mesh(*o, identity, scene);
        }
    }

private:
    // Named materials anywhere in the file, for references.
    void index(const Object& o) {
        if (o.type == "Material" && o.known) {
            if (!o.name.empty() && !byName_.count(o.name)) byName_[o.name] = &o;
            if (o.hasGuid && !byGuid_.count(o.guid)) byGuid_[o.guid] = &o;
        }
        for (const Child& c : o.children)
            if (c.object) index(*c.object);
    }

    void frame(const Object& o, const D3DXMATRIX& parent, Scene& scene) {
        D3DXMATRIX world = parent;
        for (const Child& c : o.children)
            if (c.object && c.object->type == "FrameTransformMatrix" && c.object->known) {
                Cursor m(*c.object);
                D3DXMATRIX local;
                for (int i = 0; i < 16; ++i) (&local._11)[i] = m.real();
                world = local * parent; // row vectors: child first, then parent
                break;
            }
        for (const Child& c : o.children) {
            if (!c.object) continue; // a reference to another frame is not instanced
            if (c.object->type == "Frame") frame(*c.object, world, scene);
            else if (c.object->type == "Mesh") mesh(*c.object, world, scene);
        }
    }

    static Material defaultMaterial() {
        Material m;
        m.mat.Diffuse = m.mat.Ambient = {0.5f, 0.5f, 0.5f, 1.0f};
        m.mat.Specular = m.mat.Emissive = {0.0f, 0.0f, 0.0f, 1.0f};
        return m;
    }

    static Material material(const Object& o) {
        if (!o.known) return defaultMaterial();
        Material m;
        Cursor c(o);
        D3DMATERIAL9& d = m.mat;
        d.Diffuse.r = c.real();
        d.Diffuse.g = c.real();
        d.Diffuse.b = c.real();
        d.Diffuse.a = c.real();
        d.Ambient = d.Diffuse; // .x materials carry no ambient colour
        d.Power = c.real();
        d.Specular.r = c.real();
        d.Specular.g = c.real();
        d.Specular.b = c.real();
        d.Specular.a = 1.0f;
        d.Emissive.r = c.real();
        d.Emissive.g = c.real();
        d.Emissive.b = c.real();
        d.Emissive.a = 1.0f;
        for (const Child& ch : o.children) {
            if (!ch.object || !equalsNoCase(ch.object->type, "TextureFilename") || ch.object->strings.empty()) continue;
            m.texture = ch.object->strings[0];
            // Some exporters double the path separators; the file means one.
            for (size_t at; (at = m.texture.find("\\\\")) != std::string::npos;) m.texture.erase(at, 1);
            break;
        }
        return m;
    }

    static FaceList faceList(Cursor& c, uint32_t limit) {
        const uint32_t count = c.count();
        c.need(count, 1);
        FaceList faces;
        faces.start.reserve((size_t)count + 1);
        for (uint32_t f = 0; f < count; ++f) {
            const uint32_t n = c.count();
            c.need(n, 1);
            for (uint32_t k = 0; k < n; ++k) {
                const uint32_t v = c.count();
                if (v >= limit) fail();
                faces.corners.push_back(v);
            }
            faces.start.push_back((uint32_t)faces.corners.size());
        }
        return faces;
    }

    void materialList(const Object& o, RawMesh& m) {
        Cursor c(o);
        const uint32_t nm = c.count();
        if (nm > 65536) fail(); // no real mesh has that many materials
        const uint32_t nf = c.count();
        c.need(nf, 1);
        m.faceMaterial.reserve(nf);
        for (uint32_t i = 0; i < nf; ++i) m.faceMaterial.push_back(c.count());
        for (const Child& ch : o.children) {
            if (ch.object) {
                if (ch.object->type == "Material") m.materials.push_back(material(*ch.object));
                continue;
            }
            const Object* target = nullptr;
            if (!ch.refName.empty()) {
                auto it = byName_.find(ch.refName);
                if (it != byName_.end()) target = it->second;
            }
            if (!target && ch.refHasGuid) {
                auto it = byGuid_.find(ch.refGuid);
                if (it != byGuid_.end()) target = it->second;
            }
            m.materials.push_back(target ? material(*target) : defaultMaterial());
        }
        // A list naming fewer materials than it counts gets defaults for the rest.
        if (nm > m.materials.size()) m.materials.resize(nm, defaultMaterial());
    }

    // Per-vertex normals, texture coordinates and colours of a vertex declaration.
    static void declData(const Object& o, RawMesh& m, bool haveNormals, bool haveTexcoords) {
        // DWORDs per element by D3DDECLTYPE (FLOAT1 .. FLOAT16_4).
        static const uint8_t kSize[] = {1, 2, 3, 4, 1, 1, 1, 2, 1, 1, 2, 1, 2, 1, 1, 1, 2};
        Cursor c(o);
        const uint32_t n = c.count();
        c.need(n, 4);
        struct Element {
            uint32_t type, usage, index, offset;
        };
        std::vector<Element> elements;
        uint32_t stride = 0;
        for (uint32_t i = 0; i < n; ++i) {
            Element e{c.count(), 0, 0, stride};
            c.count(); // method
            e.usage = c.count();
            e.index = c.count();
            if (e.type >= sizeof kSize) return; // a type of no known size: the rest cannot be placed
            stride += kSize[e.type];
            elements.push_back(e);
        }
        const uint32_t words = c.count();
        const size_t nv = m.positions.size();
        if (stride == 0 || words != (uint64_t)stride * nv || c.left() < words) return;
        std::vector<uint32_t> data(words);
        for (uint32_t& w : data) w = c.count();
        auto asFloat = [&](size_t at) {
            float f;
            std::memcpy(&f, &data[at], 4);
            return f;
        };
        for (const Element& e : elements) {
            if (e.usage == 3 && e.type == 2 && !haveNormals) { // NORMAL, FLOAT3
                m.normals.resize(nv);
                for (size_t v = 0; v < nv; ++v) {
                    const size_t at = v * stride + e.offset;
                    m.normals[v] = D3DXVECTOR3(asFloat(at), asFloat(at + 1), asFloat(at + 2));
                }
                // Normal i belongs to vertex i.
                m.normalFaces = m.faces;
                haveNormals = true;
            } else if (e.usage == 5 && e.index == 0 && e.type == 1 && !haveTexcoords) { // TEXCOORD0, FLOAT2
                m.texcoords.resize(nv);
                for (size_t v = 0; v < nv; ++v) {
                    const size_t at = v * stride + e.offset;
                    m.texcoords[v] = D3DXVECTOR2(asFloat(at), asFloat(at + 1));
                }
                haveTexcoords = true;
            } else if (e.usage == 10 && e.index == 0 && e.type == 4 && m.colors.empty()) { // COLOR0, D3DCOLOR
                for (size_t v = 0; v < nv; ++v) m.colors.emplace_back((uint32_t)v, data[v * stride + e.offset]);
            }
        }
    }

    void mesh(const Object& o, const D3DXMATRIX& world, Scene& scene) {
        if (!o.known) return;
        RawMesh m;
        Cursor c(o);
        const uint32_t nv = c.count();
        c.need(nv, 3);
        m.positions.reserve(nv);
        for (uint32_t i = 0; i < nv; ++i) {
            D3DXVECTOR3 p;
            p.x = c.real();
            p.y = c.real();
            p.z = c.real();
            m.positions.push_back(p);
        }
        m.faces = faceList(c, nv);
        const Object* decl = nullptr;
        for (const Child& ch : o.children) {
            if (!ch.object || !ch.object->known) continue;
            const Object& child = *ch.object;
            Cursor cc(child);
            if (child.type == "MeshNormals") {
                const uint32_t nn = cc.count();
                cc.need(nn, 3);
                m.normals.clear();
                m.normals.reserve(nn);
                for (uint32_t i = 0; i < nn; ++i) {
                    D3DXVECTOR3 n;
                    n.x = cc.real();
                    n.y = cc.real();
                    n.z = cc.real();
                    m.normals.push_back(n);
                }
                m.normalFaces = faceList(cc, nn);
            } else if (child.type == "MeshTextureCoords") {
                const uint32_t n = cc.count();
                cc.need(n, 2);
                m.texcoords.clear();
                m.texcoords.reserve(n);
                for (uint32_t i = 0; i < n; ++i) {
                    D3DXVECTOR2 t;
                    t.x = cc.real();
                    t.y = cc.real();
                    m.texcoords.push_back(t);
                }
            } else if (child.type == "MeshVertexColors") {
                const uint32_t n = cc.count();
                cc.need(n, 5);
                for (uint32_t i = 0; i < n; ++i) {
                    const uint32_t v = cc.count();
                    D3DXCOLOR col;
                    col.r = cc.real();
                    col.g = cc.real();
                    col.b = cc.real();
                    col.a = cc.real();
                    if (v < nv) m.colors.emplace_back(v, (DWORD)col);
                }
            } else if (child.type == "MeshMaterialList") {
                materialList(child, m);
            } else if (child.type == "DeclData") {
                decl = &child;
            }
            // VertexDuplicationIndices, skinning, face wraps and effects do not
            // change what is drawn here.
        }
        if (decl) declData(*decl, m, !m.normals.empty(), !m.texcoords.empty());
        addMesh(scene, m, world);
    }

    // Splits polygons, gives each corner its own normal where the file's
    // normals differ per face, and applies the frame transform.
    static void addMesh(Scene& scene, const RawMesh& raw, const D3DXMATRIX& world) {
        Mesh out;
        if (raw.materials.empty())
            out.materials.push_back(defaultMaterial());
        else
            out.materials = raw.materials;
        const bool normalsUsable = !raw.normals.empty() && raw.normalFaces.size() == raw.faces.size();
        out.positions = raw.positions;
        std::vector<uint32_t> normalOf(raw.positions.size(), 0xFFFFFFFFu);
        std::map<std::pair<uint32_t, uint32_t>, uint32_t> splits;
        auto cornerVertex = [&](size_t f, size_t k) -> uint32_t {
            const uint32_t v = raw.faces.at(f, k);
            if (!normalsUsable || raw.normalFaces.count(f) != raw.faces.count(f)) return v;
            const uint32_t n = raw.normalFaces.at(f, k);
            if (normalOf[v] == 0xFFFFFFFFu || normalOf[v] == n) {
                normalOf[v] = n;
                return v;
            }
            if (raw.normals[normalOf[v]] == raw.normals[n]) return v;
            auto it = splits.find({v, n});
            if (it != splits.end()) return it->second;
            const uint32_t copy = (uint32_t)out.positions.size();
            out.positions.push_back(raw.positions[v]);
            normalOf.push_back(n);
            splits[{v, n}] = copy;
            return copy;
        };
        out.indices.reserve(raw.faces.corners.size() * 3);
        for (size_t f = 0; f < raw.faces.size(); ++f) {
            const size_t corners = raw.faces.count(f);
            if (corners < 3) continue; // points and lines are not mesh faces
            // A shorter material list repeats its last entry (one entry: all faces).
            DWORD matIndex = 0;
            if (!raw.faceMaterial.empty()) matIndex = raw.faceMaterial[std::min(f, raw.faceMaterial.size() - 1)];
            if (matIndex >= out.materials.size()) matIndex = 0;
            const uint32_t first = cornerVertex(f, 0);
            uint32_t prev = cornerVertex(f, 1);
            for (size_t k = 2; k < corners; ++k) {
                const uint32_t cur = cornerVertex(f, k);
                out.indices.insert(out.indices.end(), {first, prev, cur});
                out.faceMaterial.push_back(matIndex);
                prev = cur;
            }
        }
        // Vertices a copy came from, for the per-vertex arrays.
        std::vector<uint32_t> sourceOf(out.positions.size());
        for (uint32_t v = 0; v < raw.positions.size(); ++v) sourceOf[v] = v;
        for (const auto& [key, copy] : splits) sourceOf[copy] = key.first;

        D3DXMATRIX normalMatrix;
        const bool invertible = D3DXMatrixInverse(&normalMatrix, nullptr, &world) != nullptr;
        D3DXMatrixTranspose(&normalMatrix, &normalMatrix);
        for (D3DXVECTOR3& p : out.positions) D3DXVec3TransformCoord(&p, &p, &world);
        if (normalsUsable) {
            out.normals.resize(out.positions.size(), D3DXVECTOR3(0, 0, 0));
            for (size_t v = 0; v < out.positions.size(); ++v) {
                if (normalOf[v] == 0xFFFFFFFFu) continue;
                D3DXVECTOR3 n = raw.normals[normalOf[v]];
                if (invertible) D3DXVec3TransformNormal(&n, &n, &normalMatrix);
                D3DXVec3Normalize(&n, &n);
                out.normals[v] = n;
            }
        }
        if (!raw.texcoords.empty()) {
            out.texcoords.resize(out.positions.size(), D3DXVECTOR2(0, 0));
            for (size_t v = 0; v < out.positions.size(); ++v)
                if (sourceOf[v] < raw.texcoords.size()) out.texcoords[v] = raw.texcoords[sourceOf[v]];
        }
        if (!raw.colors.empty()) {
            std::vector<DWORD> byVertex(raw.positions.size(), 0xFFFFFFFFu);
            for (const auto& [v, col] : raw.colors) byVertex[v] = col;
            out.colors.resize(out.positions.size());
            for (size_t v = 0; v < out.positions.size(); ++v) out.colors[v] = byVertex[sourceOf[v]];
        }
        if (!out.indices.empty()) scene.meshes.push_back(std::move(out));
    }

    const std::vector<std::unique_ptr<Object>>& top_;
    std::map<std::string, const Object*> byName_;
    std::map<Guid, const Object*> byGuid_;
};

// MSZIP: blocks of raw deflate data, each preceded by its sizes and "CK",
// each decoded with the previous output as its dictionary.
bool inflateMszip(const uint8_t* p, size_t size, std::vector<uint8_t>& out) {
    if (size < 4) return false;
    uint32_t total;
    std::memcpy(&total, p, 4);
    p += 4;
    size -= 4;
    if (total < 16) return false;
    total -= 16; // the size counts the uncompressed header
    // Deflate expands at most about 1032:1; a larger claim is not a real file.
    if ((uint64_t)total > (uint64_t)size * 1100 + 65536) return false;
    out.clear();
    out.reserve(total);
    while (size >= 6 && out.size() < total) {
        uint16_t plain, packed;
        std::memcpy(&plain, p, 2);
        std::memcpy(&packed, p + 2, 2);
        p += 4;
        size -= 4;
        if (packed < 2 || packed > size || p[0] != 'C' || p[1] != 'K') return false;
        z_stream zs{};
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
        if (!out.empty()) {
            const size_t dict = std::min<size_t>(out.size(), 32768);
            inflateSetDictionary(&zs, out.data() + out.size() - dict, (uInt)dict);
        }
        const size_t at = out.size();
        out.resize(at + plain);
        zs.next_in = const_cast<Bytef*>(p + 2);
        zs.avail_in = packed - 2u;
        zs.next_out = out.data() + at;
        zs.avail_out = plain;
        const int rc = inflate(&zs, Z_FINISH);
        inflateEnd(&zs);
        if ((rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR) || zs.avail_out != 0) return false;
        p += packed;
        size -= packed;
    }
    return out.size() == total;
}

} // namespace

HRESULT parse(const void* data, size_t size, Scene& scene) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (!p || size < 16 || std::memcmp(p, "xof ", 4) != 0) return D3DXERR_INVALIDDATA;
    const std::string format(reinterpret_cast<const char*>(p + 8), 4);
    const std::string floatSize(reinterpret_cast<const char*>(p + 12), 4);
    if (floatSize != "0032" && floatSize != "0064") return D3DXERR_INVALIDDATA;
    const bool doubles = floatSize == "0064";
    try {
        std::vector<uint8_t> plain;
        const uint8_t* body = p + 16;
        size_t bodySize = size - 16;
        bool binary;
        if (format == "txt " || format == "bin ") {
            binary = format == "bin ";
        } else if (format == "tzip" || format == "bzip") {
            binary = format == "bzip";
            if (!inflateMszip(body, bodySize, plain)) return D3DXERR_INVALIDDATA;
            body = plain.data();
            bodySize = plain.size();
        } else {
            return D3DXERR_INVALIDDATA;
        }
        Lexer lex(body, bodySize, binary, doubles);
        Reader reader(lex);
        Lexer standard(reinterpret_cast<const uint8_t*>(kStandardTemplates) + 16, sizeof kStandardTemplates - 17,
                       false, false);
        reader.declareAll(standard);
        std::vector<std::unique_ptr<Object>> top;
        reader.run(top);
        Builder(top).run(scene);
    } catch (const ParseError&) {
        scene.meshes.clear();
        return D3DXERR_INVALIDDATA;
    } catch (const std::bad_alloc&) {
        scene.meshes.clear();
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        scene.meshes.clear();
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

} // namespace d3dx::xfile
