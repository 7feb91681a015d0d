#include "port/d3d9/device_gl.h"

#include "port/d3d9/device.h"
#include "port/d3d9/ffp.h"

#include <string>

void PortDeviceSetProgram(IDirect3DDevice9* device, unsigned program) {
    if (device) static_cast<PortDevice*>(device)->SetProgramOverride(program);
}

unsigned PortTextureName(IDirect3DBaseTexture9* texture) {
    if (!texture || texture->GetType() != D3DRTYPE_TEXTURE) return 0;
    return static_cast<PortTexture*>(texture)->Name();
}

void PortDeviceActivate(IDirect3DDevice9* device) {
    // Activating sends the device's waiting merged draws first.
    if (device) static_cast<PortDevice*>(device)->Activate();
}

bool PortDeviceReadBackBuffer(IDirect3DDevice9* device, std::vector<uint32_t>& argb, UINT& width, UINT& height) {
    return device && static_cast<PortDevice*>(device)->ReadBackBuffer(argb, width, height);
}

void PortDeviceForceLoss(IDirect3DDevice9* device) {
    if (device) static_cast<PortDevice*>(device)->ForceLoss();
}

void PortDeviceCounters(IDirect3DDevice9* device, uint64_t& drawCalls, uint64_t& triangles) {
    drawCalls = triangles = 0;
    if (!device) return;
    drawCalls = static_cast<PortDevice*>(device)->DrawCalls();
    triangles = static_cast<PortDevice*>(device)->Triangles();
}

void PortDeviceSetOcclusionQueries(IDirect3DDevice9* device, bool available) {
    if (device) static_cast<PortDevice*>(device)->SetOcclusionQueriesAvailable(available);
}

bool PortDeviceIsLost(IDirect3DDevice9* device) {
    return device && static_cast<PortDevice*>(device)->DeviceLost();
}

HRESULT PortTextureLockLevel(IDirect3DTexture9* texture, UINT level, D3DLOCKED_RECT* locked) {
    if (!texture || texture->GetType() != D3DRTYPE_TEXTURE) return D3DERR_INVALIDCALL;
    return static_cast<PortTexture*>(texture)->LockLevel(level, locked, nullptr, 0, true);
}

void PortDeviceBufferUploads(IDirect3DDevice9* device, uint64_t& uploads, uint64_t& bytes) {
    uploads = bytes = 0;
    if (!device) return;
    uploads = static_cast<PortDevice*>(device)->BufferUploads();
    bytes = static_cast<PortDevice*>(device)->BufferUploadBytes();
}

uint64_t PortDeviceGLDrawCalls(IDirect3DDevice9* device) {
    return device ? static_cast<PortDevice*>(device)->GLDrawCalls() : 0;
}

void PortDeviceSetBatching(IDirect3DDevice9* device, bool enabled) {
    if (device) static_cast<PortDevice*>(device)->SetBatching(enabled);
}

namespace {
bool g_windowFramebufferAllowed = true;
}

void PortAllowWindowFramebuffer(bool allowed) { g_windowFramebufferAllowed = allowed; }
bool PortWindowFramebufferAllowed() { return g_windowFramebufferAllowed; }

bool PortDeviceDrawsIntoWindow(IDirect3DDevice9* device) {
    return device && static_cast<PortDevice*>(device)->DrawsIntoWindow();
}

size_t PortDeviceProgramCount(IDirect3DDevice9* device) {
    return device ? static_cast<PortDevice*>(device)->ProgramCount() : 0;
}

const char* PortVertexEpilogueGLSL() {
    static const std::string text = std::string(
        "uniform vec4 u_screen;\n"
        "vec4 PortFinishPosition(vec4 clip) {\n") +
        (PortGetGLCaps().clipControl ? "" : "  clip.z = 2.0 * clip.z - clip.w;\n") +
        "  clip.x += u_screen.x * clip.w;\n"
        "  clip.y -= u_screen.y * clip.w;\n"
        "  clip.y *= u_screen.z;\n"
        "  return clip;\n"
        "}\n";
    return text.c_str();
}

unsigned PortDeviceLinkProgram(IDirect3DDevice9* device, const std::string& vertex, const std::string& fragment,
                               std::string& log) {
    if (!device) return 0;
    auto* d = static_cast<PortDevice*>(device);
    d->Activate();
    GLuint program = PortLinkProgram(vertex, fragment, log);
    d->ForgetGLState();  // linking may leave a different program in use
    return program;
}

void PortDeviceDeleteProgram(IDirect3DDevice9* device, unsigned program) {
    if (!device || !program) return;
    auto* d = static_cast<PortDevice*>(device);
    if (d->ProgramOverride() == program) d->SetProgramOverride(0);
    if (d->Activate()) glDeleteProgram(program);
    d->ForgetGLState();
}
