// Effects: parsing the effect file, linking one GLSL program per pass
// through the device, uploading parameters and applying pass states.
#include "port/d3d9/device_gl.h"
#include "port/d3d9/gl.h"
#include "port/d3dx9/d3dx9effect.h"
#include "port/d3dx9/meshimpl.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

using namespace d3dx;

namespace {

// ---------------------------------------------------------------------------
// Effect description
// ---------------------------------------------------------------------------
enum class Type { Float, Vec2, Vec3, Vec4, Mat4, Int, Bool, Sampler };

struct Parameter {
    std::string name;
    Type type = Type::Float;
    float value[16] = {};
    int stage = 0; // samplers: the texture stage (unit) they read
    IDirect3DBaseTexture9* texture = nullptr;
    unsigned serial = 1; // bumped on every change
};

struct Pass {
    std::string name;
    std::vector<std::pair<D3DRENDERSTATETYPE, DWORD>> states;
    std::string vertex, fragment;
    unsigned program = 0;
    std::vector<int> locations;       // per parameter, -1 when unused
    std::vector<unsigned> uploaded;   // serial last sent, per parameter
};

struct Technique {
    std::string name;
    std::vector<Pass> passes;
};

struct ParseError {
    std::string message;
};

const std::map<std::string, D3DRENDERSTATETYPE>& renderStateNames() {
    static const std::map<std::string, D3DRENDERSTATETYPE> names = {
        {"ZENABLE", D3DRS_ZENABLE},
        {"FILLMODE", D3DRS_FILLMODE},
        {"SHADEMODE", D3DRS_SHADEMODE},
        {"ZWRITEENABLE", D3DRS_ZWRITEENABLE},
        {"ALPHATESTENABLE", D3DRS_ALPHATESTENABLE},
        {"SRCBLEND", D3DRS_SRCBLEND},
        {"DESTBLEND", D3DRS_DESTBLEND},
        {"CULLMODE", D3DRS_CULLMODE},
        {"ZFUNC", D3DRS_ZFUNC},
        {"ALPHAREF", D3DRS_ALPHAREF},
        {"ALPHAFUNC", D3DRS_ALPHAFUNC},
        {"ALPHABLENDENABLE", D3DRS_ALPHABLENDENABLE},
        {"FOGENABLE", D3DRS_FOGENABLE},
        {"SPECULARENABLE", D3DRS_SPECULARENABLE},
        {"LIGHTING", D3DRS_LIGHTING},
        {"COLORWRITEENABLE", D3DRS_COLORWRITEENABLE},
        {"BLENDOP", D3DRS_BLENDOP},
        {"POINTSIZE", D3DRS_POINTSIZE},
        {"POINTSPRITEENABLE", D3DRS_POINTSPRITEENABLE},
        {"STENCILENABLE", D3DRS_STENCILENABLE},
        {"TEXTUREFACTOR", D3DRS_TEXTUREFACTOR},
    };
    return names;
}

const std::map<std::string, DWORD>& valueNames() {
    static const std::map<std::string, DWORD> names = {
        {"TRUE", 1}, {"FALSE", 0},
        {"ZERO", D3DBLEND_ZERO}, {"ONE", D3DBLEND_ONE}, {"SRCCOLOR", D3DBLEND_SRCCOLOR},
        {"INVSRCCOLOR", D3DBLEND_INVSRCCOLOR}, {"SRCALPHA", D3DBLEND_SRCALPHA}, {"INVSRCALPHA", D3DBLEND_INVSRCALPHA},
        {"DESTALPHA", D3DBLEND_DESTALPHA}, {"INVDESTALPHA", D3DBLEND_INVDESTALPHA},
        {"DESTCOLOR", D3DBLEND_DESTCOLOR}, {"INVDESTCOLOR", D3DBLEND_INVDESTCOLOR},
        {"NONE", D3DCULL_NONE}, {"CW", D3DCULL_CW}, {"CCW", D3DCULL_CCW},
        {"NEVER", D3DCMP_NEVER}, {"LESS", D3DCMP_LESS}, {"EQUAL", D3DCMP_EQUAL}, {"LESSEQUAL", D3DCMP_LESSEQUAL},
        {"GREATER", D3DCMP_GREATER}, {"NOTEQUAL", D3DCMP_NOTEQUAL}, {"GREATEREQUAL", D3DCMP_GREATEREQUAL},
        {"ALWAYS", D3DCMP_ALWAYS},
        {"POINT", D3DFILL_POINT}, {"WIREFRAME", D3DFILL_WIREFRAME}, {"SOLID", D3DFILL_SOLID},
        {"FLAT", D3DSHADE_FLAT}, {"GOURAUD", D3DSHADE_GOURAUD},
        {"ADD", D3DBLENDOP_ADD}, {"SUBTRACT", D3DBLENDOP_SUBTRACT}, {"REVSUBTRACT", D3DBLENDOP_REVSUBTRACT},
        {"MIN", D3DBLENDOP_MIN}, {"MAX", D3DBLENDOP_MAX},
    };
    return names;
}

class Parser {
public:
    explicit Parser(const std::string& text) : s_(text) {}

