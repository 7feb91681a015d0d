// The COM base interface: reference counting and interface queries.
#pragma once

#include "port/win32/wintypes.h"

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

#ifndef SAFE_RELEASE
#define SAFE_RELEASE(p)      \
    do {                     \
        if (p) {             \
            (p)->Release();  \
            (p) = nullptr;   \
        }                    \
    } while (0)
#endif
