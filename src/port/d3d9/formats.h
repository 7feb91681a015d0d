// Internal: how each Direct3D format is stored in OpenGL and in memory.
#pragma once

#include "port/d3d9/d3d9types.h"
#include "port/d3d9/gl.h"

struct PortFormatInfo {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    GLenum internalFormat = 0;
    GLenum glFormat = 0;
    GLenum glType = 0;
    GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
    UINT bytesPerPixel = 0;   // for block formats: bytes per 4x4 block
    bool compressed = false;
    bool depth = false;
    bool stencil = false;
    bool renderTarget = false;  // usable as a colour render target
};

// Null for formats the device does not support.
const PortFormatInfo* PortFindFormat(D3DFORMAT format);
// Row pitch of a level in bytes (for block formats: one row of blocks).
UINT PortRowPitch(const PortFormatInfo& info, UINT width);
// Number of rows of the pitch above (block rows for compressed formats).
UINT PortRowCount(const PortFormatInfo& info, UINT height);
bool PortIsDisplayFormat(D3DFORMAT format);
bool PortIsBackBufferFormat(D3DFORMAT format);