    // code: shared by both stages; vertexCode / fragmentCode: by one of them.
    void run(std::vector<Parameter>& params, std::string& code, std::string& vertexCode, std::string& fragmentCode,
             std::vector<Technique>& techniques) {
        for (;;) {
            const std::string word = token();
            if (word.empty()) break;
            if (word == "parameter") {
                params.push_back(parameter());
                for (size_t i = 0; i + 1 < params.size(); ++i)
                    if (params[i].name == params.back().name) fail("parameter declared twice: " + params.back().name);
            } else if (word == "code") {
                code += block() + "\n";
            } else if (word == "vertexcode") {
                vertexCode += block() + "\n";
            } else if (word == "fragmentcode") {
                fragmentCode += block() + "\n";
            } else if (word == "technique") {
                techniques.push_back(technique());
            } else {
                fail("unexpected '" + word + "'");
            }
        }
        if (techniques.empty()) fail("the effect has no technique");
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        int line = 1;
        for (size_t i = 0; i < pos_ && i < s_.size(); ++i) line += s_[i] == '\n';
        throw ParseError{"effect(" + std::to_string(line) + "): " + what};
    }
    void skipSpace() {
        for (;;) {
            while (pos_ < s_.size() && std::isspace((unsigned char)s_[pos_])) ++pos_;
            if (s_.compare(pos_, 2, "//") == 0) {
                while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
                continue;
            }
            return;
        }
    }
    // A word, a number or one punctuation character; empty at the end.
    std::string token() {
        skipSpace();
        if (pos_ >= s_.size()) return {};
        const char c = s_[pos_];
        if (std::isalnum((unsigned char)c) || c == '_' || c == '-' || c == '.' || c == '+') {
            const size_t start = pos_;
            while (pos_ < s_.size() && (std::isalnum((unsigned char)s_[pos_]) || s_[pos_] == '_' || s_[pos_] == '-' ||
                                        s_[pos_] == '.' || s_[pos_] == '+'))
                ++pos_;
            return s_.substr(start, pos_ - start);
        }
        ++pos_;
        return std::string(1, c);
    }
    void expect(const char* what) {
        const std::string t = token();
        if (t != what) fail(std::string("expected '") + what + "' but found '" + t + "'");
    }
    std::string name() {
        const std::string t = token();
        if (t.empty() || !(std::isalpha((unsigned char)t[0]) || t[0] == '_')) fail("expected a name");
        return t;
    }
    std::string block() {
        skipSpace();
        if (s_.compare(pos_, 3, "<<<") != 0) fail("expected '<<<'");
        const size_t start = pos_ + 3;
        const size_t end = s_.find(">>>", start);
        if (end == std::string::npos) fail("'<<<' without '>>>'");
        pos_ = end + 3;
        return s_.substr(start, end - start);
    }
    // A finite number that fits a float: "nan", "inf" and overflowing
    // values are refused, so nothing later converts them to integers.
    float number() {
        const std::string t = token();
        double v = 0.0;
        if (!finiteNumber(t, v)) fail("expected a number but found '" + t + "'");
        return static_cast<float>(v);
    }
    // A whole number in [lowest, highest], checked before any conversion.
    long integer(long lowest, long highest, const std::string& what) {
        const std::string t = token();
        double v = 0.0;
        if (!finiteNumber(t, v) || v != std::floor(v) || v < static_cast<double>(lowest) ||
            v > static_cast<double>(highest))
            fail(what + " must be a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest) +
                 ", not '" + t + "'");
        return static_cast<long>(v);
    }
    static bool finiteNumber(const std::string& t, double& v) {
        if (t.empty()) return false;
        char* stop = nullptr;
        errno = 0;
        v = std::strtod(t.c_str(), &stop);
        if (*stop || errno == ERANGE || !std::isfinite(v)) return false;
        return std::fabs(v) <= static_cast<double>(std::numeric_limits<float>::max());
    }

