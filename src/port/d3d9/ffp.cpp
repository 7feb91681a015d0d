#include "port/d3d9/ffp.h"

// GCC 12 reports a false -Wrestrict on "literal" + std::string temporaries (its bug 105329).
#pragma GCC diagnostic ignored "-Wrestrict"

#include <sstream>

#include "port/d3d9/d3d9types.h"
#include "port/d3d9/glcaps.h"

namespace {

const char* CmpOp(int func) {
    switch (func) {
    case D3DCMP_LESS: return "<";
    case D3DCMP_EQUAL: return "==";
    case D3DCMP_LESSEQUAL: return "<=";
    case D3DCMP_GREATER: return ">";
    case D3DCMP_NOTEQUAL: return "!=";
    case D3DCMP_GREATEREQUAL: return ">=";
    default: return nullptr;
    }
}

std::string MaterialSource(int source, const char* material) {
    if (source == 1) return "a_diffuse";
    if (source == 2) return "a_specular";
    return material;
}

// The value of a texture-stage argument.
std::string Arg(const PortFfpKey&, int stage, int arg) {
    std::string base;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: base = "v_diffuse"; break;
    case D3DTA_CURRENT: base = "current"; break;
    case D3DTA_TEXTURE: base = "tex" + std::to_string(stage); break;
    case D3DTA_TFACTOR: base = "u_tfactor"; break;
    case D3DTA_SPECULAR: base = "v_specular"; break;
    case D3DTA_TEMP: base = "temp"; break;
    case D3DTA_CONSTANT: base = "u_stageConst[" + std::to_string(stage) + "]"; break;
    default: base = "current"; break;
    }
    if (arg & D3DTA_ALPHAREPLICATE) base = "vec4(" + base + ".a)";
    if (arg & D3DTA_COMPLEMENT) base = "(vec4(1.0) - " + base + ")";
    return base;
}

// Expression of an operation on arguments; 'c' selects the colour (rgb) or
// alpha (a) part of vec4 values.
std::string Op(int op, const std::string& a0, const std::string& a1, const std::string& a2, const std::string& c,
               int stage) {
    const std::string t = "tex" + std::to_string(stage);
    auto s = [&](const std::string& v) { return "(" + v + ")." + c; };
    switch (op) {
    case D3DTOP_SELECTARG1: return s(a1);
    case D3DTOP_SELECTARG2: return s(a2);
    case D3DTOP_MODULATE: return s(a1) + " * " + s(a2);
    case D3DTOP_MODULATE2X: return s(a1) + " * " + s(a2) + " * 2.0";
    case D3DTOP_MODULATE4X: return s(a1) + " * " + s(a2) + " * 4.0";
    case D3DTOP_ADD: return s(a1) + " + " + s(a2);
    case D3DTOP_ADDSIGNED: return s(a1) + " + " + s(a2) + " - 0.5";
    case D3DTOP_ADDSIGNED2X: return "(" + s(a1) + " + " + s(a2) + " - 0.5) * 2.0";
    case D3DTOP_SUBTRACT: return s(a1) + " - " + s(a2);
    case D3DTOP_ADDSMOOTH: return s(a1) + " + " + s(a2) + " * (1.0 - " + s(a1) + ")";
    case D3DTOP_BLENDDIFFUSEALPHA: return "mix(" + s(a2) + ", " + s(a1) + ", v_diffuse.a)";
    case D3DTOP_BLENDTEXTUREALPHA: return "mix(" + s(a2) + ", " + s(a1) + ", " + t + ".a)";
    case D3DTOP_BLENDFACTORALPHA: return "mix(" + s(a2) + ", " + s(a1) + ", u_tfactor.a)";
    case D3DTOP_BLENDCURRENTALPHA: return "mix(" + s(a2) + ", " + s(a1) + ", current.a)";
    case D3DTOP_BLENDTEXTUREALPHAPM: return s(a1) + " + " + s(a2) + " * (1.0 - " + t + ".a)";
    case D3DTOP_MODULATEALPHA_ADDCOLOR: return c == "a" ? s(a1) : s(a1) + " + (" + a1 + ").a * " + s(a2);
    case D3DTOP_MODULATECOLOR_ADDALPHA: return c == "a" ? s(a1) : s(a1) + " * " + s(a2) + " + (" + a1 + ").a";
    case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
        return c == "a" ? s(a1) : s(a1) + " + (1.0 - (" + a1 + ").a) * " + s(a2);
    case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
        return c == "a" ? s(a1) : "(1.0 - " + s(a1) + ") * " + s(a2) + " + (" + a1 + ").a";
    case D3DTOP_DOTPRODUCT3: {
        std::string d = "dot((" + a1 + ").rgb - 0.5, (" + a2 + ").rgb - 0.5) * 4.0";
        return c == "a" ? d : "vec3(" + d + ")";
    }
    case D3DTOP_MULTIPLYADD: return s(a0) + " + " + s(a1) + " * " + s(a2);
    case D3DTOP_LERP: return "mix(" + s(a2) + ", " + s(a1) + ", " + s(a0) + ")";
    default: return s(a1) + " * " + s(a2);  // unsupported operations modulate
    }
}


}  // namespace

