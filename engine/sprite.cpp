// The tree itself: creation, destruction, Tick, Paint, collision tests, Z order, animation and maps.
// What draws or reads pictures is in sprite_draw.cpp.
#include "engine/sprite.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>

#include "common/format.h"
#include "engine/rtl.h"
#include "engine/surface.h"

// ---------------------------------------------------------------------------------------------- TSprite

TSprite::TSprite(TSprite* parent) : ParentSprite(parent) {
  if (!parent) return;
  if (!parent->Children) {
    parent->Children = std::make_unique<std::vector<std::unique_ptr<TSprite>>>();
    parent->DrawOrder = std::make_unique<std::vector<TSprite*>>();
  }
  parent->Children->emplace_back(this);
  parent->InsertDrawOrder(this);
  EngineSprite = parent->EngineSprite ? parent->EngineSprite : dynamic_cast<TSpriteEngine*>(parent);
  if (EngineSprite) ++EngineSprite->AllCount;
}

TSprite::~TSprite() {
  Clear();
  if (!ParentSprite) return;
  ParentSprite->RemoveChild(this);
  if (!EngineSprite) return;
  --EngineSprite->AllCount;
  if (Dead) {
    auto& dead = EngineSprite->DeadList;
    auto at = std::find(dead.rbegin(), dead.rend(), this);
    if (at != dead.rend()) dead.erase(std::next(at).base());
  }
}

// Takes child out of both lists without freeing it: the caller is its destructor.
void TSprite::RemoveChild(TSprite* child) {
  auto& children = *Children;
  for (size_t i = children.size(); i-- > 0;)
    if (children[i].get() == child) {
      (void)children[i].release();
      children.erase(children.begin() + static_cast<ptrdiff_t>(i));
      break;
    }
  auto& order = *DrawOrder;
  order.erase(std::find(order.begin(), order.end(), child));
  if (children.empty()) {
    Children.reset();
    DrawOrder.reset();
  }
}

// The first place whose sprite has a Z greater or equal: the newest of equal Z goes underneath.
void TSprite::InsertDrawOrder(TSprite* child) {
  auto& order = *DrawOrder;
  auto at = std::lower_bound(order.begin(), order.end(), child->ZValue,
                             [](const TSprite* sprite, int32_t z) { return sprite->ZValue < z; });
  order.insert(at, child);
}

void TSprite::SetZ(int32_t z) {
  if (z == ZValue) return;
  ZValue = z;
  if (!ParentSprite) return;
  auto& order = *ParentSprite->DrawOrder;
  order.erase(std::find(order.begin(), order.end(), this));
  ParentSprite->InsertDrawOrder(this);
}

void TSprite::Clear() {
  while (Children) delete Children->back().get();
}

int32_t TSprite::Count() const { return Children ? static_cast<int32_t>(Children->size()) : 0; }

TSprite* TSprite::Items(int32_t i) const {
  if (!Children) throw ESpriteError("Index of the list exceeds the range. (%d)", i);
  if (i < 0 || i >= Count()) throw ESpriteError("List index out of bounds (%d)", i);
  return (*Children)[static_cast<size_t>(i)].get();
}

double TSprite::WorldX() const { return ParentSprite ? X + ParentSprite->WorldX() : X; }

double TSprite::WorldY() const { return ParentSprite ? Y + ParentSprite->WorldY() : Y; }

void TSprite::Tick(int moveCount) {
  if (!CanMove) return;
  Advance(moveCount);
  int32_t count = Count();  // children added meanwhile wait for the next frame
  for (int32_t i = 0; i < count; ++i) (*Children)[static_cast<size_t>(i)]->Tick(moveCount);
}

void TSprite::Paint() {
  std::vector<TSprite*> queue;
  QueuePaint(queue);
  for (TSprite* sprite : queue) {
    sprite->Render();
    ++sprite->EngineSprite->DrawCount;
  }
}

void TSprite::QueuePaint(std::vector<TSprite*>& queue) {
  if (!Visible) return;
  if (EngineSprite && RectsOverlap(GetBounds(), EngineSprite->SurfaceRect)) queue.push_back(this);
  if (!DrawOrder) return;
  for (TSprite* child : *DrawOrder) child->QueuePaint(queue);
}

