// pellorin-icons: the desktop's icons of the game, drawn from the same sources as the window icon
// (assets/art/svg/icon.svg with the hero's plane, hero.svg, laid over it).
//   pellorin-icons SVG_DIR OUT_DIR NAME SIZE...
// writes OUT_DIR/NAME.svg, one self-contained document, and OUT_DIR/SIZExSIZE/NAME.png for each size.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "platform/vector_art.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What lies between the document's <svg ...> and </svg>.
std::string Inside(const std::string& svg, const std::string& path) {
  size_t open = svg.find("<svg");
  size_t start = open == std::string::npos ? open : svg.find('>', open);
  size_t end = svg.rfind("</svg>");
  if (start == std::string::npos || end == std::string::npos || end < start)
    throw std::runtime_error(path + ": not an SVG document");
  return svg.substr(start + 1, end - start - 1);
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The badge is 64 units square; the plane, climbing 10 degrees, is three quarters of its width and sits a
// little above the middle, as in the window icon.
std::string ComposeIcon(const std::string& svgDir) {
  const std::string badgePath = svgDir + "/icon.svg";
  const std::string planePath = svgDir + "/hero.svg";
  const std::string badge = Inside(ReadText(badgePath), badgePath);
  const std::string plane = ReplaceAll(Inside(ReadText(planePath), planePath), "{{tilt}}", "-10");
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 64 64\" width=\"64\" height=\"64\">" +
         badge + "<svg x=\"8\" y=\"15\" width=\"48\" height=\"26\" viewBox=\"0 0 72 40\">" + plane +
         "</svg>\n</svg>\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: pellorin-icons SVG_DIR OUT_DIR NAME SIZE...\n");
    return 2;
  }
  try {
    const std::string outDir = argv[2];
    const std::string name = argv[3];
    const std::string svg = ComposeIcon(argv[1]);
    std::filesystem::create_directories(outDir);
    std::ofstream(outDir + "/" + name + ".svg", std::ios::binary) << svg;
    for (int i = 4; i < argc; ++i) {
      const int size = std::stoi(argv[i]);
      const std::string dir = outDir + "/" + std::to_string(size) + "x" + std::to_string(size);
      std::filesystem::create_directories(dir);
      plat::WritePng(plat::RenderSvg(svg, size, size, name + ".svg"), dir + "/" + name + ".png");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pellorin-icons: %s\n", error.what());
    return 1;
  }
  return 0;
}
