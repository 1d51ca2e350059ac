#include "tools/art/builders.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace art {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open file \"" + path + "\"");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Deterministic random numbers, so that every build draws the same pictures.
class TRandom {
 public:
  explicit TRandom(uint32_t seed) : State(seed * 2654435761u + 12345u) {}
  double Next() {  // 0 <= value < 1
    State ^= State << 13;
    State ^= State >> 17;
    State ^= State << 5;
    return static_cast<double>(State) / 4294967296.0;
  }
  double Range(double lo, double hi) { return lo + (hi - lo) * Next(); }

 private:
  uint32_t State;
};

std::string SvgOpen(int w, int h) {
  return Fmt("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %d %d\" width=\"%d\" height=\"%d\">", w, h, w, h);
}

TArtImage Render(const std::string& svg, int w, int h, const std::string& what) {
  return plat::RenderSvg(svg, w, h, what);
}

struct TSources {
  std::string Dir;
  TArtImage File(const std::string& file, int w, int h, const std::map<std::string, std::string>& values = {}) const {
    const std::string path = Dir + "/" + file;
    return plat::RenderSvg(Substitute(ReadText(path), values, path), w, h, path);
  }
};

// Blades of a three-blade propeller seen from the side, for frame f of 3: each blade is a tapered
// strip from the hub (in a space where the blade's full length is 1) to its foreshortened tip.
std::map<std::string, std::string> PropellerFrame(int f) {
  const double t = f * 40.0 * kPi / 180.0;
  std::map<std::string, std::string> values{{"j", Fmt("%.2f", f == 0 ? 0.8 : f == 1 ? 1.15 : 0.95)}};
  const char* names[3] = {"a", "b", "c"};
  for (int k = 0; k < 3; ++k) {
    const double tip = std::cos(t + k * 2 * kPi / 3);
    values[std::string("d") + names[k]] = Fmt("M-1.6 0 L1.6 0 L1.1 %.3f L-1.1 %.3f Z", tip, tip);
    values[std::string("l") + names[k]] = Fmt("M-0.5 0 L0.5 0 L0.35 %.3f L-0.35 %.3f Z", tip * 0.9, tip * 0.9);
  }
  return values;
}

std::vector<TArtImage> PropellerFrames(const TSources& src, const std::string& file, int w, int h) {
  std::vector<TArtImage> frames;
  for (int f = 0; f < 3; ++f) frames.push_back(src.File(file, w, h, PropellerFrame(f)));
  return frames;
}

// ---- Explosions ----------------------------------------------------------------------------------

struct TBlastStyle {
  int Puffs;        // fire and smoke puffs
  int Sparks;       // flying debris
  double Reach;     // how far puffs travel, fraction of the half size
  bool Blood;       // red splash instead of fire
  uint32_t Seed;
};

// One colour along the fire's life: white core, yellow, orange, red, then grey smoke.
std::string FireColor(double heat) {
  struct TStop { double At; int R, G, B; };
  static const TStop stops[] = {{0.0, 92, 88, 94}, {0.18, 122, 114, 112},  {0.32, 150, 60, 30}, {0.5, 226, 82, 28},
                                {0.7, 255, 150, 40}, {0.85, 255, 214, 90}, {1.0, 255, 250, 220}};
  heat = std::clamp(heat, 0.0, 1.0);
  for (size_t i = 1; i < std::size(stops); ++i) {
    if (heat <= stops[i].At) {
      const double k = (heat - stops[i - 1].At) / (stops[i].At - stops[i - 1].At);
      return Fmt("#%02x%02x%02x", static_cast<int>(stops[i - 1].R + k * (stops[i].R - stops[i - 1].R)),
                 static_cast<int>(stops[i - 1].G + k * (stops[i].G - stops[i - 1].G)),
                 static_cast<int>(stops[i - 1].B + k * (stops[i].B - stops[i - 1].B)));
    }
  }
  return "#fffadc";
}

