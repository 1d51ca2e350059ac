#include "tools/sfx/synth.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace synth {

namespace {

constexpr double kPi = 3.14159265358979323846;

bool ParseRange(const std::string& value, double& a, double& b) {
  size_t colon = value.find(':');
  try {
    a = std::stod(value.substr(0, colon));
    b = colon == std::string::npos ? a : std::stod(value.substr(colon + 1));
  } catch (...) {
    return false;
  }
  return true;
}

// Two-pole state-variable filter, used as low-pass or band-pass.
struct TSvf {
  double Low = 0, Band = 0;
  void Step(double in, double cutoff, double q, int rate) {
    double f = 2.0 * std::sin(kPi * std::min(cutoff, rate / 6.0) / rate);
    double high = in - Low - Band / q;
    Band += f * high;
    Low += f * Band;
  }
};

}  // namespace

bool ParseLayer(const std::string& words, TLayer& layer, std::string& error) {
  std::istringstream in(words);
  if (!(in >> layer.Wave)) {
    error = "layer without a wave";
    return false;
  }
  static const char* kWaves[] = {"sine", "square", "saw", "triangle", "noise"};
  if (std::find(std::begin(kWaves), std::end(kWaves), layer.Wave) == std::end(kWaves)) {
    error = "unknown wave '" + layer.Wave + "'";
    return false;
  }
  std::string item;
  while (in >> item) {
    size_t eq = item.find('=');
    if (eq == std::string::npos) {
      error = "expected key=value, got '" + item + "'";
      return false;
    }
    std::string key = item.substr(0, eq), value = item.substr(eq + 1);
    double a = 0, b = 0;
    bool ok = true;
    if (key == "formant") {
      std::istringstream list(value);
      std::string f;
      while (ok && std::getline(list, f, ',')) ok = ParseRange(f, a, b), layer.Formants.push_back(a);
    } else {
      ok = ParseRange(value, a, b);
      if (key == "at")
        layer.At = a;
      else if (key == "dur")
        layer.Dur = a;
      else if (key == "freq")
        layer.Freq0 = a, layer.Freq1 = b;
      else if (key == "vib")
        layer.VibRate = a, layer.VibDepth = b;
      else if (key == "amp")
        layer.Amp = a;
      else if (key == "attack")
        layer.Attack = a;
      else if (key == "decay")
        layer.Decay = a;
      else if (key == "lp")
        layer.Lp0 = a, layer.Lp1 = b;
      else if (key == "hp")
        layer.Hp = a;
      else {
        error = "unknown key '" + key + "'";
        return false;
      }
    }
    if (!ok) {
      error = "bad value in '" + item + "'";
      return false;
    }
  }
  if (layer.Dur <= 0 || layer.At < 0 || layer.Freq0 <= 0 || layer.Freq1 <= 0) {
    error = "layer needs dur > 0, at >= 0 and freq > 0";
    return false;
  }
  return true;
}

bool ParseRecipe(const std::string& text, TRecipe& recipe, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    std::string rest;
    std::getline(words, rest);
    std::string why;
    bool ok = true;
    if (word == "rate") {
      ok = std::istringstream(rest) >> recipe.Rate && (recipe.Rate == 22050 || recipe.Rate == 44100);
      why = "rate must be 22050 or 44100";
    } else if (word == "gain") {
      ok = static_cast<bool>(std::istringstream(rest) >> recipe.GainDb);
      why = "bad gain";
    } else if (word == "layer") {
      TLayer layer;
      ok = ParseLayer(rest, layer, why);
      if (ok) recipe.Layers.push_back(layer);
    } else {
      ok = false;
      why = "unknown directive '" + word + "'";
    }
    if (!ok) {
      error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
  }
  if (recipe.Layers.empty()) {
    error = "no layers";
    return false;
  }
  return true;
}

