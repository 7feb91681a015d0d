// Image decoding and texel work behind the D3DX texture functions.
#pragma once

#include "port/d3dx9/d3dx9tex.h"

#include <cstdint>
#include <vector>

namespace d3dx::image {

// 32-bit texels laid out as D3DFMT_A8R8G8B8 (0xAARRGGBB).
struct Image {
    UINT width = 0, height = 0;
    std::vector<uint32_t> texels;
};

struct Decoded {
    D3DXIMAGE_INFO info{};
    std::vector<Image> levels; // the file's own mip chain (DDS), else one
};

// Reads the header only. Fails for data that is no supported image.
HRESULT probe(const void* data, size_t size, D3DXIMAGE_INFO& info);
// Decodes every level; refuses images wider or taller than maxSize, and
// images whose declared size the data could not possibly fill.
HRESULT decode(const void* data, size_t size, UINT maxSize, Decoded& out);

// Resamples to a new size (area average when shrinking, linear when growing).
Image resize(const Image& src, UINT width, UINT height);
// The next mip level: 2 x 2 box average.
Image halve(const Image& src);
// Bytes per texel of the formats written by convert (0: unsupported).
UINT bytesPerTexel(D3DFORMAT format);
// Writes one row of texels in the given format.
void convertRow(const uint32_t* argb, UINT count, D3DFORMAT format, uint8_t* out);

// Block-compressed decoding, exposed for tests.
void decodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint32_t out[16]);

} // namespace d3dx::image