    Parameter parameter() {
        Parameter p;
        static const std::map<std::string, std::pair<Type, int>> types = {
            {"float", {Type::Float, 1}}, {"vec2", {Type::Vec2, 2}},   {"vec3", {Type::Vec3, 3}},
            {"vec4", {Type::Vec4, 4}},   {"mat4", {Type::Mat4, 16}},  {"int", {Type::Int, 1}},
            {"bool", {Type::Bool, 1}},   {"sampler2D", {Type::Sampler, 1}}};
        const std::string type = token();
        auto it = types.find(type);
        if (it == types.end()) fail("unknown parameter type '" + type + "'");
        p.type = it->second.first;
        p.name = name();
        if (p.type == Type::Mat4)
            for (int i = 0; i < 16; i += 5) p.value[i] = 1.0f; // identity until set
        std::string t = token();
        if (t == "=") {
            if (p.type == Type::Sampler) {
                p.stage = static_cast<int>(integer(0, 7, "the stage of sampler " + p.name));
                p.value[0] = static_cast<float>(p.stage);
            } else if (p.type == Type::Int) {
                p.value[0] = static_cast<float>(integer(INT_MIN, INT_MAX, "int parameter " + p.name));
            } else if (p.type == Type::Bool) {
                p.value[0] = static_cast<float>(integer(0, 1, "bool parameter " + p.name));
            } else {
                for (int i = 0; i < it->second.second; ++i) p.value[i] = number();
            }
            t = token();
        }
        if (t != ";") fail("expected ';' after parameter " + p.name);
        return p;
    }

    Technique technique() {
        Technique t;
        t.name = name();
        expect("{");
        for (;;) {
            const std::string w = token();
            if (w == "}") break;
            if (w != "pass") fail("expected 'pass' or '}'");
            Pass p;
            p.name = name();
            expect("{");
            for (;;) {
                const std::string item = token();
                if (item == "}") break;
                if (item == "vertex") {
                    p.vertex = block();
                } else if (item == "fragment") {
                    p.fragment = block();
                } else if (item == "state") {
                    std::string stateName = name();
                    for (char& c : stateName) c = (char)std::toupper((unsigned char)c);
                    if (stateName.rfind("D3DRS_", 0) == 0) stateName = stateName.substr(6);
                    auto st = renderStateNames().find(stateName);
                    if (st == renderStateNames().end()) fail("unknown render state " + stateName);
                    std::string value = token();
                    DWORD v = 0;
                    std::string upper = value;
                    for (char& c : upper) c = (char)std::toupper((unsigned char)c);
                    auto named = valueNames().find(upper);
                    if (named != valueNames().end()) {
                        v = named->second;
                    } else if (value.find('.') != std::string::npos) {
                        double d = 0.0;
                        if (!finiteNumber(value, d)) fail("bad value '" + value + "' for " + stateName);
                        const float f = static_cast<float>(d);
                        std::memcpy(&v, &f, 4); // float states travel as their bits
                    } else {
                        // Decimal or 0x hexadecimal, 0 to 0xFFFFFFFF.
                        char* stop = nullptr;
                        errno = 0;
                        const unsigned long long n = std::strtoull(value.c_str(), &stop, 0);
                        if (value.empty() || *stop || value[0] == '-' || value[0] == '+' || errno == ERANGE ||
                            n > 0xFFFFFFFFull)
                            fail("bad value '" + value + "' for " + stateName);
                        v = static_cast<DWORD>(n);
                    }
                    p.states.emplace_back(st->second, v);
                    expect(";");
                } else {
                    fail("unexpected '" + item + "' in pass " + p.name);
                }
            }
            if (p.vertex.empty() || p.fragment.empty()) fail("pass " + p.name + " needs a vertex and a fragment program");
            t.passes.push_back(std::move(p));
        }
        if (t.passes.empty()) fail("technique " + t.name + " has no pass");
        return t;
    }

