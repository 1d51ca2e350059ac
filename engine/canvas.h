// The text canvas of a surface: text, lines and rectangles drawn in software onto the surface's
// pixels, text anti-aliased in the font's colour. Owned by its surface (TDirectDrawSurface::
// SurfaceCanvas); menus and overlays draw on the back buffer's canvas each frame.
// While the canvas draws it holds the surface the way a device context does: the first draw takes a
// lock on the surface and ReleaseCanvas gives it back, so the frame handlers release the canvas after
// their last text and before presenting. Colours are RGB colour values (red in bits 0-7).
#pragma once

#include <cstdint>
#include <string>

class TDirectDrawSurface;

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4 };
enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
enum TBrushStyle : uint8_t { bsSolid, bsClear };

struct TCanvasFont {
  std::string Name = "MS Sans Serif";  // a family name; missing families fall to the desktop's substitute
  int Size = 8;                        // points at 96 pixels per inch; below 1 nothing is drawn
  int32_t Color = 0;
  uint8_t Style = 0;  // fsBold | fsItalic | fsUnderline

  // The em height in pixels: Size * 96 / 72, rounded.
  int PixelSize() const;
};

struct TCanvasPen {
  int32_t Color = 0;
  int Width = 1;  // pixels; dashed and dotted styles draw solid when wider than 1
  TPenStyle Style = psSolid;
};

struct TCanvasBrush {
  int32_t Color = 0xFFFFFF;
  TBrushStyle Style = bsSolid;  // solid: rectangles are filled and text has its cell's background
};

class TDirectDrawSurfaceCanvas {
 public:
  explicit TDirectDrawSurfaceCanvas(TDirectDrawSurface& surface);
  ~TDirectDrawSurfaceCanvas();
  TDirectDrawSurfaceCanvas(const TDirectDrawSurfaceCanvas&) = delete;
  TDirectDrawSurfaceCanvas& operator=(const TDirectDrawSurfaceCanvas&) = delete;

  // The string with the top-left of its cell at (x, y), clipped to the surface; the pen position
  // then moves to the end of the string (x + TextWidth, y). Text is 8-bit (Latin-1).
  void TextOut(int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  // The height of the font's cell (ascent + descent).
  int TextHeight(const std::string& text);

  void MoveTo(int x, int y);
  // A line in the pen from the pen position up to, not including, (x, y), which becomes the position.
  void LineTo(int x, int y);
  // Pixels x1 .. x2-1 by y1 .. y2-1: filled with the brush unless it is clear, outlined with the pen.
  void Rectangle(int x1, int y1, int x2, int y2);

  // The style every frame's text starts from: transparent background, no font style, a solid pen, black
  // text in the face and size given.
  void SetFrameTextStyle(const std::string& face, int size);

  // Gives the surface back (see above). Drawing again takes it again.
  void ReleaseCanvas();
  bool Held() const { return Holding; }

  TCanvasFont Font;
  TCanvasPen Pen;
  TCanvasBrush Brush;
  int PenX = 0, PenY = 0;  // the pen position

 private:
  bool Acquire();
  void Plot(int x, int y, uint32_t pixel);
  void FillRect(int left, int top, int right, int bottom, uint32_t pixel);
  void DrawLine(int x0, int y0, int x1, int y1, bool lastPixel);

  TDirectDrawSurface& Surface;
  bool Holding = false;
  uint32_t* Bits = nullptr;  // the surface's pixels while held
  int Pitch = 0;
};
