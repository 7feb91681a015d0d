#include "port/d3dx9/xparser.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>

namespace d3dx::xfile {

namespace {

struct ParseError {};

// ---------------------------------------------------------------------------
// Tokens of both encodings
// ---------------------------------------------------------------------------
enum class Tok { End, Name, String, Int, Float, Guid, OBrace, CBrace };

struct Token {
    Tok kind = Tok::End;
    std::string text;
    double number = 0.0;
};

class Lexer {
public:
    Lexer(const uint8_t* data, size_t size, bool binary, bool doubles)
        : p_(data), end_(data + size), binary_(binary), doubles_(doubles) {}

    Token next() {
        if (peeked_) {
            peeked_ = false;
            return peek_;
        }
        return binary_ ? nextBinary() : nextText();
    }
    const Token& peek() {
        if (!peeked_) {
            peek_ = binary_ ? nextBinary() : nextText();
            peeked_ = true;
        }
        return peek_;
    }
    // Upper bound of the values still in the file: no count may exceed it.
    size_t remainingValues() const {
        const size_t bytes = (size_t)(end_ - p_);
        return binary_ ? listLeft_ + bytes / 4 : bytes / 1 + 1;
    }

private:
    static bool isSep(uint8_t c) { return c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    Token nextText() {
        for (;;) {
            while (p_ < end_ && (isSep(*p_) || *p_ == '[' || *p_ == ']' || *p_ == '(' || *p_ == ')')) ++p_;
            if (p_ >= end_) return {};
            if (*p_ == '#' || (*p_ == '/' && p_ + 1 < end_ && p_[1] == '/')) {
                while (p_ < end_ && *p_ != '\n') ++p_;
                continue;
            }
            break;
        }
        const uint8_t c = *p_;
        Token t;
        if (c == '{') {
            ++p_;
            t.kind = Tok::OBrace;
            return t;
        }
        if (c == '}') {
            ++p_;
            t.kind = Tok::CBrace;
            return t;
        }
        if (c == '"') {
            const uint8_t* s = ++p_;
            while (p_ < end_ && *p_ != '"') ++p_;
            if (p_ >= end_) throw ParseError{};
            t.kind = Tok::String;
            t.text.assign(reinterpret_cast<const char*>(s), (size_t)(p_ - s));
            ++p_;
            return t;
        }
        if (c == '<') {
            while (p_ < end_ && *p_ != '>') ++p_;
            if (p_ >= end_) throw ParseError{};
            ++p_;
            t.kind = Tok::Guid;
            return t;
        }
        if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
            const uint8_t* s = p_;
            bool integral = true;
            while (p_ < end_) {
                const uint8_t d = *p_;
                if ((d >= '0' && d <= '9') || d == '-' || d == '+') {
                } else if (d == '.' || d == 'e' || d == 'E') {
                    integral = false;
                } else {
                    break;
                }
                ++p_;
            }
            const char* first = reinterpret_cast<const char*>(s);
            const char* last = reinterpret_cast<const char*>(p_);
            if (first < last && *first == '+') ++first; // from_chars takes no plus sign
            const auto [stop, ec] = std::from_chars(first, last, t.number);
            if (ec != std::errc() || stop == first) {
                if (ec != std::errc::result_out_of_range) throw ParseError{};
                t.number = (*first == '-') ? -HUGE_VAL : HUGE_VAL;
            }
            t.kind = integral ? Tok::Int : Tok::Float;
            return t;
        }
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80) {
            const uint8_t* s = p_;
            while (p_ < end_ && ((*p_ >= 'A' && *p_ <= 'Z') || (*p_ >= 'a' && *p_ <= 'z') ||
                                 (*p_ >= '0' && *p_ <= '9') || *p_ == '_' || *p_ == '-' || *p_ == '.' || *p_ >= 0x80))
                ++p_;
            t.kind = Tok::Name;
            t.text.assign(reinterpret_cast<const char*>(s), (size_t)(p_ - s));
            return t;
        }
        throw ParseError{};
    }

    uint32_t u32() {
        if (end_ - p_ < 4) throw ParseError{};
        uint32_t v;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        return v;
    }
    uint16_t u16() {
        if (end_ - p_ < 2) throw ParseError{};
        uint16_t v;
        std::memcpy(&v, p_, 2);
        p_ += 2;
        return v;
    }

