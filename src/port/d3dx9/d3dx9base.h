// Base Windows / Direct3D types the D3DX layer builds on.
#pragma once

#include "port/d3d9/d3d9types.h"