std::string BloodColor(double heat) {
  heat = std::clamp(heat, 0.0, 1.0);
  const int r = static_cast<int>(90 + 130 * heat);
  const int g = static_cast<int>(10 + 20 * heat);
  const int b = static_cast<int>(16 + 20 * heat);
  return Fmt("#%02x%02x%02x", r, g, b);
}

std::vector<TArtImage> Explosion(int size, int count, const TBlastStyle& style) {
  struct TPuff { double Angle, Dist, Radius, Delay, Rise; };
  struct TSpark { double Angle, Speed, Length; };
  TRandom rnd(style.Seed);
  std::vector<TPuff> puffs;
  for (int i = 0; i < style.Puffs; ++i) {
    // Angles spread evenly round the centre, jittered, so that no blast leans to one side.
    puffs.push_back({(i + rnd.Range(0.0, 0.8)) * 2 * kPi / style.Puffs * 2.618, rnd.Range(0.15, 1.0), rnd.Range(0.16, 0.30), rnd.Range(0, 0.25),
                     rnd.Range(0.05, 0.2)});
  }
  std::vector<TSpark> sparks;
  for (int i = 0; i < style.Sparks; ++i) sparks.push_back({rnd.Range(0, 2 * kPi), rnd.Range(0.6, 1.0), rnd.Range(0.04, 0.09)});

  const double c = size / 2.0;
  const double half = size / 2.0;
  std::vector<TArtImage> frames;
  for (int f = 0; f < count; ++f) {
    const double t = (f + 0.5) / count;  // 0..1 over the life
    std::string svg = SvgOpen(size, size);
    svg += "<defs><radialGradient id=\"core\"><stop offset=\"0\" stop-color=\"#ffffff\"/>"
           "<stop offset=\"0.5\" stop-color=\"#fff0a0\"/><stop offset=\"1\" stop-color=\"#ffb030\"/></radialGradient></defs>";
    // Sparks and debris fly out first and fall a little.
    for (const TSpark& s : sparks) {
      const double d = half * (0.25 + 0.75 * s.Speed * std::sqrt(t));
      if (d > half * 0.97 || t > 0.8) continue;
      const double x = c + std::cos(s.Angle) * d;
      const double y = c + std::sin(s.Angle) * d + half * 0.25 * t * t;
      const double len = half * s.Length;
      const std::string col = style.Blood ? "#7a0e14" : (t < 0.35 ? "#ffe070" : "#3a302c");
      svg += Fmt("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"%.1f\" stroke-linecap=\"round\"/>",
                 x, y, x - std::cos(s.Angle) * len, y - std::sin(s.Angle) * len, col.c_str(),
                 std::max(1.5, size / 45.0));
    }
    // Puffs: outer ring first (smoky), hot ones on top.
    std::vector<std::pair<double, std::string>> layers;
    for (const TPuff& p : puffs) {
      const double life = std::clamp((t - p.Delay) / (1.0 - p.Delay), 0.0, 1.0);
      if (t < p.Delay) continue;
      const double grow = 1.0 - std::pow(1.0 - life, 2.2);
      const double dist = half * style.Reach * p.Dist * (0.3 + 0.7 * grow);
      double radius = half * p.Radius * (0.55 + 0.9 * grow);
      if (life > 0.7) radius *= 1.0 - (life - 0.7) / 0.3 * 0.85;  // smoke thins away at the end
      if (radius < 0.8) continue;
      const double x = c + std::cos(p.Angle) * dist;
      const double y = c + std::sin(p.Angle) * dist * 0.85 - half * p.Rise * life * 1.6;
      const double heat = 1.0 - life * 0.95 - p.Dist * 0.15;
      const std::string col = style.Blood ? BloodColor(heat + 0.2) : FireColor(heat);
      const std::string dark = style.Blood ? BloodColor(heat - 0.2) : FireColor(heat - 0.22);
      std::string puff = Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"%s\"/>", x, y, radius, dark.c_str());
      puff += Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"%s\"/>", x - radius * 0.18, y - radius * 0.2,
                  radius * 0.78, col.c_str());
      layers.emplace_back(heat, puff);
    }
    std::sort(layers.begin(), layers.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& l : layers) svg += l.second;
    // The flash at the centre.
    if (!style.Blood && t < 0.32) {
      const double r = half * (0.12 + 0.3 * std::sin(t / 0.32 * kPi));
      svg += Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"url(#core)\"/>", c, c, r);
    }
    if (style.Blood && t < 0.3) {
      svg += Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"#d0202a\"/>", c, c, half * 0.35 * (1 - t * 2));
    }
    svg += "</svg>";
    frames.push_back(Render(svg, size, size, Fmt("explosion frame %d", f)));
  }
  return frames;
}