    const std::string& s_;
    size_t pos_ = 0;
};

const char* glslType(Type t) {
    switch (t) {
    case Type::Float: return "float";
    case Type::Vec2: return "vec2";
    case Type::Vec3: return "vec3";
    case Type::Vec4: return "vec4";
    case Type::Mat4: return "mat4";
    case Type::Int: return "int";
    case Type::Bool: return "bool";
    case Type::Sampler: return "sampler2D";
    }
    return "float";
}

// ---------------------------------------------------------------------------
// The effect object
// ---------------------------------------------------------------------------
class Effect final : public ComObject<ID3DXEffect> {
public:
    Effect(IDirect3DDevice9* device) : device_(device) { device_->AddRef(); }

    HRESULT build(const std::string& source, std::string& errors) {
        std::string code, vertexCode, fragmentCode;
        try {
            Parser(source).run(params_, code, vertexCode, fragmentCode, techniques_);
        } catch (const ParseError& e) {
            errors = e.message;
            return D3DXERR_INVALIDDATA;
        }
        std::string uniforms;
        for (const Parameter& p : params_) uniforms += std::string("uniform ") + glslType(p.type) + " " + p.name + ";\n";
        const std::string vertexHead = std::string("#version 330 core\n") + PortVertexEpilogueGLSL() +
                                       "in vec4 a_position;\nin vec3 a_normal;\nin float a_psize;\n"
                                       "in vec4 a_diffuse;\nin vec4 a_specular;\n"
                                       "in vec4 a_tex0, a_tex1, a_tex2, a_tex3, a_tex4, a_tex5, a_tex6, a_tex7;\n" +
                                       uniforms + code + vertexCode;
        const std::string fragmentHead = "#version 330 core\n" + uniforms + code + fragmentCode;
        for (Technique& t : techniques_)
            for (Pass& p : t.passes) {
                std::string log;
                p.program = PortDeviceLinkProgram(device_, vertexHead + p.vertex, fragmentHead + p.fragment, log);
                if (!p.program) {
                    errors = "technique " + t.name + ", pass " + p.name + ":\n" + log;
                    return E_FAIL;
                }
                PortDeviceActivate(device_);
                p.locations.resize(params_.size());
                p.uploaded.assign(params_.size(), 0);
                for (size_t i = 0; i < params_.size(); ++i)
                    p.locations[i] = glGetUniformLocation(p.program, params_[i].name.c_str());
            }
        current_ = &techniques_.front();
        return D3D_OK;
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (!device) return D3DERR_INVALIDCALL;
        *device = device_;
        device_->AddRef();
        return D3D_OK;
    }
    D3DXHANDLE GetParameterByName(D3DXHANDLE parent, LPCSTR name) override {
        if (parent || !name) return nullptr; // parameters are not nested here
        Parameter* p = find(name);
        return p ? p->name.c_str() : nullptr;
    }
    D3DXHANDLE GetTechniqueByName(LPCSTR name) override {
        Technique* t = technique(name);
        return t ? t->name.c_str() : nullptr;
    }
    D3DXHANDLE GetTechnique(UINT index) override {
        return index < techniques_.size() ? techniques_[index].name.c_str() : nullptr;
    }
    HRESULT SetTechnique(D3DXHANDLE handle) override {
        Technique* t = technique(handle);
        if (!t || inBegin_) return D3DERR_INVALIDCALL;
        current_ = t;
        return D3D_OK;
    }
    D3DXHANDLE GetCurrentTechnique() override { return current_ ? current_->name.c_str() : nullptr; }
    // A technique is valid when it exists (null names the current one), the
    // device is usable, every pass has its program, every state value it
    // sets is one the state accepts, and every sampler reads a stage the
    // device has.
    HRESULT ValidateTechnique(D3DXHANDLE handle) override {
        Technique* t = handle ? technique(handle) : current_;
        if (!t) return D3DERR_INVALIDCALL;
        if (PortDeviceIsLost(device_)) return D3DERR_DEVICELOST;
        D3DCAPS9 caps{};
        const DWORD stages = SUCCEEDED(device_->GetDeviceCaps(&caps)) ? caps.MaxSimultaneousTextures : 8;
        for (const Parameter& p : params_)
            if (p.type == Type::Sampler && static_cast<DWORD>(p.stage) >= stages) return D3DERR_TOOMANYOPERATIONS;
        for (const Pass& p : t->passes) {
            if (!p.program) return E_FAIL;
            for (const auto& [state, value] : p.states) {
                const HRESULT accepted = stateValueAccepted(state, value);
                if (FAILED(accepted)) return accepted;
            }
        }
        return D3D_OK;
    }
    HRESULT FindNextValidTechnique(D3DXHANDLE handle, D3DXHANDLE* next) override {
        if (!next) return D3DERR_INVALIDCALL;
        size_t i = 0;
        if (handle) {
            Technique* t = technique(handle);
            if (!t) return D3DERR_INVALIDCALL;
            i = (size_t)(t - techniques_.data()) + 1;
        }
        for (; i < techniques_.size(); ++i)
            if (SUCCEEDED(ValidateTechnique(techniques_[i].name.c_str()))) {
                *next = techniques_[i].name.c_str();
                return D3D_OK;
            }
        *next = nullptr;
        return S_FALSE;
    }

