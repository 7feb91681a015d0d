// The process-wide height map, the ground height that scripts ask for, and
// the terrain parameters every section reads.

#define TW_OBJECT_TEST_CLASSES_IMPLEMENTATION
#include "Render/Terrain/TerrainFixture.h"

#include <filesystem>
#include <limits>

#include "Render/Terrain/C_TerrainRoam.h"
#include "Render/Terrain/C_TerrainSection2.h"
#include "Script/LuaEval.h"
#include "Script/LuaScriptBase.h"

namespace {

using Map = C_TerrainHeightMap;

float Centred(uint16_t sample) { return float(sample) / 65535.0f - 0.5f; }

} // namespace

class HeightMapTest : public TerrainTest {
protected:
    static bool Load(const std::string& file)
    {
        return C_TerrainHeightMap().LoadHeightMap(std::wstring(file.begin(), file.end()));
    }
    static void Parameters(uint32_t slices, float slice, float height)
    {
        Map::NumSlicesAxis = slices;
        Map::SliceSize = slice;
        Map::HeightScale = height;
    }
};

TEST_F(HeightMapTest, TheSideIsTheRootOfHalfTheLengthAndSamplesAreLittleEndian)
{
    WriteFile("big.raw", std::string(2u * 2048 * 2048, '\0'));
    ASSERT_TRUE(Load("big.raw"));
    EXPECT_EQ(Map::RawData().Side, 2048u);

    Map::RawData().Reset();
    WriteFile("tiny.raw", std::string("\x01\x00\x02\x00\x34\x12\xFF\xFF", 8));
    ASSERT_TRUE(Load("tiny.raw"));
    EXPECT_EQ(Map::RawData().Side, 2u);
    EXPECT_FLOAT_EQ(Map::RawData().GetHeight(1, 1), 65535.0f / 65535.0f);
    // The first row and column, and everything beyond the side, read 0.5.
    EXPECT_FLOAT_EQ(Map::RawData().GetHeight(0, 1), 0.5f);
    EXPECT_FLOAT_EQ(Map::RawData().GetHeight(1, 0), 0.5f);
    EXPECT_FLOAT_EQ(Map::RawData().GetHeight(2, 1), 0.5f);
    EXPECT_FLOAT_EQ(Map::RawData().GetHeight(1, 2000000), 0.5f);
    EXPECT_FLOAT_EQ(Map::CentredHeight(0, 1), 0.0f);
    EXPECT_FLOAT_EQ(Map::CentredHeight(-5, 1), 0.0f);

    // Sample (1, 1) of a 3 × 3 map is byte pair 4: 0x1234, low byte first.
    Map::RawData().Reset();
    std::string bytes(18, '\0');
    bytes[2 * 4] = '\x34';
    bytes[2 * 4 + 1] = '\x12';
    WriteFile("three.raw", bytes);
    ASSERT_TRUE(Load("three.raw"));
    EXPECT_FLOAT_EQ(Map::RawData().GetHeight(1, 1), float(0x1234) / 65535.0f);
}

TEST_F(HeightMapTest, ShortOddAndMissingFilesAreReportedAndTheFirstGoodMapWins)
{
    // Empty, one byte and three bytes hold no cell: reported, and the map
    // stays open for a good file.
    WriteFile("empty.raw", "");
    WriteFile("one.raw", "x");
    WriteFile("three.raw", "abc");
    EXPECT_FALSE(Load("empty.raw"));
    EXPECT_TRUE(Logged(L"Не удалось прочитать карту высот empty.raw"));
    EXPECT_FALSE(Load("one.raw"));
    EXPECT_TRUE(Logged(L"Карта высот one.raw слишком мала (1 байт"));
    EXPECT_FALSE(Load("three.raw"));
    EXPECT_TRUE(Logged(L"Карта высот three.raw слишком мала (3 байт"));
    EXPECT_FALSE(Load("missing.raw"));
    EXPECT_TRUE(Logged(L"Не удалось прочитать карту высот missing.raw"));
    EXPECT_FALSE(Map::RawData().IsLoaded());

    // Nine bytes: a 2 × 2 map and one byte left over, which is said and
    // never read.
    WriteFile("nine.raw", std::string("\0\0\0\0\0\0\xFF\xFF\x07", 9));
    ASSERT_TRUE(Load("nine.raw"));
    EXPECT_TRUE(Logged(L"Карта высот nine.raw: 1 байт после 2 × 2 отсчётов не используются"));
    EXPECT_EQ(Map::RawData().Side, 2u);
    EXPECT_FLOAT_EQ(Map::RawData().GetHeight(1, 1), 1.0f);

    // Later maps change nothing.
    WriteFile("other.raw", std::string(32, '\0'));
    EXPECT_TRUE(Load("other.raw"));
    EXPECT_EQ(Map::RawData().Side, 2u);
    EXPECT_FLOAT_EQ(Map::RawData().GetHeight(1, 1), 1.0f);
}

