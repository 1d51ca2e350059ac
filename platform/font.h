// Fonts: the faces the game ships in its data folder (data/fonts), rasterised by stb_truetype. The
// canvas asks for a string's size or its coverage mask (8-bit alpha) and blends that over its surface
// itself. A mask depends only on the font file, the size, the style and the string: outlines are not
// hinted, glyphs sit at whole pixels (each advance rounded from the font's units in integer arithmetic,
// without kerning, as the hinted text before them was laid out) and the rasteriser uses only
// IEEE-exact operations, so every build of the game draws the same pixels. Loaded faces and drawn glyphs are
// kept for the life of the program; all calls come from the game thread.
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

// The shipped file that draws a family: its bold face for bold where one is shipped, else the regular
// one (bold and italic are then made from it). A family that is not shipped ("Cargo") is drawn in
// DejaVu Sans. Empty when that file is not in the data folder.
std::string FontFile(const std::string& family, bool bold, bool italic);

// Size of a string's cell in pixels: from the leftmost to the rightmost of the pen's travel and the
// glyphs' ink. Text is 8-bit (Latin-1). False when the face's file is missing or damaged.
bool MeasureText(const TFontRequest& font, const std::string& text, int& width, int& height);

// The coverage mask of a string; an empty string gives a mask of width 0 and the line's height.
// False when the face's file is missing or damaged (mask left empty).
bool RenderText(const TFontRequest& font, const std::string& text, TTextMask& mask);

}  // namespace plat