int32_t TSprite::CheckCollisions() {
  if (!EngineSprite || Dead || !CanCollide) return 0;
  TSpriteEngine& engine = *EngineSprite;
  engine.CollisionCount = 0;
  engine.CollisionDone = false;
  engine.CollisionRect = GetBounds();
  engine.CollisionSprite = this;
  int32_t count = engine.Count();
  for (int32_t i = 0; i < count && !engine.CollisionDone; ++i)
    (*engine.Children)[static_cast<size_t>(i)]->Visit(this);
  return engine.CollisionCount;
}

// Rectangles first, then the virtual tests both ways; only the tested sprite hears of a hit.
void TSprite::Visit(TSprite* tested) {
  if (!CanCollide) return;
  TSpriteEngine& engine = *tested->EngineSprite;
  if (this != tested && RectsOverlap(GetBounds(), engine.CollisionRect) && tested->Overlaps(this) &&
      Overlaps(tested)) {
    ++engine.CollisionCount;
    tested->HandleCollision(this, engine.CollisionDone);
    if (tested->Dead || !tested->CanCollide) engine.CollisionDone = true;
  }
  if (engine.CollisionDone) return;
  int32_t count = Count();
  for (int32_t i = 0; i < count && !engine.CollisionDone; ++i)
    (*Children)[static_cast<size_t>(i)]->Visit(tested);
}

void TSprite::Kill() {
  if (!EngineSprite || Dead) return;
  Dead = true;
  EngineSprite->DeadList.push_back(this);
}

void TSprite::HandleCollision(TSprite*, bool&) {}
void TSprite::Render() {}

TRect TSprite::OpaqueRect() const { return {}; }
void TSprite::Advance(int) {}
bool TSprite::Overlaps(TSprite*) { return true; }

TRect TSprite::GetBounds() const {
  return Bounds(static_cast<int32_t>(Trunc(WorldX())), static_cast<int32_t>(Trunc(WorldY())), Width, Height);
}

// ----------------------------------------------------------------------------------------- TImageSprite

void TImageSprite::Advance(int moveCount) {
  FrameIndex += static_cast<int32_t>(Round(FrameSpeed * moveCount));
  if (FrameLoop) {
    if (FrameCount > 0) {
      double x = FrameIndex, n = FrameCount;
      double r = x - static_cast<double>(Trunc(x / n)) * n;
      if (r < 0) r += n;
      FrameIndex = static_cast<int32_t>(Round(r));
    } else {
      FrameIndex = 0;
    }
    return;
  }
  if (FrameIndex >= FrameCount) {
    FrameIndex = FrameCount - 1;
    FrameSpeed = 0;
  }
  if (FrameIndex < 0) {
    FrameIndex = 0;
    FrameSpeed = 0;
  }
}

TRect TImageSprite::GetBounds() const {
  int32_t x = static_cast<int32_t>(Trunc(WorldX()));
  int32_t y = static_cast<int32_t>(Trunc(WorldY()));
  if (Tile && Engine()) {
    const TRect& r = Engine()->SurfaceRect;
    x = Mod2(x, r.Right + Width);
    if (x > r.Right) x -= r.Right + Width;
    y = Mod2(y, r.Bottom + Height);
    if (y > r.Bottom) y -= r.Bottom + Height;
  }
  return Bounds(x, y, Width, Height);
}

// ------------------------------------------------------------------------------------ TBackgroundSprite

TBackgroundSprite::TBackgroundSprite(TSprite* parent) : TSprite(parent) { CanCollide = false; }

TBackgroundSprite::~TBackgroundSprite() { SetMapSize(0, 0); }

void TBackgroundSprite::SetMapSize(int32_t width, int32_t height) {
  if (width == MapW && height == MapH) return;
  if (width <= 0 || height <= 0) width = height = 0;
  MapW = width;
  MapH = height;
  size_t cells = static_cast<size_t>(width) * static_cast<size_t>(height);
  Map.assign(cells, 0);
  CollisionMap.assign(cells, 1);
}

int32_t TBackgroundSprite::Chip(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= MapW || y >= MapH) return -1;
  return Map[static_cast<size_t>(y) * static_cast<size_t>(MapW) + static_cast<size_t>(x)];
}

