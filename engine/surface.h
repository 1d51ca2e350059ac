// Display surfaces: the back buffer of the display and every picture tile are 32-bit XRGB pixel
// buffers in memory (blue in the low byte, the top byte 0). A surface owns its pixels and its canvas;
// the display owns its back buffer, pictures own their tiles. Drawing code reaches the pixels through
// Bits() and Pitch() or a lock; a failed operation only records its result in LastResult.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "engine/rect.h"

class TDirectDrawSurfaceCanvas;

// Results of surface operations, with the values of the classic display interface.
constexpr int32_t DD_OK = 0;
constexpr int32_t DDERR_INVALIDOBJECT = static_cast<int32_t>(0x88760082u);  // no pixels
constexpr int32_t DDERR_SURFACEBUSY = static_cast<int32_t>(0x887601AEu);    // locked
constexpr int32_t DDERR_SURFACELOST = static_cast<int32_t>(0x887601C2u);
constexpr int32_t DDERR_BLTFASTCANTCLIP = static_cast<int32_t>(0x8876023Eu);
constexpr int32_t DDERR_NOTLOCKED = static_cast<int32_t>(0x88760248u);
constexpr int32_t DDERR_INVALIDRECT = static_cast<int32_t>(0x88760096u);

// Raised when a surface cannot be made; the message names what failed.
using EDirectDrawSurfaceError = EAreaError<struct TSurfaceArea>;

// What a lock hands out: the locked rectangle's first pixel and the row pitch.
struct TDDSurfaceDesc {
  uint32_t* Bits = nullptr;   // pixel (rect.Left, rect.Top)
  int Width = 0, Height = 0;  // of the locked rectangle
  int Pitch = 0;              // pixels from one row to the next
  int BitCount = 32;
};

// An RGB colour value (red in bits 0-7, green 8-15, blue 16-23) as a surface pixel.
constexpr uint32_t ColorToPixel(int32_t color) {
  auto c = static_cast<uint32_t>(color);
  return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
// A surface pixel as an RGB colour value.
constexpr int32_t PixelToColor(uint32_t pixel) {
  return static_cast<int32_t>(((pixel >> 16) & 0xFFu) | (pixel & 0xFF00u) | ((pixel & 0xFFu) << 16));
}

// A picture clip that leaves every pixel of the surface in.
constexpr TRect kNoPictureClip{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};

class TDirectDrawSurface {
 public:
  TDirectDrawSurface();
  ~TDirectDrawSurface();
  TDirectDrawSurface(const TDirectDrawSurface&) = delete;
  TDirectDrawSurface& operator=(const TDirectDrawSurface&) = delete;

  // Makes the pixels width x height, all 0. A width or height of 0 or less releases them and leaves
  // the surface without pixels (drawing to or from it then does nothing). Raises "Surface cannot be
  // made" when the memory cannot be had.
  void CreateOffscreen(int width, int height);
  // Frees the pixels; the surface is then as after CreateOffscreen(0, 0).
  void Release();
  bool HasPixels() const { return !Pixels.empty(); }

  // Sets every pixel to value (a raw pixel). Refused while locked.
  void FillSurface(uint32_t value);
  // Sets every pixel of the rows from top to bottom - 1 (cut to the surface) to value. Refused while
  // locked.
  void FillRows(int top, int bottom, uint32_t value);
  // The raw pixel at (x, y); 0 outside the surface, without pixels, or while locked elsewhere.
  uint32_t ReadPixel(int x, int y);
  // Writes a raw pixel; nothing outside the surface, without pixels, or while locked.
  void WritePixel(int x, int y, uint32_t value);
  // The raw pixel value an RGB colour value takes on this surface; 0 when it has no pixels.
  uint32_t MatchColor(int32_t color);

  // The source colour key: source pixels equal to it are skipped by keyed draws from this surface.
  void SetSourceKey(uint32_t value);
  uint32_t SourceKey() const { return Key; }
  bool HasSourceKey() const { return KeySet; }

  // Locks rect (the whole surface when rect is null or covers it all). Fails without pixels, when rect
  // is not inside the surface, or when already locked: locks do not nest.
  bool LockSurface(const TRect* rect, TDDSurfaceDesc& desc);
  void UnlockSurface();
  int LockCount() const { return Locks; }
  // Pixels in memory are never lost: restoring succeeds whenever the surface has pixels.
  bool RestoreSurface();

  // The canvas over this surface, made on first use.
  TDirectDrawSurfaceCanvas& SurfaceCanvas();

  int Width() const { return SurfaceWidth; }
  int Height() const { return SurfaceHeight; }
  TRect ClientRect() const { return {0, 0, SurfaceWidth, SurfaceHeight}; }
  // The pixels, row by row; null without pixels. Pitch is in pixels.
  uint32_t* Bits() { return Pixels.empty() ? nullptr : Pixels.data(); }
  const uint32_t* Bits() const { return Pixels.empty() ? nullptr : Pixels.data(); }
  int Pitch() const { return SurfaceWidth; }

  // DrawPattern keeps inside this rectangle as well as inside the surface. The sprite engine narrows it
  // while a sprite draws, to leave out rows that sprites drawn later cover; other draws ignore it.
  TRect PictureClip = kNoPictureClip;
  int32_t LastResult = DD_OK;    // of the last operation
  bool UseGeneralBlits = false;  // draws onto this surface take the general (clipping) path
  bool SystemMemory = false;     // asked for in system memory; every surface here is in memory
  // Every draw onto this surface (fills, pixel writes, pattern draws, the canvas) does all its work but
  // the writing of pixels, and succeeds: a frame painted with this set leaves the pixels as they were
  // while every sprite's Render still runs. Reads and locks are unchanged.
  bool DiscardDrawing = false;

 private:
  std::vector<uint32_t> Pixels;
  std::unique_ptr<TDirectDrawSurfaceCanvas> Canvas;
  int SurfaceWidth = 0;
  int SurfaceHeight = 0;
  int Locks = 0;
  uint32_t Key = 0;
  bool KeySet = false;
  TDDSurfaceDesc LockDesc;  // of the last lock
};
