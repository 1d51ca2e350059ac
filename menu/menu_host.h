// What the menu needs from the main window that owns it: the sprite root and picture list it builds on,
// the sound effects, music start, the pointer, the display mode, the close request, the web pages, the start
// of a game and the way back from one. The main window implements it; tests may stand in for it.
#pragma once

class TSpriteEngine;
class TDXImageList;

class TMenuHost {
 public:
  virtual ~TMenuHost() = default;

  virtual TSpriteEngine& SpriteRoot() = 0;
  virtual TDXImageList& ImageList() = 0;
  // Plays a sound effect by name, not waiting for it; the caller checks SoundOn.
  virtual void PlaySound(const char* name) = 0;
  // Loads a song and plays it as the current one; a song that cannot be loaded is reported and turns
  // the music off in memory.
  virtual void StartMusic(const char* path) = 0;
  // Re-creates the display in the mode WindowMode asks for.
  virtual void ChangeMode() = 0;
  // The window's close operation: goes through the close handler, which may ask the quit question.
  virtual void RequestClose() = 0;
  // Forces the mouse pointer shown or hidden.
  virtual void SetCursorVisible(bool visible) = 0;
  virtual void OpenHomePage() = 0;
  virtual void OpenWorldHighScorePage() = 0;
  // Whether the menu is what runs (the game phase is gpMenu), rather than a game under its questions.
  virtual bool MenuPhase() const = 0;
  // "Start game": the menu timer off, the game timer on, and the game field built.
  virtual void StartGame() = 0;
  // The quit question was answered "No": a game under it goes on where it was.
  virtual void QuitQueryDeclined() = 0;
  // "OK" on the name entry: the entry takes the game's score, enters the local table, the table is saved
  // and the game goes on to the send question.
  virtual void NameEntryConfirmed() = 0;
  // "Yes" on the send question: the result goes to the world high-score server.
  virtual void SubmitScore() = 0;
  // From a game's end screens back to a fresh menu field: phase gpMenu, sprites cleared, the game timer
  // off, the menu field built, the menu timer on.
  virtual void BackToMenu() = 0;
};
