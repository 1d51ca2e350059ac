#include "engine/sound.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>

namespace {

// One recorded sample of channel c in frame f, as a signed 16-bit value.
int32_t ReadSample(const TPcmFormat& format, const uint8_t* data, size_t frame, int channel) {
  size_t index = frame * format.Channels + static_cast<size_t>(channel);
  if (format.BitsPerSample == 8) return (static_cast<int32_t>(data[index]) - 128) * 256;
  const uint8_t* p = data + index * 2;
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

int16_t Saturate(int32_t v) {
  return static_cast<int16_t>(
      std::clamp<int32_t>(v, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

constexpr int kMaxChunk = 4096;  // frames mixed per pass

}  // namespace

bool PcmFormatFromFmtChunk(const uint8_t* block, size_t size, TPcmFormat& format) {
  if (block == nullptr || size < 16) return false;
  auto u16 = [&](size_t at) { return static_cast<uint16_t>(block[at] | (block[at + 1] << 8)); };
  format.FormatTag = u16(0);
  format.Channels = u16(2);
  format.SamplesPerSec = static_cast<uint32_t>(u16(4)) | (static_cast<uint32_t>(u16(6)) << 16);
  format.BitsPerSample = u16(14);
  return true;
}

std::shared_ptr<const TSampleData> ConvertPcm(const TPcmFormat& format, const uint8_t* data, size_t size,
                                              plat::TAudioFormat output) {
  if (format.FormatTag != 1 || (format.BitsPerSample != 8 && format.BitsPerSample != 16) ||
      (format.Channels != 1 && format.Channels != 2) || format.SamplesPerSec == 0 || output.Rate <= 0 ||
      (output.Channels != 1 && output.Channels != 2)) {
    return nullptr;
  }
  size_t frameBytes = static_cast<size_t>(format.Channels) * (format.BitsPerSample / 8u);
  size_t inFrames = size / frameBytes;
  if (inFrames == 0) return nullptr;

  auto result = std::make_shared<TSampleData>();
  result->Channels = output.Channels;
  // Output frame i sits at input position i * step.
  double step = static_cast<double>(format.SamplesPerSec) / output.Rate;
  auto outFrames = static_cast<size_t>(static_cast<double>(inFrames) / step);
  if (outFrames == 0) outFrames = 1;
  if (outFrames > static_cast<size_t>(std::numeric_limits<int>::max() / 2)) return nullptr;
  result->Frames = static_cast<int>(outFrames);
  result->Samples.resize(outFrames * static_cast<size_t>(output.Channels));

  for (size_t i = 0; i < outFrames; ++i) {
    double pos = static_cast<double>(i) * step;
    auto i0 = static_cast<size_t>(pos);
    if (i0 >= inFrames) i0 = inFrames - 1;
    size_t i1 = std::min(i0 + 1, inFrames - 1);
    double frac = pos - static_cast<double>(i0);
    int32_t side[2];
    for (int c = 0; c < format.Channels; ++c) {
      double a = ReadSample(format, data, i0, c);
      double b = ReadSample(format, data, i1, c);
      side[c] = static_cast<int32_t>(a + (b - a) * frac);
    }
    if (format.Channels == 1) side[1] = side[0];
    int16_t* out = &result->Samples[i * static_cast<size_t>(output.Channels)];
    if (output.Channels == 1) {
      out[0] = Saturate(format.Channels == 1 ? side[0] : (side[0] + side[1]) / 2);
    } else {
      out[0] = Saturate(side[0]);
      out[1] = Saturate(side[1]);
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------------------
// TMixer

TMixer::TMixer(plat::TAudioFormat format) : Fmt(format) {
  assert(Fmt.Channels == 1 || Fmt.Channels == 2);
  HoldFrames = Fmt.Rate * kLimiterHoldMs / 1000;
  ReleaseStep = static_cast<float>(1.0 - std::exp(-1000.0 / (kLimiterReleaseMs * static_cast<double>(Fmt.Rate))));
  Sum.resize(static_cast<size_t>(kMaxChunk) * 2);
  StreamBuffer.resize(static_cast<size_t>(kMaxChunk) * 2);
  Working.reserve(64);
  Active.reserve(64);
}

std::shared_ptr<TVoice> TMixer::CreateVoice(std::shared_ptr<const TSampleData> samples) {
  assert(samples && samples->Channels == Fmt.Channels && "TMixer::CreateVoice");
  return std::shared_ptr<TVoice>(new TVoice(std::move(samples)));
}

void TMixer::Post(TCommand command) {
  std::vector<std::shared_ptr<TVoice>> deadVoices;
  std::vector<std::shared_ptr<TSoundStream>> deadStreams;
  {
    std::lock_guard<std::mutex> hold(Lock);
    Pending.push_back(std::move(command));
    deadVoices.swap(RetiredVoices);
    deadStreams.swap(RetiredStreams);
  }
  // The retired objects are freed here, outside the lock.
}

void TMixer::Play(const std::shared_ptr<TVoice>& voice, bool loop) {
  TCommand command;
  command.Kind = TCommandKind::Play;
  command.Voice = voice;
  command.Serial = ++voice->Requested;
  command.Loop = loop;
  voice->PlayPosted = true;
  voice->LoopPosted = loop;
  Post(std::move(command));
}

void TMixer::Stop(const std::shared_ptr<TVoice>& voice) {
  if (!voice->PlayPosted) return;
  TCommand command;
  command.Kind = TCommandKind::Stop;
  command.Voice = voice;
  command.Serial = ++voice->Requested;
  voice->PlayPosted = false;
  voice->LoopPosted = false;
  Post(std::move(command));
}

bool TMixer::Playing(const TVoice& voice) const {
  if (!voice.PlayPosted) return false;
  if (voice.LoopPosted) return true;
  return voice.Finished.load(std::memory_order_acquire) != voice.Requested;
}

void TMixer::SetStream(std::shared_ptr<TSoundStream> stream) {
  TCommand command;
  command.Kind = TCommandKind::Stream;
  command.Stream = std::move(stream);
  Post(std::move(command));
}

void TMixer::Apply(TCommand& command) {
  switch (command.Kind) {
    case TCommandKind::Play: {
      TVoice& voice = *command.Voice;
      voice.Position = 0;
      voice.Loop = command.Loop;
      voice.PlayingSerial = command.Serial;
      if (!voice.Active) {
        voice.Active = true;
        Active.push_back(command.Voice);
      }
      break;
    }
    case TCommandKind::Stop: {
      TVoice& voice = *command.Voice;
      if (voice.Active) {
        voice.Active = false;
        auto it = std::find(Active.begin(), Active.end(), command.Voice);
        if (it != Active.end()) {
          Released.push_back(std::move(*it));
          Active.erase(it);
        }
      }
      break;
    }
    case TCommandKind::Stream:
      if (Stream) ReleasedStreams.push_back(std::move(Stream));
      Stream = std::move(command.Stream);
      if (Stream) Stream->Rewind();
      break;
  }
  if (command.Voice) Released.push_back(std::move(command.Voice));
}

void TMixer::Render(int16_t* out, int frames) {
  {
    std::lock_guard<std::mutex> hold(Lock);
    Working.swap(Pending);
    for (auto& v : Released) RetiredVoices.push_back(std::move(v));
    for (auto& s : ReleasedStreams) RetiredStreams.push_back(std::move(s));
  }
  Released.clear();
  ReleasedStreams.clear();
  for (TCommand& command : Working) Apply(command);
  Working.clear();

  const int channels = Fmt.Channels;
  while (frames > 0) {
    int chunk = std::min(frames, kMaxChunk);
    size_t count = static_cast<size_t>(chunk) * static_cast<size_t>(channels);
    std::fill(Sum.begin(), Sum.begin() + static_cast<std::ptrdiff_t>(count), 0);

    for (size_t v = 0; v < Active.size();) {
      TVoice& voice = *Active[v];
      const TSampleData& data = *voice.Samples;
      int done = 0;
      bool ended = false;
      while (done < chunk) {
        int n = std::min(chunk - done, data.Frames - voice.Position);
        const int16_t* src =
            &data.Samples[static_cast<size_t>(voice.Position) * static_cast<size_t>(channels)];
        int32_t* dst = &Sum[static_cast<size_t>(done) * static_cast<size_t>(channels)];
        size_t m = static_cast<size_t>(n) * static_cast<size_t>(channels);
        for (size_t i = 0; i < m; ++i) dst[i] += src[i];
        done += n;
        voice.Position += n;
        if (voice.Position >= data.Frames) {
          if (!voice.Loop) {
            ended = true;
            break;
          }
          voice.Position = 0;
        }
      }
      if (ended) {
        voice.Active = false;
        voice.Finished.store(voice.PlayingSerial, std::memory_order_release);
        Released.push_back(std::move(Active[v]));
        Active.erase(Active.begin() + static_cast<std::ptrdiff_t>(v));
      } else {
        ++v;
      }
    }

    if (Stream) {
      Stream->Render(StreamBuffer.data(), chunk, channels);
      for (size_t i = 0; i < count; ++i) Sum[i] += StreamBuffer[i];
    }
    Limit(Sum.data(), out, count);
    out += count;
    frames -= chunk;
  }
}

void TMixer::Limit(const int32_t* sum, int16_t* out, size_t count) {
  // Within 0.001 dB of 1 the gain is 1 again, so that a quiet mix comes out sample for sample.
  constexpr float kUnity = 0.99989f;
  const auto channels = static_cast<size_t>(Fmt.Channels);
  for (size_t i = 0; i < count; i += channels) {
    int32_t peak = std::abs(sum[i]);
    if (channels == 2) peak = std::max(peak, std::abs(sum[i + 1]));
    const float need = peak > kMixCeiling ? static_cast<float>(kMixCeiling) / static_cast<float>(peak) : 1.0f;
    if (need < LimiterGain) {
      LimiterGain = need;
      LimiterHold = HoldFrames;
    } else if (LimiterHold > 0) {
      --LimiterHold;
    } else if (LimiterGain < 1.0f) {
      LimiterGain += (1.0f - LimiterGain) * ReleaseStep;
      if (LimiterGain >= kUnity) LimiterGain = 1.0f;
      LimiterGain = std::min(LimiterGain, need);
    }
    for (size_t c = 0; c < channels; ++c) {
      // gain <= need, so the product stays within the ceiling; truncation keeps it there.
      out[i + c] = LimiterGain == 1.0f ? static_cast<int16_t>(sum[i + c])
                                       : static_cast<int16_t>(static_cast<float>(sum[i + c]) * LimiterGain);
    }
  }
}

// ---------------------------------------------------------------------------------------------------
// TDXSound

TDXSound::~TDXSound() { Finalize(); }

void TDXSound::Initialize(std::unique_ptr<plat::TAudioOutput> output) {
  Finalize();
  Out = std::move(output);
  if (!Out || !Out->Running()) return;  // no device: silence
  Mixer = std::make_unique<TMixer>(Out->Format());
  Out->SetSource(Mixer.get());
  for (TSoundListener* listener : std::vector<TSoundListener*>(Listeners)) listener->SoundInitialized(*this);
  Restore();
}

void TDXSound::Finalize() {
  if (Mixer) {
    for (TSoundListener* listener : std::vector<TSoundListener*>(Listeners)) listener->SoundFinalized(*this);
    Out->SetSource(nullptr);
  }
  Mixer.reset();
  Out.reset();
}

void TDXSound::Restore() {
  if (!Mixer || Restoring) return;
  Restoring = true;
  for (TSoundListener* listener : std::vector<TSoundListener*>(Listeners)) listener->SoundRestored(*this);
  Restoring = false;
}

void TDXSound::AddListener(TSoundListener* listener) {
  if (std::find(Listeners.begin(), Listeners.end(), listener) == Listeners.end()) {
    Listeners.push_back(listener);
  }
}

void TDXSound::RemoveListener(TSoundListener* listener) {
  Listeners.erase(std::remove(Listeners.begin(), Listeners.end(), listener), Listeners.end());
}

// ---------------------------------------------------------------------------------------------------
// TSoundEffect

void TSoundEffect::SetPcm(const TPcmFormat& format, std::vector<uint8_t> data) {
  Format = format;
  Data = std::move(data);
  if (Sound != nullptr) Restore();
}

void TSoundEffect::SetWave(const std::vector<uint8_t>& formatBlock, std::vector<uint8_t> data) {
  TPcmFormat format;
  if (!PcmFormatFromFmtChunk(formatBlock.data(), formatBlock.size(), format)) format.FormatTag = 0;
  SetPcm(format, std::move(data));
}

void TSoundEffect::Bind(TDXSound& sound) {
  Unbind();
  Sound = &sound;
  CreateMainBuffer();
}

void TSoundEffect::Unbind() {
  Stop();
  Extra.clear();
  Main.reset();
  Sound = nullptr;
}

void TSoundEffect::Restore() {
  Stop();
  Extra.clear();
  CreateMainBuffer();
}

void TSoundEffect::CreateMainBuffer() {
  Main.reset();
  if (Sound == nullptr || Sound->GetMixer() == nullptr || Data.empty()) return;
  size_t frameBytes = static_cast<size_t>(Format.Channels) * (Format.BitsPerSample / 8u);
  if (Data.size() < frameBytes) return;  // not one whole frame: nothing to play
  TMixer& mixer = *Sound->GetMixer();
  auto samples = ConvertPcm(Format, Data.data(), Data.size(), mixer.Format());
  if (!samples) throw ESoundError("%s cannot be made", "Sound Buffer");
  Main = mixer.CreateVoice(std::move(samples));
}

void TSoundEffect::Stop() {
  TMixer* mixer = Sound != nullptr ? Sound->GetMixer() : nullptr;
  if (mixer == nullptr) return;
  if (Main) mixer->Stop(Main);
  for (auto& voice : Extra) mixer->Stop(voice);
}

void TSoundEffect::SetMaxPlayingCount(int32_t count) {
  count = std::max(count, 0);
  if (count == MaxCount) return;
  MaxCount = count;
  TMixer* mixer = Sound != nullptr ? Sound->GetMixer() : nullptr;
  if (mixer != nullptr) {
    for (auto& voice : Extra) mixer->Stop(voice);
  }
  Extra.clear();
}

bool TSoundEffect::Playing() const {
  const TMixer* mixer = Sound != nullptr ? Sound->GetMixer() : nullptr;
  if (mixer == nullptr) return false;
  if (Main && mixer->Playing(*Main)) return true;
  return std::any_of(Extra.begin(), Extra.end(), [&](const auto& v) { return mixer->Playing(*v); });
}

void TSoundEffect::PlayWave(bool wait) {
  TMixer* mixer = Sound != nullptr ? Sound->GetMixer() : nullptr;
  if (mixer == nullptr) return;
  if (Looped) {
    if (Main) mixer->Play(Main, true);  // Play restarts from frame 0, cutting off the running loop
    return;
  }

  std::shared_ptr<TVoice> chosen;
  for (auto& voice : Extra) {
    if (!mixer->Playing(*voice) && !mixer->Looping(*voice)) {
      chosen = voice;
      break;
    }
  }
  if (!chosen) {
    if (MaxCount > 0 && Extra.size() >= static_cast<size_t>(MaxCount)) {
      chosen = Extra.front();  // the oldest is cut off and goes to the end of the list
      Extra.erase(Extra.begin());
      Extra.push_back(chosen);
    } else {
      if (!Main) return;
      chosen = mixer->CreateVoice(Main->SharedData());
      Extra.push_back(chosen);
    }
  }
  mixer->Play(chosen, false);

  if (wait) {
    // Polls every 10 ms, bounded by the sound's length and a second more, so a device
    // that stops pulling cannot hang the caller.
    auto limit = std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(1000 + static_cast<int64_t>(chosen->Data().Frames) * 1000 /
                                                      std::max(1, mixer->Format().Rate));
    while (mixer->Playing(*chosen) && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}