int PortInstanceCapacity() {
    const int capacity = PortGetGLCaps().maxUniformBlockSize / (PORT_INSTANCE_VEC4S * 16);
    return capacity < 1 ? 1 : capacity > 256 ? 256 : capacity;
}

bool PortInstanceAttributes(const PortFfpKey& k, int locations[PORT_INSTANCE_VEC4S]) {
    for (int i = 0; i < PORT_INSTANCE_VEC4S; ++i) locations[i] = -1;
    if (k.posType == 1 || !PortGetGLCaps().baseInstance) return false;
    // What the generated code reads: the camera-space position for fog,
    // local lights, a local viewer's highlights and scaled points; normals
    // only when lit.
    const bool eye = k.fogMode == 1 || k.fogMode == 2 || k.pointScale ||
                     (k.lighting && (k.pointLights || k.spotLights || (k.specular && k.localViewer)));
    const bool normals = k.lighting && k.hasNormal;
    uint32_t used = 1u << PORT_ATTRIB_POSITION;
    if (k.hasNormal) used |= 1u << PORT_ATTRIB_NORMAL;
    if (k.hasPSize) used |= 1u << PORT_ATTRIB_PSIZE;
    if (k.hasDiffuse) used |= 1u << PORT_ATTRIB_DIFFUSE;
    if (k.hasSpecular) used |= 1u << PORT_ATTRIB_SPECULAR;
    for (int i = 0; i < k.texCoordCount; ++i) used |= 1u << (PORT_ATTRIB_TEXCOORD0 + i);
    int next = 15;  // every OpenGL 3.3 implementation has 16 attribute locations
    auto take = [&](int first, int count) {
        for (int i = first; i < first + count; ++i) {
            while (next >= 0 && (used & (1u << next))) --next;
            if (next < 0) return false;
            locations[i] = next--;
        }
        return true;
    };
    if (take(0, 4) && (!eye || take(4, 4)) && (!normals || take(8, 3))) return true;
    for (int i = 0; i < PORT_INSTANCE_VEC4S; ++i) locations[i] = -1;
    return false;
}

