// st_texture.h - image files as GL textures, and the box mesh builder.
#pragma once

#include <cstdint>
#include <cstdio>

namespace st {

class Vertexbuffer;

// Images wider or taller than this are not decoded.
inline constexpr int32_t MAX_IMAGE_SIDE_PIXELS = 8192;

// Makes a GL_TEXTURE_2D from an image file (PNG and whatever else stb_image
// reads), as 8-bit RGBA, first file row at t = 0, repeating, mipmapped
// (GL_LINEAR_MIPMAP_LINEAR / GL_LINEAR). Leaves it bound on the active unit.
// A file that is missing, undecodable or too large gives no message and no GL
// error: the texture then holds one white texel.
uint32_t loadTexture(const char *path);

// A box of half extents x, y, z centred on the origin: 24 vertices, 36
// indices, arrays at location 1 (position, 3 floats), 2 (normal, 3 floats:
// the corner direction, each component +-0.57735026) and 3 (texture
// coordinate, 2 floats). Every triangle winds counter-clockwise seen from
// outside. Returned new, owned by the caller, dirty (its first bind uploads).
Vertexbuffer *makeBox(float x, float y, float z);

// Decodes an image file to 8-bit RGBA rows, top row first. Returns the pixels
// (free with freeImage) and their size, or null for a missing, undecodable or
// too large file (either side above MAX_IMAGE_SIDE_PIXELS).
uint8_t *loadImageRgba(const char *path, int32_t *width, int32_t *height);
// The same from an open stdio stream, read from its current position.
uint8_t *decodeImageRgba(FILE *file, int32_t *width, int32_t *height);
void freeImage(uint8_t *pixels);

} // namespace st
