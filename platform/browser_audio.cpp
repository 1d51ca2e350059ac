#include "platform/browser_audio.h"

#include <algorithm>
#include <string>
#include <vector>

// The page's side, in browser_audio.js.
extern "C" {
int pellorin_audio_open();
int pellorin_audio_wanted();
void pellorin_audio_play(const int16_t* samples, int frames);
}

namespace plat {
namespace {

class TBrowserAudio;
TBrowserAudio* Pumped = nullptr;  // the output last opened; the one the frame loop feeds

class TBrowserAudio : public TAudioOutput {
 public:
  TBrowserAudio() {
    const int rate = pellorin_audio_open();
    if (rate > 0) {
      Fmt.Rate = rate;
    } else {
      Why = rate == 0 ? "this browser has no Web Audio"
                      : "this browser gives the page no audio worklet (it is not served over https)";
    }
    Fmt.Channels = 2;
    Pumped = this;
  }
  ~TBrowserAudio() override {
    if (Pumped == this) Pumped = nullptr;
  }
  TBrowserAudio(const TBrowserAudio&) = delete;
  TBrowserAudio& operator=(const TBrowserAudio&) = delete;

  bool Running() const override { return Why.empty(); }
  std::string Problem() const override { return Why; }
  TAudioFormat Format() const override { return Fmt; }
  // The source is pulled only by Pump, on the same thread as the caller: once this returns, the old
  // one is no longer in use.
  void SetSource(TAudioSource* source) override { Source = source; }

  void Pump() {
    if (!Running()) return;
    const int frames = pellorin_audio_wanted();
    if (frames <= 0) return;
    Samples.resize(static_cast<size_t>(frames) * 2);
    if (Source != nullptr) {
      Source->Render(Samples.data(), frames);
    } else {
      std::fill(Samples.begin(), Samples.end(), int16_t{0});
    }
    pellorin_audio_play(Samples.data(), frames);
  }

 private:
  std::string Why;  // empty while the page has Web Audio
  TAudioFormat Fmt;
  TAudioSource* Source = nullptr;
  std::vector<int16_t> Samples;  // one pump's frames, interleaved stereo
};

}  // namespace

std::unique_ptr<TAudioOutput> OpenBrowserAudio() { return std::make_unique<TBrowserAudio>(); }

void PumpBrowserAudio() {
  if (Pumped != nullptr) Pumped->Pump();
}

}  // namespace plat
