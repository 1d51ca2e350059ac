// The settings record: display mode, music and sound, the boss key, the player's country and the
// local table of the ten best scores, kept in memory for the whole run and stored whole in config.dat.
// On disk names, scores and the three switches are scrambled (bit inversion); in memory the record is
// plain except between the two ScrambleSettings calls that bracket SaveSettings.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

// A length-prefixed 8-bit string of capacity 11 held in 12 bytes. Bytes past the length are carried
// along unchanged.
struct TShortString11 {
  uint8_t Length = 0;
  std::array<char, 11> Chars{};

  std::string Text() const;
  void Assign(const std::string& text);  // at most 11 characters; the bytes past them keep their values
};

struct THighScoreEntry {
  TShortString11 EntryName;
  uint16_t EntryScore = 0;
};

struct TSettings {
  uint8_t WindowMode = 1;  // 1 window, 0 full screen
  uint8_t MusicOn = 1;
  uint8_t SoundOn = 1;
  uint8_t Alignment = 0;   // no meaning; written back as held
  uint16_t BossKey = 123;  // virtual-key code; 123 is F12
  TShortString11 Country;
  std::array<THighScoreEntry, 10> HighScores{};  // place 1 first
};

constexpr size_t kSettingsSize = 158;
constexpr const char* kSettingsFile = "config.dat";

// Raised when config.dat cannot be created or written; the text is the system's for the failure.
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

extern TSettings Settings;
extern THighScoreEntry NewEntry;  // the entry being filled at the end of a game; its name lasts the run

// Byte images of the record, field by field, little-endian.
std::array<uint8_t, kSettingsSize> EncodeSettings(const TSettings& settings);
TSettings DecodeSettings(const uint8_t* bytes);

void ScrambleSettings();
// Reads config.dat into the record, in plain form; false, the record as it was, when it cannot be read.
// Writes nothing.
bool ReadSettings();
// Reads config.dat, or writes the defaults when it cannot be read; the record ends in plain form.
void LoadSettings();
// Writes the record as it is in memory; callers bracket it with ScrambleSettings.
void SaveSettings();
// ScrambleSettings, SaveSettings, ScrambleSettings: what every change of the settings does. If the save
// fails the record is still plain when the error leaves.
void SaveSettingsScrambled();
void ResetHighScores();
void InsertNewEntry();
void ResetSettingsState();  // tests: defaults in memory, NewEntry empty, no mode for the run

// A display mode for this run only (1 window, 0 full screen; -1 none), set before LoadSettings, which puts
// it in the record. Saves keep writing the mode config.dat held until the player changes the mode.
void SetWindowModeForRun(int windowMode);
