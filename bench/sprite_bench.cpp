// One frame of the sprite tree: moving every sprite with the collision tests of a hero and 30
// projectiles (SpriteTick), and drawing 32 x 32 keyed sprites (SpritePaint), for 100 to 2000 sprites.
// No peer: the targets are absolute (see README.md).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "bench/bench_pictures.h"
#include "engine/sprite.h"

namespace {

// Drifts across the surface; a tester runs a collision test each frame and only counts its hits.
class TBenchSprite : public TImageSprite {
 public:
  TBenchSprite(TSprite* parent, bool tester) : TImageSprite(parent), Tester(tester) {}
  void Advance(int moveCount) override {
    TImageSprite::Advance(moveCount);
    X += Speed * moveCount;
    if (X > 800) X -= 832;
    if (Tester) CheckCollisions();
  }
  void HandleCollision(TSprite*, bool&) override { ++Hits; }

  bool Tester;
  int32_t Speed = 1;
  int64_t Hits = 0;
};

// count sprites of 32 x 32 spread over the 800 x 600 surface; the first 31 are the testers.
void Populate(TSpriteEngine& engine, TPictureCollectionItem* picture, int64_t count) {
  uint32_t seed = 777;
  auto next = [&seed](int range) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int32_t>((seed >> 16) % static_cast<uint32_t>(range));
  };
  for (int64_t i = 0; i < count; ++i) {
    auto* sprite = new TBenchSprite(&engine, i < 31);
    sprite->Image = picture;
    sprite->Width = 32;
    sprite->Height = 32;
    sprite->X = next(800);
    sprite->Y = next(600);
    sprite->Speed = 1 + next(4);
    sprite->SetZ(next(8));
  }
}

TPictureCollectionItem* SpritePicture() {
  static TPictureCollectionItem* picture = bench::Display().Add(bench::SpriteBitmap(32, 32));
  return picture;
}

// Tick (with 31 collision tests over the whole tree) and ReapDead, as the game loop runs them.
void SpriteTick(benchmark::State& state) {
  TSpriteEngine engine;
  Populate(engine, SpritePicture(), state.range(0));
  for (auto _ : state) {
    engine.Tick(1);
    engine.ReapDead();
  }
  int64_t hits = 0;
  for (int32_t i = 0; i < 31 && i < engine.Count(); ++i)
    hits += static_cast<TBenchSprite*>(engine.Items(i))->Hits;
  state.counters["hits_per_frame"] =
      benchmark::Counter(static_cast<double>(hits) / static_cast<double>(state.iterations()));
}
BENCHMARK(SpriteTick)->Arg(100)->Arg(500)->Arg(2000);

// Paint of the tree onto the back buffer: every sprite a 32 x 32 keyed pattern.
void SpritePaint(benchmark::State& state) {
  TSpriteEngine engine;
  Populate(engine, SpritePicture(), state.range(0));
  engine.SetSurface(&bench::Display().Draw.Surface);
  for (auto _ : state) {
    engine.Paint();
    benchmark::ClobberMemory();
  }
  state.counters["drawn"] = engine.DrawCount;
}
BENCHMARK(SpritePaint)->Arg(100)->Arg(500)->Arg(2000);

}  // namespace
