// Internal: the fixed-function pipeline as generated GLSL, one program per
// combination of the states that change the code.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "port/d3d9/device_gl.h"
#include "port/d3d9/gl.h"

struct PortFfpStage {
    uint8_t colorOp, colorArg0, colorArg1, colorArg2;
    uint8_t alphaOp, alphaArg0, alphaArg1, alphaArg2;
    uint8_t resultTemp, texCoord, hasTexture, pad;
};

// Only byte members: compared and hashed as raw bytes, always zero-filled.
struct PortFfpKey {
    uint8_t posType;  // 0 XYZ, 1 XYZRHW, 2 XYZW
    uint8_t hasNormal, hasPSize, hasDiffuse, hasSpecular, texCoordCount;
    uint8_t lighting, dirLights, pointLights, spotLights, specular, localViewer, normalize;
    uint8_t diffuseSource, ambientSource, specularSource, emissiveSource;  // 0 material, 1 colour 1, 2 colour 2
    uint8_t fogMode;  // 0 none, 1 per vertex, 2 per pixel (table), 3 from specular alpha
    uint8_t fogFunc;  // D3DFOGMODE for modes 1 and 2
    uint8_t rangeFog;
    uint8_t points, pointScale, pointSprite;
    uint8_t alphaFunc;  // 0 = alpha test off, else D3DCMPFUNC
    uint8_t flatShade;
    uint8_t clipControl;  // 0: depth is remapped to -w..w in the vertex stage
    uint8_t stageCount;
    PortFfpStage stages[8];

    PortFfpKey() { std::memset(this, 0, sizeof(*this)); }
    bool operator==(const PortFfpKey& o) const { return std::memcmp(this, &o, sizeof(*this)) == 0; }
};

struct PortFfpKeyHash {
    size_t operator()(const PortFfpKey& k) const {
        const auto* p = reinterpret_cast<const unsigned char*>(&k);
        uint64_t h = 1469598103934665603ull;
        for (size_t i = 0; i < sizeof(k); ++i) h = (h ^ p[i]) * 1099511628211ull;
        return static_cast<size_t>(h);
    }
};

// The transforms of vertices that are not pre-transformed come from a uniform
// block with one entry per draw, so that draws differing only in their world
// transform can be merged into one instanced draw. An entry is eleven vec4:
// world-view-projection (four columns), world-view (four columns) and the
// normal matrix (three columns).
constexpr int PORT_INSTANCE_VEC4S = 11;
constexpr unsigned PORT_INSTANCE_BINDING = 0;
// Entries one merged draw holds: as many as the driver's largest uniform
// block allows, at most 256.
int PortInstanceCapacity();
// Where a key's program reads the entries. Vertex attributes with one value
// per instance are fetched once per instance; a uniform block indexed by the
// instance number is read per vertex, so it serves only programs whose vertex
// attributes leave too few locations free (or drivers without instanced draws
// that start at a given instance). locations[k] is the attribute location of
// the k-th vec4 of an entry, -1 when the program does not read it. False:
// the uniform block.
bool PortInstanceAttributes(const PortFfpKey& key, int locations[PORT_INSTANCE_VEC4S]);

enum PortUniformGroup { PORT_UG_TRANSFORM, PORT_UG_LIGHTS, PORT_UG_MATERIAL, PORT_UG_MISC, PORT_UG_SCREEN, PORT_UG_COUNT };

struct PortFfpProgram {
    GLuint program = 0;
    // Uniform locations (-1 when the program does not use one).
    GLint wvp = -1, wv = -1, nrm = -1, screen = -1, viewportRect = -1;
    GLint matDiffuse = -1, matAmbient = -1, matSpecular = -1, matEmissive = -1, matPower = -1, globalAmbient = -1;
    GLint lightPos = -1, lightDir = -1, lightDiffuse = -1, lightSpecular = -1, lightAmbient = -1, lightAtt = -1,
          lightSpot = -1;
    GLint fog = -1, fogColor = -1, point = -1, pointScale = -1;
    GLint tfactor = -1, stageConst = -1, alphaRef = -1;
    bool instanced = false;        // transforms come from instance entries
    bool instanceBlock = false;    // ... read from the uniform block, else attributes
    uint16_t instanceMask = 0;     // attribute locations of the entries
    int instanceLocation[PORT_INSTANCE_VEC4S] = {};
    uint64_t generation[PORT_UG_COUNT] = {};
};

// Builds the GLSL sources for a key.
void PortFfpSources(const PortFfpKey& key, std::string& vertex, std::string& fragment);
// Compiles and links a program with the attribute locations above; on failure
// returns 0 and puts the compiler's log in 'log'.
GLuint PortLinkProgram(const std::string& vertex, const std::string& fragment, std::string& log);
// Compiles the program of a key and reads its uniform locations.
bool PortBuildFfpProgram(const PortFfpKey& key, PortFfpProgram& out, std::string& log);
