#include "tools/archive/archive_tool.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/binary_io.h"
#include "platform/files.h"
#include "platform/png_codec.h"
#include "tests/engine/archive_bytes.h"
#include "tests/support/headless.h"

using namespace archive_bytes;

namespace {

class ArchiveTool : public THeadlessTest {
 protected:
  int Run(const std::vector<std::string>& args) {
    Out.str("");
    Err.str("");
    return RunArchiveTool(args, Out, Err);
  }
  void WritePicture(const std::string& path, const plat::TPngImage& image) {
    std::string error;
    ASSERT_TRUE(plat::WritePng(path, image.Width, image.Height, image.Pixels.data(), error)) << error;
  }
  plat::TPngImage ReadPicture(const std::string& path) {
    plat::TPngImage image;
    std::string error;
    EXPECT_TRUE(plat::ReadPng(path, image, error)) << path << ": " << error;
    return image;
  }
  std::ostringstream Out, Err;
};

const std::string kFormat = U16(1) + U16(1) + U32(11025) + U32(11025) + U16(1) + U16(8);

}  // namespace

TEST_F(ArchiveTool, PicturesRoundTripThroughPackListAndExtract) {
  WriteFile("art/keep", "");
  plat::TPngImage hero{3, 2, {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0xFF00FF}};
  plat::TPngImage shot{1, 1, {0x00FF00}};
  WritePicture("art/hero.png", hero);
  WritePicture("art/shot.png", shot);
  WriteFile("art/pictures.txt",
            "# name source pw ph sw sh sysmem transparent colour\n"
            "\n"
            "hero  hero.png 3 1 0 0 0 1 clFuchsia   # the player\n"
            "shot\tshot.png 0 0 1 2 1 0 0xFF000005\n");
  ASSERT_EQ(Run({"pack", "art/pictures.txt", "g.dxg"}), 0) << Err.str();

  // The layout writers use: resource name, flags, length of the rest, signature, root, properties in order.
  std::string file = ReadFile("g.dxg");
  std::string header = "\xFF\x0A" + Byte(0) + "TPICTURECOLLECTIONCOMPONENT" + Byte(0) + U16(0x1030);
  ASSERT_EQ(file.substr(0, header.size()), header);
  EXPECT_EQ(LoadU32(reinterpret_cast<const uint8_t*>(file.data()) + header.size()), file.size() - header.size() - 4);
  EXPECT_EQ(file.substr(header.size() + 4, 4 + 28 + 1 + 16 + 5),
            "TPF0" + Short("TPictureCollectionComponent") + Short("") + Short("List.ColorTable") + Byte(0x0A) +
                U32(1024));
  size_t at = 0;
  for (const char* name : {"Name", "PatternHeight", "PatternWidth", "Picture.Data", "SkipHeight", "SkipWidth",
                           "SystemMemory", "Transparent", "TransparentColor"}) {
    size_t next = file.find(Short(name), at);
    ASSERT_NE(next, std::string::npos) << name;
    at = next + 1;
  }
  EXPECT_LT(at, file.find("shot"));

  ASSERT_EQ(Run({"list", "g.dxg", "--json"}), 0) << Err.str();
  EXPECT_EQ(Out.str(),
            "[\n"
            " {\"index\": 0, \"name\": \"hero\", \"width\": 3, \"height\": 2, \"patternWidth\": 3, "
            "\"patternHeight\": 1, \"skipWidth\": 0, \"skipHeight\": 0, \"systemMemory\": false, "
            "\"transparent\": true, \"transparentColor\": 16711935, \"codec\": \"TDIB\"},\n"
            " {\"index\": 1, \"name\": \"shot\", \"width\": 1, \"height\": 1, \"patternWidth\": 0, "
            "\"patternHeight\": 0, \"skipWidth\": 1, \"skipHeight\": 2, \"systemMemory\": true, "
            "\"transparent\": false, \"transparentColor\": -16777211, \"codec\": \"TDIB\"}\n"
            "]\n");
  ASSERT_EQ(Run({"list", "g.dxg"}), 0);
  EXPECT_EQ(Out.str(),
            "0 hero 3x2 pattern 3x1 skip 0x0 systemMemory 0 transparent 1 color 0x00FF00FF codec TDIB\n"
            "1 shot 1x1 pattern 0x0 skip 1x2 systemMemory 1 transparent 0 color 0xFF000005 codec TDIB\n");

  ASSERT_EQ(Run({"extract", "g.dxg", "out/pics"}), 0) << Err.str();
  plat::TPngImage back = ReadPicture("out/pics/000-hero.png");
  EXPECT_EQ(back.Width, 3);
  EXPECT_EQ(back.Pixels, hero.Pixels);
  EXPECT_EQ(ReadPicture("out/pics/001-shot.png").Pixels, shot.Pixels);
}

