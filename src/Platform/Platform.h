#pragma once
// What the processor offers the math library: switches D3DX's SIMD paths on
// and tells the log which one the matrix and vector routines now use.

#include "port/d3dx9/d3dx9math.h"

class C_Platform {
public:
    // Enables the optimised paths and logs "Оптимизация: " with the name of
    // the one in use; an unknown result logs nothing. Returns the result.
    static D3DX_CPU_OPTIMIZATION D3DXCpuOptimizations();

    // The name logged for a result, or null for a value outside the four.
    static const wchar_t* OptimizationName(int optimization);
};
