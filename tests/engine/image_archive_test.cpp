#include "engine/image_archive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/engine/archive_bytes.h"
#include "tests/support/headless.h"
#include "tools/archive/archive_writer.h"

using namespace archive_bytes;

namespace {

std::string Info(int32_t w, int32_t h, int bits, uint32_t compression = 0, uint32_t size = 0, uint32_t used = 0) {
  return U32(40) + U32(static_cast<uint32_t>(w)) + U32(static_cast<uint32_t>(h)) + U16(1) +
         U16(static_cast<uint16_t>(bits)) + U32(compression) + U32(size) + U32(0) + U32(0) + U32(used) + U32(0);
}
std::string Core(uint16_t w, uint16_t h, int bits) { return U32(12) + U16(w) + U16(h) + U16(1) + U16(static_cast<uint16_t>(bits)); }
std::string Pal(int b, int g, int r) { return Byte(b) + Byte(g) + Byte(r) + Byte(0); }
std::string GrayPalette(int count) {
  std::string palette;
  for (int i = 0; i < count; ++i) palette += Pal(i, i, i);
  return palette;
}

TPictureBitmap Decode(const std::string& dib) {
  TStreamReader reader(reinterpret_cast<const uint8_t*>(dib.data()), dib.size());
  return DecodeDib(reader);
}

std::string DecodeError(const std::string& dib) {
  try {
    Decode(dib);
  } catch (const EArchiveError& error) {
    return error.what();
  }
  return "(no error)";
}

std::string PictureData(const std::string& codec, const std::string& data) { return Binary(Short(codec) + data); }

void Load(TPictureCollection& archive, const std::string& bytes) {
  archive.LoadArchiveData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "test.dxg");
}

std::string LoadError(TPictureCollection& archive, const std::string& bytes) {
  try {
    Load(archive, bytes);
  } catch (const EArchiveError& error) {
    EXPECT_EQ(error.File, "test.dxg");
    return error.what();
  }
  return "(no error)";
}

}  // namespace

