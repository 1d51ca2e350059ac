// Pictures on display surfaces: cutting a picture into patterns, the colour-keyed blit every sprite
// uses, the scaled and rotated blit of guns and flames, and the angle table.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common/format.h"
#include "engine/colors.h"
#include "engine/display.h"
#include "engine/image_archive.h"
#include "engine/surface.h"

namespace {

std::array<double, 256> MakeAngleTable() {
  std::array<double, 256> table{};
  for (size_t k = 0; k < 256; ++k) table[k] = std::cos(2.0 * M_PI * static_cast<double>(k) / 256.0);
  return table;
}

}  // namespace

const std::array<double, 256> AngleTable = MakeAngleTable();

bool TPictureCollection::DisplayInitialized() const { return Display && Display->Initialized(); }

// ------------------------------------------------------------------------------------------ image list

TDXImageList::~TDXImageList() { SetDXDraw(nullptr); }

void TDXImageList::SetDXDraw(TDXDraw* draw) {
  if (Items.Display) Items.Display->UnRegisterNotifyEvent(this);
  Items.Display = draw;
  if (!draw) return;
  draw->RegisterNotifyEvent(this, [this](TDXDraw&, TDXDrawNotifyType type) {
    switch (type) {
      case dxntInitialize:
        for (int i = 0; i < Items.Count(); ++i) Items.PictureAt(i)->Bind();
        break;
      case dxntRestore:
        for (int i = 0; i < Items.Count(); ++i) Items.PictureAt(i)->BuildPatterns();
        break;
      case dxntFinalize:
        for (int i = 0; i < Items.Count(); ++i) Items.PictureAt(i)->Unbind();
        break;
      case dxntDestroying:
        Items.Display = nullptr;
        break;
      default:
        break;
    }
  });
}

void TDXImageList::LoadArchive(const std::string& path) {
  Items.LoadArchive(path);
  if (!Items.DisplayInitialized()) return;
  for (int i = 0; i < Items.Count(); ++i) Items.PictureAt(i)->BuildPatterns();
}

double Cos256(int32_t angle) { return AngleTable[static_cast<size_t>(angle & 255)]; }

double Sin256(int32_t angle) { return AngleTable[static_cast<size_t>((angle + 192) & 255)]; }

// ------------------------------------------------------------------------------------ building patterns

int32_t TPictureCollectionItem::PatternTotal() const { return static_cast<int32_t>(Patterns.size()); }

TRect TPictureCollectionItem::PatternRect(int32_t i) const {
  if (i < 0 || i >= PatternTotal()) return {};
  return Patterns[static_cast<size_t>(i)].Rect;
}

TDirectDrawSurface* TPictureCollectionItem::PatternSurface(int32_t i) const {
  if (i < 0 || i >= PatternTotal()) return nullptr;
  return Patterns[static_cast<size_t>(i)].Surface;
}

TRect TPictureCollectionItem::OpaqueRect(int32_t i, int32_t x, int32_t y) const {
  if (!IsBound || i < 0 || i >= PatternTotal()) return {};
  const TPictureCollectionItemPattern& pattern = Patterns[static_cast<size_t>(i)];
  if (!pattern.Surface->HasPixels()) return {};
  TRect opaque = pattern.Drawn;
  if (Transparent) opaque.Top = pattern.FullTop, opaque.Bottom = pattern.FullBottom;
  return opaque.Empty() ? TRect{} : OffsetRect(opaque, x, y);
}

void TPictureCollectionItem::Unbind() {
  Patterns.clear();
  Surfaces.clear();
  IsBound = false;
}

void TPictureCollectionItem::Bind() {
  if (!Collection().DisplayInitialized())
    throw EDXImageError("%s cannot be initialized", "TPictureCollection");
  IsBound = true;
}

