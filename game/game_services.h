// The few things every sprite of the game reaches for: the game's pictures by name and the sound
// effects. They go through the host the game field was built by.
#pragma once

#include <string>

class TGameHost;
class TPictureCollectionItem;
class TPictureCollection;
class TImageSprite;

// The host of the running game; set by CreateGameField, cleared by the hand-back to the menu.
void SetGameHost(TGameHost* host);
TGameHost& GameHost();

// The picture of the game archive with that name; "Image '...' not found" when there is none.
TPictureCollectionItem* GamePicture(const std::string& name);
TPictureCollection& GamePictures();
// Gives the sprite the size of its picture.
void SizeToPicture(TImageSprite& sprite);
// Plays the effect when sounds are on.
void PlayGameSound(const char* name);
