#include "settings/settings.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "platform/files.h"

TSettings Settings;
THighScoreEntry NewEntry;

namespace {

// The mode given for this run, and while it is in effect the mode config.dat holds (saves write that).
int WindowModeForRun = -1;
bool RunModeInEffect = false;
uint8_t StoredWindowMode = 1;

constexpr size_t kHighScoresOffset = 18;
constexpr size_t kEntrySize = 14;

void PutString(uint8_t* at, const TShortString11& text) {
  at[0] = text.Length;
  for (size_t i = 0; i < 11; ++i) at[1 + i] = static_cast<uint8_t>(text.Chars[i]);
}

TShortString11 GetString(const uint8_t* at) {
  TShortString11 text;
  text.Length = at[0];
  for (size_t i = 0; i < 11; ++i) text.Chars[i] = static_cast<char>(at[1 + i]);
  return text;
}

void InvertChars(TShortString11& text) {
  for (size_t i = 0; i < 10; ++i) text.Chars[i] = static_cast<char>(~static_cast<uint8_t>(text.Chars[i]));
}

void WriteDefaults() {
  ResetHighScores();
  Settings.WindowMode = 1;
  Settings.MusicOn = 1;
  Settings.SoundOn = 1;
  Settings.BossKey = 123;
  Settings.Country.Length = 0;
  ScrambleSettings();
  try {
    SaveSettings();
  } catch (...) {
    ScrambleSettings();
    throw;
  }
}

}  // namespace

std::string TShortString11::Text() const {
  return std::string(Chars.data(), std::min<size_t>(Length, Chars.size()));
}

void TShortString11::Assign(const std::string& text) {
  size_t n = std::min<size_t>(text.size(), Chars.size());
  Length = static_cast<uint8_t>(n);
  std::copy_n(text.begin(), n, Chars.begin());
}

std::array<uint8_t, kSettingsSize> EncodeSettings(const TSettings& settings) {
  std::array<uint8_t, kSettingsSize> bytes{};
  bytes[0] = settings.WindowMode;
  bytes[1] = settings.MusicOn;
  bytes[2] = settings.SoundOn;
  bytes[3] = settings.Alignment;
  bytes[4] = static_cast<uint8_t>(settings.BossKey & 0xFF);
  bytes[5] = static_cast<uint8_t>(settings.BossKey >> 8);
  PutString(&bytes[6], settings.Country);
  for (size_t k = 0; k < 10; ++k) {
    uint8_t* entry = &bytes[kHighScoresOffset + k * kEntrySize];
    PutString(entry, settings.HighScores[k].EntryName);
    entry[12] = static_cast<uint8_t>(settings.HighScores[k].EntryScore & 0xFF);
    entry[13] = static_cast<uint8_t>(settings.HighScores[k].EntryScore >> 8);
  }
  return bytes;
}

TSettings DecodeSettings(const uint8_t* bytes) {
  TSettings settings;
  settings.WindowMode = bytes[0];
  settings.MusicOn = bytes[1];
  settings.SoundOn = bytes[2];
  settings.Alignment = bytes[3];
  settings.BossKey = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
  settings.Country = GetString(&bytes[6]);
  for (size_t k = 0; k < 10; ++k) {
    const uint8_t* entry = &bytes[kHighScoresOffset + k * kEntrySize];
    settings.HighScores[k].EntryName = GetString(entry);
    settings.HighScores[k].EntryScore = static_cast<uint16_t>(entry[12] | entry[13] << 8);
  }
  return settings;
}

void ScrambleSettings() {
  Settings.WindowMode ^= 1;
  Settings.MusicOn ^= 1;
  Settings.SoundOn ^= 1;
  InvertChars(Settings.Country);
  for (THighScoreEntry& entry : Settings.HighScores) {
    entry.EntryScore = static_cast<uint16_t>(~entry.EntryScore);
    InvertChars(entry.EntryName);
  }
}

bool ReadSettings() {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!plat::ReadFileBytes(plat::UserFilePath(kSettingsFile), bytes, error) || bytes.size() < kSettingsSize)
    return false;
  Settings = DecodeSettings(bytes.data());
  ScrambleSettings();
  return true;
}

void LoadSettings() {
  if (!ReadSettings()) {
    WriteDefaults();
    ScrambleSettings();
  }
  if (WindowModeForRun >= 0) {
    StoredWindowMode = Settings.WindowMode;
    Settings.WindowMode = static_cast<uint8_t>(WindowModeForRun);
    RunModeInEffect = true;
  }
}

void SaveSettings() {
  auto bytes = EncodeSettings(Settings);
  // The record is in stored form here: the mode is inverted.
  const bool keepStoredMode = RunModeInEffect && (Settings.WindowMode ^ 1) == WindowModeForRun;
  if (keepStoredMode) bytes[0] = static_cast<uint8_t>(StoredWindowMode ^ 1);
  std::string error;
  // The player's folder is made on the first save.
  if (!plat::MakeFolders(plat::GameFolders().User, error) ||
      !plat::WriteFileAtomically(plat::UserFilePath(kSettingsFile), bytes.data(), bytes.size(), error))
    throw EInOutError(error);
  // The player chose a mode: from now on it is saved like any other setting.
  if (!keepStoredMode) RunModeInEffect = false;
}

void SaveSettingsScrambled() {
  ScrambleSettings();
  try {
    SaveSettings();
  } catch (...) {
    ScrambleSettings();
    throw;
  }
  ScrambleSettings();
}

void ResetHighScores() {
  for (size_t k = 0; k < 10; ++k) {
    TShortString11& name = Settings.HighScores[k].EntryName;
    name.Length = 9;
    std::copy_n("Anonymous", 9, name.Chars.begin());
    Settings.HighScores[k].EntryScore = static_cast<uint16_t>(1000 - 100 * k);
  }
}

void InsertNewEntry() {
  std::array<THighScoreEntry, 11> places;
  std::copy(Settings.HighScores.begin(), Settings.HighScores.end(), places.begin());
  places[10] = NewEntry;
  for (size_t place = 10; place > 0 && places[place].EntryScore > places[place - 1].EntryScore; --place)
    std::swap(places[place], places[place - 1]);
  std::copy_n(places.begin(), 10, Settings.HighScores.begin());
}

void ResetSettingsState() {
  Settings = TSettings{};
  NewEntry = THighScoreEntry{};
  WindowModeForRun = -1;
  RunModeInEffect = false;
}

void SetWindowModeForRun(int windowMode) { WindowModeForRun = windowMode; }