// Makes one surface holding the picture's rectangle (left, top, width, height), keyed with the
// picture's transparent colour as this surface's pixels show it.
TDirectDrawSurface& TPictureCollectionItem::AddSurface(int32_t left, int32_t top, int32_t width,
                                                       int32_t height) {
  auto surface = std::make_unique<TDirectDrawSurface>();
  surface->SystemMemory = SystemMemory;
  surface->CreateOffscreen(width, height);
  uint32_t* bits = surface->Bits();
  int pitch = surface->Pitch();
  for (int32_t y = 0; y < height; ++y) {
    int32_t sy = top + y;
    if (sy >= Picture.Height) break;
    int32_t copy = std::min(width, Picture.Width - left);
    if (copy <= 0) break;
    std::memcpy(bits + static_cast<ptrdiff_t>(y) * pitch,
                &Picture.Pixels[static_cast<size_t>(sy) * static_cast<size_t>(Picture.Width) +
                                static_cast<size_t>(left)],
                static_cast<size_t>(copy) * sizeof(uint32_t));
  }
  surface->SetSourceKey(surface->MatchColor(ResolveColor(TransparentColor)));
  Surfaces.push_back(std::move(surface));
  return *Surfaces.back();
}

void TPictureCollectionItem::AddPattern(TDirectDrawSurface& surface, TRect rect) {
  TPictureCollectionItemPattern pattern;
  pattern.Rect = rect;
  pattern.Surface = &surface;
  // Opaque runs of each row, so the keyed blit copies spans instead of testing every pixel.
  uint32_t key = surface.SourceKey();
  const uint32_t* bits = surface.Bits();
  int pitch = surface.Pitch();
  pattern.RowStart.reserve(static_cast<size_t>(rect.Height()) + 1);
  pattern.PieceRowStart.reserve(static_cast<size_t>(rect.Height()) + 1);
  // A cell may reach past its tile (cells overlapping by a negative skip); only the tile's part has runs.
  const int32_t right = std::min(rect.Right, surface.Width());
  pattern.Drawn = OffsetRect(IntersectRects(rect, surface.ClientRect()), -rect.Left, -rect.Top);
  int32_t bandTop = pattern.Drawn.Top;  // of the band of whole rows that ends at the current row
  for (int32_t y = rect.Top; y < rect.Bottom; ++y) {
    pattern.RowStart.push_back(static_cast<uint32_t>(pattern.Runs.size()));
    pattern.PieceRowStart.push_back(static_cast<uint32_t>(pattern.Pieces.size()));
    if (y < 0 || y >= surface.Height()) continue;
    const uint32_t* row = bits + static_cast<ptrdiff_t>(y) * pitch;
    int32_t x = std::max(rect.Left, 0);
    while (x < right) {
      while (x < right && row[x] == key) ++x;
      int32_t start = x;
      while (x < right && row[x] != key) ++x;
      if (x == start) continue;
      pattern.Runs.push_back({static_cast<uint16_t>(start - rect.Left), static_cast<uint16_t>(x - start)});
      for (int32_t piece = start; piece < x; piece += kRunPiece)
        pattern.Pieces.push_back({static_cast<uint16_t>(piece - rect.Left),
                                  static_cast<uint16_t>(std::min(kRunPiece, x - piece))});
      pattern.OpaquePixels.insert(pattern.OpaquePixels.end(), row + start, row + x);
    }
    const size_t first = pattern.RowStart.back();
    const bool whole = pattern.Runs.size() == first + 1 && pattern.Runs[first].Start == pattern.Drawn.Left &&
                       pattern.Runs[first].Length == pattern.Drawn.Width();
    const int32_t r = y - rect.Top;
    if (!whole) {
      bandTop = r + 1;
    } else if (r + 1 - bandTop > pattern.FullBottom - pattern.FullTop) {
      pattern.FullTop = bandTop;
      pattern.FullBottom = r + 1;
    }
  }
  pattern.RowStart.push_back(static_cast<uint32_t>(pattern.Runs.size()));
  pattern.PieceRowStart.push_back(static_cast<uint32_t>(pattern.Pieces.size()));
  Patterns.push_back(std::move(pattern));
}

