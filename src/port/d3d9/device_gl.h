// Port-internal services of the device for the rest of the port layer (D3DX
// effects and render-to-surface) and for tests. Not part of Direct3D.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "port/d3d9/d3d9.h"

// Vertex attribute locations every program (generated or supplied) uses; the
// names are bound by PortLinkProgram.
enum PortAttrib : unsigned {
    PORT_ATTRIB_POSITION = 0,   // "a_position"
    PORT_ATTRIB_NORMAL = 1,     // "a_normal"
    PORT_ATTRIB_PSIZE = 2,      // "a_psize"
    PORT_ATTRIB_DIFFUSE = 3,    // "a_diffuse"
    PORT_ATTRIB_SPECULAR = 4,   // "a_specular"
    PORT_ATTRIB_TEXCOORD0 = 5,  // "a_tex0" .. "a_tex7" at 5..12
    PORT_ATTRIB_COUNT = 13
};

// Compiles and links GLSL sources in the device's context with the attribute
// locations above. Returns the program name, or 0 with the compiler's log.
unsigned PortDeviceLinkProgram(IDirect3DDevice9* device, const std::string& vertex, const std::string& fragment,
                               std::string& log);
// Deletes a program made by PortDeviceLinkProgram.
void PortDeviceDeleteProgram(IDirect3DDevice9* device, unsigned program);

// Draws use this linked program instead of the generated fixed-function one
// (0 goes back). Vertex attributes arrive at the PORT_ATTRIB_* locations; the
// device still applies render states, textures, samplers and targets, and
// keeps the program's "u_screen" uniform (see below) up to date.
void PortDeviceSetProgram(IDirect3DDevice9* device, unsigned program);
// GLSL for supplied vertex programs, to be placed after their #version line:
// it declares "uniform vec4 u_screen;" and "vec4 PortFinishPosition(vec4 clip)",
// which a program applies to its clip-space position last. It gives Direct3D's
// pixel centres, its 0..1 depth range and the top-down rows of texture targets.
const char* PortVertexEpilogueGLSL();
// The OpenGL texture behind a texture (0 for anything else).
unsigned PortTextureName(IDirect3DBaseTexture9* texture);
// Makes the device's OpenGL context current (before raw GL calls).
void PortDeviceActivate(IDirect3DDevice9* device);
// The back buffer as 32-bit ARGB values, top row first.
bool PortDeviceReadBackBuffer(IDirect3DDevice9* device, std::vector<uint32_t>& argb, UINT& width, UINT& height);
// Loses the device as a minimised full-screen window does: the next
// TestCooperativeLevel reports D3DERR_DEVICELOST, then D3DERR_DEVICENOTRESET
// until Reset succeeds.
void PortDeviceForceLoss(IDirect3DDevice9* device);
// True while the device is lost or waits for Reset (asks without moving the
// loss sequence on, unlike TestCooperativeLevel).
bool PortDeviceIsLost(IDirect3DDevice9* device);
// Locks a level of a texture of any pool, render targets included (their
// drawn contents are read back first); UnlockRect uploads it. D3DX fills
// video-memory textures through this where Direct3D would go through a
// system-memory copy.
HRESULT PortTextureLockLevel(IDirect3DTexture9* texture, UINT level, D3DLOCKED_RECT* locked);
// For tests: the device acts as one without occlusion queries (CreateQuery
// answers D3DERR_NOTAVAILABLE for them) until called again with true.
void PortDeviceSetOcclusionQueries(IDirect3DDevice9* device, bool available);
// Draw calls and triangles since the device was created.
void PortDeviceCounters(IDirect3DDevice9* device, uint64_t& drawCalls, uint64_t& triangles);
// OpenGL draw calls since the device was created: draws that differ only in
// their world transform become one instanced draw.
uint64_t PortDeviceGLDrawCalls(IDirect3DDevice9* device);
// For tests: the device merges such draws (the default) or draws each alone.
void PortDeviceSetBatching(IDirect3DDevice9* device, bool enabled);
// For tests: whether devices made (or reset) from now on may use their
// window's own framebuffer as the back buffer (the default), and whether a
// device does.
void PortAllowWindowFramebuffer(bool allowed);
bool PortWindowFramebufferAllowed();
bool PortDeviceDrawsIntoWindow(IDirect3DDevice9* device);
// Buffer unlocks that sent data to OpenGL, and the bytes they sent, since
// the device was created.
void PortDeviceBufferUploads(IDirect3DDevice9* device, uint64_t& uploads, uint64_t& bytes);
// Number of fixed-function programs compiled so far.
size_t PortDeviceProgramCount(IDirect3DDevice9* device);
