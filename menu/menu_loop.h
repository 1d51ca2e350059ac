// The menu loop and the item logic of every menu screen: one frame of the menu timer, the text each
// screen paints over the menu sprites, moving the selection, mouse hover and click, and ActivateItem,
// which performs the selected item. The item screens of a game (the exit question, msNameEntry,
// msSendQuery) are painted here when the game loop asks, and their items are performed here too. Called
// by the main window's handlers.
#pragma once

#include <cstdint>

class TMenuHost;
class TDXDraw;
class TDXSpriteEngine;
class TDXInput;
class TDirectDrawSurfaceCanvas;

// One menu frame: input states, sprites ticked and reaped, back buffer cleared and painted, the text
// of the current screen, presented. Nothing happens while the display cannot draw.
void MenuFrame(TDXDraw& display, TDXSpriteEngine& sprites, TDXInput& input, int lagCount);
// The text, lines and frames of MenuScreen (msMain, msNameEntry and msSendQuery have none here).
void PaintMenuScreen(TDirectDrawSurfaceCanvas& canvas);

// The item screens a game shows over its field: the exit question, the name entry (score given) and the
// send question, by MenuScreen.
void PaintGameItemScreen(TDirectDrawSurfaceCanvas& canvas, uint16_t score);
// The name entry at the end of a game: the name field selected and being edited.
void OpenNameEntryScreen();

// Move the selection with wrap-around, play "menu" and update the highlight.
void SelectPrevious(TMenuHost& host);
void SelectNext(TMenuHost& host);
// The pointer moved to display point (x, y): selects the item under it.
void MenuHover(TMenuHost& host, int x, int y);
// A click performs the item under the pointer, if the last movement ended on one.
void MenuClick(TMenuHost& host);
void ActivateItem(TMenuHost& host);
