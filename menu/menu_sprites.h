// The menu field: background, the six main-menu entry marks, the panel behind the sub-screens, the
// question window and the help page. The sprites belong to the sprite tree; the globals below are plain
// pointers to the live ones, cleared (or replaced) whenever their sprite is freed. Built by
// CreateMenuField at start-up and on every return from a game; torn down by clearing the tree.
#pragma once

#include <array>

#include "engine/sprite.h"
#include "menu/menu_state.h"

class TMenuHost;
class TPictureCollection;

class TMenuBackground : public TBackgroundSprite {
 public:
  using TBackgroundSprite::TBackgroundSprite;
};

// One main-menu entry, shown only while it is selected.
class TMenuItem : public TImageSprite {
 public:
  using TImageSprite::TImageSprite;
};

class TSubBackground : public TImageSprite {
 public:
  using TImageSprite::TImageSprite;
};

// The dialog frame behind the quit and clear questions and the boss-key prompt; the game field makes
// its own (Game.ClosingWindow).
class TClosingWindow : public TImageSprite {
 public:
  using TImageSprite::TImageSprite;
};

// The picture of the current help page; it places itself on help page 1.
class THelpImageSprite : public TImageSprite {
 public:
  THelpImageSprite(TSprite* parent, TPictureCollection& pictures);
};

extern TMenuBackground* MenuBackground;
extern std::array<TMenuItem*, kMaxItems + 1> MenuItems;  // [1..6]; [0] unused
extern TSubBackground* SubBackground;
extern TClosingWindow* ClosingWindow;
extern THelpImageSprite* HelpImage;

// Loads data\menu.dxg, builds background, question window and main menu, and starts the menu song when
// the phase is gpMenu and music is on. Expects an empty sprite tree.
void CreateMenuField(TMenuHost& host);
// The six entries of msMain, only the selected one visible; their sizes become the msMain hot rectangles.
void CreateMainMenu(TMenuHost& host);
// Frees the entries of the main menu at once.
void DestroyMenu();
void CreateSubMenu(TMenuHost& host);
// After every change of SelectedItem: ends text editing when the selection leaves a text field, and on
// msMain shows the selected entry's mark only.
void UpdateHighlight();
// "Back...": frees the sub-screen panel and rebuilds the main menu on the entry that opened it.
void ReturnToMainMenu(TMenuHost& host);
// Shows or hides the question window when there is one.
void ShowClosingWindow(bool visible);
// Forgets the sprite pointers (the tree was cleared) (tests and the return from a game).
void ForgetMenuSprites();