void PortFfpSources(const PortFfpKey& k, std::string& vertexOut, std::string& fragmentOut) {
    const bool rhw = k.posType == 1;
    const int lights = k.dirLights + k.pointLights + k.spotLights;
    const char* interp = k.flatShade ? "flat " : "";
    std::ostringstream vs;
    vs << "#version 330 core\n";
    vs << "layout(location = 0) in vec4 a_position;\n";
    if (k.hasNormal) vs << "layout(location = 1) in vec3 a_normal;\n";
    if (k.hasPSize) vs << "layout(location = 2) in float a_psize;\n";
    if (k.hasDiffuse) vs << "layout(location = 3) in vec4 a_diffuse;\n";
    if (k.hasSpecular) vs << "layout(location = 4) in vec4 a_specular;\n";
    for (int i = 0; i < k.texCoordCount; ++i)
        vs << "layout(location = " << (5 + i) << ") in vec4 a_tex" << i << ";\n";
    int instance[PORT_INSTANCE_VEC4S];
    const bool attributes = PortInstanceAttributes(k, instance);
    if (rhw) {
        vs << "uniform mat4 u_wvp;\nuniform mat4 u_wv;\nuniform mat3 u_nrm;\n";
    } else if (attributes) {
        for (int i = 0; i < PORT_INSTANCE_VEC4S; ++i)
            if (instance[i] >= 0) vs << "layout(location = " << instance[i] << ") in vec4 i_entry" << i << ";\n";
    } else {
        vs << "layout(std140) uniform PortInstances {\n  vec4 u_instance[" << PortInstanceCapacity() * PORT_INSTANCE_VEC4S
           << "];\n};\n";
    }
    vs << "uniform vec4 u_screen;\n";  // x, y: pixel-centre offset; z: y sign
    vs << "uniform vec4 u_viewportRect;\n";
    vs << "uniform vec4 u_fog;\nuniform vec4 u_point;\nuniform vec3 u_pointScale;\n";
    if (k.lighting) {
        vs << "uniform vec4 u_matDiffuse, u_matAmbient, u_matSpecular, u_matEmissive;\n";
        vs << "uniform float u_matPower;\nuniform vec4 u_globalAmbient;\n";
        if (lights > 0) {
            vs << "uniform vec3 u_lightPos[8];\nuniform vec3 u_lightDir[8];\n";
            vs << "uniform vec4 u_lightDiffuse[8];\nuniform vec4 u_lightSpecular[8];\nuniform vec4 u_lightAmbient[8];\n";
            vs << "uniform vec4 u_lightAtt[8];\nuniform vec3 u_lightSpot[8];\n";
        }
    }
    vs << interp << "out vec4 v_diffuse;\n" << interp << "out vec4 v_specular;\n";
    for (int i = 0; i < 8; ++i) {
        if (k.stages[i].hasTexture && i < k.stageCount) vs << "out vec4 v_tex" << i << ";\n";
    }
    vs << "out float v_fog;\nout float v_eyeDepth;\n";
    vs << "void main() {\n";
    if (!rhw) {
        auto entry = [&](int i) {
            return attributes ? "i_entry" + std::to_string(i) : "u_instance[inst + " + std::to_string(i) + "]";
        };
        if (!attributes) vs << "  int inst = gl_InstanceID * " << PORT_INSTANCE_VEC4S << ";\n";
        vs << "  mat4 u_wvp = mat4(" << entry(0) << ", " << entry(1) << ", " << entry(2) << ", " << entry(3) << ");\n";
        if (!attributes || instance[4] >= 0)
            vs << "  mat4 u_wv = mat4(" << entry(4) << ", " << entry(5) << ", " << entry(6) << ", " << entry(7) << ");\n";
        else
            vs << "  mat4 u_wv = mat4(1.0);\n";  // not read
        if (!attributes || instance[8] >= 0)
            vs << "  mat3 u_nrm = mat3(" << entry(8) << ".xyz, " << entry(9) << ".xyz, " << entry(10) << ".xyz);\n";
        else
            vs << "  mat3 u_nrm = mat3(1.0);\n";
    }
    vs << "  vec4 clip;\n  vec3 eye;\n";
    if (rhw) {
        vs << "  float w = a_position.w != 0.0 ? 1.0 / a_position.w : 1.0;\n";
        vs << "  vec2 ndc = vec2((a_position.x - u_viewportRect.x) * 2.0 / u_viewportRect.z - 1.0,\n"
              "                  1.0 - (a_position.y - u_viewportRect.y) * 2.0 / u_viewportRect.w);\n";
        vs << "  clip = vec4(ndc * w, a_position.z * w, w);\n";
        vs << "  eye = vec3(0.0, 0.0, w);\n";
    } else {
        vs << "  vec4 p = " << (k.posType == 2 ? "a_position" : "vec4(a_position.xyz, 1.0)") << ";\n";
        vs << "  clip = u_wvp * p;\n";
        vs << "  eye = (u_wv * p).xyz;\n";
    }
    vs << "  v_eyeDepth = " << (k.rangeFog ? "length(eye)" : "abs(eye.z)") << ";\n";
    // Colours. A distant viewer lies along -z of camera space, where the
    // camera looks along +z.
    if (k.lighting && !rhw) {
        vs << "  vec3 N = " << (k.hasNormal ? "u_nrm * a_normal" : "vec3(0.0)") << ";\n";
        if (k.normalize && k.hasNormal) vs << "  if (dot(N, N) > 0.0) N = normalize(N);\n";
        vs << "  vec3 V = " << (k.localViewer ? "normalize(-eye)" : "vec3(0.0, 0.0, -1.0)") << ";\n";
        vs << "  vec4 Cd = " << MaterialSource(k.diffuseSource, "u_matDiffuse") << ";\n";
        vs << "  vec4 Ca = " << MaterialSource(k.ambientSource, "u_matAmbient") << ";\n";
        vs << "  vec4 Cs = " << MaterialSource(k.specularSource, "u_matSpecular") << ";\n";
        vs << "  vec4 Ce = " << MaterialSource(k.emissiveSource, "u_matEmissive") << ";\n";
        vs << "  vec3 ambient = u_globalAmbient.rgb;\n  vec3 diffuse = vec3(0.0);\n  vec3 specular = vec3(0.0);\n";
        int index = 0;
        for (int type = 0; type < 3; ++type) {
            int count = type == 0 ? k.dirLights : type == 1 ? k.pointLights : k.spotLights;
            for (int n = 0; n < count; ++n, ++index) {
                const std::string i = std::to_string(index);
                vs << "  {\n";
                if (type == 0) {
                    vs << "    vec3 L = u_lightDir[" << i << "];\n    float att = 1.0;\n";
                } else {
                    vs << "    vec3 toLight = u_lightPos[" << i << "] - eye;\n";
                    vs << "    float d = length(toLight);\n";
                    vs << "    vec3 L = d > 0.0 ? toLight / d : vec3(0.0, 0.0, 1.0);\n";
                    vs << "    vec4 A = u_lightAtt[" << i << "];\n";
                    vs << "    float denom = A.x + A.y * d + A.z * d * d;\n";
                    vs << "    float att = d > A.w ? 0.0 : (denom > 0.0 ? 1.0 / denom : 1.0);\n";
                    if (type == 2) {
                        vs << "    vec3 S = u_lightSpot[" << i << "];\n";
                        vs << "    float rho = dot(-u_lightDir[" << i << "], L);\n";
                        vs << "    float spot = rho > S.x ? 1.0 : (rho <= S.y ? 0.0 : "
                              "pow(max((rho - S.y) / max(S.x - S.y, 1e-6), 0.0), S.z));\n";
                        vs << "    att *= spot;\n";
                    }
                }
                vs << "    float NdotL = max(dot(N, L), 0.0);\n";
                vs << "    ambient += u_lightAmbient[" << i << "].rgb * att;\n";
                vs << "    diffuse += u_lightDiffuse[" << i << "].rgb * NdotL * att;\n";
                if (k.specular) {
                    vs << "    if (NdotL > 0.0 && att > 0.0) {\n";
                    vs << "      vec3 H = normalize(V + L);\n";
                    vs << "      float NdotH = max(dot(N, H), 0.0);\n";
                    vs << "      float f = u_matPower > 0.0 ? pow(NdotH, u_matPower) : 1.0;\n";
                    vs << "      specular += u_lightSpecular[" << i << "].rgb * f * att;\n";
                    vs << "    }\n";
                }
                vs << "  }\n";
            }
        }
        vs << "  v_diffuse = vec4(clamp(Ca.rgb * ambient + Cd.rgb * diffuse + Ce.rgb, 0.0, 1.0), clamp(Cd.a, 0.0, 1.0));\n";
        vs << "  v_specular = vec4(clamp(Cs.rgb * specular, 0.0, 1.0), clamp(Cs.a, 0.0, 1.0));\n";
    } else {
        vs << "  v_diffuse = " << (k.hasDiffuse ? "a_diffuse" : "vec4(1.0)") << ";\n";
        vs << "  v_specular = " << (k.hasSpecular ? "a_specular" : "vec4(0.0)") << ";\n";
    }
    // Fog factor.
    if (k.fogMode == 1) {
        vs << "  float fd = v_eyeDepth;\n";
        if (k.fogFunc == D3DFOG_LINEAR)
            vs << "  v_fog = clamp((u_fog.y - fd) / max(u_fog.y - u_fog.x, 1e-6), 0.0, 1.0);\n";
        else if (k.fogFunc == D3DFOG_EXP)
            vs << "  v_fog = clamp(exp(-u_fog.z * fd), 0.0, 1.0);\n";
        else
            vs << "  v_fog = clamp(exp(-(u_fog.z * fd) * (u_fog.z * fd)), 0.0, 1.0);\n";
    } else if (k.fogMode == 3) {
        vs << "  v_fog = v_specular.a;\n";
    } else {
        vs << "  v_fog = 1.0;\n";
    }
    // Texture coordinates.
    for (int i = 0; i < k.stageCount && i < 8; ++i) {
        if (!k.stages[i].hasTexture) continue;
        int set = k.stages[i].texCoord;
        if (set < k.texCoordCount) vs << "  v_tex" << i << " = a_tex" << set << ";\n";
        else vs << "  v_tex" << i << " = vec4(0.0, 0.0, 0.0, 1.0);\n";
    }
    // Point size.
    if (k.points) {
        vs << "  float size = " << (k.hasPSize ? "a_psize" : "u_point.x") << ";\n";
        if (k.pointScale && !rhw) {
            vs << "  float De = length(eye);\n";
            vs << "  size = u_point.w * size * sqrt(1.0 / max(u_pointScale.x + u_pointScale.y * De + u_pointScale.z * De * De, 1e-12));\n";
        }
        vs << "  gl_PointSize = clamp(size, u_point.y, u_point.z);\n";
    }
    if (!k.clipControl) vs << "  clip.z = 2.0 * clip.z - clip.w;\n";
    // Direct3D 9 pixel centres lie on integer coordinates; the last line flips
    // rendering into textures so that their row 0 is the top row.
    vs << "  clip.x += u_screen.x * clip.w;\n  clip.y -= u_screen.y * clip.w;\n  clip.y *= u_screen.z;\n";
    vs << "  gl_Position = clip;\n";
    vs << "}\n";

    std::ostringstream fs;
    fs << "#version 330 core\n";
    fs << interp << "in vec4 v_diffuse;\n" << interp << "in vec4 v_specular;\n";
    fs << "in float v_fog;\nin float v_eyeDepth;\n";
    fs << "uniform vec4 u_tfactor;\nuniform vec4 u_stageConst[8];\nuniform int u_alphaRef;\n";
    fs << "uniform vec4 u_fogColor;\nuniform vec4 u_fog;\n";
    for (int i = 0; i < k.stageCount && i < 8; ++i) {
        if (!k.stages[i].hasTexture) continue;
        fs << "uniform sampler2D u_tex" << i << ";\nin vec4 v_tex" << i << ";\n";
    }
    fs << "out vec4 o_color;\n";
    fs << "void main() {\n";
    fs << "  vec4 current = v_diffuse;\n  vec4 temp = vec4(0.0);\n";
    for (int i = 0; i < k.stageCount && i < 8; ++i) {
        const PortFfpStage& st = k.stages[i];
        if (st.hasTexture) {
            const std::string coord = k.pointSprite && k.points ? "gl_PointCoord" : "v_tex" + std::to_string(i) + ".xy";
            fs << "  vec4 tex" << i << " = texture(u_tex" << i << ", " << coord << ");\n";
        } else {
            fs << "  vec4 tex" << i << " = vec4(1.0);\n";
        }
        std::string c0 = Arg(k, i, st.colorArg0), c1 = Arg(k, i, st.colorArg1), c2 = Arg(k, i, st.colorArg2);
        std::string a0 = Arg(k, i, st.alphaArg0), a1 = Arg(k, i, st.alphaArg1), a2 = Arg(k, i, st.alphaArg2);
        fs << "  {\n";
        fs << "    vec3 rgb = clamp(" << Op(st.colorOp, c0, c1, c2, "rgb", i) << ", 0.0, 1.0);\n";
        if (st.alphaOp == D3DTOP_DISABLE)
            fs << "    float alpha = current.a;\n";
        else
            fs << "    float alpha = clamp(" << Op(st.alphaOp, a0, a1, a2, "a", i) << ", 0.0, 1.0);\n";
        fs << "    " << (st.resultTemp ? "temp" : "current") << " = vec4(rgb, alpha);\n";
        fs << "  }\n";
    }
    if (k.specular) fs << "  current.rgb = clamp(current.rgb + v_specular.rgb, 0.0, 1.0);\n";
    if (k.fogMode == 2) {
        fs << "  float fd = v_eyeDepth;\n  float f;\n";
        if (k.fogFunc == D3DFOG_LINEAR) fs << "  f = clamp((u_fog.y - fd) / max(u_fog.y - u_fog.x, 1e-6), 0.0, 1.0);\n";
        else if (k.fogFunc == D3DFOG_EXP) fs << "  f = clamp(exp(-u_fog.z * fd), 0.0, 1.0);\n";
        else fs << "  f = clamp(exp(-(u_fog.z * fd) * (u_fog.z * fd)), 0.0, 1.0);\n";
        fs << "  current.rgb = mix(u_fogColor.rgb, current.rgb, f);\n";
    } else if (k.fogMode == 1 || k.fogMode == 3) {
        fs << "  current.rgb = mix(u_fogColor.rgb, current.rgb, clamp(v_fog, 0.0, 1.0));\n";
    }
    if (k.alphaFunc) {
        const char* op = CmpOp(k.alphaFunc);
        fs << "  int a8 = int(clamp(current.a, 0.0, 1.0) * 255.0 + 0.5);\n";
        if (k.alphaFunc == D3DCMP_NEVER) fs << "  discard;\n";
        else if (op) fs << "  if (!(a8 " << op << " u_alphaRef)) discard;\n";
    }
    fs << "  o_color = current;\n";
    fs << "}\n";
    vertexOut = vs.str();
    fragmentOut = fs.str();
}