TEST_F(ArchiveTool, SoundsRoundTripThroughPackListAndExtract) {
  // A WAV as sound editors write it: an odd LIST chunk with its padding byte before the data.
  std::string wav = Riff(Chunk("fmt ", kFormat) + Chunk("LIST", "abc") + Byte(0) + Chunk("data", "\x10\x20\x30") + Byte(0));
  WriteFile("sfx/boom.wav", wav);
  WriteFile("sfx/sounds.txt", "explode boom.wav 0 2\nmusic boom.wav 1 0\n");
  ASSERT_EQ(Run({"pack", "sfx/sounds.txt", "s.DXW"}), 0) << Err.str();
  ASSERT_EQ(Run({"list", "s.DXW"}), 0) << Err.str();
  EXPECT_EQ(Out.str(),
            "0 explode looped 0 maxPlayingCount 2 format 1 channels 1 rate 11025 bits 8 data 3\n"
            "1 music looped 1 maxPlayingCount 0 format 1 channels 1 rate 11025 bits 8 data 3\n");
  ASSERT_EQ(Run({"list", "s.DXW", "--json"}), 0);
  EXPECT_NE(Out.str().find("{\"index\": 1, \"name\": \"music\", \"looped\": true, \"maxPlayingCount\": 0, "
                           "\"formatTag\": 1, \"channels\": 1, \"samplesPerSec\": 11025, \"bitsPerSample\": 8, "
                           "\"dataBytes\": 3}"),
            std::string::npos)
      << Out.str();
  ASSERT_EQ(Run({"extract", "s.DXW", "out"}), 0) << Err.str();
  std::string extracted = ReadFile("out/000-explode.wav");
  TWave wave;
  std::string error;
  ASSERT_TRUE(ReadWavFile(std::vector<uint8_t>(extracted.begin(), extracted.end()), wave, error)) << error;
  EXPECT_EQ(std::string(wave.Format.begin(), wave.Format.end()), kFormat);
  EXPECT_EQ(std::string(wave.Data.begin(), wave.Data.end()), "\x10\x20\x30");
}

TEST_F(ArchiveTool, ExtractNamesStayInsideTheFolder) {
  std::string riff = Riff(Chunk("fmt ", kFormat) + Chunk("data", "a"));
  WriteFile("evil.dxw", WaveArchive(Item(Prop("Name", Str("../../etc/x y"))) + Item(Prop("Name", Str(""))) +
                                    Item(Prop("Wave.WAVE", Binary(riff)))));
  ASSERT_EQ(Run({"extract", "evil.dxw", "out"}), 0) << Err.str();
  EXPECT_EQ(Out.str(), "out/000-.._.._etc_x_y.wav\nout/001-.wav\nout/002-.wav\n");
}

