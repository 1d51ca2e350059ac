// pellorin-xm: turns a text score into an XM module.
//   pellorin-xm SCORE OUT.xm
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/xm/score.h"
#include "tools/xm/xm_writer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pellorin-xm SCORE OUT.xm\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pellorin-xm: cannot open %s\n", argv[1]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  score::TSong song;
  std::string error;
  if (!score::ParseScore(text.str(), song, error)) {
    std::fprintf(stderr, "pellorin-xm: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  if (song.Order.size() > 256 || song.Patterns.size() > 256 || song.Instruments.size() > 128 ||
      song.Channels.size() > 32 || song.Rows < 1 || song.Rows > 256) {
    std::fprintf(stderr, "pellorin-xm: %s: too many orders, patterns, instruments, channels or rows\n",
                 argv[1]);
    return 1;
  }
  std::vector<uint8_t> bytes = xm::WriteModule(song);
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "pellorin-xm: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%s: %zu patterns, %zu channels, %.1f s before it repeats\n", argv[2], song.Patterns.size(),
              song.Channels.size(), score::SongSeconds(song));
  return 0;
}
