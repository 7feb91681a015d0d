// Internal: what the machine's OpenGL offers, probed once per process.
#pragma once

#include <string>
#include <vector>

struct PortGLCaps {
    bool available = false;        // an OpenGL 3.3 core context could be created
    std::string vendor, renderer, version;
    int maxTextureSize = 0;
    int maxSamples = 0;
    std::vector<int> colorSampleCounts;  // supported sample counts for RGBA8, ascending
    std::vector<int> depthSampleCounts;  // the same for DEPTH24_STENCIL8
    float maxPointSize = 1.0f;
    float maxAnisotropy = 1.0f;
    bool clipControl = false;
    bool s3tc = false;
    bool mirrorClamp = false;
    int maxUniformBlockSize = 16384;     // bytes
    int uniformBufferAlignment = 256;    // offsets of bound uniform-buffer ranges
    bool baseInstance = false;           // instanced draws with a first instance
};

const PortGLCaps& PortGetGLCaps();
// Fills the capabilities from the context current now (used by the probe and
// by the first device when the probe was skipped).
void PortReadGLCaps(PortGLCaps& caps);
