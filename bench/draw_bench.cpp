// The blitters every frame is made of, against SDL2 doing the same work at its best: keyed blits with
// run-length encoded sources, SDL2_gfx's rotozoom for the rotated blit, and cached SDL2_ttf text.
// The peers are measurement code: they call SDL directly on the same source pixels. Text is drawn in
// the fonts the build put in its copy of the game (build/run/data/fonts).
#include <SDL.h>
#include <SDL2_rotozoom.h>
#include <SDL_ttf.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_pictures.h"
#include "engine/canvas.h"
#include "platform/files.h"
#include "platform/font.h"

namespace {

// The game's fonts are found in its data folder: the build's copy of the game, unless another benchmark
// has given the program its folders (its own copy, with the same fonts).
void UseTheBuildsFonts() {
  if (plat::GameFolders().Data.empty()) plat::SetGameFolders({PELLORIN_RUN_DIR, PELLORIN_RUN_DIR});
}

// --------------------------------------------------------------------------------------- SDL helpers

struct TSdlSurfaceDeleter {
  void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using TSdlSurface = std::unique_ptr<SDL_Surface, TSdlSurfaceDeleter>;

TSdlSurface SdlSurface(const TPictureBitmap& bitmap) {
  TSdlSurface surface(
      SDL_CreateRGBSurfaceWithFormat(0, bitmap.Width, bitmap.Height, 32, SDL_PIXELFORMAT_RGB888));
  for (int32_t y = 0; y < bitmap.Height; ++y)
    std::memcpy(static_cast<uint8_t*>(surface->pixels) + static_cast<ptrdiff_t>(y) * surface->pitch,
                &bitmap.Pixels[static_cast<size_t>(y) * static_cast<size_t>(bitmap.Width)],
                static_cast<size_t>(bitmap.Width) * 4);
  return surface;
}

// Keyed on black with run-length encoding on, encoded by a first blit, as SDL is used at its best.
TSdlSurface SdlKeyedSurface(const TPictureBitmap& bitmap, SDL_Surface* warmUpTarget) {
  TSdlSurface surface = SdlSurface(bitmap);
  SDL_SetColorKey(surface.get(), SDL_TRUE, 0);
  SDL_SetSurfaceRLE(surface.get(), 1);
  SDL_BlitSurface(surface.get(), nullptr, warmUpTarget, nullptr);
  return surface;
}

// What rotozoom takes without converting on every call: 32-bit RGBA, the key turned into alpha 0.
TSdlSurface SdlRotatableSurface(const TPictureBitmap& bitmap) {
  TSdlSurface keyed = SdlSurface(bitmap);
  SDL_SetColorKey(keyed.get(), SDL_TRUE, 0);
  return TSdlSurface(SDL_ConvertSurfaceFormat(keyed.get(), SDL_PIXELFORMAT_ABGR8888, 0));
}

TSdlSurface SdlBackBuffer() {
  return TSdlSurface(SDL_CreateRGBSurfaceWithFormat(0, 800, 600, 32, SDL_PIXELFORMAT_RGB888));
}

// Rotozoom's angle is in degrees, counter-clockwise; ours in 256ths of a turn, clockwise.
double Degrees(int32_t angle) { return -angle * 360.0 / 256.0; }

void SdlRotatedBlit(SDL_Surface* source, SDL_Surface* dest, int32_t angle, int x, int y) {
  TSdlSurface turned(rotozoomSurface(source, Degrees(angle), 1.0, SMOOTHING_OFF));
  SDL_Rect at{x - turned->w / 2, y - turned->h / 2, 0, 0};
  SDL_BlitSurface(turned.get(), nullptr, dest, &at);
}

// ------------------------------------------------------------------------------------------- keyed

struct TKeyedSize {
  int32_t Width, Height;
};
TKeyedSize KeyedSize(int64_t arg) {
  switch (arg) {
    case 64:
      return {64, 48};
    case 800:
      return {800, 120};
    default:
      return {static_cast<int32_t>(arg), static_cast<int32_t>(arg)};
  }
}
TPictureBitmap KeyedBitmap(int64_t arg) {
  TKeyedSize size = KeyedSize(arg);
  return arg == 800 ? bench::StripBitmap(size.Width, size.Height)
                    : bench::SpriteBitmap(size.Width, size.Height);
}

// DrawPattern of one keyed picture with about half of its pixels transparent.
void KeyedBlit(benchmark::State& state) {
  TPictureCollectionItem* picture = bench::Display().Add(KeyedBitmap(state.range(0)));
  TDirectDrawSurface dest;
  dest.CreateOffscreen(800, 600);
  const int32_t x = (800 - picture->Picture.Width) / 2, y = 200;
  for (auto _ : state) {
    picture->DrawPattern(dest, x, y, 0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(KeyedBlit)->Arg(32)->Arg(64)->Arg(160)->Arg(800);

void KeyedBlit_Peer(benchmark::State& state) {
  TPictureBitmap bitmap = KeyedBitmap(state.range(0));
  TSdlSurface dest = SdlBackBuffer();
  TSdlSurface source = SdlKeyedSurface(bitmap, dest.get());
  for (auto _ : state) {
    SDL_Rect at{(800 - bitmap.Width) / 2, 200, 0, 0};
    SDL_BlitSurface(source.get(), nullptr, dest.get(), &at);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(KeyedBlit_Peer)->Arg(32)->Arg(64)->Arg(160)->Arg(800);

// A mountain strip scrolled by N pixels, as the game draws it: two pieces that meet on the screen, one
// cut by the left edge and one by the right.
void KeyedBlitScrolled(benchmark::State& state) {
  TPictureCollectionItem* picture = bench::Display().Add(bench::StripBitmap(800, 120));
  TDirectDrawSurface dest;
  dest.CreateOffscreen(800, 600);
  const int32_t offset = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    picture->DrawPattern(dest, -offset, 200, 0);
    picture->DrawPattern(dest, 800 - offset, 200, 0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(KeyedBlitScrolled)->Arg(60)->Arg(400)->Arg(740);

void KeyedBlitScrolled_Peer(benchmark::State& state) {
  TSdlSurface dest = SdlBackBuffer();
  TSdlSurface source = SdlKeyedSurface(bench::StripBitmap(800, 120), dest.get());
  const int offset = static_cast<int>(state.range(0));
  for (auto _ : state) {
    SDL_Rect left{-offset, 200, 0, 0}, right{800 - offset, 200, 0, 0};
    SDL_BlitSurface(source.get(), nullptr, dest.get(), &left);
    SDL_BlitSurface(source.get(), nullptr, dest.get(), &right);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(KeyedBlitScrolled_Peer)->Arg(60)->Arg(400)->Arg(740);

// ----------------------------------------------------------------------------------------- rotated

TPictureBitmap RotatedBitmap(int64_t arg) {
  return arg == 48 ? bench::SpriteBitmap(48, 62) : bench::SpriteBitmap(36, 36);
}

// DrawPatternRotated about the pattern's middle, unscaled, the angle stepping through the turn.
void RotatedBlit(benchmark::State& state) {
  TPictureCollectionItem* picture = bench::Display().Add(RotatedBitmap(state.range(0)));
  const int32_t width = picture->Picture.Width, height = picture->Picture.Height;
  TDirectDrawSurface dest;
  dest.CreateOffscreen(800, 600);
  int32_t angle = 0;
  for (auto _ : state) {
    picture->DrawPatternRotated(dest, 400, 300, width, height, 0, 0.5, 0.5, angle, 255);
    angle = (angle + 23) & 255;
    benchmark::ClobberMemory();
  }
}
BENCHMARK(RotatedBlit)->Arg(48)->Arg(36);

// rotozoomSurface of the same pattern without smoothing, its blit onto the back buffer, and its free.
void RotatedBlit_Peer(benchmark::State& state) {
  TSdlSurface source = SdlRotatableSurface(RotatedBitmap(state.range(0)));
  TSdlSurface dest = SdlBackBuffer();
  int32_t angle = 0;
  for (auto _ : state) {
    SdlRotatedBlit(source.get(), dest.get(), angle, 400, 300);
    angle = (angle + 23) & 255;
    benchmark::ClobberMemory();
  }
}
BENCHMARK(RotatedBlit_Peer)->Arg(48)->Arg(36);

// ------------------------------------------------------------------------------------ typical frame

// What one frame of the game draws: its pictures and where they go, the same for both sides.
struct TFramePlan {
  struct TBlit {
    int Picture, X, Y;
  };
  struct TTurn {
    int Picture, X, Y, Angle;
  };
  struct TLine {
    int Size, X, Y;
    int32_t Color;
    std::string Text;
  };
  std::vector<TPictureBitmap> Bitmaps;  // 0 the background, 1 the strip, then sprites
  std::vector<TBlit> Blits;             // in drawing order after the background
  std::vector<TTurn> Turns;
  std::vector<TLine> Lines;
};

const TFramePlan& FramePlan() {
  static const TFramePlan plan = [] {
    TFramePlan p;
    uint32_t seed = 12345;
    auto next = [&seed](int range) {
      seed = seed * 1103515245u + 12345u;
      return static_cast<int>((seed >> 16) % static_cast<uint32_t>(range));
    };
    p.Bitmaps.push_back(bench::SolidBitmap(800, 600));
    p.Bitmaps.push_back(bench::StripBitmap(800, 120));
    // Six strips scrolled to different offsets, each drawn as two pieces that meet on the screen.
    for (int s = 0; s < 6; ++s) {
      int offset = 60 + s * 123, y = 240 + s * 50;
      p.Blits.push_back({1, -offset, y});
      p.Blits.push_back({1, 800 - offset, y});
    }
    const int small = static_cast<int>(p.Bitmaps.size());
    for (int size = 32; size <= 80; size += 8) p.Bitmaps.push_back(bench::SpriteBitmap(size, size));
    const int large = static_cast<int>(p.Bitmaps.size());
    for (int size = 160; size <= 200; size += 10) p.Bitmaps.push_back(bench::SpriteBitmap(size, size));
    const int gun = static_cast<int>(p.Bitmaps.size());
    p.Bitmaps.push_back(bench::SpriteBitmap(48, 62));
    p.Bitmaps.push_back(bench::SpriteBitmap(36, 36));
    for (int i = 0; i < 100; ++i) p.Blits.push_back({small + next(large - small), next(720), next(520)});
    for (int i = 0; i < 5; ++i) p.Blits.push_back({large + i, next(600), next(400)});
    for (int i = 0; i < 5; ++i) p.Turns.push_back({gun + i % 2, 50 + next(700), 50 + next(500), next(256)});
    const char* texts[7] = {
        "Level 3",           "Score 0012340",           "Lives 3", "Bonus 12", "Shield 45",
        "Rockets 7 Bombs 2", "World high score 0345678"};
    for (int i = 0; i < 7; ++i) p.Lines.push_back({14, 10, 10 + 22 * i, 0x00FFFF, texts[i]});
    p.Lines.push_back({30, 300, 280, 0x0000FF, "Game paused"});
    return p;
  }();
  return plan;
}

void TypicalFrame(benchmark::State& state) {
  UseTheBuildsFonts();
  const TFramePlan& plan = FramePlan();
  std::vector<TPictureCollectionItem*> pictures;
  for (size_t i = 0; i < plan.Bitmaps.size(); ++i)
    pictures.push_back(bench::Display().Add(plan.Bitmaps[i], i != 0));
  TDirectDrawSurface& back = bench::Display().Draw.Surface;
  TDirectDrawSurfaceCanvas& canvas = back.SurfaceCanvas();
  canvas.Brush.Style = bsClear;
  canvas.Font.Name = "Cargo";
  for (auto _ : state) {
    back.FillSurface(0);
    pictures[0]->DrawPattern(back, 0, 0, 0);
    for (const TFramePlan::TBlit& blit : plan.Blits)
      pictures[static_cast<size_t>(blit.Picture)]->DrawPattern(back, blit.X, blit.Y, 0);
    for (const TFramePlan::TTurn& turn : plan.Turns) {
      TPictureCollectionItem* picture = pictures[static_cast<size_t>(turn.Picture)];
      picture->DrawPatternRotated(back, turn.X, turn.Y, picture->Picture.Width, picture->Picture.Height, 0,
                                  0.5, 0.5, turn.Angle, 255);
    }
    for (const TFramePlan::TLine& line : plan.Lines) {
      canvas.Font.Size = line.Size;
      canvas.Font.Color = line.Color;
      canvas.TextOut(line.X, line.Y, line.Text);
    }
    canvas.ReleaseCanvas();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(TypicalFrame);

void TypicalFrame_Peer(benchmark::State& state) {
  const TFramePlan& plan = FramePlan();
  TSdlSurface backBuffer = SdlBackBuffer();
  SDL_Surface* back = backBuffer.get();
  std::vector<TSdlSurface> keyed, rotatable;
  for (size_t i = 0; i < plan.Bitmaps.size(); ++i) {
    keyed.push_back(i == 0 ? SdlSurface(plan.Bitmaps[i]) : SdlKeyedSurface(plan.Bitmaps[i], back));
    rotatable.push_back(SdlRotatableSurface(plan.Bitmaps[i]));
  }
  // The text rendered once, as a cache of rendered strings would keep it.
  UseTheBuildsFonts();
  TTF_Init();
  std::vector<TSdlSurface> texts;
  const std::string file = plat::FontFile("Cargo", false, false);
  for (const TFramePlan::TLine& line : plan.Lines) {
    TTF_Font* font = TTF_OpenFont(file.c_str(), (line.Size * 96 + 36) / 72);
    TTF_SetFontHinting(font, TTF_HINTING_NORMAL);
    SDL_Color color{static_cast<uint8_t>(line.Color), static_cast<uint8_t>(line.Color >> 8),
                    static_cast<uint8_t>(line.Color >> 16), 255};
    texts.emplace_back(TTF_RenderText_Blended(font, line.Text.c_str(), color));
    TTF_CloseFont(font);
  }
  for (auto _ : state) {
    SDL_FillRect(back, nullptr, 0);
    SDL_BlitSurface(keyed[0].get(), nullptr, back, nullptr);
    for (const TFramePlan::TBlit& blit : plan.Blits) {
      SDL_Rect at{blit.X, blit.Y, 0, 0};
      SDL_BlitSurface(keyed[static_cast<size_t>(blit.Picture)].get(), nullptr, back, &at);
    }
    for (const TFramePlan::TTurn& turn : plan.Turns)
      SdlRotatedBlit(rotatable[static_cast<size_t>(turn.Picture)].get(), back, turn.Angle, turn.X, turn.Y);
    for (size_t i = 0; i < texts.size(); ++i) {
      SDL_Rect at{plan.Lines[i].X, plan.Lines[i].Y, 0, 0};
      SDL_BlitSurface(texts[i].get(), nullptr, back, &at);
    }
    benchmark::ClobberMemory();
  }
  texts.clear();
  TTF_Quit();
}
BENCHMARK(TypicalFrame_Peer);

// -------------------------------------------------------------------------------------------- text

// The status line as a game draws it: Arg(0) the same strings every frame (the canvas's cache of
// rendered strings answers), Arg(1) a score that changes every frame (one string rasterised anew).
void StatusText(benchmark::State& state) {
  UseTheBuildsFonts();
  TDirectDrawSurface& back = bench::Display().Draw.Surface;
  TDirectDrawSurfaceCanvas& canvas = back.SurfaceCanvas();
  canvas.SetFrameTextStyle("Cargo", 14);
  canvas.Font.Color = 0x159C2B;
  int score = 0;
  for (auto _ : state) {
    if (state.range(0) == 1) score = (score + 1) % 100000;
    canvas.TextOut(10, 575, "Score: " + std::to_string(score));
    canvas.TextOut(200, 575, "Lives: 3");
    canvas.TextOut(330, 575, "Level: 4");
    canvas.TextOut(460, 575, "Bombs: 2");
    canvas.ReleaseCanvas();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(StatusText)->Arg(0)->Arg(1);

// A string's size, as the menu asks for it each frame to centre a line.
void MeasureMenuLine(benchmark::State& state) {
  UseTheBuildsFonts();
  TDirectDrawSurface& back = bench::Display().Draw.Surface;
  TDirectDrawSurfaceCanvas& canvas = back.SurfaceCanvas();
  canvas.SetFrameTextStyle("Cargo", 14);
  for (auto _ : state) benchmark::DoNotOptimize(canvas.TextWidth("Country: Deutschland"));
  canvas.ReleaseCanvas();
}
BENCHMARK(MeasureMenuLine);

}  // namespace
