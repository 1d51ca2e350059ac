// The sprite tree: everything the game shows is a sprite under one root, the TSpriteEngine. The tree
// owns its sprites: a sprite is created with its parent, which takes it at once, and is freed only by
// ReapDead after Kill, by Clear of an ancestor, with its parent, or by direct destruction outside Tick,
// Paint and CheckCollisions. Creators keep plain pointers, which these rules keep valid.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/error.h"
#include "engine/rect.h"

class TSpriteEngine;
class TDirectDrawSurface;
class TPictureCollectionItem;
class TDXDraw;

using ESpriteError = EAreaError<struct TSpriteArea>;

class TSprite {
 public:
  // Joins parent's children (last in creation order) and its draw order at Z 0.
  explicit TSprite(TSprite* parent);
  // Frees the children (last first), then leaves the parent's lists and the dead list.
  virtual ~TSprite();
  TSprite(const TSprite&) = delete;
  TSprite& operator=(const TSprite&) = delete;

  // Runs Advance on this sprite and its subtree; a sprite that cannot move skips its subtree.
  void Tick(int moveCount);
  // Draws this sprite and its subtree in Z order; an invisible sprite hides its subtree.
  void Paint();
  // Tests this sprite against the whole tree; returns the number of hits.
  int32_t CheckCollisions();
  // Marks the sprite dead and queues it for ReapDead; the root and dead sprites are left alone.
  void Kill();
  // Frees every child at once, the last first.
  void Clear();
  void SetZ(int32_t z);

  int32_t Count() const;
  // The child at index i in creation order.
  TSprite* Items(int32_t i) const;
  double WorldX() const;
  double WorldY() const;
  int32_t Z() const { return ZValue; }
  TSprite* Parent() const { return ParentSprite; }
  TSpriteEngine* Engine() const { return EngineSprite; }
  bool IsDead() const { return Dead; }

  // The overridable slots.
  virtual void HandleCollision(TSprite* other, bool& done);
  virtual void Render();
  virtual void Advance(int moveCount);
  virtual TRect GetBounds() const;
  virtual bool Overlaps(TSprite* other);
  // A rectangle that Render fills with opaque pixels, so that the engine may leave out what sprites drawn
  // before it would draw there; empty (the default) when the sprite promises nothing.
  virtual TRect OpaqueRect() const;

  bool CanCollide = true;  // the sprite and its subtree take part in collision tests
  bool CanMove = true;     // Tick runs the sprite and its subtree
  bool Visible = true;     // Paint draws the sprite and its subtree
  int32_t X = 0, Y = 0;    // top-left corner relative to the parent, pixels
  int32_t Width = 0, Height = 0;

 private:
  friend class TSpriteEngine;
  void Visit(TSprite* tested);                    // one step of a running collision test
  void QueuePaint(std::vector<TSprite*>& queue);  // the sprites Paint renders, in its order
  void InsertDrawOrder(TSprite* child);
  void RemoveChild(TSprite* child);

  TSpriteEngine* EngineSprite = nullptr;  // null only in the root
  TSprite* ParentSprite = nullptr;
  bool Dead = false;
  int32_t ZValue = 0;
  // Both exist only while the sprite has children. Children owns them, in creation order; DrawOrder holds
  // the same sprites by Z ascending, the newest of equal Z first.
  std::unique_ptr<std::vector<std::unique_ptr<TSprite>>> Children;
  std::unique_ptr<std::vector<TSprite*>> DrawOrder;
};

// Draws one pattern of a picture, with frame animation.
class TImageSprite : public TSprite {
 public:
  using TSprite::TSprite;

  int32_t CurrentPattern() const { return FrameIndex + FrameStart; }
  // GetBounds moved so the picture's pattern is centred in the box.
  TRect DrawRect() const;
  // What this class's Render fills opaquely; for subclasses that draw the plain way to give as their
  // OpaqueRect.
  TRect PatternOpaqueRect() const;

  void Render() override;
  void Advance(int moveCount) override;
  TRect GetBounds() const override;
  bool Overlaps(TSprite* other) override;

  int32_t FrameCount = 0;
  bool FrameLoop = false;  // wrap around instead of stopping on the last frame
  int32_t FrameIndex = 0;
  double FrameSpeed = 0.0;                  // frames per unit of move count
  int32_t FrameStart = 0;                   // pattern index of frame 0
  TPictureCollectionItem* Image = nullptr;  // not owned: the image list keeps its pictures
  bool PixelCheck = false;                  // Overlaps compares pixels instead of answering true
  bool Tile = false;                        // the position wraps around the surface
};

// A map of picture cells, drawn tiled over the whole surface or bounded.
class TBackgroundSprite : public TSprite {
 public:
  explicit TBackgroundSprite(TSprite* parent);
  ~TBackgroundSprite() override;

  // Reallocates both maps, every cell pattern 0 and solid; a non-positive side empties the map.
  void SetMapSize(int32_t width, int32_t height);
  int32_t MapWidth() const { return MapW; }
  int32_t MapHeight() const { return MapH; }
  // The cell's pattern index, or -1 outside the map.
  int32_t Chip(int32_t x, int32_t y) const;
  void SetChip(int32_t x, int32_t y, int32_t pattern);
  // The cell's collision flag, or false outside the map.
  bool CollisionCell(int32_t x, int32_t y) const;
  void SetCollisionCell(int32_t x, int32_t y, bool solid);

  void Render() override;
  TRect GetBounds() const override;
  bool Overlaps(TSprite* other) override;
  // The whole surface when tiled with cells that are all opaque.
  TRect OpaqueRect() const override;

  TPictureCollectionItem* Image = nullptr;  // its patterns are the cells
  bool Tile = false;                        // the map repeats over the whole surface

 private:
  int32_t MapW = 0, MapH = 0;
  std::vector<int32_t> Map;           // pattern per cell, row-major; negative: empty
  std::vector<uint8_t> CollisionMap;  // solid per cell, row-major
};

// The root: the drawing surface, the dead list and the state of the running collision test.
class TSpriteEngine : public TSprite {
 public:
  TSpriteEngine();
  ~TSpriteEngine() override;

  // Frees every killed sprite, the last killed first.
  void ReapDead();
  // Resets DrawCount, then paints the tree. A sprite's pictures leave out the rows that the opaque
  // rectangles of the sprites drawn after it cover across the whole surface.
  void Paint();
  // Fills the surface with the raw pixel fill, except the rows that the sprites will cover, then paints.
  void Paint(uint32_t fill);
  void SetSurface(TDirectDrawSurface* surface);
  TDirectDrawSurface* Surface() const { return DrawSurface; }

  int32_t AllCount = 0;        // sprites below the root
  int32_t CollisionCount = 0;  // hits of the running collision test
  bool CollisionDone = false;  // stop flag of the running collision test
  TRect CollisionRect;         // bounds of the sprite under test
  TSprite* CollisionSprite = nullptr;
  int32_t DrawCount = 0;  // sprites rendered by the last Paint
  TRect SurfaceRect{0, 0, 800, 600};

 private:
  friend class TSprite;
  void PaintOver(const uint32_t* fill);
  std::vector<TSprite*> DeadList;
  // Kept between frames for their memory: the sprites Paint renders and the picture clip of each, and
  // the working lists of the covered rows.
  struct TPaintLists {
    std::vector<TSprite*> Queue;
    std::vector<TRect> Clips, Cover;
    std::vector<int32_t> Edges;
    std::vector<std::pair<int32_t, int32_t>> Spans;
  } Painting;
  TDirectDrawSurface* DrawSurface = nullptr;  // null while the display is down
};
