// Small files for the scene tests: 24-bit BMP images and .x meshes.
#pragma once

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace scenetest {

// A bottom-up 24-bit BMP; `pixels` are 0xRRGGBB, row 0 at the top.
inline std::string Bmp(int width, int height, const std::vector<uint32_t>& pixels)
{
    const int rowBytes = (width * 3 + 3) & ~3;
    const uint32_t imageBytes = uint32_t(rowBytes * height);
    std::string out;
    auto put16 = [&out](uint32_t v) { out.push_back(char(v & 0xFF)); out.push_back(char((v >> 8) & 0xFF)); };
    auto put32 = [&put16](uint32_t v) { put16(v & 0xFFFF); put16(v >> 16); };
    out += "BM";
    put32(54 + imageBytes);
    put32(0);
    put32(54);
    put32(40);
    put32(uint32_t(width));
    put32(uint32_t(height));
    put16(1);
    put16(24);
    put32(0);
    put32(imageBytes);
    put32(2835);
    put32(2835);
    put32(0);
    put32(0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[size_t(y * width + x)];
            out.push_back(char(p & 0xFF));
            out.push_back(char((p >> 8) & 0xFF));
            out.push_back(char((p >> 16) & 0xFF));
        }
        for (int pad = width * 3; pad < rowBytes; ++pad) out.push_back(0);
    }
    return out;
}

// Two quads side by side. The first two materials are equal and the first
// names a texture; the third differs and has none. Subsets: faces 0-1 use
// material 0, face 2 material 1, face 3 material 2.
inline const char* XThreeMaterials()
{
    return R"(xof 0302txt 0032
Mesh Quads {
 8;
 -1.0;-1.0;0.0;,
 -1.0;1.0;0.0;,
 0.0;1.0;0.0;,
 0.0;-1.0;0.0;,
 0.0;-1.0;0.0;,
 0.0;1.0;0.0;,
 1.0;1.0;0.0;,
 1.0;-1.0;0.0;;
 4;
 3;0,1,2;,
 3;0,2,3;,
 3;4,5,6;,
 3;4,6,7;;
 MeshMaterialList {
  3;
  4;
  0,0,1,2;;
  Material {
   1.000000;0.000000;0.000000;1.000000;;
   20.000000;
   0.500000;0.500000;0.500000;;
   0.000000;0.000000;0.000000;;
   TextureFilename { "Checker.BMP"; }
  }
  Material {
   1.000000;0.000000;0.000000;1.000000;;
   20.000000;
   0.500000;0.500000;0.500000;;
   0.000000;0.000000;0.000000;;
  }
  Material {
   0.000000;0.000000;1.000000;1.000000;;
   5.000000;
   0.000000;0.000000;0.000000;;
   0.000000;0.000000;0.000000;;
  }
 }
 MeshNormals {
  1;
  0.0;0.0;-1.0;;
  4;
  3;0,0,0;,
  3;0,0,0;,
  3;0,0,0;,
  3;0,0,0;;
 }
 MeshTextureCoords {
  8;
  0.0;1.0;, 0.0;0.0;, 1.0;0.0;, 1.0;1.0;,
  0.0;1.0;, 0.0;0.0;, 1.0;0.0;, 1.0;1.0;;
 }
}
)";
}

// A closed, finely divided shape for progressive meshes: a sphere-like
// grid of `n` × `n` quads mapped onto a unit sphere, in text .x.
inline std::string XGridSphere(int n)
{
    std::ostringstream out;
    out << "xof 0302txt 0032\nMesh Ball {\n";
    const int rings = n, segments = n;
    const int count = (rings + 1) * segments;
    out << ' ' << count << ";\n";
    for (int r = 0, i = 0; r <= rings; ++r) {
        const double theta = 3.14159265358979 * r / rings;
        for (int s = 0; s < segments; ++s, ++i) {
            const double phi = 2.0 * 3.14159265358979 * s / segments;
            out << ' ' << float(std::sin(theta) * std::cos(phi)) << ';' << float(std::cos(theta)) << ';'
                << float(std::sin(theta) * std::sin(phi)) << (i + 1 == count ? ";;\n" : ";,\n");
        }
    }
    const int faces = rings * segments * 2;
    out << ' ' << faces << ";\n";
    for (int r = 0, f = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const int a = r * segments + s, b = r * segments + (s + 1) % segments;
            const int c = a + segments, d = b + segments;
            out << " 3;" << a << ',' << c << ',' << b << ";,\n";
            f += 2;
            out << " 3;" << b << ',' << c << ',' << d << (f == faces ? ";;\n" : ";,\n");
        }
    out << "}\n";
    return out.str();
}

} // namespace scenetest
