// A small synthesiser for the game's sounds and the song instruments. A recipe is a list of layers
// (an oscillator or noise with its pitch glide, envelope and filters) summed into one mono signal.
// Recipe text, one directive per line, '#' starts a comment:
//   rate 22050                      output rate (22050 or 44100)
//   gain -3                         dB added after levelling (default 0)
//   layer WAVE key=value ...        WAVE: sine square saw triangle noise
//     at=S dur=S                    start and length in seconds
//     freq=F or F0:F1               pitch in Hz, gliding exponentially from F0 to F1 over dur
//     vib=RATE:SEMITONES            vibrato
//     amp=A                         peak level of the layer (linear, default 1)
//     attack=S decay=S              linear rise, then exponential fall with that time constant (0: none)
//     lp=F or F0:F1  hp=F           two-pole low-pass (sweeping), one-pole high-pass
//     formant=F1,F2,...             parallel band-passes (a vowel), replacing the plain signal
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace synth {

struct TLayer {
  std::string Wave = "sine";
  double At = 0, Dur = 0.1;
  double Freq0 = 440, Freq1 = 440;
  double VibRate = 0, VibDepth = 0;
  double Amp = 1;
  double Attack = 0.002, Decay = 0;
  double Lp0 = 0, Lp1 = 0;  // 0: no low-pass
  double Hp = 0;
  std::vector<double> Formants;
};

struct TRecipe {
  int Rate = 22050;
  double GainDb = 0;
  std::vector<TLayer> Layers;
};

// Parses recipe text; on a bad line returns false with error naming the line.
bool ParseRecipe(const std::string& text, TRecipe& recipe, std::string& error);
// Parses one "layer" line's words (after the word "layer").
bool ParseLayer(const std::string& words, TLayer& layer, std::string& error);

// Renders the layers at rate as floats in [-1, 1] (not levelled). seed makes the noise repeatable.
std::vector<float> Render(const std::vector<TLayer>& layers, int rate, uint32_t seed = 1);

// Loudness: the RMS of the loudest 100 ms window.
double Loudness(const std::vector<float>& samples, int rate);
// Scales to the common loudness (RMS -14 dBFS in the loudest 100 ms) plus gainDb, never letting the
// peak pass -1 dBFS.
void Level(std::vector<float>& samples, int rate, double gainDb);

std::vector<int16_t> ToPcm16(const std::vector<float>& samples);
// A RIFF WAVE image, 16-bit mono PCM.
std::vector<uint8_t> WaveFile(const std::vector<int16_t>& pcm, int rate);

}  // namespace synth
