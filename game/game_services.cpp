#include "game/game_services.h"

#include <cassert>

#include "engine/image_archive.h"
#include "engine/sprite.h"
#include "game/game_host.h"
#include "settings/settings.h"

namespace {
TGameHost* Host = nullptr;
}

void SetGameHost(TGameHost* host) { Host = host; }

TGameHost& GameHost() {
  assert(Host && "GameHost: no game field was built");
  return *Host;
}

TPictureCollection& GamePictures() { return GameHost().ImageList().Items; }

TPictureCollectionItem* GamePicture(const std::string& name) { return GamePictures().FindPicture(name); }

void SizeToPicture(TImageSprite& sprite) {
  sprite.Width = sprite.Image->EffectiveWidth();
  sprite.Height = sprite.Image->EffectiveHeight();
}

void PlayGameSound(const char* name) {
  if (Settings.SoundOn) GameHost().PlaySound(name);
}
