#include "port/d3d9/device_gl.h"

#include "port/d3d9/device.h"

void PortDeviceSetProgram(IDirect3DDevice9* device, GLuint program) {
    if (device) static_cast<PortDevice*>(device)->SetProgramOverride(program);
}

GLuint PortTextureName(IDirect3DBaseTexture9* texture) {
    if (!texture || texture->GetType() != D3DRTYPE_TEXTURE) return 0;
    return static_cast<PortTexture*>(texture)->Name();
}

void PortDeviceActivate(IDirect3DDevice9* device) {
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

size_t PortDeviceProgramCount(IDirect3DDevice9* device) {
    return device ? static_cast<PortDevice*>(device)->ProgramCount() : 0;
}
