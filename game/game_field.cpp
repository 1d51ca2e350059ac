#include "game/game_field.h"

#include <string>

#include "engine/canvas.h"
#include "engine/display.h"
#include "engine/image_archive.h"
#include "engine/input.h"
#include "engine/rtl.h"
#include "engine/sprite_engine.h"
#include "engine/timer.h"
#include "game/enemies.h"
#include "game/explosions_bonuses.h"
#include "game/game_host.h"
#include "game/game_services.h"
#include "game/game_state.h"
#include "game/ground_enemies.h"
#include "game/hero.h"
#include "game/replay.h"
#include "game/weapons.h"
#include "music/music.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kRed = 255;
constexpr int32_t kBlack = 0;
constexpr int32_t kStatusGreen = 43 | (156 << 8) | (21 << 16);
constexpr int32_t kPhaseTime = 1500;  // milliseconds of the level intro, game over and send failure
constexpr int32_t kHealth = 50;

struct TMountainStrip {
  int Picture;
  int32_t X, Y, Z;
  uint16_t Factor;
};

// Two copies side by side per layer; the nearer the layer, the faster it scrolls.
constexpr TMountainStrip kMountains[6] = {
    {2, 0, 70, 2, 1},    {3, 800, 70, 2, 1}, {4, 0, 400, 3, 2},
    {5, 800, 400, 3, 2}, {6, 0, 350, 4, 3},  {7, 800, 350, 4, 3},
};

void Text(TDirectDrawSurfaceCanvas& canvas, int x, int y, const std::string& text) {
  canvas.TextOut(x, y, text);
}

void PlaceHeroForPlay() {
  Game.Hero->Visible = true;
  Game.Propeller->Visible = true;
  Game.Propeller->X = Game.Hero->X + Game.Hero->Width;
  Game.Propeller->Y = Game.Hero->Y;
}

// Kind 1 to 9 drawn uniformly over the kinds the level allows; from level 5 on every kind.
int32_t DrawEnemyKind() {
  static constexpr uint16_t kAllowed[5] = {
      0,
      (1 << 1) | (1 << 6) | (1 << 7),
      (1 << 1) | (1 << 2) | (1 << 6) | (1 << 7),
      (1 << 1) | (1 << 2) | (1 << 3) | (1 << 6) | (1 << 7) | (1 << 8),
      (1 << 1) | (1 << 2) | (1 << 3) | (1 << 4) | (1 << 6) | (1 << 7) | (1 << 8),
  };
  for (;;) {
    const int32_t kind = Random(9) + 1;
    if (Game.Level > 4 || (kAllowed[Game.Level] & (1 << kind)) != 0) return kind;
  }
}

void StartNextLevel(TSprite& root) {
  if (Game.Level < kLastLevel) ++Game.Level;
  Game.LevelKills = 0;
  Game.PhaseTimer = kPhaseTime;
  PlayGameSound("nextlevel");
  Game.Hero->HealthPoints = kHealth;
  Game.GamePhase = gpLevelIntro;
  ClearGameField(root);
}

void EndHeroDown(TSprite& root) {
  if (Game.HeroDownCountdown > 0) {
    --Game.HeroDownCountdown;
    return;
  }
  Game.GamePhase = gpPlaying;
  plat::Platform().SetCursorPos(400, 300);
  ClearGameField(root);
  if (Game.Lives > 0) {
    PlaceHeroForPlay();
    Game.Hero->HealthPoints = kHealth;
  } else {
    Game.PhaseTimer = kPhaseTime;
    Game.GamePhase = gpGameOver;
    PlayGameSound("looser");
  }
}

// Draws the numbers and runs down the bonus times (only in play); the basic weapon returns when both
// the weapon and the bomb times are used up.
void PaintStatusLine(TDirectDrawSurfaceCanvas& canvas, int interval) {
  canvas.Font.Color = kStatusGreen;
  canvas.Font.Size = 14;
  const bool playing = Game.GamePhase == gpPlaying;
  THeroSprite& hero = *Game.Hero;
  Text(canvas, 112, 4, std::to_string(Game.Level));
  if (hero.WeaponKind > 1 || hero.HasBombs) {
    if (Game.WeaponTime > 0 || Game.BombTime > 0) {
      Text(canvas, 630, 4, std::to_string((Game.WeaponTime > 0 ? Game.WeaponTime : Game.BombTime) / 1000));
      if (playing) {
        if (Game.WeaponTime > 0) Game.WeaponTime -= interval;
        if (Game.BombTime > 0)
          Game.BombTime -= interval;
        else
          hero.HasBombs = false;
      }
    } else {
      hero.FireRate = 24;
      hero.WeaponKind = 1;
      Game.WeaponIndicator->Visible = false;
      hero.HasBombs = false;
    }
  }
  if (Game.Shield->Visible) {
    if (Game.ShieldTime > 0) {
      Text(canvas, 685, 4, std::to_string(Game.ShieldTime / 1000));
      if (playing) Game.ShieldTime -= interval;
    } else {
      Game.Shield->Visible = false;
      Game.ShieldIndicator->Visible = false;
    }
  }
  if (Game.LastBonusIndicator->Visible && playing) {
    if (Game.LastBonusTime > 0)
      Game.LastBonusTime -= interval;
    else
      Game.LastBonusIndicator->Visible = false;
  }
  Text(canvas, 385, 4, std::to_string(Game.Score));
  Text(canvas, 250, 4, std::to_string(Game.Lives));
}

