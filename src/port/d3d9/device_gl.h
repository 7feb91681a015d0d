// Port-internal services of the device for the rest of the port layer (D3DX
// effects and render-to-surface) and for tests. Not part of Direct3D.
#pragma once

#include <cstdint>
#include <vector>

#include "port/d3d9/d3d9.h"
#include "port/d3d9/ffp.h"
#include "port/d3d9/gl.h"

// Draws use this linked program instead of the generated fixed-function one
// (0 goes back). Vertex attributes arrive at the PORT_ATTRIB_* locations; the
// device still applies render states, textures, samplers and targets.
void PortDeviceSetProgram(IDirect3DDevice9* device, GLuint program);
// The OpenGL texture behind a texture (0 for anything else).
GLuint PortTextureName(IDirect3DBaseTexture9* texture);
// Makes the device's OpenGL context current (before raw GL calls).
void PortDeviceActivate(IDirect3DDevice9* device);
// The back buffer as 32-bit ARGB values, top row first.
bool PortDeviceReadBackBuffer(IDirect3DDevice9* device, std::vector<uint32_t>& argb, UINT& width, UINT& height);
// Loses the device as a minimised full-screen window does: the next
// TestCooperativeLevel reports D3DERR_DEVICELOST, then D3DERR_DEVICENOTRESET
// until Reset succeeds.
void PortDeviceForceLoss(IDirect3DDevice9* device);
// Draw calls and triangles since the device was created.
void PortDeviceCounters(IDirect3DDevice9* device, uint64_t& drawCalls, uint64_t& triangles);
// Number of fixed-function programs compiled so far.
size_t PortDeviceProgramCount(IDirect3DDevice9* device);