void TPictureCollectionItem::BuildPatterns() {
  if (Picture.Empty()) return;
  if (!IsBound) {
    if (!Collection().DisplayInitialized()) return;
    Bind();
  }
  Patterns.clear();
  Surfaces.clear();
  const int32_t w = Picture.Width, h = Picture.Height;
  const int32_t pw = EffectiveWidth(), ph = EffectiveHeight();
  if (pw == w && ph == h) {
    AddPattern(AddSurface(0, 0, w, h), {0, 0, w, h});
    return;
  }
  // Archive values are not trusted: cells that do not fit the 32-bit geometry make no patterns.
  const int64_t cellW = int64_t{pw} + SkipWidth, cellH = int64_t{ph} + SkipHeight;
  if (cellW <= 0 || cellH <= 0 || cellW > INT32_MAX - 511 || cellH > INT32_MAX - 511) return;
  if (int64_t{w} + SkipWidth > INT32_MAX || int64_t{h} + SkipHeight > INT32_MAX) return;
  const int32_t cw = static_cast<int32_t>(cellW), ch = static_cast<int32_t>(cellH);
  const int32_t columns = (w + SkipWidth) / cw, rows = (h + SkipHeight) / ch;
  if (SystemMemory) {
    TDirectDrawSurface& surface = AddSurface(0, 0, w, h);
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < columns; ++c) AddPattern(surface, Bounds(c * cw, r * ch, pw, ph));
    return;
  }
  // Tiles of about 512 pixels that are whole multiples of the cell, so no pattern straddles two.
  const int32_t tw = std::min(cw * ((cw + 511) / cw), cw * columns);
  const int32_t th = std::min(ch * ((ch + 511) / ch), ch * rows);
  if (tw <= 0 || th <= 0) return;
  const int32_t across = (w + tw - 1) / tw, down = (h + th - 1) / th;
  for (int32_t tr = 0; tr < down; ++tr)
    for (int32_t tc = 0; tc < across; ++tc) {
      int32_t width = std::min(tw, std::max(w - tc * tw, 0));
      int32_t height = std::min(th, std::max(h - tr * th, 0));
      AddSurface(tc * tw, tr * th, width == 0 ? tw : width, height == 0 ? th : height);
    }
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      size_t tile = static_cast<size_t>(c * cw / tw + across * (r * ch / th));
      if (tile >= Surfaces.size()) continue;
      AddPattern(*Surfaces[tile], Bounds((c * cw) % tw, (r * ch) % th, pw, ph));
    }
}

// ---------------------------------------------------------------------------------------------- drawing

namespace {

// Copies one opaque run of n >= 1 pixels. Most runs of a sprite are short, where a library call costs
// more than the copy: blocks of fixed size, the last one overlapping its neighbour where n is not a
// multiple of the block. Long runs take the processor's string move, which writes whole cache lines
// without reading them first.
inline void CopyRun(uint32_t* out, const uint32_t* in, int32_t n) {
  if (n >= 64) {
#if defined(__x86_64__)
    size_t bytes = static_cast<size_t>(n) * sizeof(uint32_t);
    asm volatile("rep movsb" : "+D"(out), "+S"(in), "+c"(bytes) : : "memory");
#else
    std::memcpy(out, in, static_cast<size_t>(n) * sizeof(uint32_t));
#endif
  } else if (n >= 8) {
    int32_t k = 0;
    for (; k + 8 < n; k += 8) std::memcpy(out + k, in + k, 32);
    std::memcpy(out + n - 8, in + n - 8, 32);
  } else if (n >= 4) {
    std::memcpy(out, in, 16);
    std::memcpy(out + n - 4, in + n - 4, 16);
  } else if (n >= 2) {
    std::memcpy(out, in, 8);
    std::memcpy(out + n - 2, in + n - 2, 8);
  } else {
    *out = *in;
  }
}

// The keyed blit of rows drawn whole: the runs of each row from the pattern's packed opaque pixels.
// Built twice on x86-64, the copy of 8 pixels being one 32-byte move where the processor has them.
#if defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
void CopyRunRows(uint32_t* __restrict out, int pitch,
                                                                   int32_t rows,
                                                                   const uint32_t* __restrict rowStart,
                                                                   const TPatternRun* __restrict runs,
                                                                   const uint32_t* __restrict opaque) {
  for (int32_t row = 0; row < rows; ++row, out += pitch) {
    const uint32_t last = rowStart[row + 1];
    for (uint32_t r = rowStart[row]; r < last; ++r) {
      const TPatternRun run = runs[r];
      CopyRun(out + run.Start, opaque, run.Length);
      opaque += run.Length;
    }
  }
}

// The keyed blit of rows cut at clipLeft and clipRight (pattern columns), from the pattern's surface.
// out and in address column clipLeft of the first row drawn.
void CopyClippedRunRows(uint32_t* out, int outPitch, const uint32_t* in, int inPitch, int32_t rows,
                        const uint32_t* rowStart, const TPatternRun* runs, int32_t clipLeft,
                        int32_t clipRight) {
  for (int32_t row = 0; row < rows; ++row, out += outPitch, in += inPitch) {
    for (uint32_t r = rowStart[row]; r < rowStart[row + 1]; ++r) {
      int32_t start = std::max<int32_t>(runs[r].Start, clipLeft);
      int32_t end = std::min<int32_t>(runs[r].Start + runs[r].Length, clipRight);
      if (end > start) CopyRun(out + (start - clipLeft), in + (start - clipLeft), end - start);
    }
  }
}

#if defined(__x86_64__)
// The same two over the pieces, one masked move a piece: the lanes past a piece are neither read nor
// written (nor can they fault), so no piece takes a branch on its length.
__attribute__((target("avx512f"))) void CopyPieceRows(uint32_t* __restrict out, int pitch, int32_t rows,
                                                      const uint32_t* __restrict rowStart,
                                                      const TPatternRun* __restrict pieces,
                                                      const uint32_t* __restrict opaque) {
  for (int32_t row = 0; row < rows; ++row, out += pitch) {
    const uint32_t last = rowStart[row + 1];
    for (uint32_t r = rowStart[row]; r < last; ++r) {
      const TPatternRun piece = pieces[r];
      // The opaque pixels are read in order faster than the processor fetches them unasked.
      __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(opaque) + 1024));
      const auto lanes = static_cast<__mmask16>((1u << piece.Length) - 1);
      _mm512_mask_storeu_epi32(out + piece.Start, lanes, _mm512_maskz_loadu_epi32(lanes, opaque));
      opaque += piece.Length;
    }
  }
}

