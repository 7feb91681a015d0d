// What the terrain tests share: a clean process-wide terrain (height maps,
// parameters, the shared mesh) for every test, raw map files written into
// the program folder, and a camera stand-in whose distance the tests set.
#pragma once

#include "Render/Resources/SceneFixture.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "Render/Position/PositionObject.h"
#include "Render/Resources/D3DXSTRING.h"
#include "Render/Terrain/C_TerrainHeightMap.h"
#include "Render/Terrain/C_TerrainMesh9.h"
#include "Render/Terrain/C_TerrainSection.h"

class TerrainTest : public SceneResourceTest {
protected:
    void SetUp() override
    {
        SceneResourceTest::SetUp();
        ResetTerrain();
        C_BaseObject::CommonData().Time = 1000;
    }
    void TearDown() override
    {
        SceneResourceTest::TearDown();
        ResetTerrain();
    }
    static void ResetTerrain()
    {
        C_TerrainHeightMap::RawData().Reset();
        C_TerrainSection::RawData().Reset();
        C_TerrainHeightMap::NumSlicesAxis = 1;
        C_TerrainHeightMap::SliceSize = 1000.0f;
        C_TerrainHeightMap::HeightScale = 1000.0f;
        C_TerrainMesh9::NumVerticesAxis = 0;
        C_TerrainMesh9::NumCellsAxis = 0;
        C_TerrainMesh9::CellSize = 0.0f;
        C_TerrainMesh9::NumVertices = 0;
        C_TerrainMesh9::NumTriangles = 0;
    }

    // side × side little-endian 16-bit samples given by sample(col, row).
    template <class Sample>
    void WriteMap16(const std::string& name, int side, Sample sample) const
    {
        std::string bytes;
        bytes.reserve(std::size_t(side) * side * 2);
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col) {
                const auto value = static_cast<uint16_t>(sample(col, row));
                bytes.push_back(char(value & 0xFF));
                bytes.push_back(char(value >> 8));
            }
        WriteFile(name, bytes);
    }
    template <class Sample>
    void WriteMap8(const std::string& name, int side, Sample sample) const
    {
        std::string bytes;
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col) bytes.push_back(char(static_cast<uint8_t>(sample(col, row))));
        WriteFile(name, bytes);
    }
    // Smooth hills, so normals and detail levels have something to show.
    static int Hills(int col, int row)
    {
        return 32768 + int(12000.0 * std::sin(col * 0.11) * std::cos(row * 0.07) + 40.0 * col - 25.0 * row);
    }

    // The distance the scene would have measured from the current camera.
    void SetCameraDistance(C_BaseObject* object, float distance)
    {
        C_BaseObject::CommonData().CurrentCamera = &camera;
        object->Distances[&camera] = distance;
    }

    // A positioned object holding the mesh of class `meshClass` whose text
    // (name and parameters) is `meshText`, standing at (x, y, 0). Text
    // entries live for the whole process, so each gets a name of its own.
    C_PositionObject* Holder(const std::wstring& name, const wchar_t* meshClass, const std::wstring& meshText, float x,
                             float y)
    {
        static int made = 0;
        const std::wstring key = L"TerrainTest" + std::to_wstring(++made);
        C_D3DXSTRING::C_AllStrings::Instance().AddLine(key + L"Mesh = " + meshText);
        C_D3DXSTRING::C_AllStrings::Instance().AddLine(key + L"At = " + std::to_wstring(x) + L"; " +
                                                       std::to_wstring(y) + L"; 0");
        const std::wstring value = std::wstring(meshClass) + L"; " + key + L"Mesh; " + key + L"At;";
        return Make<C_PositionObject>(L"C_PositionObject", name.c_str(), value.c_str());
    }

    TestObject camera;
};
