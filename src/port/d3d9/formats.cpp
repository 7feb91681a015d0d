#include "port/d3d9/formats.h"

namespace {

PortFormatInfo Make(D3DFORMAT f, GLenum internal, GLenum format, GLenum type, UINT bpp, bool rt = false) {
    PortFormatInfo info;
    info.format = f;
    info.internalFormat = internal;
    info.glFormat = format;
    info.glType = type;
    info.bytesPerPixel = bpp;
    info.renderTarget = rt;
    return info;
}

PortFormatInfo Swizzled(PortFormatInfo info, GLint r, GLint g, GLint b, GLint a) {
    info.swizzle[0] = r;
    info.swizzle[1] = g;
    info.swizzle[2] = b;
    info.swizzle[3] = a;
    return info;
}

PortFormatInfo Compressed(D3DFORMAT f, GLenum internal, UINT blockBytes) {
    PortFormatInfo info;
    info.format = f;
    info.internalFormat = internal;
    info.bytesPerPixel = blockBytes;
    info.compressed = true;
    return info;
}

PortFormatInfo Depth(D3DFORMAT f, GLenum internal, GLenum format, GLenum type, UINT bpp, bool stencil) {
    PortFormatInfo info = Make(f, internal, format, type, bpp);
    info.depth = true;
    info.stencil = stencil;
    return info;
}

struct Table {
    PortFormatInfo entries[40];
    int count = 0;
    void Add(const PortFormatInfo& info) { entries[count++] = info; }
    Table() {
        // A8R8G8B8 is B,G,R,A in memory on a little-endian machine: GL's BGRA bytes.
        Add(Make(D3DFMT_A8R8G8B8, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, true));
        Add(Swizzled(Make(D3DFMT_X8R8G8B8, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, true), GL_RED, GL_GREEN, GL_BLUE, GL_ONE));
        Add(Make(D3DFMT_A8B8G8R8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 4, true));
        Add(Swizzled(Make(D3DFMT_X8B8G8R8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 4, true), GL_RED, GL_GREEN, GL_BLUE, GL_ONE));
        Add(Make(D3DFMT_R5G6B5, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2, true));
        Add(Make(D3DFMT_A1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, true));
        Add(Swizzled(Make(D3DFMT_X1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, true), GL_RED, GL_GREEN, GL_BLUE, GL_ONE));
        Add(Make(D3DFMT_A4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2));
        Add(Swizzled(Make(D3DFMT_X4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2), GL_RED, GL_GREEN, GL_BLUE, GL_ONE));
        Add(Make(D3DFMT_A2R10G10B10, GL_RGB10_A2, GL_BGRA, GL_UNSIGNED_INT_2_10_10_10_REV, 4, true));
        Add(Make(D3DFMT_A2B10G10R10, GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, 4, true));
        Add(Swizzled(Make(D3DFMT_A8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1), GL_ZERO, GL_ZERO, GL_ZERO, GL_RED));
        Add(Swizzled(Make(D3DFMT_L8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1), GL_RED, GL_RED, GL_RED, GL_ONE));
        Add(Swizzled(Make(D3DFMT_A8L8, GL_RG8, GL_RG, GL_UNSIGNED_BYTE, 2), GL_RED, GL_RED, GL_RED, GL_GREEN));
        Add(Swizzled(Make(D3DFMT_L16, GL_R16, GL_RED, GL_UNSIGNED_SHORT, 2), GL_RED, GL_RED, GL_RED, GL_ONE));
        Add(Make(D3DFMT_G16R16, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, 4, true));
        Add(Make(D3DFMT_A16B16G16R16, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, 8, true));
        Add(Swizzled(Make(D3DFMT_R16F, GL_R16F, GL_RED, GL_HALF_FLOAT, 2, true), GL_RED, GL_ONE, GL_ONE, GL_ONE));
        Add(Swizzled(Make(D3DFMT_G16R16F, GL_RG16F, GL_RG, GL_HALF_FLOAT, 4, true), GL_RED, GL_GREEN, GL_ONE, GL_ONE));
        Add(Make(D3DFMT_A16B16G16R16F, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, 8, true));
        Add(Swizzled(Make(D3DFMT_R32F, GL_R32F, GL_RED, GL_FLOAT, 4, true), GL_RED, GL_ONE, GL_ONE, GL_ONE));
        Add(Swizzled(Make(D3DFMT_G32R32F, GL_RG32F, GL_RG, GL_FLOAT, 8, true), GL_RED, GL_GREEN, GL_ONE, GL_ONE));
        Add(Make(D3DFMT_A32B32G32R32F, GL_RGBA32F, GL_RGBA, GL_FLOAT, 16, true));
        Add(Compressed(D3DFMT_DXT1, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 8));
        Add(Compressed(D3DFMT_DXT2, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 16));
        Add(Compressed(D3DFMT_DXT3, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 16));
        Add(Compressed(D3DFMT_DXT4, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 16));
        Add(Compressed(D3DFMT_DXT5, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 16));
        Add(Depth(D3DFMT_D16, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2, false));
        Add(Depth(D3DFMT_D16_LOCKABLE, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2, false));
        Add(Depth(D3DFMT_D24X8, GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, 4, false));
        Add(Depth(D3DFMT_D24S8, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, 4, true));
        Add(Depth(D3DFMT_D32, GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, 4, false));
        Add(Depth(D3DFMT_D32F_LOCKABLE, GL_DEPTH_COMPONENT32F, GL_DEPTH_COMPONENT, GL_FLOAT, 4, false));
    }
};

const Table& Formats() {
    static const Table table;
    return table;
}

}  // namespace

const PortFormatInfo* PortFindFormat(D3DFORMAT format) {
    const Table& t = Formats();
    for (int i = 0; i < t.count; ++i)
        if (t.entries[i].format == format) return &t.entries[i];
    return nullptr;
}

UINT PortRowPitch(const PortFormatInfo& info, UINT width) {
    if (info.compressed) return ((width + 3) / 4) * info.bytesPerPixel;
    return width * info.bytesPerPixel;
}

UINT PortRowCount(const PortFormatInfo& info, UINT height) { return info.compressed ? (height + 3) / 4 : height; }

bool PortIsDisplayFormat(D3DFORMAT format) {
    return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5 ||
           format == D3DFMT_A2R10G10B10;
}

bool PortIsBackBufferFormat(D3DFORMAT format) {
    return PortIsDisplayFormat(format) || format == D3DFMT_A8R8G8B8 || format == D3DFMT_A1R5G5B5;
}
