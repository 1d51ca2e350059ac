// The picture builder's pixel rules: how soft edges become colour-keyed pixels, token filling of SVG
// sources, and reading manifests.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/art/art_image.h"
#include "tools/art/manifest.h"

namespace {

constexpr uint32_t kKey = 0xFF00FF;

uint32_t Premultiplied(uint32_t alpha, uint32_t rgb) {
  auto ch = [&](int shift) { return (((rgb >> shift) & 0xFFu) * alpha + 127) / 255; };
  return (alpha << 24) | (ch(16) << 16) | (ch(8) << 8) | ch(0);
}

TEST(ResolveKey, CoverageDecidesBetweenKeyAndColour) {
  struct TCase { uint32_t Alpha; uint32_t Rgb; art::TEdge Edge; uint32_t Expected; };
  const TCase cases[] = {
      {0, 0x000000, art::TEdge::kOutline, kKey},
      {127, 0xFFFFFF, art::TEdge::kOutline, kKey},            // under half covered: not shown
      {255, 0x336699, art::TEdge::kOutline, 0x336699},        // fully covered: its own colour
      {128, 0xFFFFFF, art::TEdge::kThreshold, 0xFFFFFF},      // threshold keeps the pure colour
      {255, kKey, art::TEdge::kOutline, kKey ^ 0x000100},     // a shown pixel never equals the key
  };
  for (const TCase& c : cases) {
    art::TArtImage image(1, 1, Premultiplied(c.Alpha, c.Rgb));
    const art::TArtImage out = art::ResolveKey(image, kKey, c.Edge);
    EXPECT_EQ(out.At(0, 0), 0xFF000000u | c.Expected) << "alpha " << c.Alpha << " rgb " << std::hex << c.Rgb;
  }
}

TEST(ResolveKey, HalfCoveredEdgeDarkensTowardTheInkNotTheKey) {
  art::TArtImage image(1, 1, Premultiplied(160, 0xFFFFFF));
  const uint32_t out = art::Rgb(art::ResolveKey(image, kKey, art::TEdge::kOutline).At(0, 0));
  const uint32_t r = out >> 16, g = (out >> 8) & 0xFF, b = out & 0xFF;
  // Between white and the ink: all channels lowered alike, green as much as red and blue.
  EXPECT_LT(r, 255u);
  EXPECT_GT(r, 0x1Du);
  EXPECT_NEAR(static_cast<int>(r), static_cast<int>(g), 16);
  EXPECT_NEAR(static_cast<int>(b), static_cast<int>(g), 16);
}

TEST(Grid, LaysFramesOutRowByRow) {
  std::vector<art::TArtImage> frames;
  for (uint32_t i = 0; i < 6; ++i) frames.emplace_back(2, 3, 0xFF000000u | i);
  const art::TArtImage grid = art::Grid(frames, 4);
  ASSERT_EQ(grid.Width, 8);
  ASSERT_EQ(grid.Height, 6);
  EXPECT_EQ(grid.At(6, 2), 0xFF000003u);   // frame 3: end of the first row
  EXPECT_EQ(grid.At(2, 3), 0xFF000005u);   // frame 5: second of the second row
  EXPECT_EQ(grid.At(7, 5), 0x00000000u);   // the unused cell stays empty
}

TEST(Substitute, FillsEveryTokenAndNamesAMissingOne) {
  EXPECT_EQ(art::Substitute("a{{x}}b{{y}}{{x}}", {{"x", "1"}, {"y", "22"}}, "t"), "a1b221");
  try {
    art::Substitute("<g transform=\"rotate({{tilt}})\"/>", {}, "hero.svg");
    FAIL() << "no error for a token without a value";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("hero.svg"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("tilt"), std::string::npos);
  }
}

class ManifestTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              (std::string("pellorin_art_") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".manifest"))
                                 .string();
    std::ofstream(path) << text;
    Paths.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const std::string& p : Paths) std::remove(p.c_str());
  }
  std::vector<std::string> Paths;
};

TEST_F(ManifestTest, ReadsEntriesInOrderSkippingComments) {
  const auto entries = art::ReadManifest(Write(
      "# comment\n\nsky  sky.png 800 600 0 0 0 0 0xFF00FF\n"
      "hero hero.png 72 40 1 2 1 1 16711935  # trailing comment\n"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, "sky");
  EXPECT_FALSE(entries[0].Transparent);
  EXPECT_EQ(entries[1].Source, "hero.png");
  EXPECT_EQ(entries[1].PatternWidth, 72);
  EXPECT_EQ(entries[1].SkipHeight, 2);
  EXPECT_TRUE(entries[1].SystemMemory);
  EXPECT_EQ(entries[1].TransparentColor, 0xFF00FFu);
  EXPECT_EQ(entries[1].Line, 4);
  EXPECT_EQ(art::ColorValueToRgb(0x0000FF), 0xFF0000u);  // red lives in the low byte of a colour value
}

TEST_F(ManifestTest, MalformedLinesNameFileAndLine) {
  const char* bad[] = {"hero hero.png 72 40 0 0 0 1\n", "hero hero.png 72 forty 0 0 0 1 0\n",
                       "hero hero.png 72 40 0 0 2 1 0\n", "hero hero.png -72 40 0 0 0 1 0\n"};
  for (const char* text : bad) {
    const std::string path = Write(std::string("# header\n") + text);
    try {
      art::ReadManifest(path);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path + ":2"), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(art::ReadManifest("/nonexistent/dir/x.manifest"), std::runtime_error);
}

}  // namespace
