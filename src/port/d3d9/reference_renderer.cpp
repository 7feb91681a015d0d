#include "port/d3d9/reference_renderer.h"

#include <string>

#include "port/d3d9/device.h"
#include "port/d3d9/device_gl.h"
#include "port/d3d9/ffp.h"

PortReferenceBoxes::PortReferenceBoxes(IDirect3DDevice9* device, const void* vertices, UINT vertexCount,
                                       const uint16_t* indices, UINT indexCount)
    : m_device(device), m_indexCount(indexCount) {
    PortDeviceActivate(device);
    static const char* vs =
        "#version 330 core\n"
        "layout(location = 0) in vec3 a_position;\n"
        "layout(location = 3) in vec4 a_diffuse;\n"
        "uniform mat4 u_wvp;\n"
        "out vec4 v_color;\n"
        "void main() { v_color = a_diffuse; gl_Position = u_wvp * vec4(a_position, 1.0); }\n";
    static const char* fs =
        "#version 330 core\n"
        "in vec4 v_color;\nout vec4 o_color;\n"
        "void main() { o_color = v_color; }\n";
    std::string log;
    m_program = PortLinkProgram(vs, fs, log);
    if (!m_program) return;
    m_wvp = glGetUniformLocation(m_program, "u_wvp");
    glGenVertexArrays(1, &m_vao);
    glBindVertexArray(m_vao);
    glGenBuffers(1, &m_vbo);
    glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
    const GLsizei stride = 36;
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertexCount) * stride, vertices, GL_STATIC_DRAW);
    glGenBuffers(1, &m_ibo);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_ibo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indexCount) * 2, indices, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, nullptr);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(3, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, reinterpret_cast<const void*>(24));
    glEnableVertexAttribArray(3);
    PortDeviceForgetGLState(device);
}

PortReferenceBoxes::~PortReferenceBoxes() {
    PortDeviceActivate(m_device);
    if (m_program) glDeleteProgram(m_program);
    if (m_vao) glDeleteVertexArrays(1, &m_vao);
    if (m_vbo) glDeleteBuffers(1, &m_vbo);
    if (m_ibo) glDeleteBuffers(1, &m_ibo);
    PortDeviceForgetGLState(m_device);
}

void PortReferenceBoxes::DrawFrame(const D3DMATRIX* matrices, UINT count, D3DCOLOR clearColor) {
    // The back buffer's framebuffer is the one the device draws into first.
    IDirect3DSurface9* back = nullptr;
    m_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    m_device->SetRenderTarget(0, back);
    m_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
    back->Release();
    PortDeviceActivate(m_device);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glDepthFunc(GL_LEQUAL);
    glUseProgram(m_program);
    glBindVertexArray(m_vao);
    for (UINT i = 0; i < count; ++i) {
        glUniformMatrix4fv(m_wvp, 1, GL_FALSE, &matrices[i]._11);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(m_indexCount), GL_UNSIGNED_SHORT, nullptr);
    }
    PortDeviceForgetGLState(m_device);
}

void PortDeviceForgetGLState(IDirect3DDevice9* device) {
    if (device) static_cast<PortDevice*>(device)->ForgetGLState();
}
