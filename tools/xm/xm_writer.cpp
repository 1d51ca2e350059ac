#include "tools/xm/xm_writer.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "tools/sfx/synth.h"

namespace xm {

namespace {

class TWriter {
 public:
  std::vector<uint8_t> Bytes;
  void U8(int v) { Bytes.push_back(static_cast<uint8_t>(v)); }
  void U16(int v) {
    U8(v & 0xFF);
    U8((v >> 8) & 0xFF);
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<int>((v >> (8 * i)) & 0xFF));
  }
  // A fixed-size text field, padded with pad.
  void Text(const std::string& s, size_t size, char pad = ' ') {
    for (size_t i = 0; i < size; ++i) U8(i < s.size() ? s[i] : pad);
  }
  void PatchU16(size_t at, size_t v) {
    Bytes[at] = static_cast<uint8_t>(v & 0xFF);
    Bytes[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
};

struct TSample {
  std::vector<int16_t> Pcm;
  size_t LoopStart = 0, LoopLength = 0;  // in samples
  int RelativeNote = 0, Finetune = 0;
};

TSample MakeSample(const score::TInstrument& inst) {
  TSample sample;
  std::vector<float> wave = synth::Render(inst.Layers, kSampleRate);
  auto length = static_cast<size_t>(inst.Length * kSampleRate);
  if (inst.Loop) {
    // The loop is whole cycles of the base pitch at the end; the base should divide the rate evenly
    // (262.5 Hz is 84 samples) so the loop joins without a click.
    double period = kSampleRate / inst.Base;
    auto cycles = static_cast<size_t>(std::ceil(1000.0 / period));
    auto loop = static_cast<size_t>(std::lround(period * static_cast<double>(cycles)));
    length = std::min(length, wave.size());
    length -= static_cast<size_t>(std::fmod(static_cast<double>(length), period));
    sample.LoopLength = loop;
    sample.LoopStart = length > loop ? length - loop : 0;
  }
  wave.resize(std::min(length, wave.size()));
  float peak = 0;
  for (float s : wave) peak = std::max(peak, std::abs(s));
  if (peak > 0) {
    for (float& s : wave) s = s * 0.9f / peak;
  }
  sample.Pcm = synth::ToPcm16(wave);
  if (sample.LoopStart + sample.LoopLength > sample.Pcm.size()) sample.LoopLength = 0;
  // C-4 plays the sample at 8363 Hz * 2^(note/12); it should play the base pitch as C-4 (261.63 Hz).
  double rate = kSampleRate * 261.6255653 / inst.Base;
  double semis = 12.0 * std::log2(rate / 8363.0);
  int whole = static_cast<int>(std::floor(semis));
  int fine = static_cast<int>(std::lround((semis - whole) * 128));
  if (fine >= 128) ++whole, fine -= 128;
  if (fine > 127) fine = 127;
  sample.RelativeNote = whole;
  sample.Finetune = fine;
  return sample;
}

void WritePattern(TWriter& out, const score::TSong& song, const score::TPattern& pattern) {
  out.U32(9);
  out.U8(0);
  out.U16(song.Rows);
  size_t sizeAt = out.Bytes.size();
  out.U16(0);
  size_t start = out.Bytes.size();
  for (const score::TCell& cell : pattern.Cells) {
    int flags = (cell.Note ? 1 : 0) | (cell.Instrument ? 2 : 0) | (cell.Volume ? 4 : 0) |
                (cell.Effect ? 8 : 0) | (cell.Param ? 16 : 0);
    out.U8(0x80 | flags);
    if (cell.Note) out.U8(cell.Note);
    if (cell.Instrument) out.U8(cell.Instrument);
    if (cell.Volume) out.U8(cell.Volume);
    if (cell.Effect) out.U8(cell.Effect);
    if (cell.Param) out.U8(cell.Param);
  }
  out.PatchU16(sizeAt, out.Bytes.size() - start);
}

void WriteInstrument(TWriter& out, const score::TInstrument& inst) {
  TSample sample = MakeSample(inst);
  out.U32(263);
  out.Text(inst.Name, 22, '\0');
  out.U8(0);
  out.U16(1);
  out.U32(40);
  for (int i = 0; i < 96; ++i) out.U8(0);  // every note plays sample 0
  // Volume envelope: full while the key is held (sustain at point 0), then a fade to 0 over Release ticks.
  int points = inst.Release > 0 ? 2 : 0;
  int env[12][2] = {{0, 64}, {std::max(1, inst.Release), 0}};
  for (int i = 0; i < 12; ++i) {
    out.U16(i < points ? env[i][0] : 0);
    out.U16(i < points ? env[i][1] : 0);
  }
  for (int i = 0; i < 12; ++i) out.U32(0);  // panning envelope, unused
  out.U8(points);
  out.U8(0);
  out.U8(0);  // sustain point
  out.U8(0);
  out.U8(0);
  out.U8(0);
  out.U8(0);
  out.U8(0);
  out.U8(points ? 1 | 2 : 0);  // on, with sustain
  out.U8(0);
  out.U8(0);  // vibrato type, sweep, depth, rate
  out.U8(0);
  out.U8(0);
  out.U8(0);
  out.U16(0);  // fadeout
  for (int i = 0; i < 22; ++i) out.U8(0);

  out.U32(static_cast<uint32_t>(sample.Pcm.size() * 2));
  out.U32(static_cast<uint32_t>(sample.LoopStart * 2));
  out.U32(static_cast<uint32_t>(sample.LoopLength * 2));
  out.U8(std::clamp(inst.Volume, 0, 64));
  out.U8(static_cast<uint8_t>(static_cast<int8_t>(sample.Finetune)));
  out.U8((sample.LoopLength > 0 ? 1 : 0) | 0x10);  // forward loop, 16-bit
  out.U8(std::clamp(inst.Pan, 0, 255));
  out.U8(static_cast<uint8_t>(static_cast<int8_t>(sample.RelativeNote)));
  out.U8(0);
  out.Text(inst.Name, 22, '\0');
  int16_t previous = 0;
  for (int16_t s : sample.Pcm) {  // delta-coded
    out.U16(static_cast<uint16_t>(s - previous));
    previous = s;
  }
}

}  // namespace

std::vector<uint8_t> WriteModule(const score::TSong& song) {
  TWriter out;
  out.Text("Extended Module: ", 17);
  out.Text(song.Title, 20);
  out.U8(0x1A);
  out.Text("pellorin-xm", 20);
  out.U16(0x0104);
  out.U32(276);
  out.U16(static_cast<int>(song.Order.size()));
  out.U16(song.Restart);
  out.U16(static_cast<int>(song.Channels.size()));
  out.U16(static_cast<int>(song.Patterns.size()));
  out.U16(static_cast<int>(song.Instruments.size()));
  out.U16(1);  // linear frequency table
  out.U16(song.Speed);
  out.U16(song.Bpm);
  for (size_t i = 0; i < 256; ++i) out.U8(i < song.Order.size() ? song.Order[i] : 0);
  for (const score::TPattern& pattern : song.Patterns) WritePattern(out, song, pattern);
  for (const score::TInstrument& inst : song.Instruments) WriteInstrument(out, inst);
  return out.Bytes;
}

}  // namespace xm