    // As in D3DX: scalars take SetFloat, SetInt and SetBool (converted to
    // the parameter's type), scalars and vectors take SetVector, only
    // matrices take SetMatrix, only samplers take SetTexture; anything else
    // is D3DERR_INVALIDCALL and leaves the parameter unchanged.
    HRESULT SetFloat(D3DXHANDLE h, FLOAT v) override { return setScalar(h, v); }
    HRESULT GetFloat(D3DXHANDLE h, FLOAT* v) override {
        Parameter* p = find(h);
        if (!p || !v || !isScalar(p->type)) return D3DERR_INVALIDCALL;
        *v = p->value[0];
        return D3D_OK;
    }
    HRESULT SetInt(D3DXHANDLE h, INT v) override { return setScalar(h, static_cast<float>(v)); }
    HRESULT SetBool(D3DXHANDLE h, BOOL v) override { return setScalar(h, v ? 1.0f : 0.0f); }
    HRESULT SetVector(D3DXHANDLE h, const D3DXVECTOR4* v) override {
        Parameter* p = find(h);
        if (!p || !v) return D3DERR_INVALIDCALL;
        if (isScalar(p->type)) return setScalar(h, v->x);
        const int count = p->type == Type::Vec2 ? 2 : p->type == Type::Vec3 ? 3 : p->type == Type::Vec4 ? 4 : 0;
        if (count == 0) return D3DERR_INVALIDCALL;
        return set(p, &v->x, count);
    }
    HRESULT SetMatrix(D3DXHANDLE h, const D3DXMATRIX* m) override {
        Parameter* p = find(h);
        if (!p || !m || p->type != Type::Mat4) return D3DERR_INVALIDCALL;
        return set(p, &m->_11, 16);
    }
    HRESULT GetMatrix(D3DXHANDLE h, D3DXMATRIX* m) override {
        Parameter* p = find(h);
        if (!p || !m || p->type != Type::Mat4) return D3DERR_INVALIDCALL;
        std::memcpy(&m->_11, p->value, sizeof(float) * 16);
        return D3D_OK;
    }
    HRESULT SetTexture(D3DXHANDLE h, IDirect3DBaseTexture9* texture) override {
        Parameter* p = find(h);
        if (!p || p->type != Type::Sampler) return D3DERR_INVALIDCALL;
        if (texture) texture->AddRef();
        if (p->texture) p->texture->Release();
        p->texture = texture;
        ++p->serial;
        return D3D_OK;
    }

