// pellorin-archive: lists, extracts and packs image (.dxg) and wave (.dxw) archives for the data build
// and for players who change the game's pictures and sounds. The commands run in-process (main.cpp and
// the tests call RunArchiveTool); every failure is one line "FILE: message" on err and status 1.
//   pellorin-archive list FILE [--json]
//   pellorin-archive extract FILE DIR      pictures as DIR/NNN-name.png, sounds as DIR/NNN-name.wav
//   pellorin-archive pack MANIFEST OUT     OUT's extension, .dxg or .dxw, says which archive
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/archive/archive_writer.h"

// A failure of the tool itself: a bad manifest line, a source file it cannot read, a file it cannot write.
class EArchiveToolError : public std::runtime_error {
 public:
  EArchiveToolError(const std::string& file, const char* format, ...) __attribute__((format(printf, 3, 4)));
  std::string File;
};

// One manifest line. Pictures: NAME SOURCE.png PATTERN_WIDTH PATTERN_HEIGHT SKIP_WIDTH SKIP_HEIGHT
// SYSTEM_MEMORY(0|1) TRANSPARENT(0|1) TRANSPARENT_COLOR (decimal, 0x hex, or a colour identifier).
// Sounds: NAME SOURCE.wav LOOPED(0|1) MAX_PLAYING_COUNT. Source is made relative to the manifest's folder.
struct TManifestEntry {
  std::string Name;
  std::string Source;
  int Line = 0;
  TPackedPicture Picture;  // the picture's settings (its bitmap is read later)
  TPackedSound Sound;      // the sound's settings (its wave is read later)
};

// Parses manifest text; '#' starts a comment, blank lines are skipped. Errors name manifestPath and line.
std::vector<TManifestEntry> ParseManifest(const std::string& text, const std::string& manifestPath,
                                          bool pictures);

int RunArchiveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