TEST_F(HeightMapTest, HeightsAskedBeforeAnyMapWarnAndReadZero)
{
    EXPECT_EQ(Map::RawData().GetHeight(3, 3), 0.0f);
    EXPECT_EQ(CountLogged(L"Запрос высоты ландшафта до загрузки карты высот"), 1u);
    for (double x : {0.0, 10.0, std::numeric_limits<double>::quiet_NaN(), 1e30, -1e30})
        EXPECT_EQ(Map::GetTerraineHeight(x, 5.0), 0.0);
    EXPECT_EQ(CountLogged(L"Запрос высоты ландшафта до загрузки карты высот"), 6u);
}

TEST_F(HeightMapTest, TheCentreOfA1025MapInFourSectionsIsCell512AndTheDiagonalSplitsIt)
{
    const uint16_t a = 40000, b = 20000, c = 60000, d = 5000;
    auto sample = [&](int col, int row) -> int {
        if (col == 512 && row == 512) return a;
        if (col == 513 && row == 513) return b;
        if (col == 513 && row == 512) return c;
        if (col == 512 && row == 513) return d;
        return 32768;
    };
    WriteMap16("centre.raw", 1025, sample);
    ASSERT_TRUE(Load("centre.raw"));
    Parameters(4, 250.0f, 100.0f);
    // The four sections cover 4 × 256 cells: one cell is 1000 / 1024 wide,
    // and the world origin is the corner (512, 512).
    const double cell = 1000.0 / 1024.0;
    EXPECT_NEAR(Map::GetTerraineHeight(0.0, 0.0), 100.0 * Centred(a), 1e-4);

    // Below the diagonal (dy < dx) the triangle (c, r), (c+1, r), (c+1, r+1).
    const float h00 = Centred(a), h11 = Centred(b), h10 = Centred(c), h01 = Centred(d);
    EXPECT_NEAR(Map::GetTerraineHeight(0.75 * cell, 0.25 * cell),
                100.0 * (h10 + (h00 - h10) * 0.25 + (h11 - h10) * 0.25), 1e-3);
    // Above it the triangle (c, r), (c+1, r+1), (c, r+1).
    EXPECT_NEAR(Map::GetTerraineHeight(0.25 * cell, 0.75 * cell),
                100.0 * (h01 + (h00 - h01) * 0.25 + (h11 - h01) * 0.25), 1e-3);
    // On the diagonal the first formula, which the second equals there: only
    // the two diagonal corners count.
    EXPECT_NEAR(Map::GetTerraineHeight(0.5 * cell, 0.5 * cell), 100.0 * (0.5 * h00 + 0.5 * h11), 1e-3);
    EXPECT_NEAR(Map::GetTerraineHeight(0.25 * cell, 0.25 * cell), 100.0 * (0.75 * h00 + 0.25 * h11), 1e-3);
}