// ---- Smoke trail ---------------------------------------------------------------------------------

// Puffs that drift left from the hero's tail (right edge) and grow and thin. Played backwards by the
// game, so frame k shows the trail one step later than frame k + 1.
std::vector<TArtImage> Smoke(int w, int h, int count) {
  std::vector<TArtImage> frames;
  const int puffs = 20;
  for (int f = 0; f < count; ++f) {
    const double phase = static_cast<double>(count - 1 - f) / count;  // time as the game shows it
    std::string svg = SvgOpen(w, h);
    for (int i = puffs - 1; i >= 0; --i) {
      const double age = (i + phase) / puffs;  // 0 at the tail, 1 at the far end
      const double x = w - 6 - age * (w - 14);
      const double r = 4.5 + age * (h / 2.0 - 6.0) * (0.85 + 0.15 * std::sin(i * 2.3));
      const double y = 6 + age * (h / 2.0 - 6) + std::sin(i * 1.7 + age * 3) * 2.0;
      if (age > 0.92) continue;
      const int grey = static_cast<int>(70 + 110 * age);
      svg += Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"#%02x%02x%02x\"/>", x, y, r * (age > 0.8 ? (1 - (age - 0.8) * 5) : 1.0),
                 grey - 12, grey - 12, grey - 8);
      svg += Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"#%02x%02x%02x\"/>", x - r * 0.15, y - r * 0.2,
                 r * 0.65 * (age > 0.8 ? (1 - (age - 0.8) * 5) : 1.0), grey + 14, grey + 14, grey + 18);
    }
    svg += "</svg>";
    frames.push_back(Render(svg, w, h, "smoke"));
  }
  return frames;
}

// ---- Rocket flame --------------------------------------------------------------------------------

// Exhaust pointing left from a nozzle at the right edge, on the axis y = 0.4 of the height.
std::vector<TArtImage> Flame(int w, int h, int count) {
  std::vector<TArtImage> frames;
  TRandom rnd(77);
  const double axis = h * 0.4;
  for (int f = 0; f < count; ++f) {
    const double len = w * (0.62 + 0.3 * (0.5 + 0.5 * std::sin(f * 2 * kPi / count * 2)) + rnd.Range(-0.05, 0.05));
    const double fat = 5.5 + 1.5 * std::sin(f * 2 * kPi / count * 3);
    std::string svg = SvgOpen(w, h);
    svg += Fmt("<path d=\"M%d %.1f Q%.1f %.1f %.1f %.1f Q%.1f %.1f %d %.1f Z\" fill=\"#e2461c\" stroke=\"#8c2410\" stroke-width=\"1\"/>",
               w, axis - fat, w - len * 0.45, axis - fat * 1.1, w - len, axis, w - len * 0.45, axis + fat * 1.1, w, axis + fat);
    svg += Fmt("<path d=\"M%d %.1f Q%.1f %.1f %.1f %.1f Q%.1f %.1f %d %.1f Z\" fill=\"#ffb43a\"/>", w, axis - fat * 0.7,
               w - len * 0.35, axis - fat * 0.7, w - len * 0.75, axis, w - len * 0.35, axis + fat * 0.7, w, axis + fat * 0.7);
    svg += Fmt("<path d=\"M%d %.1f Q%.1f %.1f %.1f %.1f Q%.1f %.1f %d %.1f Z\" fill=\"#fff7d0\"/>", w, axis - fat * 0.35,
               w - len * 0.2, axis - fat * 0.3, w - len * 0.42, axis, w - len * 0.2, axis + fat * 0.3, w, axis + fat * 0.35);
    for (int s = 0; s < 2; ++s) {
      const double sx = w - len - rnd.Range(1, 6);
      const double sy = axis + rnd.Range(-fat, fat);
      svg += Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"1.3\" fill=\"#ffd060\"/>", sx, sy);
    }
    svg += "</svg>";
    frames.push_back(Render(svg, w, h, "flame"));
  }
  return frames;
}

