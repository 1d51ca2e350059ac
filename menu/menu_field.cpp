#include <cassert>

#include "engine/image_archive.h"
#include "menu/menu_host.h"
#include "menu/menu_sprites.h"
#include "music/music.h"
#include "settings/settings.h"

TMenuBackground* MenuBackground = nullptr;
std::array<TMenuItem*, kMaxItems + 1> MenuItems{};
TSubBackground* SubBackground = nullptr;
TClosingWindow* ClosingWindow = nullptr;
THelpImageSprite* HelpImage = nullptr;

namespace {

// Picture, position, Z and the picture's size; menu sprites never compare pixels.
void Place(TImageSprite& sprite, TPictureCollectionItem* picture, int32_t x, int32_t y, int32_t z) {
  sprite.PixelCheck = false;
  sprite.Image = picture;
  sprite.X = x;
  sprite.Y = y;
  sprite.SetZ(z);
  sprite.Width = picture->EffectiveWidth();
  sprite.Height = picture->EffectiveHeight();
}

}  // namespace

THelpImageSprite::THelpImageSprite(TSprite* parent, TPictureCollection& pictures) : TImageSprite(parent) {
  Place(*this, pictures.PictureAt(9), 140, 200, 2);
  Visible = true;
}

void ForgetMenuSprites() {
  MenuBackground = nullptr;
  MenuItems.fill(nullptr);
  SubBackground = nullptr;
  ClosingWindow = nullptr;
  HelpImage = nullptr;
}

void CreateMenuField(TMenuHost& host) {
  ForgetMenuSprites();
  host.ImageList().LoadArchive("data\\menu.dxg");
  TPictureCollection& pictures = host.ImageList().Items;

  MenuBackground = new TMenuBackground(&host.SpriteRoot());
  MenuBackground->SetMapSize(1, 1);
  MenuBackground->Image = pictures.PictureAt(0);
  MenuBackground->Visible = true;
  MenuBackground->Width = MenuBackground->Image->EffectiveWidth();
  MenuBackground->Height = MenuBackground->Image->EffectiveHeight();
  MenuBackground->SetZ(0);

  ClosingWindow = new TClosingWindow(&host.SpriteRoot());
  Place(*ClosingWindow, pictures.PictureAt(8), 185, 120, 3);
  ClosingWindow->Visible = false;

  MenuScreen = msMain;
  SelectedItem = 1;
  CreateMainMenu(host);

  if (host.MenuPhase() && Settings.MusicOn) host.StartMusic(kMenuSong);
}

void CreateMainMenu(TMenuHost& host) {
  assert(MenuScreen == msMain && "CreateMainMenu");
  TPictureCollection& pictures = host.ImageList().Items;
  for (size_t i = 1; i <= kMaxItems; ++i) {
    TMenuItem* item = new TMenuItem(&host.SpriteRoot());
    MenuItems[i] = item;
    Place(*item, pictures.PictureAt(static_cast<int>(i)), ItemLeft[msMain - 1][i - 1],
          ItemTop[msMain - 1][i - 1], 1);
    item->Visible = i == SelectedItem;
    ItemWidth[msMain - 1][i - 1] = static_cast<uint16_t>(item->Width);
    ItemHeight[msMain - 1][i - 1] = static_cast<uint16_t>(item->Height);
  }
}

void DestroyMenu() {
  int count = ItemsOf(MenuScreen);
  for (size_t i = 1; i <= static_cast<size_t>(count); ++i) {
    delete MenuItems[i];
    MenuItems[i] = nullptr;
  }
}

void CreateSubMenu(TMenuHost& host) {
  SubBackground = new TSubBackground(&host.SpriteRoot());
  Place(*SubBackground, host.ImageList().Items.PictureAt(7), 118, 123, 1);
  SubBackground->Visible = true;
}

void UpdateHighlight() {
  if ((MenuScreen == msOptions && SelectedItem != 4) || (MenuScreen == msNameEntry && SelectedItem > 2)) {
    TextEntryActive = false;
    return;
  }
  if (MenuScreen != msMain) return;
  for (size_t i = 1; i <= static_cast<size_t>(ItemsOf(msMain)); ++i)
    if (MenuItems[i]) MenuItems[i]->Visible = i == SelectedItem;
}

void ReturnToMainMenu(TMenuHost& host) {
  delete SubBackground;
  SubBackground = nullptr;
  MenuScreen = msMain;
  SelectedItem = LastMainItem;
  CreateMainMenu(host);
}

void ShowClosingWindow(bool visible) {
  if (ClosingWindow) ClosingWindow->Visible = visible;
}