TEST_F(ArchiveTool, FailuresNameTheFileOnOneLine) {
  WriteFile("bad.dxg", "not an archive");
  WriteFile("cut.dxw", WaveArchive(Item(Prop("Name", Str("a")) + Prop("Wave.WAVE", Binary("RIFF")))));
  WriteFile("fields.txt", "# ok\nhero hero.png 1 1 0 0 0 1\n");
  WriteFile("colour.txt", "hero hero.png 1 1 0 0 0 1 clPlaid\n");
  WriteFile("number.txt", "hero hero.png 1x 1 0 0 0 1 0\n");
  WriteFile("missing.txt", "hero nothere.png 1 1 0 0 0 1 0\n");
  WriteFile("looped.txt", "boom boom.wav 2 0\n");
  WriteFile("notwav.txt", "boom notwav.txt 0 0\n");
  const struct {
    std::vector<std::string> args;
    const char* err;
    int status;
  } cases[] = {
      {{"list", "bad.dxg"}, "bad.dxg: Invalid stream format\n", 1},
      {{"list", "cut.dxw", "--json"}, "cut.dxw: Error reading TWaveCollectionItem.Wave.WAVE: Wave is invalid\n", 1},
      {{"extract", "gone.dxg", "out"}, "gone.dxg: Cannot open file \"gone.dxg\". No such file or directory\n", 1},
      {{"list", "archive.zip"}, "archive.zip: the name must end in .dxg (pictures) or .dxw (sounds)\n", 1},
      {{"pack", "fields.txt", "g.dxg"},
       "fields.txt:2: expected 9 fields (name, source, pattern width and height, skip width and height, system "
       "memory, transparent, transparent colour), found 8\n",
       1},
      {{"pack", "colour.txt", "g.dxg"}, "colour.txt:1: transparent colour is neither a number nor a colour name: clPlaid\n", 1},
      {{"pack", "number.txt", "g.dxg"}, "number.txt:1: pattern width is not a number: 1x\n", 1},
      {{"pack", "looped.txt", "s.dxw"}, "looped.txt:1: looped must be 0 or 1: 2\n", 1},
      {{"pack", "notwav.txt", "s.dxw"}, "notwav.txt: not a RIFF WAVE file\n", 1},
      {{"pack", "nomanifest.txt", "s.dxw"}, "nomanifest.txt: No such file or directory\n", 1},
      {{"list"}, "usage: pellorin-archive list FILE [--json] | extract FILE DIR | pack MANIFEST OUT\n", 2},
      {{"list", "bad.dxg", "--xml"}, "usage: pellorin-archive list FILE [--json] | extract FILE DIR | pack MANIFEST OUT\n", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), c.status);
    EXPECT_EQ(Err.str(), c.err);
    EXPECT_EQ(Out.str(), "");
  }
  EXPECT_EQ(Run({"pack", "missing.txt", "g.dxg"}), 1);
  EXPECT_EQ(Err.str().rfind("nothere.png: ", 0), 0u) << Err.str();
  EXPECT_FALSE(plat::FileExists("g.dxg"));
}

TEST(ArchiveManifest, ReadsColoursAsNumbersOrIdentifiers) {
  const struct {
    const char* colour;
    int32_t value;
  } cases[] = {{"0", 0},
               {"255", 255},
               {"-1", -1},
               {"0xFF00FF", 0xFF00FF},
               {"0XFF000005", static_cast<int32_t>(0xFF000005)},
               {"clFuchsia", 0xFF00FF},
               {"clwhite", 0xFFFFFF},
               {"clBtnFace", static_cast<int32_t>(0xFF00000F)},
               {"clNone", 0x1FFFFFFF}};
  for (const auto& c : cases) {
    auto entries = ParseManifest(std::string("a a.png 1 2 3 4 1 0 ") + c.colour, "dir/m.txt", true);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Picture.TransparentColor, c.value) << c.colour;
    EXPECT_EQ(entries[0].Source, "dir/a.png");
  }
  for (const char* bad : {"0x", "0x1FFFFFFFF", "12a", "clPlaid", "--1"})
    EXPECT_THROW(ParseManifest(std::string("a a.png 1 2 3 4 1 0 ") + bad, "m.txt", true), EArchiveToolError) << bad;
}