    Token nextBinary() {
        Token t;
        if (listLeft_ > 0) {
            --listLeft_;
            if (listFloat_) {
                if (doubles_) {
                    if (end_ - p_ < 8) throw ParseError{};
                    double d;
                    std::memcpy(&d, p_, 8);
                    p_ += 8;
                    t.number = d;
                } else {
                    float f;
                    const uint32_t bits = u32();
                    std::memcpy(&f, &bits, 4);
                    t.number = f;
                }
                t.kind = Tok::Float;
            } else {
                t.number = u32();
                t.kind = Tok::Int;
            }
            return t;
        }
        for (;;) {
            if (p_ >= end_) return {};
            const uint16_t token = u16();
            switch (token) {
            case 1: { // name
                const uint32_t n = u32();
                if (n > (size_t)(end_ - p_)) throw ParseError{};
                t.kind = Tok::Name;
                t.text.assign(reinterpret_cast<const char*>(p_), n);
                p_ += n;
                return t;
            }
            case 2: { // string, then its terminator
                const uint32_t n = u32();
                if (n > (size_t)(end_ - p_)) throw ParseError{};
                t.kind = Tok::String;
                t.text.assign(reinterpret_cast<const char*>(p_), n);
                p_ += n;
                u32();
                return t;
            }
            case 3: // integer
                t.kind = Tok::Int;
                t.number = u32();
                return t;
            case 5: // GUID
                if (end_ - p_ < 16) throw ParseError{};
                p_ += 16;
                t.kind = Tok::Guid;
                return t;
            case 6:
            case 7: {
                const uint32_t n = u32();
                const size_t each = token == 6 ? 4 : (doubles_ ? 8 : 4);
                if ((uint64_t)n * each > (uint64_t)(end_ - p_)) throw ParseError{};
                listFloat_ = token == 7;
                listLeft_ = n;
                if (n == 0) continue;
                return nextBinary();
            }
            case 0x0A: t.kind = Tok::OBrace; return t;
            case 0x0B: t.kind = Tok::CBrace; return t;
            case 0x1F: t.kind = Tok::Name; t.text = "template"; return t;
            default:
                // Punctuation and the primitive type words of templates.
                if ((token >= 0x0C && token <= 0x14) || (token >= 0x28 && token <= 0x34)) {
                    if (token >= 0x28) {
                        t.kind = Tok::Name;
                        t.text = "type";
                        return t;
                    }
                    continue;
                }
                throw ParseError{};
            }
        }
    }

    const uint8_t* p_;
    const uint8_t* end_;
    bool binary_, doubles_;
    uint32_t listLeft_ = 0;
    bool listFloat_ = false;
    bool peeked_ = false;
    Token peek_;
};

// ---------------------------------------------------------------------------
// Parser of the standard templates
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
    bool hasMaterialList = false;
};

class Parser {
public:
    explicit Parser(Lexer& lex) : lex_(lex) {}

    void run(Scene& scene) {
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        while (lex_.peek().kind != Tok::End) topLevel(scene, identity);
    }

private:
    int depth_ = 0;

    Token expect(Tok kind) {
        Token t = lex_.next();
        if (t.kind != kind) throw ParseError{};
        return t;
    }
    uint32_t readCount() {
        const Token t = lex_.next();
        if (t.kind != Tok::Int || t.number < 0 || t.number > 4294967295.0) throw ParseError{};
        const uint32_t n = (uint32_t)t.number;
        if (n > lex_.remainingValues()) throw ParseError{}; // more elements than the file holds
        return n;
    }
    uint32_t readIndex() {
        const Token t = lex_.next();
        if (t.kind != Tok::Int || t.number < 0 || t.number > 4294967295.0) throw ParseError{};
        return (uint32_t)t.number;
    }
    float readFloat() {
        const Token t = lex_.next();
        if (t.kind != Tok::Int && t.kind != Tok::Float) throw ParseError{};
        return (float)t.number;
    }
    // Separate statements: the order of function arguments is unspecified.
    D3DXVECTOR3 readVec3() {
        D3DXVECTOR3 v;
        v.x = readFloat();
        v.y = readFloat();
        v.z = readFloat();
        return v;
    }
    D3DXVECTOR2 readVec2() {
        D3DXVECTOR2 v;
        v.x = readFloat();
        v.y = readFloat();
        return v;
    }
    // Skips the rest of an object whose opening brace was read.
    void skipBody() {
        int level = 1;
        while (level > 0) {
            const Token t = lex_.next();
            if (t.kind == Tok::End) throw ParseError{};
            if (t.kind == Tok::OBrace) ++level;
            if (t.kind == Tok::CBrace) --level;
        }
    }
    // Reads "[name] {" and an optional GUID; returns the name.
    std::string openObject() {
        std::string name;
        if (lex_.peek().kind == Tok::Name) name = lex_.next().text;
        expect(Tok::OBrace);
        if (lex_.peek().kind == Tok::Guid) lex_.next();
        return name;
    }