namespace {
GLuint Compile(GLenum type, const std::string& source, std::string& log) {
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        GLint length = 0;
        glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
        std::string text2(static_cast<size_t>(length > 0 ? length : 1), '\0');
        glGetShaderInfoLog(shader, length, nullptr, text2.data());
        log += text2;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}
}  // namespace

GLuint PortLinkProgram(const std::string& vertex, const std::string& fragment, std::string& log) {
    GLuint vs = Compile(GL_VERTEX_SHADER, vertex, log);
    if (!vs) return 0;
    GLuint fs = Compile(GL_FRAGMENT_SHADER, fragment, log);
    if (!fs) {
        glDeleteShader(vs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    static const char* names[] = {"a_position", "a_normal", "a_psize", "a_diffuse", "a_specular",
                                  "a_tex0",     "a_tex1",   "a_tex2",  "a_tex3",    "a_tex4",
                                  "a_tex5",     "a_tex6",   "a_tex7"};
    for (GLuint i = 0; i < PORT_ATTRIB_COUNT; ++i) glBindAttribLocation(program, i, names[i]);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        GLint length = 0;
        glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        std::string text(static_cast<size_t>(length > 0 ? length : 1), '\0');
        glGetProgramInfoLog(program, length, nullptr, text.data());
        log += text;
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

bool PortBuildFfpProgram(const PortFfpKey& key, PortFfpProgram& out, std::string& log) {
    std::string vs, fs;
    PortFfpSources(key, vs, fs);
    GLuint program = PortLinkProgram(vs, fs, log);
    if (!program) return false;
    out = PortFfpProgram{};
    out.program = program;
    auto loc = [&](const char* name) { return glGetUniformLocation(program, name); };
    out.wvp = loc("u_wvp");
    out.wv = loc("u_wv");
    out.nrm = loc("u_nrm");
    out.screen = loc("u_screen");
    out.viewportRect = loc("u_viewportRect");
    out.matDiffuse = loc("u_matDiffuse");
    out.matAmbient = loc("u_matAmbient");
    out.matSpecular = loc("u_matSpecular");
    out.matEmissive = loc("u_matEmissive");
    out.matPower = loc("u_matPower");
    out.globalAmbient = loc("u_globalAmbient");
    out.lightPos = loc("u_lightPos");
    out.lightDir = loc("u_lightDir");
    out.lightDiffuse = loc("u_lightDiffuse");
    out.lightSpecular = loc("u_lightSpecular");
    out.lightAmbient = loc("u_lightAmbient");
    out.lightAtt = loc("u_lightAtt");
    out.lightSpot = loc("u_lightSpot");
    out.fog = loc("u_fog");
    out.fogColor = loc("u_fogColor");
    out.point = loc("u_point");
    out.pointScale = loc("u_pointScale");
    out.tfactor = loc("u_tfactor");
    out.stageConst = loc("u_stageConst");
    out.alphaRef = loc("u_alphaRef");
    if (key.posType != 1) {
        out.instanced = true;
        if (PortInstanceAttributes(key, out.instanceLocation)) {
            for (int location : out.instanceLocation)
                if (location >= 0) out.instanceMask = static_cast<uint16_t>(out.instanceMask | (1u << location));
        } else {
            out.instanceBlock = true;
            const GLuint block = glGetUniformBlockIndex(program, "PortInstances");
            if (block != GL_INVALID_INDEX) glUniformBlockBinding(program, block, PORT_INSTANCE_BINDING);
        }
    }
    glUseProgram(program);
    for (int i = 0; i < 8; ++i) {
        std::string name = "u_tex" + std::to_string(i);
        GLint l = glGetUniformLocation(program, name.c_str());
        if (l >= 0) glUniform1i(l, i);
    }
    return true;
}
