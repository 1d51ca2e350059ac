// Pictures and surfaces written as grids of letters, one letter a pixel, for drawing tests.
// '.' is black (the default colour key), '#' grey (what a destination starts as).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image_archive.h"
#include "engine/surface.h"

using Grid = std::vector<std::string>;

struct TGridColour {
  char Letter;
  uint32_t Pixel;
};
constexpr TGridColour kGridColours[] = {
    {'.', 0x000000}, {'#', 0x808080}, {'r', 0xFF0000}, {'g', 0x00FF00}, {'b', 0x0000FF}, {'c', 0x00FFFF},
    {'m', 0xFF00FF}, {'y', 0xFFFF00}, {'w', 0xFFFFFF}, {'k', 0x804000},
    {'i', 0xFFFFE1},  // the classic theme's tooltip background
};

// Letters outside the table give a colour no grid reads back.
inline uint32_t GridPixel(char c) {
  for (const TGridColour& colour : kGridColours)
    if (colour.Letter == c) return colour.Pixel;
  return 0x123456;
}

// '?' for a pixel of no letter.
inline char GridLetter(uint32_t pixel) {
  for (const TGridColour& colour : kGridColours)
    if (colour.Pixel == pixel) return colour.Letter;
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

inline Grid ReadGrid(TDirectDrawSurface& surface) {
  return ReadGrid(surface, 0, 0, surface.Width(), surface.Height());
}

// A surface of the given size filled with grey.
inline void MakeGreySurface(TDirectDrawSurface& surface, int width, int height) {
  surface.CreateOffscreen(width, height);
  surface.FillSurface(GridPixel('#'));
}