    HRESULT Begin(UINT* passes, DWORD flags) override {
        if (!current_ || inBegin_) return D3DERR_INVALIDCALL;
        inBegin_ = true;
        saveStates_ = !(flags & D3DXFX_DONOTSAVESTATE);
        saved_.clear();
        if (saveStates_) {
            // Every state any pass of the technique sets, and the textures of its samplers.
            for (const Pass& p : current_->passes)
                for (const auto& [state, value] : p.states)
                    if (std::none_of(saved_.begin(), saved_.end(), [&](const auto& s) { return s.first == state; })) {
                        DWORD old = 0;
                        if (SUCCEEDED(device_->GetRenderState(state, &old))) saved_.emplace_back(state, old);
                    }
        }
        if (passes) *passes = (UINT)current_->passes.size();
        return D3D_OK;
    }
    HRESULT BeginPass(UINT index) override {
        if (!inBegin_ || activePass_ || index >= current_->passes.size()) return D3DERR_INVALIDCALL;
        activePass_ = &current_->passes[index];
        for (const auto& [state, value] : activePass_->states) device_->SetRenderState(state, value);
        for (const Parameter& p : params_)
            if (p.type == Type::Sampler && p.texture) device_->SetTexture((DWORD)p.stage, p.texture);
        PortDeviceSetProgram(device_, activePass_->program);
        upload(*activePass_, true);
        return D3D_OK;
    }
    HRESULT CommitChanges() override {
        if (!activePass_) return D3DERR_INVALIDCALL;
        for (const Parameter& p : params_)
            if (p.type == Type::Sampler && p.texture) device_->SetTexture((DWORD)p.stage, p.texture);
        upload(*activePass_, false);
        return D3D_OK;
    }
    HRESULT EndPass() override {
        if (!activePass_) return D3DERR_INVALIDCALL;
        activePass_ = nullptr;
        return D3D_OK;
    }
    HRESULT End() override {
        if (!inBegin_) return D3DERR_INVALIDCALL;
        activePass_ = nullptr;
        inBegin_ = false;
        PortDeviceSetProgram(device_, 0);
        for (const auto& [state, value] : saved_) device_->SetRenderState(state, value);
        saved_.clear();
        return D3D_OK;
    }
    HRESULT OnLostDevice() override { return D3D_OK; } // GL programs survive a reset
    HRESULT OnResetDevice() override { return D3D_OK; }

private:
    ~Effect() override {
        if (inBegin_) End();
        for (Parameter& p : params_)
            if (p.texture) p.texture->Release();
        for (Technique& t : techniques_)
            for (Pass& p : t.passes)
                if (p.program) PortDeviceDeleteProgram(device_, p.program);
        device_->Release();
    }
    Parameter* find(D3DXHANDLE h) {
        if (!h) return nullptr;
        for (Parameter& p : params_)
            if (p.name == h) return &p;
        return nullptr;
    }
    Technique* technique(D3DXHANDLE h) {
        if (!h) return nullptr;
        for (Technique& t : techniques_)
            if (t.name == h) return &t;
        return nullptr;
    }
    static bool isScalar(Type t) { return t == Type::Float || t == Type::Int || t == Type::Bool; }
    HRESULT set(Parameter* p, const float* v, int count) {
        std::memcpy(p->value, v, sizeof(float) * std::min(count, 16));
        ++p->serial;
        return D3D_OK;
    }
    HRESULT setScalar(D3DXHANDLE h, float v) {
        Parameter* p = find(h);
        if (!p || !isScalar(p->type)) return D3DERR_INVALIDCALL;
        // Integers keep the whole part, booleans whether it is non-zero.
        if (p->type == Type::Int) v = static_cast<float>(toInt(v));
        else if (p->type == Type::Bool) v = v != 0.0f ? 1.0f : 0.0f;
        return set(p, &v, 1);
    }
    // Saturating float to int: NaN gives 0, values beyond the range its end.
    static GLint toInt(float v) {
        if (!(v == v)) return 0;
        if (v >= 2147483648.0f) return INT_MAX;
        if (v < -2147483648.0f) return INT_MIN;
        return static_cast<GLint>(v);
    }
    // What a state accepts, as device validation would judge it: the
    // enumerated states take only their named values.
    static HRESULT stateValueAccepted(D3DRENDERSTATETYPE state, DWORD value) {
        auto within = [value](DWORD low, DWORD high) { return value >= low && value <= high; };
        switch (state) {
        case D3DRS_ZENABLE: return within(D3DZB_FALSE, D3DZB_TRUE) ? D3D_OK : D3DERR_CONFLICTINGRENDERSTATE;
        case D3DRS_FILLMODE: return within(D3DFILL_POINT, D3DFILL_SOLID) ? D3D_OK : D3DERR_CONFLICTINGRENDERSTATE;
        case D3DRS_SHADEMODE: return within(D3DSHADE_FLAT, D3DSHADE_GOURAUD) ? D3D_OK : D3DERR_CONFLICTINGRENDERSTATE;
        case D3DRS_CULLMODE: return within(D3DCULL_NONE, D3DCULL_CCW) ? D3D_OK : D3DERR_CONFLICTINGRENDERSTATE;
        case D3DRS_ZFUNC:
        case D3DRS_ALPHAFUNC: return within(D3DCMP_NEVER, D3DCMP_ALWAYS) ? D3D_OK : D3DERR_CONFLICTINGRENDERSTATE;
        case D3DRS_SRCBLEND:
        case D3DRS_DESTBLEND:
            return within(D3DBLEND_ZERO, D3DBLEND_INVBLENDFACTOR) ? D3D_OK : D3DERR_CONFLICTINGRENDERSTATE;
        case D3DRS_BLENDOP: return within(D3DBLENDOP_ADD, D3DBLENDOP_MAX) ? D3D_OK : D3DERR_CONFLICTINGRENDERSTATE;
        case D3DRS_COLORWRITEENABLE: return within(0, 15) ? D3D_OK : D3DERR_CONFLICTINGRENDERSTATE;
        case D3DRS_ALPHAREF: return within(0, 255) ? D3D_OK : D3DERR_UNSUPPORTEDFACTORVALUE;
        default: return D3D_OK;
        }
    }
    // Sends changed parameters to the pass's program, leaving the program
    // that was in use bound (the device keeps track of it).
    void upload(Pass& pass, bool all) {
        PortDeviceActivate(device_);
        GLint previous = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
        glUseProgram(pass.program);
        for (size_t i = 0; i < params_.size(); ++i) {
            const Parameter& p = params_[i];
            const int loc = pass.locations[i];
            if (loc < 0 || (!all && pass.uploaded[i] == p.serial)) continue;
            pass.uploaded[i] = p.serial;
            switch (p.type) {
            case Type::Float: glUniform1f(loc, p.value[0]); break;
            case Type::Vec2: glUniform2fv(loc, 1, p.value); break;
            case Type::Vec3: glUniform3fv(loc, 1, p.value); break;
            case Type::Vec4: glUniform4fv(loc, 1, p.value); break;
            // Row-vector matrices go up as they are: read column-major,
            // M * v in GLSL equals v * M in Direct3D.
            case Type::Mat4: glUniformMatrix4fv(loc, 1, GL_FALSE, p.value); break;
            case Type::Int:
            case Type::Bool: glUniform1i(loc, toInt(p.value[0])); break;
            case Type::Sampler: glUniform1i(loc, p.stage); break;
            }
        }
        glUseProgram((GLuint)previous);
    }

