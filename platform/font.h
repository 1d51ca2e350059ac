// Fonts: faces found by family name through fontconfig and rasterised by SDL2_ttf. The canvas asks
// for a string's size or its coverage mask (8-bit alpha) and blends that over its surface itself.
// Opened faces are cached for the life of the program; all calls come from the game thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

enum : uint8_t { kFontBold = 1, kFontItalic = 2, kFontUnderline = 4 };

// One face at one size: family as the program names it ("Cargo"), size in pixels (the em height).
struct TFontRequest {
  std::string Family;
  int PixelSize = 11;
  uint8_t Style = 0;  // kFontBold | kFontItalic | kFontUnderline
};

// A string's cell rasterised: Width x Height coverage values, row by row, 0 = none, 255 = full.
// The cell is as high as the face's line (ascent + descent), the baseline at the face's ascent.
struct TTextMask {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Coverage;
};

// The file of the face fontconfig picks for a family (its substitute when the family is missing);
// empty when fontconfig finds nothing at all.
std::string FontFile(const std::string& family, bool bold, bool italic);

// Size of a string's cell in pixels. Text is 8-bit (Latin-1). False when no face could be opened.
bool MeasureText(const TFontRequest& font, const std::string& text, int& width, int& height);

// The coverage mask of a string; an empty string gives a mask of width 0 and the line's height.
// False when no face could be opened (mask left empty).
bool RenderText(const TFontRequest& font, const std::string& text, TTextMask& mask);

}  // namespace plat
