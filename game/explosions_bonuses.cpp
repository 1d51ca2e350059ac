#include "game/explosions_bonuses.h"

#include "engine/image_archive.h"
#include "engine/rtl.h"
#include "game/game_services.h"

TExplosionSprite::TExplosionSprite(int32_t x, int32_t y, int32_t drift, const std::string& pictureName,
                                   TSprite* parent)
    : TImageSprite(parent), Drift(drift) {
  Image = GamePicture(pictureName);
  // Names compare case-sensitively: only the game's own explosions sound.
  if (pictureName == "bloodexplosion")
    PlayGameSound("humandie");
  else if (pictureName.compare(0, 9, "explosion") == 0 || pictureName == "rocketexplosion")
    PlayGameSound("explode");
  SizeToPicture(*this);
  X = x;
  Y = y;
  SetZ(8);
  PixelCheck = false;
  FrameCount = Image->PatternTotal();
  FrameLoop = false;
  FrameIndex = 0;
}

// One pattern per tick whatever the move count (FrameSpeed stays 0); in the tick it is killed the index
// lies past the last pattern, so nothing is drawn.
void TExplosionSprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  X -= Drift;
  if (X < -Width) Kill();
  ++FrameIndex;
  if (FrameIndex == FrameCount) Kill();
}

TBonusSprite::TBonusSprite(TSprite* parent) : TImageSprite(parent) {
  // Kinds 1 to 5 in the proportion 4 : 1 : 3 : 1 : 2.
  static constexpr uint16_t kKindOf[11] = {1, 2, 3, 4, 5, 1, 1, 1, 3, 3, 5};
  const int32_t r = 1 + Random(11);
  Kind = kKindOf[r - 1];
  Image = GamePicture("bonus" + std::to_string(Kind));
  Width = Image->PatternWidth;
  Height = Image->PatternHeight;
  PixelCheck = false;
  X = 200 + Random(600);
  Y = -Height;
  SetZ(4);
  Visible = true;
}

void TBonusSprite::Advance(int moveCount) {
  TImageSprite::Advance(moveCount);
  if (-Width >= X || Y >= Height + 600) Kill();
  X -= 3;
  Y += 2;
}

TBonusIndicatorSprite::TBonusIndicatorSprite(uint16_t x, const std::string& pictureName, TSprite* parent)
    : TImageSprite(parent) {
  Image = GamePicture(pictureName);
  SizeToPicture(*this);
  PixelCheck = false;
  X = x;
  Y = 4;
  SetZ(11);
  Visible = false;
}

void TBonusIndicatorSprite::ShowPicture(const std::string& pictureName) {
  Image = GamePicture(pictureName);
  Visible = true;
}

void ExplodeAt(const TSprite& sprite, int32_t offset, int32_t drift, const std::string& pictureName) {
  new TExplosionSprite(sprite.X + sprite.Width / 2 + offset, sprite.Y + sprite.Height / 2 + offset, drift,
                       pictureName, sprite.Engine());
}