    struct Enter {
        explicit Enter(int& d) : depth(d) {
            if (++depth > 128) throw ParseError{};
        }
        ~Enter() { --depth; }
        int& depth;
    };

    void topLevel(Scene& scene, const D3DXMATRIX& world) {
        const Token t = lex_.next();
        if (t.kind == Tok::Name) {
            if (t.text == "template") {
                openObject();
                skipBody();
            } else {
                dataObject(t.text, scene, world);
            }
        } else if (t.kind == Tok::OBrace) { // a reference outside any object
            skipBody();
        } else {
            throw ParseError{};
        }
    }

    void dataObject(const std::string& type, Scene& scene, const D3DXMATRIX& world) {
        Enter enter(depth_);
        const std::string name = openObject();
        if (type == "Frame") {
            frame(scene, world);
        } else if (type == "Mesh") {
            RawMesh raw;
            mesh(raw);
            addMesh(scene, raw, world);
        } else if (type == "Material") {
            namedMaterials_[name] = material();
        } else {
            skipBody();
        }
    }

    void frame(Scene& scene, const D3DXMATRIX& parent) {
        D3DXMATRIX local;
        D3DXMatrixIdentity(&local);
        D3DXMATRIX world = parent;
        for (;;) {
            const Token t = lex_.next();
            if (t.kind == Tok::CBrace) return;
            if (t.kind == Tok::OBrace) { // reference to another frame: not instanced
                skipBody();
                continue;
            }
            if (t.kind != Tok::Name) throw ParseError{};
            if (t.text == "FrameTransformMatrix") {
                Enter enter(depth_);
                openObject();
                for (int i = 0; i < 16; ++i) (&local._11)[i] = readFloat();
                expect(Tok::CBrace);
                world = local * parent; // row vectors: child first, then parent
            } else {
                dataObject(t.text, scene, world);
            }
        }
    }

    Material material() {
        Material m;
        D3DMATERIAL9& d = m.mat;
        d.Diffuse = {readFloat(), readFloat(), readFloat(), readFloat()};
        d.Ambient = d.Diffuse; // .x materials carry no ambient colour
        d.Power = readFloat();
        d.Specular = {readFloat(), readFloat(), readFloat(), 1.0f};
        d.Emissive = {readFloat(), readFloat(), readFloat(), 1.0f};
        for (;;) {
            const Token t = lex_.next();
            if (t.kind == Tok::CBrace) break;
            if (t.kind == Tok::OBrace) {
                skipBody();
                continue;
            }
            if (t.kind != Tok::Name) throw ParseError{};
            Enter enter(depth_);
            openObject();
            if (t.text == "TextureFilename" || t.text == "TextureFileName") {
                const Token s = expect(Tok::String);
                m.texture = s.text;
                // Some exporters double the path separators; the file means one.
                for (size_t at; (at = m.texture.find("\\\\")) != std::string::npos;) m.texture.erase(at, 1);
                expect(Tok::CBrace);
            } else {
                skipBody();
            }
        }
        return m;
    }

    FaceList faceList(uint32_t vertexLimit) {
        const uint32_t count = readCount();
        FaceList faces;
        faces.start.reserve((size_t)count + 1);
        faces.corners.reserve((size_t)count * 3);
        for (uint32_t f = 0; f < count; ++f) {
            const uint32_t n = readCount();
            for (uint32_t k = 0; k < n; ++k) {
                const uint32_t v = readIndex();
                if (v >= vertexLimit) throw ParseError{};
                faces.corners.push_back(v);
            }
            faces.start.push_back((uint32_t)faces.corners.size());
        }
        return faces;
    }

