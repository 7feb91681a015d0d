// A plain OpenGL renderer of boxes, sharing the device's context and back
// buffer: one program, one buffer pair, no state tracking. Benchmarks measure
// the device's own cost against it.
#pragma once

#include <cstdint>

#include "port/d3d9/d3d9.h"

class PortReferenceBoxes {
public:
    // Box vertices: position, normal, colour, texture coordinate (as D3DFVF_XYZ |
    // NORMAL | DIFFUSE | TEX1), 16-bit indices, triangle list.
    PortReferenceBoxes(IDirect3DDevice9* device, const void* vertices, UINT vertexCount, const uint16_t* indices,
                       UINT indexCount);
    ~PortReferenceBoxes();
    PortReferenceBoxes(const PortReferenceBoxes&) = delete;
    PortReferenceBoxes& operator=(const PortReferenceBoxes&) = delete;

    bool Valid() const { return m_program != 0; }
    // Clears the back buffer and draws one box per matrix (row-vector
    // world-view-projection matrices, as Direct3D's).
    void DrawFrame(const D3DMATRIX* matrices, UINT count, D3DCOLOR clearColor);

private:
    IDirect3DDevice9* m_device;
    unsigned m_program = 0, m_vao = 0, m_vbo = 0, m_ibo = 0;
    int m_wvp = -1;
    UINT m_indexCount;
};

// Tells the device that raw OpenGL calls changed the context's state.
void PortDeviceForgetGLState(IDirect3DDevice9* device);
