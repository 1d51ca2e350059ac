// The text rasteriser over the fonts shipped with the game: the same pixels in every build, the cell and
// baseline the canvas places text by, the styles, the family lookup, and damaged font files.
#include "platform/font.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/engine/shipped_fonts.h"

namespace {

namespace fs = std::filesystem;

using Fonts = TShippedFontsTest;

uint64_t MaskHash(const plat::TTextMask& mask) {
  uint64_t hash = 14695981039346656037ull;
  auto add = [&](uint8_t byte) { hash = (hash ^ byte) * 1099511628211ull; };
  for (int value : {mask.Width, mask.Height})
    for (int shift = 0; shift < 32; shift += 8) add(static_cast<uint8_t>(value >> shift));
  for (uint8_t c : mask.Coverage) add(c);
  return hash;
}

plat::TTextMask Render(const std::string& text, int pixels, uint8_t style = 0,
                       const std::string& family = "Cargo") {
  plat::TTextMask mask;
  EXPECT_TRUE(plat::RenderText({family, pixels, style}, text, mask)) << text;
  return mask;
}

uint8_t At(const plat::TTextMask& mask, int x, int y) {
  return mask.Coverage[static_cast<size_t>(y) * static_cast<size_t>(mask.Width) + static_cast<size_t>(x)];
}

// The masks depend on the font file, the size, the style and the string alone: these are the pixels
// every build draws (a browser build runs this test too). A change here changes every replay's frames.
TEST_F(Fonts, MasksAreTheSameInEveryBuild) {
  const struct {
    int Pixels;
    uint8_t Style;
    const char* Text;
    int Width, Height;
    uint64_t Hash;
  } cases[] = {
      {19, 0, "Level 10", 81, 23, 18321095959483453845ull},
      {19, 0, "Score: 12345", 126, 23, 16054081778264272887ull},
      {16, 0, "Yes", 29, 19, 12417323759675776568ull},
      {21, 0, "Options", 81, 25, 806524320653551063ull},
      {40, 0, "Game over", 223, 47, 1640453465063520851ull},
      {19, plat::kFontBold, "Level 10", 90, 23, 5306626683673870071ull},
      {19, plat::kFontItalic, "Level 10", 83, 23, 16692094948404432822ull},
      {19, plat::kFontUnderline, "Level 10", 81, 23, 9097351988096807285ull},
      {19, 0, "\xC4pfel \xE9t\xE9 \xDF", 104, 23, 9931824189781193860ull},  // Latin-1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    plat::TTextMask mask = Render(c.Text, c.Pixels, c.Style);
    int width = 0, height = 0;
    ASSERT_TRUE(plat::MeasureText({"Cargo", c.Pixels, c.Style}, c.Text, width, height));
    EXPECT_EQ(width, mask.Width);
    EXPECT_EQ(height, mask.Height);
    EXPECT_EQ(mask.Width, c.Width);
    EXPECT_EQ(mask.Height, c.Height);
    EXPECT_EQ(MaskHash(mask), c.Hash);
  }
}

// "Yes" at 19 pixels: the cell is the line's height (23), the baseline 18 rows down. The Y's stem
// stands on the baseline, the capital reaches up to row 4, and the rows above and below stay clear.
TEST_F(Fonts, TheBaselineIsAtTheAscent) {
  plat::TTextMask mask = Render("Yes", 19);
  ASSERT_EQ(mask.Height, 23);
  const int stem = 6;  // the middle of the Y's stem
  EXPECT_EQ(At(mask, stem, 17), 255);
  EXPECT_EQ(At(mask, stem, 18), 0);
  EXPECT_GT(At(mask, 2, 4), 128);  // the Y's left arm at its top
  for (int x = 0; x < mask.Width; ++x) {
    EXPECT_EQ(At(mask, x, 3), 0) << x;
    EXPECT_EQ(At(mask, x, 19), 0) << x;
  }
}

TEST_F(Fonts, StylesChangeTheGlyphsAsAsked) {
  plat::TTextMask regular = Render("Level 10", 19);
  EXPECT_GT(Render("Level 10", 19, plat::kFontBold).Width, regular.Width);

  // Underline: one full row just under the baseline, everything else as without it.
  plat::TTextMask underlined = Render("Level 10", 19, plat::kFontUnderline);
  ASSERT_EQ(underlined.Width, regular.Width);
  for (int y = 0; y < regular.Height; ++y)
    for (int x = 0; x < regular.Width; ++x)
      EXPECT_EQ(At(underlined, x, y), y == 18 ? 255 : At(regular, x, y)) << x << "," << y;

  // Italic slants: the l's ink starts further right at its top than at its foot.
  plat::TTextMask italic = Render("l", 19, plat::kFontItalic);
  auto firstInk = [&](int y) {
    for (int x = 0; x < italic.Width; ++x)
      if (At(italic, x, y) > 128) return x;
    return -1;
  };
  EXPECT_GT(firstInk(5), firstInk(16) + 1);
}

TEST_F(Fonts, FamiliesNotShippedAreDrawnInDejaVuSans) {
  const std::string regular = plat::FontFile("DejaVu Sans", false, false);
  EXPECT_EQ(fs::path(regular), fs::path(Dir) / "data" / "fonts" / "DejaVuSans.ttf");
  EXPECT_EQ(plat::FontFile("Cargo", false, false), regular);
  EXPECT_EQ(plat::FontFile("dejavu sans", false, true), regular);  // no italic face: slanted from this
  EXPECT_EQ(fs::path(plat::FontFile("Cargo", true, false)).filename(), "DejaVuSans-Bold.ttf");
  EXPECT_EQ(Render("Cargo 14", 19).Coverage, Render("Cargo 14", 19, 0, "DejaVu Sans").Coverage);
}

// Without the bold face the regular one is thickened: bold stays bold.
TEST_F(Fonts, BoldIsMadeWhenOnlyTheRegularFaceIsThere) {
  fs::remove(fs::path(Dir) / "data" / "fonts");
  fs::create_directories(fs::path(Dir) / "data" / "fonts");
  fs::create_symlink(fs::path(PELLORIN_RUN_DIR) / "data" / "fonts" / "DejaVuSans.ttf",
                     fs::path(Dir) / "data" / "fonts" / "DejaVuSans.ttf");
  EXPECT_EQ(fs::path(plat::FontFile("Cargo", true, false)).filename(), "DejaVuSans.ttf");
  plat::TTextMask regular = Render("Level 10", 19), bold = Render("Level 10", 19, plat::kFontBold);
  EXPECT_EQ(bold.Width, regular.Width + 8);  // one pixel more per glyph
  int regularInk = 0, boldInk = 0;
  for (uint8_t c : regular.Coverage) regularInk += c;
  for (uint8_t c : bold.Coverage) boldInk += c;
  EXPECT_GT(boldInk, regularInk * 5 / 4);
}

// A missing or damaged font file draws nothing and says so; nothing of it is read out of bounds.
TEST_F(Fonts, AMissingOrDamagedFontFileGivesFalse) {
  std::ifstream in(fs::path(PELLORIN_RUN_DIR) / "data" / "fonts" / "DejaVuSans.ttf", std::ios::binary);
  const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(good.size(), 100000u);
  auto u16 = [](const std::string& s, size_t at) {
    return static_cast<size_t>(static_cast<uint8_t>(s[at]) << 8 | static_cast<uint8_t>(s[at + 1]));
  };
  auto u32 = [&](const std::string& s, size_t at) { return u16(s, at) << 16 | u16(s, at + 2); };
  auto record = [&](const char* tag) {  // where a table's directory entry is
    for (size_t i = 0; i < u16(good, 4); ++i)
      if (good.compare(12 + 16 * i, 4, tag) == 0) return 12 + 16 * i;
    ADD_FAILURE() << tag;
    return size_t{0};
  };
  auto put32 = [](std::string& s, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
  };
  const size_t glyf = u32(good, record("glyf") + 8);
  std::string tablePastTheEnd = good, glyphPastItsEnd = good, contoursOutOfOrder = good;
  put32(tablePastTheEnd, record("glyf") + 12, static_cast<uint32_t>(good.size()));
  // Glyph 0 (drawn for the control characters) opens the glyph table: its instructions' length.
  const size_t contours = u16(good, glyf);
  ASSERT_GE(contours, 2u);
  glyphPastItsEnd[glyf + 10 + 2 * contours] = glyphPastItsEnd[glyf + 11 + 2 * contours] = '\xFF';
  contoursOutOfOrder[glyf + 10] = '\x7F';  // the first contour ends after the second
  const struct {
    const char* Name;
    std::string Bytes;
  } cases[] = {
      {"empty", ""},
      {"the header only", good.substr(0, 200)},
      {"cut in half", good.substr(0, good.size() / 2)},
      {"not a font", std::string(5000, 'x')},
      {"a table past the end", tablePastTheEnd},
      {"a glyph past its end", glyphPastItsEnd},
      {"contours out of order", contoursOutOfOrder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    // A folder of its own for each file: a file once found damaged is not read again.
    fs::path data = fs::path(Dir) / c.Name;
    fs::create_directories(data / "data" / "fonts");
    std::ofstream(data / "data" / "fonts" / "DejaVuSans.ttf", std::ios::binary) << c.Bytes;
    plat::SetGameFolders({data.string(), Dir});
    int width = 1, height = 1;
    EXPECT_FALSE(plat::MeasureText({"Cargo", 19, 0}, "Yes", width, height));
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    plat::TTextMask mask;
    EXPECT_FALSE(plat::RenderText({"Cargo", 19, 0}, "Yes", mask));
    EXPECT_TRUE(mask.Coverage.empty());
  }
  plat::SetGameFolders({(fs::path(Dir) / "nothing").string(), Dir});
  plat::TTextMask mask;
  EXPECT_EQ(plat::FontFile("Cargo", false, false), "");
  EXPECT_FALSE(plat::RenderText({"Cargo", 19, 0}, "Yes", mask));
  // The good file, written the same way, draws.
  fs::create_directories(fs::path(Dir) / "good" / "data" / "fonts");
  std::ofstream(fs::path(Dir) / "good" / "data" / "fonts" / "DejaVuSans.ttf", std::ios::binary) << good;
  plat::SetGameFolders({(fs::path(Dir) / "good").string(), Dir});
  EXPECT_TRUE(plat::RenderText({"Cargo", 19, 0}, "Yes", mask));
}

}  // namespace
