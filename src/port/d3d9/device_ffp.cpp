// The fixed-function program cache: program keys from the device state,
// program selection and uniform upload.
#include "port/d3d9/device.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "port/d3d9/device_helpers.h"
#include "port/win32/portlog.h"

using namespace d3d9;

void PortDevice::BuildKey(PortFfpKey& key, D3DPRIMITIVETYPE type, DWORD fvf) {
    key = PortFfpKey{};
    const DWORD pos = fvf & D3DFVF_POSITION_MASK;
    key.posType = pos == D3DFVF_XYZRHW ? 1 : pos == D3DFVF_XYZW ? 2 : 0;
    const bool rhw = key.posType == 1;
    key.hasNormal = (fvf & D3DFVF_NORMAL) ? 1 : 0;
    key.hasPSize = (fvf & D3DFVF_PSIZE) ? 1 : 0;
    key.hasDiffuse = (fvf & D3DFVF_DIFFUSE) ? 1 : 0;
    key.hasSpecular = (fvf & D3DFVF_SPECULAR) ? 1 : 0;
    key.texCoordCount = static_cast<uint8_t>(std::min<DWORD>(8, (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT));
    key.lighting = (m_rs[D3DRS_LIGHTING] && !rhw) ? 1 : 0;
    key.specular = m_rs[D3DRS_SPECULARENABLE] ? 1 : 0;
    if (key.lighting) {
        size_t n = 0;
        for (DWORD index : m_activeLights) {
            if (n++ >= m_caps.MaxActiveLights) break;
            switch (m_lights[index].light.Type) {
            case D3DLIGHT_DIRECTIONAL: ++key.dirLights; break;
            case D3DLIGHT_POINT: ++key.pointLights; break;
            default: ++key.spotLights; break;
            }
        }
        key.localViewer = m_rs[D3DRS_LOCALVIEWER] ? 1 : 0;
        key.normalize = m_rs[D3DRS_NORMALIZENORMALS] ? 1 : 0;
        auto source = [&](D3DRENDERSTATETYPE s) -> uint8_t {
            if (!m_rs[D3DRS_COLORVERTEX]) return 0;
            const DWORD v = m_rs[s];
            if (v == D3DMCS_COLOR1 && key.hasDiffuse) return 1;
            if (v == D3DMCS_COLOR2 && key.hasSpecular) return 2;
            return 0;
        };
        key.diffuseSource = source(D3DRS_DIFFUSEMATERIALSOURCE);
        key.ambientSource = source(D3DRS_AMBIENTMATERIALSOURCE);
        key.specularSource = source(D3DRS_SPECULARMATERIALSOURCE);
        key.emissiveSource = source(D3DRS_EMISSIVEMATERIALSOURCE);
    }
    if (m_rs[D3DRS_FOGENABLE]) {
        const DWORD table = m_rs[D3DRS_FOGTABLEMODE], vertex = m_rs[D3DRS_FOGVERTEXMODE];
        if (table >= D3DFOG_EXP && table <= D3DFOG_LINEAR) {
            key.fogMode = 2;
            key.fogFunc = static_cast<uint8_t>(table);
        } else if (vertex >= D3DFOG_EXP && vertex <= D3DFOG_LINEAR && !rhw) {
            key.fogMode = 1;
            key.fogFunc = static_cast<uint8_t>(vertex);
        } else {
            key.fogMode = 3;
        }
        key.rangeFog = (m_rs[D3DRS_RANGEFOGENABLE] && key.fogMode == 1) ? 1 : 0;
    }
    key.points = type == D3DPT_POINTLIST ? 1 : 0;
    key.pointScale = (key.points && m_rs[D3DRS_POINTSCALEENABLE] && !rhw) ? 1 : 0;
    key.pointSprite = (key.points && m_rs[D3DRS_POINTSPRITEENABLE]) ? 1 : 0;
    if (m_rs[D3DRS_ALPHATESTENABLE]) {
        const DWORD f = m_rs[D3DRS_ALPHAFUNC];
        key.alphaFunc = (f >= D3DCMP_NEVER && f < D3DCMP_ALWAYS) ? static_cast<uint8_t>(f) : 0;
    }
    key.flatShade = m_rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT ? 1 : 0;
    key.clipControl = PortGetGLCaps().clipControl ? 1 : 0;
    int count = 0;
    for (int s = 0; s < 8; ++s) {
        const DWORD* t = m_tss[s];
        DWORD colorOp = t[D3DTSS_COLOROP];
        if (colorOp == D3DTOP_DISABLE || colorOp == 0 || colorOp > D3DTOP_LERP) break;
        PortFfpStage& st = key.stages[s];
        const bool bound = m_textures[s] != nullptr;
        DWORD alphaOp = t[D3DTSS_ALPHAOP];
        if (alphaOp == 0 || alphaOp > D3DTOP_LERP) alphaOp = D3DTOP_DISABLE;
        DWORD c0 = t[D3DTSS_COLORARG0], c1 = t[D3DTSS_COLORARG1], c2 = t[D3DTSS_COLORARG2];
        DWORD a0 = t[D3DTSS_ALPHAARG0], a1 = t[D3DTSS_ALPHAARG1], a2 = t[D3DTSS_ALPHAARG2];
        // A stage reading a texture that is not bound passes the previous result on.
        if (!bound && UsesTexture(static_cast<int>(colorOp), c0, c1, c2)) {
            colorOp = D3DTOP_SELECTARG1;
            c1 = D3DTA_CURRENT;
        }
        if (!bound && alphaOp != D3DTOP_DISABLE && UsesTexture(static_cast<int>(alphaOp), a0, a1, a2)) {
            alphaOp = D3DTOP_SELECTARG1;
            a1 = D3DTA_CURRENT;
        }
        st.colorOp = static_cast<uint8_t>(colorOp);
        st.colorArg0 = static_cast<uint8_t>(c0);
        st.colorArg1 = static_cast<uint8_t>(c1);
        st.colorArg2 = static_cast<uint8_t>(c2);
        st.alphaOp = static_cast<uint8_t>(alphaOp);
        st.alphaArg0 = static_cast<uint8_t>(a0);
        st.alphaArg1 = static_cast<uint8_t>(a1);
        st.alphaArg2 = static_cast<uint8_t>(a2);
        st.resultTemp = t[D3DTSS_RESULTARG] == D3DTA_TEMP ? 1 : 0;
        st.texCoord = static_cast<uint8_t>(std::min<DWORD>(7, t[D3DTSS_TEXCOORDINDEX] & 0xFFFF));
        st.hasTexture = bound ? 1 : 0;
        ++count;
    }
    key.stageCount = static_cast<uint8_t>(count);
}

const D3DMATRIX& PortDevice::WorldViewProj() {
    if (m_wvpGeneration != m_generation[PORT_UG_TRANSFORM]) {
        m_wv = Multiply(m_world[0], m_view);
        m_wvp = Multiply(m_wv, m_proj);
        // Normals take the inverse transpose of the world-view 3x3 part.
        const float a = m_wv._11, b = m_wv._12, c = m_wv._13;
        const float d = m_wv._21, e = m_wv._22, f = m_wv._23;
        const float g = m_wv._31, h = m_wv._32, i = m_wv._33;
        const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
        const float D = -(b * i - c * h), E = a * i - c * g, F = -(a * h - b * g);
        const float G = b * f - c * e, H = -(a * f - c * d), I = a * e - b * d;
        float det = a * A + b * B + c * C;
        if (std::fabs(det) < 1e-20f) det = 1.0f;
        const float inv = 1.0f / det;
        // inverse = adj^T / det; its transpose is the cofactor matrix / det.
        const float n[9] = {A * inv, B * inv, C * inv, D * inv, E * inv, F * inv, G * inv, H * inv, I * inv};
        std::memcpy(m_normalMatrix, n, sizeof(n));
        m_wvpGeneration = m_generation[PORT_UG_TRANSFORM];
    }
    return m_wvp;
}

void PortDevice::UploadScreen(GLint location) {
    const float vw = static_cast<float>(m_viewport.Width), vh = static_cast<float>(m_viewport.Height);
    // Half a pixel, less 1/128 so that edges through pixel centres are
    // decided by Direct3D's top-left rule rather than by a tie.
    const float shift = 63.0f / 64.0f;
    glUniform4f(location, shift / vw, shift / vh, m_flipped ? -1.0f : 1.0f, 0.0f);
}

void PortDevice::SetProgramOverride(GLuint program) {
    m_programOverride = program;
    m_ffpDirty = true;
    m_overrideScreen = -1;
    m_overrideScreenGeneration = 0;
    if (program) {
        Activate();
        m_overrideScreen = glGetUniformLocation(program, "u_screen");
    }
}

void PortDevice::UploadUniforms(PortFfpProgram& p) {
    // Generated programs for untransformed vertices read their transforms
    // from the instance entries; only pre-transformed ones declare these.
    if (!p.instanced && p.wvp >= 0 && p.generation[PORT_UG_TRANSFORM] != m_generation[PORT_UG_TRANSFORM]) {
        WorldViewProj();
        glUniformMatrix4fv(p.wvp, 1, GL_FALSE, &m_wvp._11);
        if (p.wv >= 0) glUniformMatrix4fv(p.wv, 1, GL_FALSE, &m_wv._11);
        if (p.nrm >= 0) glUniformMatrix3fv(p.nrm, 1, GL_FALSE, m_normalMatrix);
        p.generation[PORT_UG_TRANSFORM] = m_generation[PORT_UG_TRANSFORM];
    }
    if (p.generation[PORT_UG_SCREEN] != m_generation[PORT_UG_SCREEN]) {
        const float vw = static_cast<float>(m_viewport.Width), vh = static_cast<float>(m_viewport.Height);
        UploadScreen(p.screen);
        if (p.viewportRect >= 0)
            glUniform4f(p.viewportRect, static_cast<float>(m_viewport.X), static_cast<float>(m_viewport.Y), vw, vh);
        p.generation[PORT_UG_SCREEN] = m_generation[PORT_UG_SCREEN];
    }
    if (p.generation[PORT_UG_MATERIAL] != m_generation[PORT_UG_MATERIAL]) {
        // Locations a program does not use are -1, which OpenGL ignores.
        glUniform4fv(p.matDiffuse, 1, &m_material.Diffuse.r);
        glUniform4fv(p.matAmbient, 1, &m_material.Ambient.r);
        glUniform4fv(p.matSpecular, 1, &m_material.Specular.r);
        glUniform4fv(p.matEmissive, 1, &m_material.Emissive.r);
        glUniform1f(p.matPower, m_material.Power);
        float ambient[4];
        ColorToFloats(m_rs[D3DRS_AMBIENT], ambient);
        glUniform4fv(p.globalAmbient, 1, ambient);
        p.generation[PORT_UG_MATERIAL] = m_generation[PORT_UG_MATERIAL];
    }
    if (p.generation[PORT_UG_LIGHTS] != m_generation[PORT_UG_LIGHTS]) {
        if (p.lightDiffuse >= 0 || p.lightAmbient >= 0) {
            float pos[24] = {}, dir[24] = {}, diffuse[32] = {}, specular[32] = {}, ambient[32] = {}, att[32] = {},
                  spot[24] = {};
            int n = 0;
            for (int type : {D3DLIGHT_DIRECTIONAL, D3DLIGHT_POINT, D3DLIGHT_SPOT}) {
                size_t seen = 0;
                for (DWORD index : m_activeLights) {
                    if (seen++ >= m_caps.MaxActiveLights) break;
                    const D3DLIGHT9& l = m_lights[index].light;
                    if (static_cast<int>(l.Type) != type) continue;
                    const D3DMATRIX& v = m_view;
                    const D3DVECTOR& P = l.Position;
                    pos[n * 3 + 0] = P.x * v._11 + P.y * v._21 + P.z * v._31 + v._41;
                    pos[n * 3 + 1] = P.x * v._12 + P.y * v._22 + P.z * v._32 + v._42;
                    pos[n * 3 + 2] = P.x * v._13 + P.y * v._23 + P.z * v._33 + v._43;
                    const D3DVECTOR& D = l.Direction;
                    float dx = D.x * v._11 + D.y * v._21 + D.z * v._31;
                    float dy = D.x * v._12 + D.y * v._22 + D.z * v._32;
                    float dz = D.x * v._13 + D.y * v._23 + D.z * v._33;
                    float len = std::sqrt(dx * dx + dy * dy + dz * dz);
                    if (len > 0) {
                        dx /= len;
                        dy /= len;
                        dz /= len;
                    }
                    // Directional lights store the direction towards the light.
                    const float sign = type == D3DLIGHT_DIRECTIONAL ? -1.0f : 1.0f;
                    dir[n * 3 + 0] = sign * dx;
                    dir[n * 3 + 1] = sign * dy;
                    dir[n * 3 + 2] = sign * dz;
                    std::memcpy(&diffuse[n * 4], &l.Diffuse, 16);
                    std::memcpy(&specular[n * 4], &l.Specular, 16);
                    std::memcpy(&ambient[n * 4], &l.Ambient, 16);
                    att[n * 4 + 0] = l.Attenuation0;
                    att[n * 4 + 1] = l.Attenuation1;
                    att[n * 4 + 2] = l.Attenuation2;
                    att[n * 4 + 3] = l.Range;
                    spot[n * 3 + 0] = std::cos(l.Theta / 2.0f);
                    spot[n * 3 + 1] = std::cos(l.Phi / 2.0f);
                    spot[n * 3 + 2] = l.Falloff;
                    ++n;
                }
            }
            if (n > 0) {
                if (p.lightPos >= 0) glUniform3fv(p.lightPos, n, pos);
                if (p.lightDir >= 0) glUniform3fv(p.lightDir, n, dir);
                if (p.lightDiffuse >= 0) glUniform4fv(p.lightDiffuse, n, diffuse);
                if (p.lightSpecular >= 0) glUniform4fv(p.lightSpecular, n, specular);
                if (p.lightAmbient >= 0) glUniform4fv(p.lightAmbient, n, ambient);
                if (p.lightAtt >= 0) glUniform4fv(p.lightAtt, n, att);
                if (p.lightSpot >= 0) glUniform3fv(p.lightSpot, n, spot);
            }
        }
        p.generation[PORT_UG_LIGHTS] = m_generation[PORT_UG_LIGHTS];
    }
    if (p.generation[PORT_UG_MISC] != m_generation[PORT_UG_MISC]) {
        float c[4];
        if (p.tfactor >= 0) {
            ColorToFloats(m_rs[D3DRS_TEXTUREFACTOR], c);
            glUniform4fv(p.tfactor, 1, c);
        }
        if (p.stageConst >= 0) {
            float constants[32];
            for (int s = 0; s < 8; ++s) ColorToFloats(m_tss[s][D3DTSS_CONSTANT], &constants[s * 4]);
            glUniform4fv(p.stageConst, 8, constants);
        }
        if (p.alphaRef >= 0) glUniform1i(p.alphaRef, static_cast<GLint>(m_rs[D3DRS_ALPHAREF] & 0xFF));
        if (p.fogColor >= 0) {
            ColorToFloats(m_rs[D3DRS_FOGCOLOR], c);
            glUniform4fv(p.fogColor, 1, c);
        }
        if (p.fog >= 0)
            glUniform4f(p.fog, AsFloat(m_rs[D3DRS_FOGSTART]), AsFloat(m_rs[D3DRS_FOGEND]), AsFloat(m_rs[D3DRS_FOGDENSITY]), 0.0f);
        if (p.point >= 0) {
            const float maxSize = std::min(AsFloat(m_rs[D3DRS_POINTSIZE_MAX]), m_caps.MaxPointSize);
            glUniform4f(p.point, AsFloat(m_rs[D3DRS_POINTSIZE]), AsFloat(m_rs[D3DRS_POINTSIZE_MIN]), maxSize,
                        static_cast<float>(m_viewport.Height));
        }
        if (p.pointScale >= 0)
            glUniform3f(p.pointScale, AsFloat(m_rs[D3DRS_POINTSCALE_A]), AsFloat(m_rs[D3DRS_POINTSCALE_B]),
                        AsFloat(m_rs[D3DRS_POINTSCALE_C]));
        p.generation[PORT_UG_MISC] = m_generation[PORT_UG_MISC];
    }
}

void PortDevice::ApplyFfp(D3DPRIMITIVETYPE type, DWORD fvf) {
    const bool points = type == D3DPT_POINTLIST;
    if (m_ffpDirty || points != (m_lastPrimitive == D3DPT_POINTLIST) || fvf != m_programFvf || !m_program) {
        PortFfpKey key;
        BuildKey(key, type, fvf);
        auto it = m_programs.find(key);
        if (it == m_programs.end()) {
            PortFfpProgram program;
            std::string log;
            if (!PortBuildFfpProgram(key, program, log)) {
                PortLog(PortLogLevel::Error, "fixed-function program failed to build: " + log);
                m_program = nullptr;
                return;
            }
            m_boundProgram = program.program;  // building leaves it in use
            it = m_programs.emplace(key, program).first;
        }
        m_program = &it->second;
        m_ffpDirty = false;
        m_programFvf = fvf;
    }
    m_lastPrimitive = type;
    if (m_boundProgram != m_program->program) {
        glUseProgram(m_program->program);
        m_boundProgram = m_program->program;
    }
    UploadUniforms(*m_program);
}
