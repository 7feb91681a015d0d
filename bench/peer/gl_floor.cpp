// The floor under the box comparison: the scene of bench_boxes (N boxes of
// 3 x 3 x 3 on a grid four units apart, one directional light, the same
// camera, 800 x 600) drawn by a bare OpenGL 3.3 program the way Tarnwick's
// device draws it, with nothing of an engine around it: one instanced draw
// per 256 boxes far to near, a 24-vertex box with face normals, lighting per
// vertex, and with multisampling a framebuffer of its own resolved into the
// window before the swap. What Tarnwick costs above this is the engine's.
//
//   gl_floor BOXES FRAMES SAMPLES     (SAMPLES 0 or 4)
//
// Prints the median frame time of the frames after the first five, measured
// between the ends of consecutive swaps. Not part of the project's build:
// bench/peer/compare.sh builds it beside the peer.
#include <SDL2/SDL.h>
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

GLuint Compile(GLenum type, const char* source)
{
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048];
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        std::fprintf(stderr, "shader: %s\n", log);
        std::exit(1);
    }
    return shader;
}

// Column-major 4 x 4 product a * b.
void Multiply(const float* a, const float* b, float* out)
{
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += a[k * 4 + row] * b[column * 4 + k];
            out[column * 4 + row] = sum;
        }
}

const char* kVertex = R"(#version 330 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec3 i_offset;
uniform mat4 u_viewProjection;
uniform vec3 u_lightDir;
out vec4 v_colour;
void main() {
  gl_Position = u_viewProjection * vec4(a_position + i_offset, 1.0);
  float diffuse = max(dot(a_normal, u_lightDir), 0.0);
  v_colour = vec4(clamp(vec3(0.25) + vec3(0.94) * diffuse, 0.0, 1.0), 1.0);
}
)";

