// What the game needs from the main window that owns it: the sprite root and picture list it builds on,
// the sound effects, music, the pointer, the close request and the way back to the menu. The main window
// implements it; tests may stand in for it.
#pragma once

class TSpriteEngine;
class TDXImageList;
class TDirectDrawSurfaceCanvas;

class TGameHost {
 public:
  virtual ~TGameHost() = default;

  virtual TSpriteEngine& SpriteRoot() = 0;
  virtual TDXImageList& ImageList() = 0;
  // Plays a sound effect by name, not waiting for it; the caller checks SoundOn.
  virtual void PlaySound(const char* name) = 0;
  // Loads a song and plays it as the current one; a song that cannot be loaded is reported and turns
  // the music off in memory.
  virtual void StartMusic(const char* path) = 0;
  // Forces the mouse pointer shown or hidden.
  virtual void SetCursorVisible(bool visible) = 0;
  // The window's close operation: goes through the close handler, which asks the exit question.
  virtual void RequestClose() = 0;
  // From the game back to a fresh menu field: phase gpMenu, sprites cleared, the game timer off, the
  // menu field built, the menu timer on.
  virtual void BackToMenu() = 0;
  // The screens with items that the game shows over its field (the exit question, the name entry and the
  // send question) belong to the menu's item logic: the game opens the name entry and has the current
  // one painted at its place in the tick.
  virtual void OpenNameEntry() = 0;
  virtual void PaintItemScreen(TDirectDrawSurfaceCanvas& canvas) = 0;
  // Called at the end of every tick of gpSending: takes the outcome of the submission once it is known.
  virtual void PollSubmission() = 0;
};
