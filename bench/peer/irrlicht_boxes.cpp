// The peer's side of the box comparison: the same scene as bench_boxes gives
// Tarnwick (N boxes of 3 x 3 x 3 sharing one mesh and one material under one
// directional light, 800 x 600, the same camera), drawn by Irrlicht with one
// scene node per box. Prints the median frame time of the frames after the
// first few, measured between the ends of consecutive frames as Tarnwick
// measures between its presents.
//
//   irrlicht_boxes BOXES FRAMES SAMPLES
//
// Not part of the project's build: bench/peer/compare.sh builds it when
// Irrlicht is installed.
#include <irrlicht/irrlicht.h>

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace irr;

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s BOXES FRAMES SAMPLES\n", argv[0]);
        return 2;
    }
    const int boxes = std::max(1, std::atoi(argv[1]));
    const int frames = std::max(2, std::atoi(argv[2]));
    const int samples = std::max(0, std::atoi(argv[3]));

    SIrrlichtCreationParameters p;
    p.DriverType = video::EDT_OPENGL;
    p.WindowSize = core::dimension2d<u32>(800, 600);
    p.Bits = 32;
    p.ZBufferBits = 24;
    p.Stencilbuffer = true;
    p.Vsync = false;
    p.AntiAlias = static_cast<u8>(samples);
    p.Doublebuffer = true;
    IrrlichtDevice* device = createDeviceEx(p);
    if (!device) {
        std::fprintf(stderr, "no Irrlicht device\n");
        return 1;
    }
    device->getLogger()->setLogLevel(ELL_ERROR);
    video::IVideoDriver* driver = device->getVideoDriver();
    scene::ISceneManager* scene = device->getSceneManager();

    // One mesh for every box, kept in buffer objects (the peer's best case).
    scene::IMesh* mesh = scene->getGeometryCreator()->createCubeMesh(core::vector3df(3.0f, 3.0f, 3.0f));
    mesh->setHardwareMappingHint(scene::EHM_STATIC);
    video::SMaterial material;
    material.Lighting = true;
    material.DiffuseColor = video::SColor(255, 255, 255, 255);
    material.AmbientColor = video::SColor(255, 255, 255, 255);
    material.ColorMaterial = video::ECM_NONE;
    mesh->getMeshBuffer(0)->getMaterial() = material;

    // The grid of bench_boxes: square, 4 units apart, centred on the origin.
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(boxes))));
    for (int i = 0; i < boxes; ++i) {
        const float x = static_cast<float>(i % side) * 4.0f - (side - 1) * 2.0f;
        const float y = static_cast<float>(i / side) * 4.0f - (side - 1) * 2.0f;
        scene::IMeshSceneNode* node = scene->addMeshSceneNode(mesh, nullptr, -1, core::vector3df(x, y, 1.5f));
        node->setMaterialFlag(video::EMF_LIGHTING, true);
    }
    mesh->drop();

    scene::ILightSceneNode* light = scene->addLightSceneNode();
    video::SLight data;
    data.Type = video::ELT_DIRECTIONAL;
    data.DiffuseColor = video::SColorf(0.94f, 0.94f, 0.94f);
    data.AmbientColor = video::SColorf(0.0f, 0.0f, 0.0f);
    data.SpecularColor = video::SColorf(0.0f, 0.0f, 0.0f);
    light->setLightData(data);
    // A directional light shines along its node's +Z turned by the rotation.
    light->setRotation(core::vector3df(0.4f, -0.5f, -0.7f).getHorizontalAngle());
    scene->setAmbientLight(video::SColorf(0.25f, 0.25f, 0.25f));

    // bench_boxes' camera: above the grid on the side of +Y, looking at the
    // centre at 45 degrees down, Z up, the same field of view and clip planes.
    const float reach = static_cast<float>(side) * 2.0f;
    scene::ICameraSceneNode* camera = scene->addCameraSceneNode();
    camera->setUpVector(core::vector3df(0.0f, 0.0f, 1.0f));
    camera->setPosition(core::vector3df(0.0f, reach * 1.9f, reach * 1.9f));
    camera->setTarget(core::vector3df(0.0f, 0.0f, 0.0f));
    camera->setFOV(0.9f);
    camera->setAspectRatio(800.0f / 600.0f);
    camera->setNearValue(0.5f);
    camera->setFarValue(reach * 8.0f);

    GLint glSamples = 0;
    std::vector<double> times;
    auto last = std::chrono::steady_clock::now();
    for (int frame = 0; frame < frames && device->run(); ++frame) {
        driver->beginScene(true, true, video::SColor(255, 32, 40, 48));
        scene->drawAll();
        if (frame == frames - 1 && std::getenv("PEER_SHOT")) {
            // The back buffer before the swap, bottom row first from OpenGL.
            std::vector<unsigned char> rgb(800 * 600 * 3);
            glReadBuffer(GL_BACK);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, 800, 600, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
            if (FILE* out = std::fopen(std::getenv("PEER_SHOT"), "wb")) {
                std::fprintf(out, "P6\n800 600\n255\n");
                for (int row = 599; row >= 0; --row) std::fwrite(&rgb[static_cast<size_t>(row) * 2400], 1, 2400, out);
                std::fclose(out);
            }
        }
        driver->endScene();
        const auto now = std::chrono::steady_clock::now();
        if (frame == 0) glGetIntegerv(GL_SAMPLES, &glSamples);
        if (frame >= 5) times.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    }
    device->drop();
    if (times.empty()) return 1;
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
    std::printf("peer boxes %d samples %d (GL %d) frames %zu median_ms %.3f\n", boxes, samples, glSamples, n, median);
    return 0;
}