// ---- Landscape -----------------------------------------------------------------------------------

// A rolling ridge line over a 1600-pixel loop, so that two 800-pixel halves scroll one after the other.
struct TRidge {
  std::vector<std::pair<int, double>> Waves;  // cycles per loop, weight
  double Top, Depth;                            // y of the highest point and how far valleys drop
  double Phase;

  double At(double x) const {
    double sum = 0, total = 0;
    for (const auto& [cycles, weight] : Waves) {
      sum += (0.5 + 0.5 * std::sin(2 * kPi * cycles * x / 1600.0 + Phase * cycles)) * weight;
      total += weight;
    }
    return Top + Depth * (1.0 - sum / total);
  }
};

std::string RidgePath(const TRidge& ridge, double bottom, double step = 4.0) {
  std::string d = Fmt("M-10 %.1f", bottom);
  for (double x = -10; x <= 1610; x += step) d += Fmt(" L%.1f %.2f", x, ridge.At(x));
  d += Fmt(" L1610 %.1f Z", bottom);
  return d;
}

TArtImage Landscape(const std::string& layer) {
  const int w = 1600;
  std::string svg;
  int h = 0;
  if (layer == "far") {
    h = 530;
    // Explicit peaks: each a tent with slightly hollow flanks; the range's outline is the highest tent
    // at every x, roughened by small ripples. Distances wrap around the 1600-pixel loop.
    struct TPeak { double X, Y, Slope; };
    std::vector<TPeak> peaks;
    TRandom rnd(21);
    for (double x = 40; x < 1580; x += rnd.Range(110, 210)) peaks.push_back({x, rnd.Range(60, 190), rnd.Range(0.75, 1.25)});
    auto ridgeAt = [&](double x) {
      double y = 1e9;
      for (const TPeak& pk : peaks) {
        double d = std::fabs(x - pk.X);
        d = std::min(d, 1600 - d);
        y = std::min(y, pk.Y + pk.Slope * std::pow(d, 1.12) * 0.9);
      }
      y += 2.5 * std::sin(x * 2 * kPi / 1600 * 37) + 1.5 * std::sin(x * 2 * kPi / 1600 * 71 + 1);
      return std::min(y, 300.0);
    };
    std::string body = Fmt("M-10 %d", h + 10);
    for (double x = -10; x <= 1610; x += 2) body += Fmt(" L%.1f %.2f", x, ridgeAt(x));
    body += Fmt(" L1610 %d Z", h + 10);
    svg = SvgOpen(w, h);
    svg += "<defs><linearGradient id=\"m\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\"><stop offset=\"0\" stop-color=\"#9aa9cc\"/>"
           "<stop offset=\"0.5\" stop-color=\"#aebad6\"/><stop offset=\"1\" stop-color=\"#cfd5e2\"/></linearGradient>"
           "<linearGradient id=\"haze\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\"><stop offset=\"0\" stop-color=\"#e4e2e6\" stop-opacity=\"0\"/>"
           "<stop offset=\"1\" stop-color=\"#ece2d6\" stop-opacity=\"0.95\"/></linearGradient>"
           "<linearGradient id=\"shade\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\"><stop offset=\"0\" stop-color=\"#6a79a3\" stop-opacity=\"0.6\"/>"
           "<stop offset=\"0.6\" stop-color=\"#6a79a3\" stop-opacity=\"0.3\"/><stop offset=\"1\" stop-color=\"#6a79a3\" stop-opacity=\"0\"/></linearGradient>"
           "<clipPath id=\"body\"><path d=\"" + body + "\"/></clipPath></defs>";
    svg += "<path d=\"" + body + "\" fill=\"url(#m)\"/>";
    svg += "<g clip-path=\"url(#body)\">";
    // The low sun is on the right: every peak's left flank lies in shadow, and the highest wear snow.
    for (const TPeak& pk : peaks) {
      for (double shift : {-1600.0, 0.0, 1600.0}) {
        const double px = pk.X + shift;
        // The flank this peak owns: walk left while its tent is the highest one.
        double xl = pk.X;
        auto owner = [&](double x) {
          size_t best = 0;
          double by = 1e9;
          for (size_t i = 0; i < peaks.size(); ++i) {
            double d = std::fabs(x - peaks[i].X);
            d = std::min(d, 1600 - d);
            const double y = peaks[i].Y + peaks[i].Slope * std::pow(d, 1.12) * 0.9;
            if (y < by) { by = y; best = i; }
          }
          return &peaks[best];
        };
        while (xl > pk.X - 400 && owner(xl - 2) == &pk) xl -= 2;
        std::string d = Fmt("M%.1f %.1f", px, pk.Y);
        for (double x = pk.X; x >= xl; x -= 3) d += Fmt(" L%.1f %.1f", x + shift, ridgeAt(x));
        const double yl = ridgeAt(xl);
        d += Fmt(" L%.1f %.1f L%.1f %.1f Z", xl + (pk.X - xl) * 0.45 + shift, yl + 110, px + 8, yl + 120);
        svg += "<path d=\"" + d + "\" fill=\"url(#shade)\"/>";
        if (pk.Y < 150) {
          const double depth = 16 + (150 - pk.Y) * 0.3;
          std::string snow = Fmt("M%.1f %.1f", px - depth * 1.2, pk.Y + depth);
          snow += Fmt(" L%.1f %.1f L%.1f %.1f", px, pk.Y - 4, px + depth * 1.2, pk.Y + depth);
          const int teeth = 7;
          for (int i = 1; i < teeth; ++i) {
            const double x = px + depth * 1.2 - depth * 2.4 * i / teeth;
            snow += Fmt(" L%.1f %.1f", x, pk.Y + depth * (i % 2 ? 0.5 : 1.0));
          }
          svg += "<path d=\"" + snow + " Z\" fill=\"#f4f6fb\"/>";
          svg += Fmt("<path d=\"M%.1f %.1f L%.1f %.1f L%.1f %.1f Z\" fill=\"#c9d2e8\"/>", px, pk.Y - 3, px - depth * 1.2,
                     pk.Y + depth, px - depth * 0.3, pk.Y + depth * 0.6);
        }
      }
    }
    svg += "<rect x=\"0\" y=\"180\" width=\"1600\" height=\"350\" fill=\"url(#haze)\"/></g>";
    svg += "</svg>";
    return plat::RenderSvg(svg, w, h, "far mountains");
  }
  if (layer == "mid") {
    h = 200;
    TRidge ridge{{{2, 1.0}, {4, 0.7}, {7, 0.5}, {11, 0.25}}, 8, 70, 1.9};
    svg = SvgOpen(w, h);
    svg += "<defs><linearGradient id=\"m\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\"><stop offset=\"0\" stop-color=\"#6a9a95\"/>"
           "<stop offset=\"1\" stop-color=\"#4b7a70\"/></linearGradient></defs>";
    // A row of conifers along the ridge, then the hill body over their trunks.
    std::string trees;
    TRandom rnd(5);
    for (double x = 0; x < 1600; x += rnd.Range(9, 16)) {
      const double th = rnd.Range(10, 20);
      for (double shift : {-1600.0, 0.0, 1600.0}) {
        const double tx = x + shift;
        if (tx < -30 || tx > 1630) continue;
        const double ty = ridge.At(x) + 6;
        trees += Fmt("<path d=\"M%.1f %.1f L%.1f %.1f L%.1f %.1f Z\" fill=\"#3f6b62\"/>", tx - th * 0.32, ty, tx, ty - th, tx + th * 0.32, ty);
      }
    }
    svg += trees;
    svg += "<path d=\"" + RidgePath(ridge, h + 10) + "\" fill=\"url(#m)\"/>";
    TRidge lower{{{3, 1.0}, {9, 0.4}}, 95, 50, 0.4};
    svg += "<path d=\"" + RidgePath(lower, h + 10) + "\" fill=\"#436d63\" opacity=\"0.7\"/>";
    svg += "</svg>";
    return plat::RenderSvg(svg, w, h, "middle hills");
  }
  // Near: green hills with round trees, and the road where the ground troops stand (y 200 and below).
  h = 250;
  TRidge ridge{{{2, 1.0}, {3, 0.8}, {6, 0.45}, {10, 0.2}}, 92, 92, 2.6};
  svg = SvgOpen(w, h);
  svg += "<defs><linearGradient id=\"g\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\"><stop offset=\"0\" stop-color=\"#7fb552\"/>"
         "<stop offset=\"0.6\" stop-color=\"#4e8a3a\"/><stop offset=\"1\" stop-color=\"#3b6e2e\"/></linearGradient>"
         "<linearGradient id=\"r\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\"><stop offset=\"0\" stop-color=\"#b08a58\"/>"
         "<stop offset=\"1\" stop-color=\"#6f5234\"/></linearGradient></defs>";
  std::string trees;
  TRandom rnd(11);
  for (double x = 20; x < 1600; x += rnd.Range(60, 150)) {
    const double r = rnd.Range(9, 15);
    for (double shift : {-1600.0, 0.0, 1600.0}) {
      const double tx = x + shift;
      if (tx < -40 || tx > 1640) continue;
      const double ty = ridge.At(x) + 4;
      trees += Fmt("<rect x=\"%.1f\" y=\"%.1f\" width=\"3\" height=\"%.1f\" fill=\"#5a3d24\" stroke=\"#1d1b2b\" stroke-width=\"1\"/>", tx - 1.5, ty - r, r + 2);
      trees += Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"#2f5f2a\" stroke=\"#1d1b2b\" stroke-width=\"1.2\"/>", tx, ty - r * 1.3, r);
      trees += Fmt("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"#4f8a3a\"/>", tx - r * 0.25, ty - r * 1.5, r * 0.6);
    }
  }
  svg += trees;
  svg += "<path d=\"" + RidgePath(ridge, h + 10) + "\" fill=\"url(#g)\" stroke=\"#1d1b2b\" stroke-width=\"1.6\"/>";
  TRidge fold{{{4, 1.0}, {7, 0.5}}, 150, 40, 0.9};
  svg += "<path d=\"" + RidgePath(fold, h + 10) + "\" fill=\"#427c34\" opacity=\"0.6\"/>";
  // Bushes along the foot of the hills, just above the road.
  TRandom bushes(17);
  for (double x = 10; x < 1600; x += bushes.Range(35, 110)) {
    const double r = bushes.Range(5, 9);
    for (double shift : {-1600.0, 0.0, 1600.0}) {
      const double bx = x + shift;
      if (bx < -30 || bx > 1630) continue;
      svg += Fmt("<ellipse cx=\"%.1f\" cy=\"%.1f\" rx=\"%.1f\" ry=\"%.1f\" fill=\"#356b2c\" stroke=\"#1d1b2b\" stroke-width=\"1.1\"/>",
                 bx, 193 - r * 0.55, r * 1.5, r);
      svg += Fmt("<ellipse cx=\"%.1f\" cy=\"%.1f\" rx=\"%.1f\" ry=\"%.1f\" fill=\"#5a9a40\"/>", bx - r * 0.35,
                 193 - r * 0.85, r * 0.8, r * 0.45);
    }
  }
  // The road: a grass lip, the earth band with ruts and stones.
  svg += "<rect x=\"-10\" y=\"196\" width=\"1620\" height=\"60\" fill=\"url(#r)\" stroke=\"#1d1b2b\" stroke-width=\"1.6\"/>";
  svg += "<rect x=\"-10\" y=\"192\" width=\"1620\" height=\"7\" fill=\"#5f9a3f\" stroke=\"#1d1b2b\" stroke-width=\"1.2\"/>";
  TRandom stones(3);
  for (double x = 0; x < 1600; x += stones.Range(20, 60)) {
    const double y = stones.Range(212, 244);
    const double r = stones.Range(1.5, 3.5);
    for (double shift : {-1600.0, 0.0, 1600.0}) {
      svg += Fmt("<ellipse cx=\"%.1f\" cy=\"%.1f\" rx=\"%.1f\" ry=\"%.1f\" fill=\"#8a6f4c\" stroke=\"#4a3826\" stroke-width=\"0.8\"/>",
                 x + shift, y, r * 1.6, r);
    }
  }
  svg += "<path d=\"M-10 226 L1610 226\" stroke=\"#5d4630\" stroke-width=\"2\" stroke-dasharray=\"40 24\"/>";
  svg += "</svg>";
  return plat::RenderSvg(svg, w, h, "near hills");
}

