// Pixel operations of the picture builder: compositing, mirroring, scaling, laying frames out in a grid
// and turning soft-edged art into colour-keyed pictures. Images are plat::TArtImage (premultiplied).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/vector_art.h"

namespace art {

using plat::TArtImage;

// How a sprite's soft edge becomes hard: kOutline blends what is left of a half-covered pixel with the
// ink colour (art with a dark outline); kThreshold keeps the pixel's own colour (fire, smoke, haze).
enum class TEdge { kOutline, kThreshold };

constexpr uint32_t kInk = 0x1D1B2B;  // the dark outline colour, 0xRRGGBB

// src drawn over dst with its top-left corner at (x, y); parts outside dst are dropped.
void Over(TArtImage& dst, const TArtImage& src, int x, int y);
TArtImage FlipX(const TArtImage& image);
// Box-filtered reduction (or nearest enlargement) to width x height.
TArtImage Resize(const TArtImage& image, int width, int height);
// Frames of equal size placed row by row, columns per row.
TArtImage Grid(const std::vector<TArtImage>& frames, int columns);

// Colour-keyed result, fully opaque: pixels under half covered become the key colour, the others are
// resolved by edge. No shown pixel keeps the key's exact colour. key is 0xRRGGBB.
TArtImage ResolveKey(const TArtImage& image, uint32_t key, TEdge edge);
// Opaque result for pictures drawn without a key: whatever is not covered shows backdrop (0xRRGGBB).
TArtImage Flatten(const TArtImage& image, uint32_t backdrop);

// The colour of a pixel without alpha, 0xRRGGBB.
uint32_t Rgb(uint32_t argb);

// Replaces every {{name}} of text by its value; a token without a value is an error naming it.
std::string Substitute(const std::string& text, const std::map<std::string, std::string>& values,
                       const std::string& what);

}  // namespace art