    IDirect3DDevice9* device_;
    std::vector<Parameter> params_;
    std::vector<Technique> techniques_;
    Technique* current_ = nullptr;
    Pass* activePass_ = nullptr;
    bool inBegin_ = false, saveStates_ = true;
    std::vector<std::pair<D3DRENDERSTATETYPE, DWORD>> saved_;
};

ID3DXBuffer* textBuffer(const std::string& text) {
    auto* b = new Buffer(text.size() + 1);
    std::memcpy(b->GetBufferPointer(), text.c_str(), text.size() + 1);
    return b;
}

} // namespace

HRESULT D3DXCreateEffect(IDirect3DDevice9* device, LPCVOID srcData, UINT srcDataLen, const D3DXMACRO* defines,
                         LPD3DXINCLUDE include, DWORD flags, LPD3DXEFFECTPOOL pool, ID3DXEffect** effect,
                         ID3DXBuffer** compilationErrors) {
    (void)include; // effect files here are self-contained
    (void)flags;
    (void)pool;
    if (compilationErrors) *compilationErrors = nullptr;
    if (!device || !srcData || !srcDataLen || !effect) return D3DERR_INVALIDCALL;
    *effect = nullptr;
    try {
        std::string source(static_cast<const char*>(srcData), srcDataLen);
        // Macros become #defines ahead of the shared code of every program.
        std::string macros;
        for (const D3DXMACRO* m = defines; m && m->Name; ++m)
            macros += std::string("code <<<\n#define ") + m->Name + " " + (m->Definition ? m->Definition : "") + "\n>>>\n";
        source = macros + source;
        auto* e = new Effect(device);
        std::string errors;
        const HRESULT hr = e->build(source, errors);
        if (FAILED(hr)) {
            if (compilationErrors) *compilationErrors = textBuffer(errors);
            e->Release();
            return hr;
        }
        *effect = e;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}
