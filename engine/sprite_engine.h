// The form's sprite engine component: owns the root of the sprite tree and binds it to the display, so
// the root draws on the back buffer between the display's "initialised" and "finalised" notifications.
#pragma once

#include "engine/sprite.h"

class TDXDraw;

class TDXSpriteEngine {
 public:
  TDXSpriteEngine() = default;
  ~TDXSpriteEngine();
  TDXSpriteEngine(const TDXSpriteEngine&) = delete;
  TDXSpriteEngine& operator=(const TDXSpriteEngine&) = delete;

  // Leaves the old display's listeners and joins the new one's; null unbinds.
  void SetDXDraw(TDXDraw* draw);
  TDXDraw* DXDraw() const { return Draw; }

  void Tick(int moveCount) { Engine.Tick(moveCount); }
  void ReapDead() { Engine.ReapDead(); }
  // Nothing unless the display is set and initialised.
  void Paint();
  void Paint(uint32_t fill);

  TSpriteEngine Engine;  // the root

 private:
  TDXDraw* Draw = nullptr;
};