const char* kFragment = R"(#version 330 core
in vec4 v_colour;
out vec4 o_colour;
void main() { o_colour = v_colour; }
)";

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s BOXES FRAMES SAMPLES\n", argv[0]);
        return 2;
    }
    const int boxes = std::max(1, std::atoi(argv[1]));
    const int frames = std::max(7, std::atoi(argv[2]));
    const int samples = std::atoi(argv[3]) > 0 ? 4 : 0;
    const int width = 800, height = 600;

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_Window* window = SDL_CreateWindow("gl_floor", 0, 0, width, height, SDL_WINDOW_OPENGL);
    if (!window || !SDL_GL_CreateContext(window)) {
        std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetSwapInterval(0);

    // Multisampled colour and depth-stencil of the program's own.
    GLuint framebuffer = 0;
    if (samples) {
        GLuint buffers[2];
        glGenRenderbuffers(2, buffers);
        glBindRenderbuffer(GL_RENDERBUFFER, buffers[0]);
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, width, height);
        glBindRenderbuffer(GL_RENDERBUFFER, buffers[1]);
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH24_STENCIL8, width, height);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, buffers[0]);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, buffers[1]);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            std::fprintf(stderr, "no multisampled framebuffer\n");
            return 1;
        }
    }

    const GLuint program = glCreateProgram();
    glAttachShader(program, Compile(GL_VERTEX_SHADER, kVertex));
    glAttachShader(program, Compile(GL_FRAGMENT_SHADER, kFragment));
    glLinkProgram(program);
    glUseProgram(program);

    // The box: four vertices per face with the face's normal, two triangles
    // each, counter-clockwise seen from outside.
    std::vector<float> vertices;
    std::vector<unsigned short> indices;
    for (int face = 0; face < 6; ++face) {
        const int axis = face / 2;
        const float sign = face % 2 ? -1.0f : 1.0f;
        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
        const unsigned short base = static_cast<unsigned short>(vertices.size() / 6);
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& corner : corners) {
            float position[3] = {0, 0, 0}, normal[3] = {0, 0, 0};
            position[axis] = 1.5f * sign;
            position[u] = 1.5f * corner[0];
            position[v] = 1.5f * corner[1] * sign;
            normal[axis] = sign;
            vertices.insert(vertices.end(), position, position + 3);
            vertices.insert(vertices.end(), normal, normal + 3);
        }
        for (int i : {0, 1, 2, 0, 2, 3}) indices.push_back(static_cast<unsigned short>(base + i));
    }
    // bench_boxes' grid: rows far to near as seen from the camera.
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(boxes))));
    std::vector<float> offsets;
    for (int i = 0; i < boxes; ++i) {
        offsets.push_back(static_cast<float>(i % side) * 4.0f - (side - 1) * 2.0f);
        offsets.push_back(static_cast<float>(i / side) * 4.0f - (side - 1) * 2.0f);
        offsets.push_back(1.5f);
    }
    GLuint vao = 0, names[3];
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(3, names);
    glBindBuffer(GL_ARRAY_BUFFER, names[0]);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * 4), vertices.data(), GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 24, nullptr);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<void*>(12));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glBindBuffer(GL_ARRAY_BUFFER, names[1]);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(offsets.size() * 4), offsets.data(), GL_STATIC_DRAW);
    glVertexAttribPointer(2, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
    glEnableVertexAttribArray(2);
    glVertexAttribDivisor(2, 1);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, names[2]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * 2), indices.data(), GL_STATIC_DRAW);

    // bench_boxes' camera: above the grid on the side of +Y, looking at the
    // centre 45 degrees down, Z up; vertical field of view 0.9.
    const float reach = static_cast<float>(side) * 2.0f;
    const float eye[3] = {0.0f, reach * 1.9f, reach * 1.9f};
    float forward[3] = {-eye[0], -eye[1], -eye[2]};
    auto normalise = [](float* a) {
        const float length = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
        for (int i = 0; i < 3; ++i) a[i] /= length;
    };
    normalise(forward);
    // Left-handed as Direct3D and the peer: +X to the left seen from +Y.
    float right[3] = {-forward[1], forward[0], 0.0f};  // (0, 0, 1) x forward
    normalise(right);
    const float up[3] = {forward[1] * right[2] - forward[2] * right[1], forward[2] * right[0] - forward[0] * right[2],
                         forward[0] * right[1] - forward[1] * right[0]};  // forward x right
    auto dot = [](const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    const float view[16] = {right[0], up[0], -forward[0], 0, right[1], up[1], -forward[1], 0,
                            right[2], up[2], -forward[2], 0, -dot(right, eye), -dot(up, eye), dot(forward, eye), 1};
    const float nearZ = 0.5f, farZ = reach * 8.0f, focal = 1.0f / std::tan(0.45f);
    const float projection[16] = {focal * height / width, 0, 0, 0, 0, focal, 0, 0,
                                  0, 0, (farZ + nearZ) / (nearZ - farZ), -1, 0, 0, 2 * farZ * nearZ / (nearZ - farZ), 0};
    float viewProjection[16];
    Multiply(projection, view, viewProjection);
    glUniformMatrix4fv(glGetUniformLocation(program, "u_viewProjection"), 1, GL_FALSE, viewProjection);
    float light[3] = {-0.4f, 0.5f, 0.7f};
    normalise(light);
    glUniform3fv(glGetUniformLocation(program, "u_lightDir"), 1, light);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);  // the mirrored view turns the windings over
    if (samples) glEnable(GL_MULTISAMPLE);

    std::vector<double> times;
    auto last = std::chrono::steady_clock::now();
    for (int frame = 0; frame < frames; ++frame) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
        }
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glClearColor(32 / 255.0f, 40 / 255.0f, 48 / 255.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        for (int first = 0; first < boxes; first += 256)
            glDrawElementsInstancedBaseInstance(GL_TRIANGLES, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_SHORT,
                                                nullptr, std::min(256, boxes - first), static_cast<GLuint>(first));
        if (framebuffer) {
            glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
            glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
            glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        }
        if (frame == frames - 1 && std::getenv("FLOOR_SHOT")) {
            // The window's back buffer before the swap, bottom row first.
            std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            glReadBuffer(GL_BACK);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
            if (FILE* out = std::fopen(std::getenv("FLOOR_SHOT"), "wb")) {
                std::fprintf(out, "P6\n%d %d\n255\n", width, height);
                for (int row = height - 1; row >= 0; --row)
                    std::fwrite(&rgb[static_cast<size_t>(row) * width * 3], 1, static_cast<size_t>(width) * 3, out);
                std::fclose(out);
            }
        }
        SDL_GL_SwapWindow(window);
        const auto now = std::chrono::steady_clock::now();
        if (frame >= 5) times.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    }
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
    std::printf("floor boxes %d samples %d frames %zu median_ms %.3f\n", boxes, samples, n, median);
    return 0;
}
