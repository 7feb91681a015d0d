// Seeded random damage to a real motion program: every damaged program
// loads and runs to its end in bounded steps, moving the axes only to finite
// places within the machine's limits. TW_FUZZ_ITERATIONS and TW_FUZZ_SEED
// run it longer or otherwise (see README).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>

#include "Common/Fuzz.h"
#include "Common/ScratchFolder.h"
#include "Logger/Logger.h"
#include "Render/Position/AxisMoveObject.h"

namespace {

using Programm = C_AxisDrive::C_Programm;

struct FuzzAxis : C_AxisDrive {
    double GetAxisPosition(wchar_t) override { return 0.0; }
};

}  // namespace

TEST(AxisProgrammFuzz, DamagedProgramsRunToTheirEndWithFiniteBoundedMoves)
{
    logger::Logger::Activate(logger::AllReports);
    Programm& program = C_AxisDrive::Programm();
    FuzzAxis axes[6];
    for (int i = 0; i < 6; ++i) {
        axes[i].AxisLetter = L"XYZABC"[i];
        axes[i].ValueVariable = L"v";
        axes[i].Minimum = -500.0f;
        axes[i].Maximum = 500.0f;
        program.Register(&axes[i]);
    }
    program.SetToolSize(2.0f, 6.0f);
    const std::string seed = ScratchFolder::Read(std::filesystem::path(TW_SOURCE_DIR) / "demo/programs/mill.nc") +
                             "G01 A45 B-30 C10 F1200\nG02 X5 Y5 I2.5 J0 K0\nG03 X0 Y0 R3\nG41 G01 X1 Y1\nG42 G00 X2\n"
                             "G40\nG54\nG52 X1 Y2 Z3\nM30\n";
    const std::vector<std::string> words = {"G00", "G01", "G02", "G03", "G40", "G41", "G42", "G52", "G54", "M30",
                                            "X", "Y", "Z", "A", "B", "C", "I", "J", "K", "F", "R", "F0", "F-1",
                                            "X1e38", "I0 J0", "\n"};
    ScratchFolder dir;
    const auto file = dir / "program.nc";
    std::mt19937 random(tw_fuzz::Seed(20240720));
    std::size_t totalSteps = 0;
    for (int round = 0, n = tw_fuzz::Iterations(300); round < n; ++round) {
        std::string text = seed;
        for (int m = 1 + int(random() % 4); m > 0; --m) tw_fuzz::Mutate(text, random, words);
        ScratchFolder::Write(file, text);
        program.Reset();
        program.SetPause(false, 0);
        program.LoadProgramm(file.wstring());
        std::uint32_t now = 1000;
        std::size_t steps = 0;
        while (program.Step(now)) {
            ++steps;
            for (const FuzzAxis& axis : axes) {
                ASSERT_TRUE(std::isfinite(axis.TargetValue) && std::isfinite(axis.WorkOffset)) << "round " << round;
                // Machine coordinates stay within the limits (up to the
                // rounding of a large work offset).
                const double machine = double(axis.TargetValue) + double(axis.WorkOffset);
                const double slack = 1e-3 + 1e-6 * std::fabs(double(axis.WorkOffset));
                ASSERT_GE(machine, axis.Minimum - slack) << "round " << round;
                ASSERT_LE(machine, axis.Maximum + slack) << "round " << round;
            }
            ASSERT_LE(program.GetFinishTime() - program.GetStartTime(), Programm::MaxDuration);
            ASSERT_LT(steps, 1000000u) << "round " << round;
            now = program.GetFinishTime() + 1;
        }
        EXPECT_LE(program.GetNumCommand() + 1, static_cast<long>(program.GetLines().size())) << "round " << round;
        totalSteps += steps;
    }
    EXPECT_GT(totalSteps, 0u);
    program.clear();
    program.Reset();
}