void PaintBigText(TDirectDrawSurfaceCanvas& canvas, int x, int y, const std::string& text) {
  canvas.Font.Size = 30;
  canvas.Font.Color = kRed;
  Text(canvas, x, y, text);
}

// The texts of the phase, tested one after the other so that a phase set by an earlier test is drawn by
// a later one in the same tick.
void PaintPhaseTexts(TGameHost& host, TDirectDrawSurfaceCanvas& canvas, int interval) {
  if (Game.GamePhase == gpLevelIntro) {
    Game.PhaseTimer -= interval;
    PaintBigText(canvas, 320, 280, "Level " + std::to_string(Game.Level));
    if (Game.PhaseTimer <= 0) {
      Game.GamePhase = gpPlaying;
      PlaceHeroForPlay();
      host.SetCursorVisible(false);
      plat::Platform().SetCursorPos(400, 300);
    }
  }
  if (Game.GamePhase == gpGameOver) {
    Game.PhaseTimer -= interval;
    PaintBigText(canvas, 290, 280, "Game over");
    if (Game.PhaseTimer <= 0) {
      if (ReplayGameOver()) {
        host.BackToMenu();  // a replay ends here, without the name entry
        return;
      }
      Game.ScoreRank = ComputeScoreRank();
      host.SetCursorVisible(true);
      if (Game.ScoreRank == 11) {
        host.BackToMenu();
        return;  // the game field is gone
      }
      Game.GamePhase = gpNameEntry;
      Game.ClosingWindow->Visible = true;
      host.OpenNameEntry();
    }
  }
  canvas.Font.Size = 14;
  if (Game.GamePhase == gpNameEntry || Game.GamePhase == gpSendQuery) host.PaintItemScreen(canvas);
  if (Game.GamePhase == gpSending) {
    canvas.Font.Color = kRed;
    Text(canvas, 320, 240, "Please wait...");
  }
  if (Game.GamePhase == gpSendFailed) {
    canvas.Font.Color = kRed;
    Text(canvas, 250, 240, "Can't connect to server!");
    Game.PhaseTimer -= interval;
    if (Game.PhaseTimer <= 0) Game.GamePhase = gpSendQuery;
  }
  if (Game.GamePhase == gpExitQuery) {
    canvas.Font.Color = kBlack;
    host.PaintItemScreen(canvas);
  }
  if (Game.GamePhase == gpPause) PaintBigText(canvas, 320, 280, "Pause");
}

}  // namespace

void CreateGameField(TGameHost& host) {
  ReplayGameStarts();
  SetGameHost(&host);
  TSpriteEngine& root = host.SpriteRoot();
  root.Clear();
  ForgetGameSprites();
  host.ImageList().LoadArchive("data\\gamegraphic.dxg");
  TPictureCollection& pictures = host.ImageList().Items;

  auto* background = new TBackgroundSprite(&root);
  background->SetMapSize(1, 1);
  background->Image = pictures.PictureAt(0);
  background->Visible = true;
  background->Width = background->Image->EffectiveWidth();
  background->Height = background->Image->EffectiveHeight();
  background->Tile = true;
  background->SetZ(0);

  auto* dialog = new TImageSprite(&root);
  dialog->Image = pictures.PictureAt(1);
  dialog->X = 185;
  dialog->Y = 120;
  dialog->SetZ(10);
  dialog->Visible = false;
  dialog->PixelCheck = false;
  SizeToPicture(*dialog);
  Game.ClosingWindow = dialog;

  for (const TMountainStrip& strip : kMountains)
    new TMountain(pictures.PictureAt(strip.Picture), strip.X, strip.Y, strip.Z, strip.Factor, &root);

  auto* status = new TStatusSprite(&root);
  status->Image = pictures.PictureAt(8);
  status->X = 0;
  status->Y = 0;
  status->SetZ(10);
  status->Visible = true;
  SizeToPicture(*status);

  Game.Hero = new THeroSprite(&root);
  Game.Propeller = new TPropellerSprite(&root, *Game.Hero);
  Game.Smoke = new TSmokeSprite(&root, *Game.Hero);
  Game.Shield = new TShieldSprite(&root, *Game.Hero, *Game.Propeller);

  Game.WeaponIndicator = new TBonusIndicatorSprite(605, "bonusweapon", &root);
  Game.ShieldIndicator = new TBonusIndicatorSprite(660, "bonusshield", &root);
  Game.LastBonusIndicator = new TBonusIndicatorSprite(710, "bonusmegabomb", &root);

  Game.ScrollSpeed = 1;
  Game.Lives = 3;
  Game.Score = 0;
  Game.Level = 1;
  Game.GamePhase = gpLevelIntro;
  Game.PhaseTimer = kPhaseTime;
  Game.LevelKills = 0;
  Game.Hero->HealthPoints = kHealth;

  if (Settings.MusicOn) host.StartMusic(kGameSong);
  plat::Platform().SetCursorPos(400, 300);
}

