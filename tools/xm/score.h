// The text score of a song and its parse into tracker patterns.
//
//   title Menu theme                      module name (20 characters kept)
//   speed 6   bpm 100   rows 64           ticks per row, tempo, rows per pattern
//   channels bass drums lead harm         channel names, in the module's channel order
//   instrument NAME key=value...          a synthesised instrument; its sample is the "layer" lines
//     layer WAVE key=value...             that follow (the sound synthesiser's layer syntax). Keys:
//                                         len=S sample length, base=HZ pitch the layers play (C-4 then
//                                         sounds at C-4; default 262.5), loop=1 sustain by looping the
//                                         last cycles, volume=0..64, release=TICKS fade after key-off,
//                                         pan=0..255
//   phrase NAME INSTRUMENT : tokens       melodic line; tokens NOTE[+A[+B]][vVOL][/ROWS]:
//                                         NOTE c4, f#3, bb2 (sharps #, flats b); +A+B an arpeggio
//                                         (chord) held over the note's rows; r key-off; . nothing.
//                                         /ROWS the length in rows (default 1)
//   drumkit k=kick s=snare h=hat          letters for drum lines
//   drums NAME : k.h.s.h.                 one letter (or .) per row
//   pattern NAME : CHANNEL=PHRASE[^SEMITONES] ...   a phrase repeats to fill the pattern
//   order NAME NAME ...                   the play order (may span several lines)
//   restart N                             order position the song repeats from
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/sfx/synth.h"

namespace score {

struct TCell {
  uint8_t Note = 0;        // 1..96 (C-0 is 1, C-4 is 49), 97 key-off, 0 none
  uint8_t Instrument = 0;  // 1-based, 0 none
  uint8_t Volume = 0;      // volume column byte (0x10 + 0..64), 0 none
  uint8_t Effect = 0, Param = 0;
};

struct TInstrument {
  std::string Name;
  std::vector<synth::TLayer> Layers;
  double Length = 0.5;  // seconds
  double Base = 262.5;  // Hz the layers' pitch stands for (C-4)
  bool Loop = false;
  int Volume = 64;
  int Release = 0;  // ticks from key-off to silence (0: no envelope)
  int Pan = 128;
};

struct TPattern {
  std::string Name;
  std::vector<TCell> Cells;  // Rows * channel count, row by row
};

struct TSong {
  std::string Title;
  int Speed = 6, Bpm = 125, Rows = 64;
  int Restart = 0;
  std::vector<std::string> Channels;
  std::vector<TInstrument> Instruments;
  std::vector<TPattern> Patterns;
  std::vector<int> Order;  // indexes into Patterns
};

bool ParseScore(const std::string& text, TSong& song, std::string& error);
// Seconds from the start until the song repeats.
double SongSeconds(const TSong& song);

}  // namespace score
