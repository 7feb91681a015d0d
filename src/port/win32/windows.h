// Convenience header: everything the engine expects from <windows.h>.
#pragma once
#include "port/win32/unknwn.h"
#include "port/win32/wintypes.h"
