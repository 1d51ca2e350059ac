// Pictures and surfaces written as grids of letters, one letter a pixel, for drawing tests.
// '.' is black (the default colour key), '#' grey (what a destination starts as).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image_archive.h"
#include "engine/surface.h"

using Grid = std::vector<std::string>;

inline uint32_t GridPixel(char c) {
  switch (c) {
    case '.': return 0x000000;
    case '#': return 0x808080;
    case 'r': return 0xFF0000;
    case 'g': return 0x00FF00;
    case 'b': return 0x0000FF;
    case 'c': return 0x00FFFF;
    case 'm': return 0xFF00FF;
    case 'y': return 0xFFFF00;
    case 'w': return 0xFFFFFF;
    case 'k': return 0x804000;
    case 'i': return 0xFFFFE1;  // the classic theme's tooltip background
    default: return 0x123456;
  }
}

inline char GridLetter(uint32_t pixel) {
  for (char c : std::string(".#rgbcmywki"))
    if (GridPixel(c) == pixel) return c;
  return '?';
}

inline TPictureBitmap GridBitmap(const Grid& rows) {
  TPictureBitmap bitmap;
  bitmap.Width = static_cast<int32_t>(rows[0].size());
  bitmap.Height = static_cast<int32_t>(rows.size());
  for (const std::string& row : rows)
    for (char c : row) bitmap.Pixels.push_back(GridPixel(c));
  return bitmap;
}

// The rectangle (left, top, width x height) of a surface as letters.
inline Grid ReadGrid(TDirectDrawSurface& surface, int left, int top, int width, int height) {
  Grid rows;
  for (int y = top; y < top + height; ++y) {
    std::string row;
    for (int x = left; x < left + width; ++x) row += GridLetter(surface.ReadPixel(x, y));
    rows.push_back(row);
  }
  return rows;
}

inline Grid ReadGrid(TDirectDrawSurface& surface) { return ReadGrid(surface, 0, 0, surface.Width(), surface.Height()); }

// A surface of the given size filled with grey.
inline void MakeGreySurface(TDirectDrawSurface& surface, int width, int height) {
  surface.CreateOffscreen(width, height);
  surface.FillSurface(GridPixel('#'));
}