__attribute__((target("avx512f"))) void CopyClippedPieceRows(uint32_t* out, int outPitch, const uint32_t* in,
                                                             int inPitch, int32_t rows,
                                                             const uint32_t* rowStart,
                                                             const TPatternRun* pieces, int32_t clipLeft,
                                                             int32_t clipRight) {
  for (int32_t row = 0; row < rows; ++row, out += outPitch, in += inPitch) {
    // Only the pieces that reach into the window are visited; of these, the first and the last may be cut.
    const TPatternRun* piece = pieces + rowStart[row];
    const TPatternRun* last = pieces + rowStart[row + 1];
    // The first piece ending past clipLeft, by halving (the pieces of a row are in order).
    for (ptrdiff_t count = clipLeft > 0 ? last - piece : 0; count > 0;) {
      const ptrdiff_t half = count / 2;
      const bool before = piece[half].Start + piece[half].Length <= clipLeft;
      piece = before ? piece + half + 1 : piece;
      count = before ? count - half - 1 : half;
    }
    for (; piece < last && piece->Start < clipRight; ++piece) {
      const int32_t start = std::max<int32_t>(piece->Start, clipLeft);
      const int32_t end = std::min<int32_t>(piece->Start + piece->Length, clipRight);
      const auto lanes = static_cast<__mmask16>((1u << (end - start)) - 1);
      const ptrdiff_t at = start - clipLeft;
      _mm512_mask_storeu_epi32(out + at, lanes, _mm512_maskz_loadu_epi32(lanes, in + at));
    }
  }
}

bool ProcessorHasMaskedMoves() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}
#else
bool ProcessorHasMaskedMoves() { return false; }
#endif

bool MaskedMoves = ProcessorHasMaskedMoves();

// The keyed blit of rows firstRow .. firstRow + rows - 1 of a pattern, drawn whole onto out.
void CopyWholeRows(const TPictureCollectionItemPattern& pattern, size_t firstRow, int32_t rows, uint32_t* out,
                   int pitch) {
  const uint32_t* rowStart = pattern.RowStart.data() + firstRow;
  size_t skipped = 0;  // pixels of the runs of the rows above
  for (uint32_t r = 0; r < rowStart[0]; ++r) skipped += pattern.Runs[r].Length;
  const uint32_t* opaque = pattern.OpaquePixels.data() + skipped;
#if defined(__x86_64__)
  if (MaskedMoves) {
    CopyPieceRows(out, pitch, rows, pattern.PieceRowStart.data() + firstRow, pattern.Pieces.data(), opaque);
    return;
  }
#endif
  CopyRunRows(out, pitch, rows, rowStart, pattern.Runs.data(), opaque);
}

