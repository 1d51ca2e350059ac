// The cost of the audio thread: the effects mixer with 16 voices, and libopenmpt rendering the game song.
// Each iteration makes one second of 44.1 kHz stereo output, so the time per iteration divided by one
// second is the share of one core the audio takes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/sound.h"
#include "platform/files.h"
#include "platform/module_player.h"

namespace {

constexpr plat::TAudioFormat kOutput{44100, 2};
constexpr int kBlock = 1024;  // frames per device callback

void Mixer(benchmark::State& state) {
  const int voices = static_cast<int>(state.range(0));
  TMixer mixer(kOutput);
  std::vector<std::shared_ptr<TVoice>> playing;
  for (int v = 0; v < voices; ++v) {
    // Recorded sounds at 22050 Hz mono, converted at bind time as the game does.
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 22050; ++i) {
      auto s = static_cast<int16_t>(8000 * std::sin(i * 0.01 * (v + 1)));
      pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF));
      pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    auto data = ConvertPcm(TPcmFormat{1, 1, 22050, 16}, pcm.data(), pcm.size(), kOutput);
    playing.push_back(mixer.CreateVoice(data));
    mixer.Play(playing.back(), true);
  }
  std::vector<int16_t> out(kBlock * 2);
  for (auto _ : state) {
    for (int done = 0; done < kOutput.Rate; done += kBlock) mixer.Render(out.data(), kBlock);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["output_s_per_cpu_s"] =
      benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(Mixer)->Arg(16)->Unit(benchmark::kMillisecond);

void MusicRender(benchmark::State& state) {
  std::string path = std::string(PELLORIN_RUN_DIR) + "/sound/2.xm";
  std::vector<uint8_t> bytes;
  std::string error;
  if (!plat::ReadFileBytes(path, bytes, error)) {
    state.SkipWithError(("cannot read " + path + ": " + error).c_str());
    return;
  }
  auto song = plat::LoadModule(bytes);
  if (!song) {
    state.SkipWithError(("cannot parse " + path).c_str());
    return;
  }
  std::vector<int16_t> out(kBlock * 2);
  for (auto _ : state) {
    for (int done = 0; done < kOutput.Rate; done += kBlock) song->Render(out.data(), kBlock, 2, kOutput.Rate);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["output_s_per_cpu_s"] =
      benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(MusicRender)->Unit(benchmark::kMillisecond);

}  // namespace