std::vector<float> Render(const std::vector<TLayer>& layers, int rate, uint32_t seed) {
  double end = 0;
  for (const TLayer& l : layers) end = std::max(end, l.At + l.Dur);
  std::vector<float> out(static_cast<size_t>(std::ceil(end * rate)), 0.0f);
  uint32_t noise = seed * 2654435761u + 1;
  for (const TLayer& l : layers) {
    auto first = static_cast<size_t>(l.At * rate);
    auto count = static_cast<size_t>(l.Dur * rate);
    double phase = 0, hpIn = 0, hpOut = 0;
    TSvf lp1, lp2;
    std::vector<TSvf> formants(l.Formants.size());
    double fade = std::min(0.005, l.Dur / 4);
    for (size_t i = 0; i < count && first + i < out.size(); ++i) {
      double t = static_cast<double>(i) / rate;
      double k = t / l.Dur;
      double freq = l.Freq0 * std::pow(l.Freq1 / l.Freq0, k);
      if (l.VibDepth > 0) freq *= std::pow(2.0, l.VibDepth / 12 * std::sin(2 * kPi * l.VibRate * t));
      phase += freq / rate;
      phase -= std::floor(phase);
      double s = 0;
      if (l.Wave == "sine")
        s = std::sin(2 * kPi * phase);
      else if (l.Wave == "square")
        s = phase < 0.5 ? 1 : -1;
      else if (l.Wave == "saw")
        s = 2 * phase - 1;
      else if (l.Wave == "triangle")
        s = 4 * std::abs(phase - 0.5) - 1;
      else {
        noise = noise * 1664525u + 1013904223u;
        s = static_cast<double>(noise >> 8) / 8388608.0 - 1.0;
      }
      if (!l.Formants.empty()) {
        double v = 0;
        for (size_t f = 0; f < formants.size(); ++f) {
          formants[f].Step(s, l.Formants[f], 6.0, rate);
          v += formants[f].Band / static_cast<double>(f + 1);
        }
        s = v;
      }
      if (l.Lp0 > 0) {
        double cutoff = l.Lp0 * std::pow(l.Lp1 / l.Lp0, k);
        lp1.Step(s, cutoff, 0.707, rate);
        lp2.Step(lp1.Low, cutoff, 0.707, rate);
        s = lp2.Low;
      }
      if (l.Hp > 0) {
        double a = 1.0 / (1.0 + 2 * kPi * l.Hp / rate);
        hpOut = a * (hpOut + s - hpIn);
        hpIn = s;
        s = hpOut;
      }
      double env = l.Attack > 0 && t < l.Attack ? t / l.Attack : 1.0;
      if (l.Decay > 0 && t > l.Attack) env *= std::exp(-(t - l.Attack) / l.Decay);
      double left = l.Dur - t;
      if (left < fade) env *= left / fade;
      out[first + i] += static_cast<float>(s * env * l.Amp);
    }
  }
  return out;
}

double Loudness(const std::vector<float>& samples, int rate) {
  size_t window = std::max<size_t>(1, static_cast<size_t>(rate / 10));
  double sum = 0, best = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    sum += static_cast<double>(samples[i]) * samples[i];
    if (i >= window) sum -= static_cast<double>(samples[i - window]) * samples[i - window];
    best = std::max(best, sum);
  }
  return std::sqrt(best / static_cast<double>(window));
}

void Level(std::vector<float>& samples, int rate, double gainDb) {
  double loud = Loudness(samples, rate);
  double peak = 0;
  for (float s : samples) peak = std::max(peak, static_cast<double>(std::abs(s)));
  if (loud <= 0 || peak <= 0) return;
  double gain = std::pow(10.0, (-14.0 + gainDb) / 20) / loud;
  gain = std::min(gain, std::pow(10.0, -1.0 / 20) / peak);
  for (float& s : samples) s = static_cast<float>(s * gain);
}

std::vector<int16_t> ToPcm16(const std::vector<float>& samples) {
  std::vector<int16_t> pcm(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    pcm[i] = static_cast<int16_t>(std::lround(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f));
  }
  return pcm;
}

std::vector<uint8_t> WaveFile(const std::vector<int16_t>& pcm, int rate) {
  std::vector<uint8_t> out;
  out.reserve(44 + pcm.size() * 2);
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto put16 = [&](uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto tag = [&](const char* s) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(s[i]));
  };
  auto dataBytes = static_cast<uint32_t>(pcm.size() * 2);
  tag("RIFF");
  put32(36 + dataBytes);
  tag("WAVE");
  tag("fmt ");
  put32(16);
  put16(1);  // PCM
  put16(1);  // mono
  put32(static_cast<uint32_t>(rate));
  put32(static_cast<uint32_t>(rate) * 2);
  put16(2);
  put16(16);
  tag("data");
  put32(dataBytes);
  for (int16_t s : pcm) put16(static_cast<uint16_t>(s));
  return out;
}

}  // namespace synth
