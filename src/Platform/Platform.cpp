#include "Platform/Platform.h"

#include "Logger/Logger.h"

const wchar_t* C_Platform::OptimizationName(int optimization)
{
    switch (optimization) {
    case D3DX_NOT_OPTIMIZED: return L"D3DX_NOT_OPTIMIZED";
    case D3DX_3DNOW_OPTIMIZED: return L"D3DX_3DNOW_OPTIMIZED";
    case D3DX_SSE2_OPTIMIZED: return L"D3DX_SSE2_OPTIMIZED";
    case D3DX_SSE_OPTIMIZED: return L"D3DX_SSE_OPTIMIZED";
    default: return nullptr;
    }
}

D3DX_CPU_OPTIMIZATION C_Platform::D3DXCpuOptimizations()
{
    const D3DX_CPU_OPTIMIZATION result = ::D3DXCpuOptimizations(TRUE);
    if (const wchar_t* name = OptimizationName(result)) LOG_INFO(L"Оптимизация: " << name);
    return result;
}