TArtImage Crop(const TArtImage& image, int x, int y, int w, int h) {
  if (x < 0 || y < 0 || x + w > image.Width || y + h > image.Height) throw std::runtime_error("Crop outside the picture");
  TArtImage out(w, h);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) out.At(c, r) = image.At(x + c, y + r);
  }
  return out;
}

// ---- Menu entries --------------------------------------------------------------------------------

const char* const kMenuLabels[6] = {"Start game", "Options", "High scores", "Help", "Our website", "Quit"};

TArtImage MenuItem(const TSources& src, int index, int w, int h) {
  return src.File("menuitem.svg", w, h,
                  {{"w", std::to_string(w)}, {"h", std::to_string(h)}, {"w1", std::to_string(w - 1)},
                   {"w2", std::to_string(w - 2)}, {"w4", std::to_string(w - 4)}, {"cx", Fmt("%.1f", w / 2.0)},
                   {"label", kMenuLabels[index - 1]}});
}

}  // namespace

TPictureArt BuildPicture(const std::string& name, int cw, int ch, const std::string& svgDir) {
  const TSources src{svgDir};
  TPictureArt art;
  auto one = [&](const TArtImage& image, TEdge edge = TEdge::kOutline) {
    art.Frames = {image};
    art.Edge = edge;
    return art;
  };
  auto file = [&](const std::string& f) { return src.File(f, cw, ch); };

  if (name == "background") return one(file("sky.svg"));
  if (name == "menubackground") {
    TArtImage image = src.File("sky.svg", 800, 600);
    Over(image, Crop(Landscape("far"), 300, 0, 800, 530), 0, 130);
    Over(image, Crop(Landscape("mid"), 500, 0, 800, 200), 0, 420);
    Over(image, Crop(Landscape("near"), 700, 0, 800, 250), 0, 380);
    Over(image, src.File("hero.svg", 158, 88, {{"tilt", "-8"}}), 34, 262);
    Over(image, src.File("propeller.svg", 22, 88, PropellerFrame(1)), 34 + 158 - 4, 262 - 11);
    Over(image, src.File("enemy1.svg", 128, 64, PropellerFrame(2)), 632, 338);
    Over(image, file("menu.svg"), 0, 0);
    return one(image);
  }
  if (name.rfind("menuitem", 0) == 0) return one(MenuItem(src, name.back() - '0', cw, ch));
  if (name == "subpanel" || name == "question" || name == "dialog" || name == "status") return one(file(name + ".svg"));
  if (name.rfind("help", 0) == 0) {
    TArtImage page = file(name + ".svg");
    if (name == "help4") {
      // The enemies, drawn from their own sources beside the text.
      struct TIcon { const char* File; int X, Y, W, H; bool Flip; };
      const TIcon icons[] = {
          {"enemy1.svg", 14, 34, 48, 24, false},  {"enemy2.svg", 14, 62, 48, 26, false},
          {"enemy3.svg", 14, 90, 44, 32, false},  {"enemy4.svg", 14, 124, 48, 24, false},
          {"enemy5.svg", 14, 150, 48, 22, false}, {"enemy6.svg", 10, 176, 56, 24, false},
          {"kamikaze.svg", 270, 38, 36, 18, false}, {"paratroopermachinegun.svg", 276, 60, 22, 36, false},
          {"soldier.svg", 278, 104, 16, 27, false}, {"tower.svg", 278, 134, 16, 32, false},
          {"nru.svg", 268, 172, 40, 25, false}};
      for (const TIcon& icon : icons) Over(page, src.File(icon.File, icon.W, icon.H, PropellerFrame(0)), icon.X, icon.Y);
    }
    if (name == "help5") {
      for (int i = 1; i <= 5; ++i) Over(page, src.File(Fmt("bonus%d.svg", i), 28, 28), 18, 32 + (i - 1) * 34);
    }
    if (name == "help1") {
      Over(page, src.File("hero.svg", 108, 60, {{"tilt", "-6"}}), 392, 92);
      Over(page, src.File("propeller.svg", 15, 60, PropellerFrame(0)), 392 + 108 - 3, 92 - 6);
    }
    return one(page);
  }
  if (name.rfind("mountain", 0) == 0) {
    const std::string layer = name.substr(8, name.size() - 9);
    const int half = name.back() - '1';
    const TArtImage strip = Landscape(layer);
    return one(Crop(strip, half * 800, 0, 800, strip.Height), layer == "near" ? TEdge::kOutline : TEdge::kThreshold);
  }
  if (name == "hero") {
    for (const char* tilt : {"0", "9", "-9"}) art.Frames.push_back(src.File("hero.svg", cw, ch, {{"tilt", tilt}}));
    return art;
  }
  if (name == "propeller" || (name.rfind("enemy", 0) == 0 && name.size() == 6)) {
    art.Frames = PropellerFrames(src, name + ".svg", cw, ch);
    return art;
  }
  if (name == "smoke") {
    art.Frames = Smoke(cw, ch, 16);
    art.Edge = TEdge::kThreshold;
    return art;
  }
  if (name == "rocketfire1" || name == "rocketfire") {
    art.Frames = Flame(cw, ch, 11);
    if (name == "rocketfire") {
      for (TArtImage& f : art.Frames) f = FlipX(f);
    }
    art.Edge = TEdge::kThreshold;
    art.Columns = 11;
    return art;
  }
  if (name == "soldier2") return one(FlipX(src.File("soldier.svg", cw, ch)));
  if (name.rfind("explosion", 0) == 0 || name == "bloodexplosion" || name == "rocketexplosion" || name == "gunexplosion") {
    TBlastStyle style{22, 14, 0.75, false, 1};
    int count = 16;
    if (name == "explosion2") style = {26, 20, 0.8, false, 2};
    if (name == "explosion3") style = {32, 18, 0.82, false, 3};
    if (name == "bloodexplosion") { style = {10, 24, 0.5, true, 4}; count = 12; }
    if (name == "rocketexplosion") { style = {18, 12, 0.75, false, 5}; count = 12; }
    if (name == "gunexplosion") { style = {6, 6, 0.7, false, 6}; count = 8; }
    art.Frames = Explosion(cw, count, style);
    art.Edge = TEdge::kThreshold;
    art.Columns = count <= 8 ? count : count / 2;
    return art;
  }
  if (name.rfind("bonus", 0) == 0 && name.size() == 6) return one(file(name + ".svg"));
  if (name == "bonusweapon") return one(src.File("bonus1.svg", cw, ch));
  if (name == "bonusshield") return one(src.File("bonus2.svg", cw, ch));
  if (name == "bonusmegabomb") return one(src.File("bonus3.svg", cw, ch));
  if (name == "bonuslife") return one(src.File("bonus4.svg", cw, ch));
  if (name == "bonuspoints") return one(src.File("bonus5.svg", cw, ch));
  // Every other picture is one hand-drawn SVG of the same name.
  return one(file(name + ".svg"));
}

TArtImage BuildIcon(int size, const std::string& svgDir) {
  const TSources src{svgDir};
  TArtImage icon = src.File("icon.svg", size, size);
  const int w = size * 3 / 4;
  const int h = w * 40 / 72;
  Over(icon, src.File("hero.svg", w, h, {{"tilt", "-10"}}), (size - w) / 2, (size - h) / 2 - size / 16);
  return icon;
}

}  // namespace art