TEST_F(HeightMapTest, OutsideTheTerrainOnItsBorderAndWithoutSizeTheHeightIsZero)
{
    WriteMap16("flat.raw", 65, [](int, int) { return 60000; });
    ASSERT_TRUE(Load("flat.raw"));
    Parameters(4, 100.0f, 10.0f);
    const double inside = 10.0 * Centred(60000);
    EXPECT_NEAR(Map::GetTerraineHeight(50.0, -120.0), inside, 1e-4);
    // The first row and column are 0, and so is the edge between them and the
    // second ones only where both corners are on the border.
    EXPECT_EQ(Map::GetTerraineHeight(-200.0, 30.0), 0.0);
    EXPECT_EQ(Map::GetTerraineHeight(30.0, -200.0), 0.0);
    EXPECT_EQ(Map::GetTerraineHeight(-200.0, -200.0), 0.0);
    // Halfway into the first cell: half the inner height.
    const double cell = 400.0 / 64.0;
    EXPECT_NEAR(Map::GetTerraineHeight(-200.0 + 0.5 * cell, 30.0), 0.5 * inside, 1e-3);
    // Outside, however far, and NaN or infinite coordinates.
    for (double x : {-200.5, 200.5, 1e30, -1e30, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(Map::GetTerraineHeight(x, 0.0), 0.0) << x;
        EXPECT_EQ(Map::GetTerraineHeight(0.0, x), 0.0) << x;
    }
    // A terrain without size divides by nothing.
    Parameters(0, 100.0f, 10.0f);
    EXPECT_EQ(Map::GetTerraineHeight(10.0, 10.0), 0.0);
    Parameters(4, 0.0f, 10.0f);
    EXPECT_EQ(Map::GetTerraineHeight(10.0, 10.0), 0.0);
    Parameters(4, std::numeric_limits<float>::quiet_NaN(), 10.0f);
    EXPECT_EQ(Map::GetTerraineHeight(10.0, 10.0), 0.0);
    Parameters(100, 100.0f, 10.0f);   // more sections than samples
    EXPECT_EQ(Map::GetTerraineHeight(10.0, 10.0), 0.0);
}

TEST_F(HeightMapTest, ScriptsAskTheSameHeight)
{
    WriteMap16("script.raw", 129, [](int col, int row) { return Hills(col, row); });
    ASSERT_TRUE(Load("script.raw"));
    Parameters(4, 100.0f, 40.0f);
    lua_State* L = C_LuaScriptBase::GetState();
    ASSERT_NE(L, nullptr);
    const std::string lua = tw_test::LuaEval(L, "r = string.format('%.5f', GetTerraineHeight(37.3, -81.9))");
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.5f", Map::GetTerraineHeight(37.3, -81.9));
    EXPECT_EQ(lua, expected);
    EXPECT_NE(Map::GetTerraineHeight(37.3, -81.9), 0.0);
    EXPECT_EQ(tw_test::LuaEval(L, "r = GetTerraineHeight(0/0, 5)"), "0");
}

// ---------------------------------------------------------------------------
// The parameters of a section

class TerrainParametersTest : public TerrainTest {
protected:
    C_TerrainRoam* Roam(const wchar_t* name, const std::wstring& value)
    {
        return Make<C_TerrainRoam>(L"C_TerrainRoam", name, value.c_str());
    }
    struct Values {
        uint32_t slices, n, cells;
        float slice, height, cell;
        uint64_t vertices, triangles;
    };
    static Values Now()
    {
        return {Map::NumSlicesAxis, C_TerrainMesh9::NumVerticesAxis, C_TerrainMesh9::NumCellsAxis, Map::SliceSize,
                Map::HeightScale, C_TerrainMesh9::CellSize, C_TerrainMesh9::NumVertices, C_TerrainMesh9::NumTriangles};
    }
};

TEST_F(TerrainParametersTest, A1025MapInFourSectionsGives257VerticesPerSide)
{
    WriteMap16("p1025.raw", 1025, [](int, int) { return 32768; });
    C_TerrainRoam* section = Roam(L"s", L"p1025.raw; 3; 1; 4; 250; 0");
    ASSERT_TRUE(section->Accepted);
    const Values v = Now();
    EXPECT_EQ(v.slices, 4u);
    EXPECT_EQ(v.n, 257u);
    EXPECT_EQ(v.cells, 256u);
    EXPECT_EQ(v.vertices, 66049u);
    EXPECT_EQ(v.triangles, 131072u);
    EXPECT_FLOAT_EQ(v.slice, 250.0f);
    EXPECT_FLOAT_EQ(v.height, 250.0f) << "0 means the slice size";
    EXPECT_FLOAT_EQ(v.cell, 250.0f / 256.0f);
    EXPECT_EQ(section->Layout.Column, 3);
    EXPECT_EQ(section->Layout.Row, 1);
    EXPECT_EQ(section->Layout.OriginColumn(), 768u);
    EXPECT_EQ(section->Layout.OriginRow(), 256u);
    EXPECT_NEAR(section->Radius, std::sqrt(250.0f * 250.0f / 2.0f), 1e-3f) << "a flat section: half its diagonal";
}

TEST_F(TerrainParametersTest, ZeroSectionsAndTooFewSamplesAreRefusedWithTheValuesStoredSoFar)
{
    WriteMap16("p65.raw", 65, [](int, int) { return 32768; });
    ASSERT_TRUE(Roam(L"good", L"p65.raw; 0; 0; 4; 100; 20")->Accepted);
    const Values before = Now();

    // NumSlicesAxis 0 is stored, then refused; nothing after it changes.
    C_TerrainRoam* zero = Roam(L"zero", L"p65.raw; 0; 0; 0; 300; 50");
    EXPECT_FALSE(zero->Accepted);
    EXPECT_TRUE(Logged(L"Недопустимое значение NumSlicesAxis для zero"));
    Values after = Now();
    EXPECT_EQ(after.slices, 0u);
    EXPECT_EQ(after.n, before.n);
    EXPECT_EQ(after.slice, before.slice);
    EXPECT_EQ(after.height, before.height);
    EXPECT_EQ(after.vertices, before.vertices);
    EXPECT_EQ(Map::GetTerraineHeight(1.0, 1.0), 0.0) << "no terrain size to divide by";

    // A negative count is refused the same way.
    EXPECT_FALSE(Roam(L"negative", L"p65.raw; 0; 0; -4; 100; 20")->Accepted);
    EXPECT_TRUE(Logged(L"Недопустимое значение NumSlicesAxis для negative"));
    EXPECT_EQ(Map::NumSlicesAxis, 0u);

    // More sections than samples per side: the vertices per side (1) are
    // stored, then refused.
    ASSERT_TRUE(Roam(L"again", L"p65.raw; 0; 0; 4; 100; 20")->Accepted);
    C_TerrainRoam* many = Roam(L"many", L"p65.raw; 0; 0; 100; 300; 50");
    EXPECT_FALSE(many->Accepted);
    EXPECT_TRUE(Logged(L"Недопустимое значение NumVerticesAxis для many"));
    after = Now();
    EXPECT_EQ(after.slices, 100u);
    EXPECT_EQ(after.n, 1u);
    EXPECT_EQ(after.cells, before.cells);
    EXPECT_EQ(after.slice, before.slice);
    EXPECT_EQ(after.triangles, before.triangles);
}

TEST_F(TerrainParametersTest, AMapOfSide3InFourSectionsHasTooFewSamples)
{
    WriteMap16("p3.raw", 3, [](int, int) { return 1; });
    C_TerrainRoam* section = Roam(L"small", L"p3.raw; 0; 0; 4; 100; 0");
    EXPECT_FALSE(section->Accepted);
    EXPECT_TRUE(Logged(L"Недопустимое значение NumVerticesAxis для small"));
    EXPECT_EQ(Map::NumSlicesAxis, 4u);
    EXPECT_EQ(C_TerrainMesh9::NumVerticesAxis, 1u);
}

TEST_F(TerrainParametersTest, BadSizesAndSectionsOutsideTheGridAreRefused)
{
    WriteMap16("pbad.raw", 33, [](int, int) { return 32768; });
    ASSERT_TRUE(Roam(L"good", L"pbad.raw; 1; 1; 2; 50; 10")->Accepted);
    const Values before = Now();
    const struct {
        const wchar_t* name;
        const wchar_t* value;
        const wchar_t* message;
    } cases[] = {
        {L"zeroSize", L"pbad.raw; 0; 0; 2; 0; 10", L"Недопустимый размер секции ландшафта (поле 4) для zeroSize"},
        {L"nanSize", L"pbad.raw; 0; 0; 2; NaN; 10", L"Недопустимый размер секции ландшафта (поле 4) для nanSize"},
        {L"negativeSize", L"pbad.raw; 0; 0; 2; -50; 10", L"Недопустимый размер секции ландшафта (поле 4) для negativeSize"},
        {L"hugeSize", L"pbad.raw; 0; 0; 2; 1e999; 10", L"Недопустимый размер секции ландшафта (поле 4) для hugeSize"},
        {L"hugeHeight", L"pbad.raw; 0; 0; 2; 50; -1e999", L"Недопустимый масштаб высоты ландшафта (поле 5) для hugeHeight"},
        {L"right", L"pbad.raw; 2; 0; 2; 50; 10", L"вне сетки NumSlicesAxis × NumSlicesAxis (поля 1 и 2) для right"},
        {L"below", L"pbad.raw; 0; -1; 2; 50; 10", L"вне сетки NumSlicesAxis × NumSlicesAxis (поля 1 и 2) для below"},
    };
    for (const auto& c : cases) {
        C_TerrainRoam* section = Roam(c.name, c.value);
        EXPECT_FALSE(section->Accepted) << testing::PrintToString(std::wstring(c.name));
        EXPECT_TRUE(Logged(c.message)) << testing::PrintToString(std::wstring(c.message));
        const Values after = Now();
        EXPECT_EQ(after.slice, before.slice);
        EXPECT_EQ(after.height, before.height);
        EXPECT_EQ(after.cell, before.cell);
    }
}

TEST_F(TerrainParametersTest, AFileOfSeveralHundredMegabytesLoadsAndIsTooLargeForSections)
{
    // 256 MiB of zeros (a sparse file): a 11585-sample map.
    const std::filesystem::path file = dir / "huge.raw";
    { std::ofstream(file, std::ios::binary); }
    std::filesystem::resize_file(file, 256ull << 20);
    C_TerrainSection2* section = Make<C_TerrainSection2>(L"C_TerrainSection2", L"huge", L"huge.raw; 0; 0; 4; 250; 0");
    EXPECT_EQ(Map::RawData().Side, 11585u);
    EXPECT_TRUE(section->Accepted);
    EXPECT_EQ(section->PMesh, nullptr);
    EXPECT_TRUE(Logged(L"Секция ландшафта huge слишком велика: 2897 вершин на сторону, допустимо не больше 513"));
    Map::SliceSize = 250.0f;
    EXPECT_NEAR(Map::GetTerraineHeight(3.0, 3.0), 250.0 * -0.5, 1e-3) << "all samples 0";
    std::filesystem::remove(file);
}
