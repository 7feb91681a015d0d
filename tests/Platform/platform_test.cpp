#include <gtest/gtest.h>

#include "Logger/LoggerFixture.h"
#include "Platform/Platform.h"

using PlatformTest = LoggerTest;

TEST_F(PlatformTest, LogsTheOptimisationTheMathLibraryUses) {
    logger::Logger::Activate(logger::Mock);
    const D3DX_CPU_OPTIMIZATION used = C_Platform::D3DXCpuOptimizations();
    // The report must agree with what the math library says it runs.
    EXPECT_EQ(used, D3DXCpuOptimizations(TRUE));
    EXPECT_EQ(Mock(), std::wstring(L"info:\tОптимизация: ") + C_Platform::OptimizationName(used) + L"\n");
}

TEST(PlatformNames, EachResultHasItsNameAndOthersNone) {
    EXPECT_STREQ(C_Platform::OptimizationName(0), L"D3DX_NOT_OPTIMIZED");
    EXPECT_STREQ(C_Platform::OptimizationName(1), L"D3DX_3DNOW_OPTIMIZED");
    EXPECT_STREQ(C_Platform::OptimizationName(2), L"D3DX_SSE2_OPTIMIZED");
    EXPECT_STREQ(C_Platform::OptimizationName(3), L"D3DX_SSE_OPTIMIZED");
    EXPECT_EQ(C_Platform::OptimizationName(4), nullptr);
    EXPECT_EQ(C_Platform::OptimizationName(-1), nullptr);
}
