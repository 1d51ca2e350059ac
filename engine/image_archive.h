// The image archive (.dxg): pictures with a name, a decoded bitmap and the grid geometry that cuts it
// into patterns. The image list owns one TPictureCollection, which owns its pictures; callers keep plain
// pointers from PictureAt and FindPicture, valid until the next load. Loading decodes every "TDIB"
// bitmap into 32-bit pixels and keeps them for the picture's whole life.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "engine/archive_stream.h"
#include "engine/rect.h"
#include "engine/surface.h"

class TDXDraw;

// A decoded bitmap: Width x Height pixels, rows top to bottom, each 0x00RRGGBB (blue in the low byte,
// the layout of the platform's frame). Empty (0 x 0) when the archive held no bitmap it could decode.
struct TPictureBitmap {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint32_t> Pixels;  // Width * Height, row-major

  bool Empty() const { return Pixels.empty(); }
  uint32_t Pixel(int32_t x, int32_t y) const {
    return Pixels[static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)];
  }
};

// Colour values are signed 32-bit: red in bits 0-7, green 8-15, blue 16-23; 0xFF0000nn names system
// colour nn. The 52 colour identifiers an archive may use instead of a number map to these values.
bool ColorIdentToValue(const std::string& ident, int32_t& value);  // case-insensitive; false if unknown
// The identifier of a value, or empty when it has none.
std::string ColorValueToIdent(int32_t value);

// Decodes "TDIB" data (a BMP image without its 14-byte file header) that fills the whole reader.
// No bytes at all give an empty bitmap. Failures: "DIB is invalid", "Bitcount in invalid (%d)",
// "PixelFormat in invalid", "Stream read error". Bitmaps above kMaxDibPixels are "DIB is invalid".
constexpr int64_t kMaxDibPixels = int64_t{1} << 24;
TPictureBitmap DecodeDib(TStreamReader& reader);

class TPictureCollection;

// One pattern: a rectangle of one of the picture's surfaces, with the opaque runs of each of its rows
// and, for the unclipped keyed blit, the runs' pixels one after the other (read sequentially, they copy
// faster than from the surface). Both are taken from the surface when the patterns are built. The runs
// are also kept cut into pieces of at most kRunPiece pixels, which processors with masked moves copy
// one move a piece, without a branch on the length.
constexpr int32_t kRunPiece = 16;
struct TPatternRun {
  uint16_t Start;  // from the pattern's left edge
  uint16_t Length;
};
struct TPictureCollectionItemPattern {
  TRect Rect;
  TDirectDrawSurface* Surface = nullptr;  // owned by the picture's surface list
  std::vector<uint32_t> RowStart;         // Runs[RowStart[r] .. RowStart[r + 1]) lie on row r
  std::vector<TPatternRun> Runs;
  std::vector<uint32_t> PieceRowStart;  // Pieces[PieceRowStart[r] .. PieceRowStart[r + 1]) lie on row r
  std::vector<TPatternRun> Pieces;      // the runs in order, each cut into pieces of 1 .. kRunPiece
  std::vector<uint32_t> OpaquePixels;   // the pixels of all runs in order
  // Relative to the pattern's top-left on the destination: the part of Rect inside its surface, and the
  // longest band of those rows that has no keyed pixel (FullTop == FullBottom: none).
  TRect Drawn;
  int32_t FullTop = 0, FullBottom = 0;
};

// The keyed blit copies pieces with masked moves where the processor has them (AVX-512), else whole
// runs with plain copies; the processor is asked once. Tests turn the masked moves off to check the
// plain copies on any processor; turning them on again takes the processor's answer.
void UseMaskedPieceMoves(bool use);

// 256 entries, entry k = cos(2 pi k / 256): angles in steps of 1/256 of a turn, 0 up, clockwise.
extern const std::array<double, 256> AngleTable;
double Cos256(int32_t angle);
double Sin256(int32_t angle);

// Raised when pictures cannot be bound to the display or given surfaces.
using EDXImageError = EAreaError<struct TImageArea>;

class TPictureCollectionItem : public THashCollectionItem {
 public:
  TPictureCollectionItem(TPictureCollection& owner, int index);

  // PatternWidth (PatternHeight) when above 0, else the bitmap's width (height). Sprites take their
  // size from these.
  int32_t EffectiveWidth() const;
  int32_t EffectiveHeight() const;

  TPictureCollection& Collection() const { return *Owner; }