// The same cut at clipLeft and clipRight (pattern columns), from in on the pattern's surface; out and in
// address column clipLeft of row firstRow.
void CopyClippedRows(const TPictureCollectionItemPattern& pattern, size_t firstRow, int32_t rows,
                     uint32_t* out, int outPitch, const uint32_t* in, int inPitch, int32_t clipLeft,
                     int32_t clipRight) {
#if defined(__x86_64__)
  if (MaskedMoves) {
    CopyClippedPieceRows(out, outPitch, in, inPitch, rows, pattern.PieceRowStart.data() + firstRow,
                         pattern.Pieces.data(), clipLeft, clipRight);
    return;
  }
#endif
  CopyClippedRunRows(out, outPitch, in, inPitch, rows, pattern.RowStart.data() + firstRow,
                     pattern.Runs.data(), clipLeft, clipRight);
}

}  // namespace

void UseMaskedPieceMoves(bool use) { MaskedMoves = use && ProcessorHasMaskedMoves(); }

void TPictureCollectionItem::DrawPattern(TDirectDrawSurface& dest, int32_t x, int32_t y, int32_t i) {
  if (!IsBound || i < 0 || i >= PatternTotal()) return;
  const TPictureCollectionItemPattern& pattern = Patterns[static_cast<size_t>(i)];
  TDirectDrawSurface& source = *pattern.Surface;
  if (!dest.HasPixels() || !source.HasPixels()) return;
  if (dest.LockCount() > 0 || source.LockCount() > 0) {
    dest.LastResult = DDERR_SURFACEBUSY;
    return;
  }
  if (dest.DiscardDrawing) {
    dest.LastResult = DD_OK;
    return;
  }
  // Clip the destination to its surface, cutting the source by the same amounts, then the reverse.
  TRect src = pattern.Rect;
  TRect dst = Bounds(x, y, src.Width(), src.Height());
  auto cut = [](TRect& a, TRect& b, const TRect& limit) {
    if (a.Left < limit.Left) b.Left += limit.Left - a.Left, a.Left = limit.Left;
    if (a.Top < limit.Top) b.Top += limit.Top - a.Top, a.Top = limit.Top;
    if (a.Right > limit.Right) b.Right -= a.Right - limit.Right, a.Right = limit.Right;
    if (a.Bottom > limit.Bottom) b.Bottom -= a.Bottom - limit.Bottom, a.Bottom = limit.Bottom;
  };
  cut(dst, src, IntersectRects(dest.ClientRect(), dest.PictureClip));
  cut(src, dst, source.ClientRect());
  if (dst.Empty() || src.Empty()) return;

  uint32_t* out = dest.Bits() + static_cast<ptrdiff_t>(dst.Top) * dest.Pitch() + dst.Left;
  const uint32_t* in = source.Bits() + static_cast<ptrdiff_t>(src.Top) * source.Pitch() + src.Left;
  const int32_t width = src.Width();
  if (!Transparent) {
    for (int32_t row = 0; row < src.Height(); ++row)
      std::memcpy(out + static_cast<ptrdiff_t>(row) * dest.Pitch(),
                  in + static_cast<ptrdiff_t>(row) * source.Pitch(),
                  static_cast<size_t>(width) * sizeof(uint32_t));
    dest.LastResult = DD_OK;
    return;
  }
  // Runs are kept relative to the pattern's rectangle; the clip window in those coordinates:
  const int32_t clipLeft = src.Left - pattern.Rect.Left, clipRight = clipLeft + width;
  const size_t firstRow = static_cast<size_t>(src.Top - pattern.Rect.Top);
  if (clipLeft == 0 && clipRight == pattern.Rect.Width())
    CopyWholeRows(pattern, firstRow, src.Height(), out, dest.Pitch());
  else
    CopyClippedRows(pattern, firstRow, src.Height(), out, dest.Pitch(), in, source.Pitch(), clipLeft,
                    clipRight);
  dest.LastResult = DD_OK;
}