TEST(DibDecoder, DecodesEveryLayoutPixelByPixel) {
  std::string corePalette;
  for (int i = 0; i < 256; ++i) corePalette += Byte(i) + Byte(0) + Byte(255 - i);
  // RLE8, 4 x 3, stored bottom row first: run; move right 1 and up 1; run cut at the row's end; end of
  // line; odd literal with its padding byte; end of bitmap; a run after the end that must not show.
  std::string rle8 = "\x01\x01" + Byte(0) + "\x02\x01\x01" + "\x05\x02" + Byte(0) + Byte(0) + Byte(0) +
                     "\x03\x03\x02\x01" + Byte(0) + Byte(0) + "\x01" + "\x05\x03";
  // RLE4, 5 x 2: literal of five nibbles padded to four bytes; end of line; run of alternating nibbles;
  // move right 1; run; end of bitmap.
  std::string rle4 = Byte(0) + "\x05\x34\x56\x70" + Byte(0) + Byte(0) + Byte(0) + "\x03\x12" + Byte(0) +
                     "\x02\x01" + Byte(0) + "\x01\x90" + Byte(0) + "\x01";
  // RLE8, 2 x 2: a run of three on the first stored row; end of line; move right 1; a run of two on the
  // last stored row. Nothing overwrites a stray pixel: it would stay on the next row or land past the end.
  std::string overshoot =
      "\x03\x01" + Byte(0) + Byte(0) + Byte(0) + "\x02\x01" + Byte(0) + "\x02\x02" + Byte(0) + "\x01";
  const struct {
    const char* what;
    std::string dib;
    int32_t width, height;
    std::vector<uint32_t> pixels;  // top row first
  } cases[] = {
      {"24-bit bottom-up, rows padded to 4 bytes", Info(2, 2, 24) + "\x01\x02\x03\x04\x05\x06" + U16(0) +
           "\x07\x08\x09\x0A\x0B\x0C" + U16(0), 2, 2, {0x090807, 0x0C0B0A, 0x030201, 0x060504}},
      {"32-bit top-down, reserved byte dropped", Info(2, -1, 32) + "\x01\x02\x03\xFF\x04\x05\x06" + Byte(0), 2, 1,
       {0x030201, 0x060504}},
      {"1-bit with two colours used", Info(10, 1, 1, 0, 0, 2) + Pal(0, 0, 255) + Pal(255, 255, 255) +
           "\xB0\x40" + U16(0), 10, 1,
       {0xFFFFFF, 0xFF0000, 0xFFFFFF, 0xFFFFFF, 0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000, 0xFFFFFF}},
      {"4-bit, colours used 0 means 16", Info(3, 1, 4) + GrayPalette(16) + "\x1F\x20" + U16(0), 3, 1,
       {0x010101, 0x0F0F0F, 0x020202}},
      {"8-bit index past the palette is black", Info(3, 1, 8, 0, 0, 2) + Pal(1, 1, 1) + Pal(2, 2, 2) +
           "\x01" + Byte(0) + "\x05" + Byte(0), 3, 1, {0x020202, 0x010101, 0}},
      {"core header with 3-byte palette entries", Core(2, 2, 8) + corePalette + Byte(0) + "\x01" + U16(0) +
           "\x02\x03" + U16(0), 2, 2, {0xFD0002, 0xFC0003, 0xFF0000, 0xFE0001}},
      {"16-bit 5-5-5 without bit fields", Info(2, 1, 16) + U16(0x7C00) + U16(0x0421), 2, 1, {0xFF0000, 0x080808}},
      {"16-bit 5-6-5 bit fields", Info(2, 1, 16, 3) + U32(0xF800) + U32(0x07E0) + U32(0x001F) + U16(0x07E0) +
           U16(0xFFFF), 2, 1, {0x00FF00, 0xFFFFFF}},
      {"RLE8 with every escape", Info(4, 3, 8, 1, static_cast<uint32_t>(rle8.size()), 4) + Pal(9, 9, 9) +
           Pal(0x11, 0x11, 0x11) + Pal(0x22, 0x22, 0x22) + Pal(0x33, 0x33, 0x33) + rle8, 4, 3,
       {0x333333, 0x222222, 0x111111, 0x090909,  //
        0x090909, 0x090909, 0x222222, 0x222222,  //
        0x111111, 0x090909, 0x090909, 0x090909}},
      {"RLE8 runs cut at the end of a row, the last row's too",
       Info(2, 2, 8, 1, static_cast<uint32_t>(overshoot.size()), 3) + Pal(9, 9, 9) + Pal(0x11, 0x11, 0x11) +
           Pal(0x22, 0x22, 0x22) + overshoot,
       2, 2, {0x090909, 0x222222, 0x111111, 0x111111}},
      {"RLE4 with every escape", Info(5, 2, 4, 2, static_cast<uint32_t>(rle4.size())) + GrayPalette(16) + rle4, 5,
       2, {0x010101, 0x020202, 0x010101, 0, 0x090909, 0x030303, 0x040404, 0x050505, 0x060606, 0x070707}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TPictureBitmap bitmap = Decode(c.dib);
    ASSERT_EQ(bitmap.Width, c.width);
    ASSERT_EQ(bitmap.Height, c.height);
    EXPECT_EQ(bitmap.Pixels, c.pixels);
  }
}

TEST(DibDecoder, ReadsAtMost256PaletteEntriesAndThePixelsFollowThem) {
  // 257 colours used: entry 1 is red, and the pixel byte comes right after entry 256.
  std::string palette = GrayPalette(256);
  palette.replace(4, 4, Pal(0, 0, 255));
  TPictureBitmap bitmap = Decode(Info(1, 1, 8, 0, 4, 257) + palette + "\x01" + Byte(0) + Byte(0) + Byte(0));
  ASSERT_EQ(bitmap.Pixels.size(), 1u);
  EXPECT_EQ(bitmap.Pixels[0], 0xFF0000u);
}

TEST(DibDecoder, RejectsBadHeadersFormatsAndShortData) {
  const struct {
    std::string dib;
    const char* message;
  } cases[] = {
      {std::string(), "(no error)"},  // no data at all: an empty picture
      {"\x28" + Byte(0), "DIB is invalid"},
      {U32(20) + std::string(40, '\0'), "DIB is invalid"},
      {U32(12) + U16(1), "DIB is invalid"},
      {Info(1, 1, 2), "Bitcount in invalid (2)"},
      {Info(1, 1, 64), "Bitcount in invalid (64)"},
      {Info(1, 1, 24, 4), "DIB is invalid"},
      {Info(1, 1, 4, 1), "DIB is invalid"},  // RLE8 needs 8 bits
      {Info(1, 1, 16, 3) + U32(0x0F00) + U32(0x00F0) + U32(0x000F) + U32(0), "PixelFormat in invalid"},
      {Info(1, 1, 32, 3) + U32(0x0000FF) + U32(0x00FF00) + U32(0xFF0000) + U32(0), "PixelFormat in invalid"},
      {Info(1, 1, 8, 3) + U32(0) + U32(0) + U32(0), "PixelFormat in invalid"},
      {Info(2, 2, 24) + std::string(8, '\0'), "Stream read error"},
      {Info(1, 1, 8) + std::string(100, '\0'), "Stream read error"},  // 256 palette entries claimed
      {Info(1, 1, 24, 0, 0, 0x40000000) + std::string(8, '\0'), "Stream read error"},
      {Info(4, 4, 8, 1, 1000, 1) + Pal(0, 0, 0) + "\x04\x00", "Stream read error"},
      {Info(70000, 70000, 24), "DIB is invalid"},  // too large to hold, decided before any allocation
      {Info(-1, 1, 24), "DIB is invalid"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeError(c.dib), c.message) << testing::PrintToString(c.dib);
  EXPECT_TRUE(Decode("").Empty());
}

TEST(ImageArchive, ReadsWhatTheWriterWrites) {
  TPackedPicture hero;
  hero.Name = "hero";
  hero.PatternWidth = 2, hero.PatternHeight = 1, hero.SkipWidth = 3, hero.SkipHeight = -4;
  hero.SystemMemory = true, hero.Transparent = false, hero.TransparentColor = static_cast<int32_t>(0xFF000005);
  hero.Bitmap = {3, 2, {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x010203}};
  TPackedPicture wide;
  wide.Name = std::string(300, 'w');  // longer than a short string
  wide.TransparentColor = 70000;
  wide.Bitmap = {1, 1, {0xFFFFFF}};
  std::vector<uint8_t> bytes = WriteImageArchive({hero, wide});

  TPictureCollection archive;
  archive.LoadArchiveData(bytes.data(), bytes.size(), "packed.dxg");
  ASSERT_EQ(archive.Count(), 2);
  const TPictureCollectionItem& a = *archive.PictureAt(0);
  EXPECT_EQ(a.Name(), "hero");
  EXPECT_EQ(a.Codec, "TDIB");
  EXPECT_EQ(a.Picture.Width, 3);
  EXPECT_EQ(a.Picture.Height, 2);
  EXPECT_EQ(a.Picture.Pixels, hero.Bitmap.Pixels);
  EXPECT_EQ(a.PatternWidth, 2);
  EXPECT_EQ(a.PatternHeight, 1);
  EXPECT_EQ(a.SkipWidth, 3);
  EXPECT_EQ(a.SkipHeight, -4);
  EXPECT_TRUE(a.SystemMemory);
  EXPECT_FALSE(a.Transparent);
  EXPECT_EQ(a.TransparentColor, static_cast<int32_t>(0xFF000005));
  EXPECT_EQ(a.EffectiveWidth(), 2);
  EXPECT_EQ(a.EffectiveHeight(), 1);
  const TPictureCollectionItem& b = *archive.PictureAt(1);
  EXPECT_EQ(b.Name(), wide.Name);
  EXPECT_EQ(b.TransparentColor, 70000);
  EXPECT_EQ(b.EffectiveWidth(), 1);  // pattern 0: the whole picture
  EXPECT_EQ(b.EffectiveHeight(), 1);
}

TEST(ImageArchive, AcceptsAnyOrderSubsetTagsAndPrefixes) {
  std::string dib = Info(1, -1, 32) + U32(0x00ABCDEF);
  std::string items =
      Int8(7) +
      Item(Prop("TransparentColor", Ident("clfuchsia")) + Prop("Transparent", Ident("False")) +
           Prop("SystemMemory", Byte(0x09)) + Prop("Picture.Data", PictureData("TDIB", dib)) +
           Prop("PatternWidth", Int16(300)) + Prop("PatternHeight", Int32(70000)) +
           Prop("Name", Byte(0x12) + U32(3) + "S" + Byte(0) + "m" + Byte(0) + U16(0x0101)) +
           Prop("skipwidth", Int8(-2))) +
      Item(Prop("Name", Byte(0x14) + U32(3) + "sky")) +
      Item(Prop("Name", Byte(0x0C) + U32(4) + "icon") + Prop("PatternWidth", Int8(12)) +
           Prop("Picture.Data", PictureData("TIcon", "whatever follows"))) +
      Item(Prop("PatternWidth", Ident("clRed")));
  std::string props = Prop("List", Byte(0x0E) + items + Byte(0)) + Prop("List.ColorTable", Binary(std::string(1100, '\x07')));
  std::string body = "TPF0" + Byte(0xF2) + Int8(3) + Short("SomethingElse") + Short("") + props + Byte(0) + Byte(0);
  std::string file = "\xFF\x0A" + Byte(0) + "ANY" + Byte(0) + U16(0) + U32(0) + body;  // flags and length ignored

  TPictureCollection archive;
  Load(archive, file);
  ASSERT_EQ(archive.Count(), 4);
  const TPictureCollectionItem& a = *archive.PictureAt(0);
  EXPECT_EQ(a.Name(), "Sm?");
  EXPECT_EQ(a.TransparentColor, 0xFF00FF);
  EXPECT_FALSE(a.Transparent);
  EXPECT_TRUE(a.SystemMemory);
  EXPECT_EQ(a.PatternWidth, 300);
  EXPECT_EQ(a.PatternHeight, 70000);
  EXPECT_EQ(a.SkipWidth, -2);
  EXPECT_EQ(a.Picture.Pixels, std::vector<uint32_t>{0xABCDEF});

  const TPictureCollectionItem& sky = *archive.PictureAt(1);  // absent properties keep their defaults
  EXPECT_EQ(sky.Name(), "sky");
  EXPECT_TRUE(sky.Transparent);
  EXPECT_EQ(sky.TransparentColor, 0);
  EXPECT_EQ(sky.PatternWidth, 0);
  EXPECT_TRUE(sky.Picture.Empty());

  const TPictureCollectionItem& icon = *archive.PictureAt(2);  // unknown codec: no bitmap, no error
  EXPECT_EQ(icon.Codec, "TIcon");
  EXPECT_TRUE(icon.Picture.Empty());
  EXPECT_EQ(icon.EffectiveWidth(), 12);
  EXPECT_EQ(icon.EffectiveHeight(), 0);

  EXPECT_EQ(archive.PictureAt(3)->PatternWidth, 0x0000FF);  // integers accept colour identifiers
  EXPECT_EQ(archive.ColorTable[0], 7);
  EXPECT_EQ(archive.ColorTable[1023], 7);
}

TEST(ImageArchive, FindsByNameIgnoringCaseAndTheLastReadWins) {
  TPictureCollection archive;
  Load(archive, ImageArchive(Item(Prop("Name", Str("Smoke")) + Prop("PatternWidth", Int8(1))) +
                             Item(Prop("Name", Str("shield"))) +
                             Item(Prop("Name", Str("smoke")) + Prop("PatternWidth", Int8(2))) +
                             Item(Prop("Name", Str("old")) + Prop("Name", Str("x")))));
  EXPECT_EQ(archive.FindPicture("SMOKE")->PatternWidth, 2);
  EXPECT_EQ(archive.FindPicture("Shield"), archive.PictureAt(1));
  EXPECT_EQ(archive.FindPicture("X"), archive.PictureAt(3));  // renamed: relinked under the new name
  const struct {
    const char* name;
    const char* message;
  } misses[] = {{"old", "Image 'old' not found"}, {"", "Image '' not found"}, {"smok", "Image 'smok' not found"}};
  for (const auto& m : misses) {
    try {
      archive.FindPicture(m.name);
      ADD_FAILURE() << m.name;
    } catch (const EArchiveError& error) {
      EXPECT_STREQ(error.what(), m.message);
    }
  }
  for (int index : {-1, 4}) {
    try {
      archive.PictureAt(index);
      ADD_FAILURE() << index;
    } catch (const EArchiveError& error) {
      EXPECT_EQ(std::string(error.what()), "List index out of bounds (" + std::to_string(index) + ")");
    }
  }
}

TEST(ImageArchive, DamagedFilesFailWithTheirTextAndKeepWhatWasReadWhole) {
  std::string good = Item(Prop("Name", Str("first")));
  std::string fullFile = ImageArchive(good + Item(Prop("Name", Str("second")) + Prop("PatternWidth", Int8(1))));
  std::string truncated = fullFile.substr(0, fullFile.rfind("PatternWidth") + 13);  // value missing
  const struct {
    const char* what;
    std::string file;
    const char* message;
    int count;
  } cases[] = {
      {"empty file", "", "Invalid stream format", 0},
      {"wrong first bytes", "\x00\x0A" + fullFile.substr(2), "Invalid stream format", 0},
      {"wrong signature", [&] { std::string f = fullFile; f[f.find("TPF0") + 3] = '1'; return f; }(),
       "Invalid stream format", 0},
      {"cut inside the second picture", truncated, "Error reading TPictureCollectionItem.PatternWidth: Stream read error", 1},
      {"cut before the list ends", fullFile.substr(0, fullFile.size() - 3),
       "Error reading TPictureCollectionComponent.List: Stream read error", 2},
      {"short colour table",
       Container("X", "Y", Prop("List.ColorTable", Binary(std::string(100, '\0')))),
       "Error reading TPictureCollectionComponent.List.ColorTable: Stream read error", 0},
      {"unknown root property", Container("X", "Y", Prop("Items", Int8(1))),
       "Error reading TPictureCollectionComponent.Items: Property Items does not exist", 0},
      {"unknown picture property", ImageArchive(good + Item(Prop("Colour", Int8(1)))),
       "Error reading TPictureCollectionItem.Colour: Property Colour does not exist", 1},
      {"boolean with an integer tag", ImageArchive(good + Item(Prop("Transparent", Int8(1)))),
       "Error reading TPictureCollectionItem.Transparent: Invalid property value", 1},
      {"unknown identifier", ImageArchive(good + Item(Prop("TransparentColor", Ident("clPlaid")))),
       "Error reading TPictureCollectionItem.TransparentColor: Invalid property value", 1},
      {"string with a binary tag", ImageArchive(good + Item(Prop("Name", Binary("abc")))),
       "Error reading TPictureCollectionItem.Name: Invalid property value", 1},
      {"bad bit count", ImageArchive(good + Item(Prop("Picture.Data", PictureData("TDIB", Info(1, 1, 3))))),
       "Error reading TPictureCollectionItem.Picture.Data: Bitcount in invalid (3)", 1},
      {"blob longer than the file", ImageArchive(Item(Prop("Picture.Data", Byte(0x0A) + U32(0x7FFFFFFF) + "TDIB"))),
       "Error reading TPictureCollectionItem.Picture.Data: Stream read error", 0},
      {"item without its start byte", ImageArchive(good + Byte(0x05)),
       "Error reading TPictureCollectionComponent.List: Invalid property value", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TPictureCollection archive;
    Load(archive, ImageArchive(good + good + good));
    EXPECT_EQ(LoadError(archive, c.file), c.message);
    EXPECT_EQ(archive.Count(), c.count);
    if (c.count > 0) {
      EXPECT_EQ(archive.FindPicture("first"), archive.PictureAt(0));
    }
  }
}

class ImageArchiveFile : public THeadlessTest {};

TEST_F(ImageArchiveFile, LoadsByGamePathAndReportsAMissingFile) {
  WriteFile("Data/Menu.DXG", ImageArchive(Item(Prop("Name", Str("bg")))));
  TPictureCollection archive;
  archive.LoadArchive("data\\menu.dxg");
  EXPECT_EQ(archive.PictureAt(0)->Name(), "bg");
  try {
    archive.LoadArchive("data\\gamegraphic.dxg");
    ADD_FAILURE();
  } catch (const EArchiveError& error) {
    EXPECT_STREQ(error.what(), "Cannot open file \"data\\gamegraphic.dxg\". No such file or directory");
    EXPECT_EQ(error.File, "data\\gamegraphic.dxg");
  }
  EXPECT_EQ(archive.Count(), 1);  // a file that cannot be opened leaves the archive as it was
}

// Inputs the fuzzers found or start from: each loads or fails with an archive error, never worse.
TEST(FuzzInputs, KeptInputsLoadOrFailCleanly) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const char* kind : {"image_archive", "wave_archive"})
    for (const char* set : {"seeds", "regressions"}) {
      fs::path dir = fs::path(PELLORIN_FUZZ_INPUTS) / set / kind;
      if (!fs::exists(dir)) continue;
      for (const auto& entry : fs::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bool seed = std::string(set) == "seeds";
        try {
          if (std::string(kind) == "image_archive") {
            TPictureCollection archive;
            archive.LoadArchiveData(bytes.data(), bytes.size(), "input");
            if (seed) {
              EXPECT_GT(archive.Count(), 0);
            }
          } else {
            TWaveCollection archive;
            archive.LoadWaveArchiveData(bytes.data(), bytes.size(), "input");
            if (seed) {
              EXPECT_GT(archive.Count(), 0);
            }
          }
        } catch (const EArchiveError& error) {
          EXPECT_FALSE(seed) << error.what();
        }
        ++files;
      }
    }
  EXPECT_GT(files, 10);
}
