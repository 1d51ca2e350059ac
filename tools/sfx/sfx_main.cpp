// pellorin-sfx: turns sound recipes into 16-bit PCM WAV files.
//   pellorin-sfx RECIPE.txt... -o OUTDIR     writes OUTDIR/NAME.wav for each RECIPE NAME.txt
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/sfx/synth.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<std::string> inputs;
  std::string outDir;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc) {
      outDir = argv[++i];
    } else {
      inputs.push_back(arg);
    }
  }
  if (inputs.empty() || outDir.empty()) {
    std::fprintf(stderr, "usage: pellorin-sfx RECIPE.txt... -o OUTDIR\n");
    return 2;
  }
  std::error_code ec;
  fs::create_directories(outDir, ec);
  for (const std::string& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "pellorin-sfx: cannot open %s\n", input.c_str());
      return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    synth::TRecipe recipe;
    std::string error;
    if (!synth::ParseRecipe(text.str(), recipe, error)) {
      std::fprintf(stderr, "pellorin-sfx: %s: %s\n", input.c_str(), error.c_str());
      return 1;
    }
    std::vector<float> samples = synth::Render(recipe.Layers, recipe.Rate);
    synth::Level(samples, recipe.Rate, recipe.GainDb);
    std::vector<uint8_t> wav = synth::WaveFile(synth::ToPcm16(samples), recipe.Rate);
    fs::path out = fs::path(outDir) / (fs::path(input).stem().string() + ".wav");
    std::ofstream file(out, std::ios::binary);
    file.write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
    if (!file) {
      std::fprintf(stderr, "pellorin-sfx: cannot write %s\n", out.string().c_str());
      return 1;
    }
  }
  return 0;
}