void TPictureCollectionItem::DrawPatternRotated(TDirectDrawSurface& dest, int32_t x, int32_t y, int32_t width,
                                                int32_t height, int32_t i, double centerX, double centerY,
                                                int32_t angle, int32_t alpha) {
  if (!IsBound || i < 0 || i >= PatternTotal()) return;
  const TPictureCollectionItemPattern& pattern = Patterns[static_cast<size_t>(i)];
  TDirectDrawSurface& source = *pattern.Surface;
  const TRect src = pattern.Rect;
  if (alpha <= 0 || width == 0 || height == 0 || !dest.HasPixels() || !source.HasPixels()) return;
  if (src.Left < 0 || src.Top < 0 || src.Right > source.Width() || src.Bottom > source.Height() ||
      src.Left >= src.Right || src.Top >= src.Bottom)
    return;
  if (dest.LockCount() > 0 || source.LockCount() > 0) {
    dest.LastResult = DDERR_SURFACEBUSY;
    return;
  }
  if (dest.DiscardDrawing) {
    dest.LastResult = DD_OK;
    return;
  }

  const double cosA = Cos256(angle), sinA = Sin256(angle);
  int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
  const double corners[4][2] = {{0, 0},
                                {static_cast<double>(width), 0},
                                {0, static_cast<double>(height)},
                                {static_cast<double>(width), static_cast<double>(height)}};
  for (const auto& corner : corners) {
    double dx = std::trunc(corner[0] - width * centerX), dy = std::trunc(corner[1] - height * centerY);
    int32_t px = x + static_cast<int32_t>(std::trunc(dx * cosA - dy * sinA));
    int32_t py = y + static_cast<int32_t>(std::trunc(dx * sinA + dy * cosA));
    left = std::min(left, px), right = std::max(right, px);
    top = std::min(top, py), bottom = std::max(bottom, py);
  }
  left = std::max(left, 0), top = std::max(top, 0);
  right = std::min(right, dest.Width()), bottom = std::min(bottom, dest.Height());
  if (left >= right || top >= bottom) return;

  // Inverse mapping in 16.16 fixed point, with the table values of -angle.
  const int64_t sw = src.Width(), sh = src.Height();
  const int64_t cosN = static_cast<int64_t>(std::trunc(Cos256(-angle) * 65536.0));
  const int64_t sinN = static_cast<int64_t>(std::trunc(Sin256(-angle) * 65536.0));
  const int64_t du = sw * cosN / width, dv = sh * sinN / height;
  const int64_t su = -(sw * sinN / width), sv = sh * cosN / height;
  const int64_t u0 = (int64_t{src.Left} << 16) +
                     static_cast<int64_t>(std::trunc(centerX * static_cast<double>(sw) * 65536.0));
  const int64_t v0 = (int64_t{src.Top} << 16) +
                     static_cast<int64_t>(std::trunc(centerY * static_cast<double>(sh) * 65536.0));
  const int64_t uMin = int64_t{src.Left} << 16, uMax = int64_t{src.Right} << 16;
  const int64_t vMin = int64_t{src.Top} << 16, vMax = int64_t{src.Bottom} << 16;
  const bool keyed = Transparent;
  const uint32_t key = source.SourceKey();
  const uint32_t* in = source.Bits();
  const int inPitch = source.Pitch();
  const uint32_t blend = static_cast<uint32_t>(std::min(alpha, 255));

  for (int32_t by = top; by < bottom; ++by) {
    const int64_t ey = by - y;
    int64_t u = u0 + (left - x) * du + ey * su;
    int64_t v = v0 + (left - x) * dv + ey * sv;
    uint32_t* out = dest.Bits() + static_cast<ptrdiff_t>(by) * dest.Pitch();
    for (int32_t bx = left; bx < right; ++bx, u += du, v += dv) {
      if (u < uMin || u >= uMax || v < vMin || v >= vMax) continue;
      uint32_t pixel = in[static_cast<ptrdiff_t>(v >> 16) * inPitch + (u >> 16)];
      if (keyed && pixel == key) continue;
      if (blend >= 255) {
        out[bx] = pixel;
      } else {
        uint32_t under = out[bx], mixed = 0;
        for (int shift = 0; shift < 24; shift += 8) {
          uint32_t s = (pixel >> shift) & 0xFF, d = (under >> shift) & 0xFF;
          mixed |= ((s * blend + d * (255 - blend)) / 255) << shift;
        }
        out[bx] = mixed;
      }
    }
  }
  dest.LastResult = DD_OK;
}
