// Image decoding and texel work behind the D3DX texture functions.
#pragma once

#include "port/d3dx9/d3dx9tex.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace d3dx::image {

// Storage that is written before it is read: growing it does not clear it
// first (large images would otherwise be written twice).
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) {}
    template <class U>
    void construct(U* p) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
template <class T>
using TexelBuffer = std::vector<T, UninitializedAllocator<T>>;

// 32-bit texels laid out as D3DFMT_A8R8G8B8 (0xAARRGGBB).
struct Image {
    UINT width = 0, height = 0;
    TexelBuffer<uint32_t> texels;
};

struct Decoded {
    D3DXIMAGE_INFO info{};
    std::vector<Image> levels; // the file's own mip chain (DDS), else one
};

// Reads the header only. Fails for data that is no supported image. Cube
// maps and volumes are reported as such (their first face or slice is what
// decode returns).
HRESULT probe(const void* data, size_t size, D3DXIMAGE_INFO& info);

// Decodes every level. Images of more than maxPixels texels are refused with
// E_OUTOFMEMORY before anything is allocated for them, and images whose
// declared size the data could not possibly fill with D3DXERR_INVALIDDATA.
HRESULT decode(const void* data, size_t size, uint64_t maxPixels, Decoded& out);

// The block-compressed levels of a DDS file as stored (first face only),
// for textures that keep the file's compressed format.
struct BlockLevel {
    UINT width = 0, height = 0;
    const uint8_t* data = nullptr;
    size_t rowBytes = 0, rows = 0; // one row of 4 x 4 blocks, and their count
};
bool blockLevels(const void* data, size_t size, D3DFORMAT& format, std::vector<BlockLevel>& levels);

// Resamples to a new size: an area average when shrinking, bilinear when
// growing, each axis on its own.
Image resize(const Image& src, UINT width, UINT height);
// The next mip level: 2 x 2 box average.
Image halve(const Image& src);
// Bytes per texel of the formats written by convertRow (0: unsupported).
UINT bytesPerTexel(D3DFORMAT format);
// Writes one row of texels in the given format.
void convertRow(const uint32_t* argb, UINT count, D3DFORMAT format, uint8_t* out);

// Block-compressed decoding (DXT1-5, ATI1/BC4, ATI2/BC5), exposed for tests.
void decodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint32_t out[16]);

} // namespace d3dx::image