    void mesh(RawMesh& m) {
        const uint32_t nv = readCount();
        m.positions.reserve(nv);
        for (uint32_t i = 0; i < nv; ++i) m.positions.push_back(readVec3());
        m.faces = faceList(nv);
        for (;;) {
            const Token t = lex_.next();
            if (t.kind == Tok::CBrace) return;
            if (t.kind == Tok::OBrace) {
                skipBody();
                continue;
            }
            if (t.kind != Tok::Name) throw ParseError{};
            Enter enter(depth_);
            openObject();
            if (t.text == "MeshNormals") {
                const uint32_t nn = readCount();
                m.normals.reserve(nn);
                for (uint32_t i = 0; i < nn; ++i) m.normals.push_back(readVec3());
                m.normalFaces = faceList(nn);
                expect(Tok::CBrace);
            } else if (t.text == "MeshTextureCoords") {
                const uint32_t n = readCount();
                m.texcoords.reserve(n);
                for (uint32_t i = 0; i < n; ++i) m.texcoords.push_back(readVec2());
                expect(Tok::CBrace);
            } else if (t.text == "MeshVertexColors") {
                const uint32_t n = readCount();
                for (uint32_t i = 0; i < n; ++i) {
                    const uint32_t v = readIndex();
                    D3DXCOLOR c;
                    c.r = readFloat();
                    c.g = readFloat();
                    c.b = readFloat();
                    c.a = readFloat();
                    if (v < nv) m.colors.emplace_back(v, (DWORD)c);
                }
                expect(Tok::CBrace);
            } else if (t.text == "MeshMaterialList") {
                materialList(m);
            } else {
                skipBody();
            }
        }
    }

    void materialList(RawMesh& m) {
        const uint32_t nm = readCount();
        if (nm > 65536) throw ParseError{}; // no real mesh has that many materials
        const uint32_t nf = readCount();
        m.faceMaterial.reserve(nf);
        for (uint32_t i = 0; i < nf; ++i) m.faceMaterial.push_back(readIndex());
        m.hasMaterialList = true;
        for (;;) {
            const Token t = lex_.next();
            if (t.kind == Tok::CBrace) break;
            if (t.kind == Tok::OBrace) { // reference to a named material
                std::string name;
                if (lex_.peek().kind == Tok::Name) name = lex_.next().text;
                if (lex_.peek().kind == Tok::Guid) lex_.next();
                expect(Tok::CBrace);
                auto it = namedMaterials_.find(name);
                m.materials.push_back(it != namedMaterials_.end() ? it->second : defaultMaterial());
                continue;
            }
            if (t.kind != Tok::Name) throw ParseError{};
            Enter enter(depth_);
            const std::string name = openObject();
            if (t.text == "Material") {
                m.materials.push_back(material());
                if (!name.empty()) namedMaterials_[name] = m.materials.back();
            } else {
                skipBody();
            }
        }
        // A list naming fewer materials than it counts gets defaults for the rest.
        if (nm > m.materials.size()) m.materials.resize(nm, defaultMaterial());
    }

    static Material defaultMaterial() {
        Material m;
        m.mat.Diffuse = m.mat.Ambient = {0.5f, 0.5f, 0.5f, 1.0f};
        m.mat.Specular = m.mat.Emissive = {0.0f, 0.0f, 0.0f, 1.0f};
        return m;
    }

    // Splits polygons, gives each corner its own normal where the file's
    // normals differ per face, and applies the frame transform.
    void addMesh(Scene& scene, const RawMesh& raw, const D3DXMATRIX& world) {
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
        // Vertices a copy came from, for the per-vertex arrays.
        out.indices.reserve(raw.faces.corners.size() * 3);
        for (size_t f = 0; f < raw.faces.size(); ++f) {
            const size_t corners = raw.faces.count(f);
            if (corners < 3) continue; // points and lines are not mesh faces
            // A shorter material list repeats its last entry (one entry: all faces).
            DWORD matIndex = 0;
            if (!raw.faceMaterial.empty())
                matIndex = raw.faceMaterial[std::min(f, raw.faceMaterial.size() - 1)];
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
            for (const auto& [v, c] : raw.colors) byVertex[v] = c;
            out.colors.resize(out.positions.size());
            for (size_t v = 0; v < out.positions.size(); ++v) out.colors[v] = byVertex[sourceOf[v]];
        }
        if (!out.indices.empty()) scene.meshes.push_back(std::move(out));
    }

    Lexer& lex_;
    std::map<std::string, Material> namedMaterials_;
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
    if (size < 16 || std::memcmp(p, "xof ", 4) != 0) return D3DXERR_INVALIDDATA;
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
        Parser parser(lex);
        parser.run(scene);
    } catch (const ParseError&) {
        return D3DXERR_INVALIDDATA;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

} // namespace d3dx::xfile