void GameFrame(TGameHost& host, TDXDraw& display, TDXSpriteEngine& sprites, TDXInput& input,
               const TDXTimer& timer, int lagCount) {
  if (!display.CanDraw()) return;
  TDirectDrawSurfaceCanvas& canvas = display.Surface.SurfaceCanvas();
  canvas.SetFrameTextStyle("Cargo", 14);

  input.UpdateInput();
  Game.Input = ReplayTickInput(host, display, input.States, lagCount);
  sprites.ReapDead();
  TSpriteEngine& root = sprites.Engine;

  if (Game.LevelKills >= Game.Level * 10) StartNextLevel(root);

  if (Game.GamePhase == gpPlaying) {
    // The hero and the field's fixed sprites were made first, so they move before anything made in
    // play: the hero meets the others where they were at the end of the last tick.
    sprites.Tick(lagCount);
    if (Game.EnemySpawnCountdown > 0) {
      --Game.EnemySpawnCountdown;
    } else {
      CreateEnemy(root);
      Game.EnemySpawnCountdown = static_cast<uint16_t>(Random(160 / Game.Level) + 50);
    }
    if (Game.BonusSpawnCountdown > 0) {
      --Game.BonusSpawnCountdown;
    } else {
      new TBonusSprite(&root);
      Game.BonusSpawnCountdown = static_cast<uint16_t>(Random(1000 / Game.Level));
    }
  } else if (Game.GamePhase == gpHeroDown) {
    // Not in the tick that destroyed the hero: that one has moved the field already.
    sprites.Tick(lagCount);
    EndHeroDown(root);
  }

  sprites.Paint(0);  // over black
  const int interval = timer.Interval();
  PaintStatusLine(canvas, interval);
  PaintPhaseTexts(host, canvas, interval);
  canvas.ReleaseCanvas();
  display.FlipDisplay();
  ReplayFrameDrawn(display);
  if (Game.GamePhase == gpSending) host.PollSubmission();
}

void CreateEnemy(TSprite& root) {
  const int32_t kind = DrawEnemyKind();
  if (kind <= 6)
    new TFlyingEnemySprite(static_cast<uint16_t>(kind), &root);
  else
    new TGroundEnemySprite(static_cast<uint8_t>(kind), &root);
}

bool IsClearedByField(const TSprite* sprite) {
  return dynamic_cast<const TFlyingEnemySprite*>(sprite) || dynamic_cast<const TBonusSprite*>(sprite) ||
         dynamic_cast<const TWeaponSprite*>(sprite) || dynamic_cast<const THeroWeaponSprite*>(sprite) ||
         dynamic_cast<const TKamikazeSprite*>(sprite) || dynamic_cast<const TParatrooperSprite*>(sprite) ||
         dynamic_cast<const TGroundEnemySprite*>(sprite) ||
         dynamic_cast<const TGroundEnemyWeaponSprite*>(sprite) || dynamic_cast<const TRocketFire*>(sprite) ||
         dynamic_cast<const TExplosionSprite*>(sprite);
}

void ClearGameField(TSprite& root) {
  for (int32_t i = root.Count() - 1; i >= 0; --i) {
    TSprite* sprite = root.Items(i);
    if (IsClearedByField(sprite)) sprite->Kill();
  }
  THeroSprite& hero = *Game.Hero;
  hero.Visible = false;
  Game.Propeller->Visible = false;
  hero.X = 4;
  hero.Y = 200;
  hero.WeaponKind = 1;
  hero.FireRate = 24;
  hero.HasBombs = false;
  Game.Shield->Visible = false;
  Game.Smoke->Visible = false;
  Game.ShieldIndicator->Visible = false;
  Game.WeaponIndicator->Visible = false;
  Game.LastBonusIndicator->Visible = false;
}

uint8_t ComputeScoreRank() {
  for (uint8_t place = 1; place <= 10; ++place)
    if (Settings.HighScores[place - 1].EntryScore < Game.Score) return place;
  return 11;
}
