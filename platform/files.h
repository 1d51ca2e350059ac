// Files as the game names them, the folders they live in, and safe replacement of a file's contents.
// The game writes Windows-style relative names ("data\menu.dxg", "Sound\1.xm"); ResolvePath turns them
// into a path of this system under the data folder, matching each name without regard to case as the
// original desktop does. The working directory plays no part once the program has set its folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// The two folders a program's files live in. Both empty: the working directory, for both.
struct TGameFolders {
  std::string Data;  // the files that come with the program; only read
  std::string User;  // the files the program writes (and the player's own files beside them)
};

// How a program is laid out when installed, for FindGameFolders.
struct TInstallLayout {
  std::string Name;                      // the player's folder is $XDG_DATA_HOME/Name
  std::vector<std::string> DataMarkers;  // folders that every data folder holds (matched without case)
  std::string DataFromProgram;           // the installed data folder relative to the program's folder
  std::string InstalledData;             // the same as an absolute path, as configured at build time
};

// Where the files of the program in programDir are. Data: programDir when it holds the markers (a build
// tree or an unpacked copy), else the installed data folder found from programDir, else the configured
// one; when none holds the markers, programDir (so that a missing file is reported by name). User: the
// data folder itself when it is programDir and writable, else $XDG_DATA_HOME/Name (an absolute
// XDG_DATA_HOME; ~/.local/share otherwise), which need not exist yet. A folder whose permission bits
// grant no write is read only here even for root, who could write it.
TGameFolders FindGameFolders(const std::string& programDir, const TInstallLayout& layout);
// The folder of the running program's executable (symbolic links followed); empty when unknown.
std::string ProgramDir();

void SetGameFolders(const TGameFolders& folders);
const TGameFolders& GameFolders();

// "\" and "/" both separate names. A relative name is taken under the data folder. Each name is matched
// case-insensitively against the directory's entries (an exact match wins); a name with no match is
// kept as written, so a file that does not exist resolves to a path that fails to open.
std::string ResolvePath(const std::string& gamePath);
// The same under the user's folder: config.dat, play.url, server.url and what the program records.
std::string UserFilePath(const std::string& gamePath);

// Makes the folder and any missing folder above it; new folders are private to the user (0700), as the
// XDG base directory rules ask. Returns false and sets error to the system's text when it cannot.
bool MakeFolders(const std::string& path, std::string& error);

// Reads the whole file. Returns false and sets error to the system's text when it cannot.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& data, std::string& error);

// Replaces the file's contents all at once: writes a temporary file in the same directory, flushes it
// to disk and renames it over path. On failure the old file is untouched, the temporary file is
// removed, and error holds the system's text (for example "No space left on device"). A file the user
// may not write is refused ("Permission denied") as an in-place rewrite would be; its permissions are kept.
bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string& error);

bool FileExists(const std::string& path);

// Absolute form of a path, for handing files to other programs.
std::string AbsolutePath(const std::string& path);

}  // namespace plat