void TBackgroundSprite::SetChip(int32_t x, int32_t y, int32_t pattern) {
  if (x < 0 || y < 0 || x >= MapW || y >= MapH) return;
  Map[static_cast<size_t>(y) * static_cast<size_t>(MapW) + static_cast<size_t>(x)] = pattern;
}

bool TBackgroundSprite::CollisionCell(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= MapW || y >= MapH) return false;
  return CollisionMap[static_cast<size_t>(y) * static_cast<size_t>(MapW) + static_cast<size_t>(x)] != 0;
}

void TBackgroundSprite::SetCollisionCell(int32_t x, int32_t y, bool solid) {
  if (x < 0 || y < 0 || x >= MapW || y >= MapH) return;
  CollisionMap[static_cast<size_t>(y) * static_cast<size_t>(MapW) + static_cast<size_t>(x)] = solid ? 1 : 0;
}

// ---------------------------------------------------------------------------------------- TSpriteEngine

TSpriteEngine::TSpriteEngine() : TSprite(nullptr) {}

// The sprites go first, while the dead list they leave still exists.
TSpriteEngine::~TSpriteEngine() { Clear(); }

void TSpriteEngine::ReapDead() {
  while (!DeadList.empty()) delete DeadList.back();
}

namespace {

// The part of area between the rows at its top and at its bottom that the rectangles cover from its
// left to its right edge. The rectangles' edges cut the rows into bands that each rectangle either
// crosses or misses, so the test runs once per band.
// edges and spans are working lists whose memory is kept.
TRect UncoveredRows(const TRect& area, const std::vector<TRect>& cover, std::vector<int32_t>& edges,
                    std::vector<std::pair<int32_t, int32_t>>& spans) {
  edges.assign({area.Top, area.Bottom});
  for (const TRect& rect : cover) edges.insert(edges.end(), {rect.Top, rect.Bottom});
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  auto covered = [&](int32_t row) {
    spans.clear();
    for (const TRect& rect : cover)
      if (rect.Top <= row && row < rect.Bottom) spans.emplace_back(rect.Left, rect.Right);
    std::sort(spans.begin(), spans.end());
    int32_t reached = area.Left;
    for (const auto& [left, right] : spans) {
      if (left > reached) break;
      reached = std::max(reached, right);
    }
    return reached >= area.Right;
  };
  TRect open = area;
  for (size_t band = 0; band + 1 < edges.size() && edges[band] < area.Bottom && covered(edges[band]); ++band)
    open.Top = edges[band + 1];
  for (size_t band = edges.size() - 1; band > 0 && edges[band] > open.Top && covered(edges[band - 1]); --band)
    open.Bottom = edges[band - 1];
  return open;
}

}  // namespace

void TSpriteEngine::Paint() { PaintOver(nullptr); }

void TSpriteEngine::Paint(uint32_t fill) { PaintOver(&fill); }

void TSpriteEngine::PaintOver(const uint32_t* fill) {
  DrawCount = 0;
  TPaintLists& lists = Painting;
  lists.Queue.clear();
  QueuePaint(lists.Queue);
  // From the last sprite back: the rows each sprite may leave out are those the later ones cover.
  lists.Clips.resize(lists.Queue.size());
  lists.Cover.clear();
  TRect open = SurfaceRect;
  for (size_t i = lists.Queue.size(); i-- > 0;) {
    lists.Clips[i] = open;
    const TRect opaque = IntersectRects(lists.Queue[i]->OpaqueRect(), SurfaceRect);
    if (opaque.Empty()) continue;
    lists.Cover.push_back(opaque);
    open = UncoveredRows(SurfaceRect, lists.Cover, lists.Edges, lists.Spans);
  }
  if (fill && DrawSurface) DrawSurface->FillRows(open.Top, open.Bottom, *fill);
  for (size_t i = 0; i < lists.Queue.size(); ++i) {
    if (DrawSurface) DrawSurface->PictureClip = lists.Clips[i];
    lists.Queue[i]->Render();
    ++DrawCount;
  }
  if (DrawSurface) DrawSurface->PictureClip = kNoPictureClip;
}
