// The art of every picture, by name: hand-drawn SVG sources from assets/art/svg rasterised at the
// manifest's cell size, and the many-frame pictures (explosions, smoke, flames, propeller) and the
// landscape generated here as SVG and rasterised the same way.
#pragma once

#include <string>
#include <vector>

#include "tools/art/art_image.h"

namespace art {

struct TPictureArt {
  std::vector<TArtImage> Frames;  // soft-edged, premultiplied, each cell width x cell height
  TEdge Edge = TEdge::kOutline;
  int Columns = 0;                // cells per row; 0 = as many as fit in 2048 pixels
};

// Throws std::runtime_error for an unknown name or a source that cannot be rendered.
TPictureArt BuildPicture(const std::string& name, int cellWidth, int cellHeight, const std::string& svgDir);

// The application icon, square, size x size.
TArtImage BuildIcon(int size, const std::string& svgDir);

}  // namespace art
