// Files as the game names them, and safe replacement of a file's contents.
// The game writes Windows-style relative names ("data\menu.dxg", "Sound\1.xm"); ResolvePath turns them
// into a path of this system, matching each name without regard to case as the original desktop does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// "\" and "/" both separate names. Each name is matched case-insensitively against the directory's
// entries (an exact match wins); a name with no match is kept as written, so a file that does not exist
// resolves to a path that fails to open.
std::string ResolvePath(const std::string& gamePath);

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