  // Patterns exist once the picture is bound to an initialised display and built; before that there
  // are none and drawing does nothing.
  int32_t PatternTotal() const;
  // The empty rectangle, or no surface, for an index outside the patterns.
  TRect PatternRect(int32_t i) const;
  TDirectDrawSurface* PatternSurface(int32_t i) const;
  // Pattern i unscaled with its top-left at (x, y), clipped to both surfaces; keyed when Transparent.
  void DrawPattern(TDirectDrawSurface& dest, int32_t x, int32_t y, int32_t i);
  // The rectangle of the destination that DrawPattern(dest, x, y, i) fills with pixels of the pattern
  // (all of it when not Transparent, else its longest band of rows without keyed pixels); empty when
  // there is none.
  TRect OpaqueRect(int32_t i, int32_t x, int32_t y) const;
  // Pattern i scaled to width x height and turned by angle (1/256 turns, clockwise) about the pivot at
  // fraction (centerX, centerY) of the scaled pattern, which lands on (x, y). Alpha 255 replaces.
  void DrawPatternRotated(TDirectDrawSurface& dest, int32_t x, int32_t y, int32_t width, int32_t height,
                          int32_t i, double centerX, double centerY, int32_t angle, int32_t alpha);
  // (Re)makes the surfaces and patterns from the decoded bitmap; binds the picture first when the
  // display is up, and does nothing without a bitmap or a display.
  void BuildPatterns();
  void Bind();
  // Frees the patterns and surfaces; the decoded bitmap stays.
  void Unbind();
  bool Bound() const { return IsBound; }

  TPictureBitmap Picture;     // the decoded bitmap; empty for an unknown codec or a missing "Picture.Data"
  std::string Codec;          // the codec name stored with the bitmap ("TDIB"); empty when none was stored
  int32_t PatternHeight = 0;  // cell size in pixels; 0 means the whole picture
  int32_t PatternWidth = 0;
  int32_t SkipHeight = 0;  // gap in pixels between neighbouring cells
  int32_t SkipWidth = 0;
  bool SystemMemory = false;     // keep the picture in one system-memory surface
  bool Transparent = true;       // draw with TransparentColor as the source colour key
  int32_t TransparentColor = 0;  // colour value (see above); black by default

 private:
  TDirectDrawSurface& AddSurface(int32_t left, int32_t top, int32_t width, int32_t height);
  void AddPattern(TDirectDrawSurface& surface, TRect rect);

  TPictureCollection* Owner;
  bool IsBound = false;
  std::vector<TPictureCollectionItemPattern> Patterns;
  std::vector<std::unique_ptr<TDirectDrawSurface>> Surfaces;
};

class TPictureCollection {
 public:
  TPictureCollection() = default;
  TPictureCollection(const TPictureCollection&) = delete;
  TPictureCollection& operator=(const TPictureCollection&) = delete;

  // Empties the archive and reads the file (a game path such as "data\menu.dxg", matched without regard
  // to case). A file that cannot be read fails with "Cannot open file "%s". %s"; a damaged one with the
  // stream's text, File set to path, and the archive holding the pictures read whole before the failure.
  void LoadArchive(const std::string& path);
  // The same from bytes already in memory; fileName is only used to name the file in errors.
  void LoadArchiveData(const uint8_t* data, size_t size, const std::string& fileName);

  // "List index out of bounds (%d)" outside 0 .. Count() - 1.
  TPictureCollectionItem* PictureAt(int index) const;
  // Case-insensitive; among equal names the picture read last. "Image '%s' not found" when absent.
  TPictureCollectionItem* FindPicture(const std::string& name) const;
  int Count() const { return static_cast<int>(Items.size()); }

  // A new empty picture at the end.
  TPictureCollectionItem* Add();
  void Clear();

  // The display the pictures are drawn on; set by the image list.
  TDXDraw* Display = nullptr;
  bool DisplayInitialized() const;

  std::array<uint8_t, 1024> ColorTable{};  // 256 entries of blue, green, red, 0; kept, not used

 private:
  friend class TPictureCollectionItem;
  void ReadArchive(TStreamReader& reader);
  void ReadPicture(TStreamReader& reader, TPictureCollectionItem& item);

  THashBuckets Buckets;  // declared before Items: items unlink themselves as they go
  std::vector<std::unique_ptr<TPictureCollectionItem>> Items;  // file order
};

// The form's image list: owns one picture archive and keeps its pictures on the display's surfaces,
// binding them when the display is initialised, rebuilding them after every restore and freeing
// their surfaces when it is finalised.
class TDXImageList {
 public:
  TDXImageList() = default;
  ~TDXImageList();
  TDXImageList(const TDXImageList&) = delete;
  TDXImageList& operator=(const TDXImageList&) = delete;

  void SetDXDraw(TDXDraw* draw);
  // Loads the archive, then binds and builds the new pictures at once when the display is up.
  void LoadArchive(const std::string& path);

  TPictureCollection Items;
};
