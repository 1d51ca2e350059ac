// pellorin-art: builds the PNG sources of both picture archives from assets/art, and draws a contact
// sheet of everything it built.
//   pellorin-art build SVG_DIR MANIFEST_DIR OUT_DIR   every picture of menu.manifest and
//                                                     gamegraphic.manifest, the manifests, icon.png
//   pellorin-art contact-sheet OUT_DIR SHEET.png      all pictures of both manifests on one PNG
//   pellorin-art preview OUT.png SCALE FILE.png...    PNGs enlarged, one under the other
//   pellorin-art scene OUT_DIR FRAME.png              a made-up 800 x 600 frame of play
//   pellorin-art compose OUT_DIR FRAME.png NAME:X:Y[:PATTERN]...   named pictures laid on 800 x 600
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "platform/vector_art.h"
#include "tools/art/art_image.h"
#include "tools/art/builders.h"
#include "tools/art/manifest.h"

namespace {

const char* const kManifests[] = {"menu.manifest", "gamegraphic.manifest"};

int ColumnsFor(const art::TPictureArt& art, int cellWidth) {
  if (art.Columns > 0) return art.Columns;
  const int count = static_cast<int>(art.Frames.size());
  for (int columns = count; columns > 1; --columns) {
    if (count % columns == 0 && columns * cellWidth <= 2048) return columns;
  }
  return 1;
}

void Build(const std::string& svgDir, const std::string& manifestDir, const std::string& outDir) {
  std::filesystem::create_directories(outDir);
  for (const char* manifest : kManifests) {
    const std::string path = manifestDir + "/" + manifest;
    for (const art::TManifestEntry& e : art::ReadManifest(path)) {
      art::TPictureArt built = art::BuildPicture(e.Name, e.PatternWidth, e.PatternHeight, svgDir);
      for (const art::TArtImage& f : built.Frames) {
        if (f.Width != e.PatternWidth || f.Height != e.PatternHeight) {
          throw std::runtime_error(path + ": " + e.Name + " was drawn " + std::to_string(f.Width) + " x " +
                                   std::to_string(f.Height) + ", not the manifest's cell size");
        }
      }
      const art::TArtImage sheet = art::Grid(built.Frames, ColumnsFor(built, e.PatternWidth));
      const uint32_t key = art::ColorValueToRgb(e.TransparentColor);
      const art::TArtImage out = e.Transparent ? art::ResolveKey(sheet, key, built.Edge) : art::Flatten(sheet, 0x000000);
      plat::WritePng(out, outDir + "/" + e.Source);
    }
    std::filesystem::copy_file(path, outDir + "/" + manifest, std::filesystem::copy_options::overwrite_existing);
  }
  plat::WritePng(art::BuildIcon(64, svgDir), outDir + "/icon.png");
}

// Every picture at its size (big ones halved), with its index and name under it, key colour shown as
// a checkerboard so that holes are easy to see.
void ContactSheet(const std::string& outDir, const std::string& sheetPath) {
  const int sheetWidth = 1800;
  struct TItem { art::TArtImage Image; std::string Label; };
  std::vector<TItem> items;
  for (const char* manifest : kManifests) {
    const auto entries = art::ReadManifest(outDir + "/" + manifest);
    for (size_t i = 0; i < entries.size(); ++i) {
      art::TArtImage image = plat::ReadPng(outDir + "/" + entries[i].Source);
      const uint32_t key = 0xFF000000u | art::ColorValueToRgb(entries[i].TransparentColor);
      if (entries[i].Transparent) {
        for (int y = 0; y < image.Height; ++y) {
          for (int x = 0; x < image.Width; ++x) {
            if (image.At(x, y) == key) image.At(x, y) = ((x / 6 + y / 6) % 2) ? 0xFF9aa0a8u : 0xFFc4c8ceu;
          }
        }
      }
      while (image.Width > 880) image = art::Resize(image, image.Width / 2, image.Height / 2);
      items.push_back({image, std::string(manifest).substr(0, std::string(manifest).find('.')) + " " +
                                  std::to_string(i) + " " + entries[i].Name});
    }
  }
  // Shelf packing, left to right.
  struct TPlace { int X, Y; };
  std::vector<TPlace> places;
  int x = 10, y = 10, shelf = 0;
  for (const TItem& item : items) {
    const int w = std::max(item.Image.Width, 190);
    if (x + w > sheetWidth - 10) {
      x = 10;
      y += shelf + 30;
      shelf = 0;
    }
    places.push_back({x, y});
    x += w + 14;
    shelf = std::max(shelf, item.Image.Height);
  }
  art::TArtImage sheet(sheetWidth, y + shelf + 40, 0xFF2a2d34u);
  for (size_t i = 0; i < items.size(); ++i) {
    art::Over(sheet, items[i].Image, places[i].X, places[i].Y);
    const std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 300 16\" width=\"300\" height=\"16\">"
        "<text x=\"0\" y=\"12\" font-family=\"DejaVu Sans\" font-size=\"11\" fill=\"#e8e8f0\">" + items[i].Label +
        "</text></svg>";
    art::Over(sheet, plat::RenderSvg(svg, 300, 16, "label"), places[i].X, places[i].Y + items[i].Image.Height + 4);
  }
  plat::WritePng(sheet, sheetPath);
}

// PNG files enlarged scale times and stacked top to bottom, for looking at small sprites closely.
void Preview(const std::string& outPath, int scale, const std::vector<std::string>& files) {
  std::vector<art::TArtImage> images;
  int width = 0, height = 0;
  for (const std::string& f : files) {
    const art::TArtImage image = plat::ReadPng(f);
    images.push_back(art::Resize(image, image.Width * scale, image.Height * scale));
    width = std::max(width, images.back().Width);
    height += images.back().Height + 4;
  }
  art::TArtImage sheet(width, height, 0xFF2a2d34u);
  int y = 0;
  for (const art::TArtImage& image : images) {
    art::Over(sheet, image, 0, y);
    y += image.Height + 4;
  }
  plat::WritePng(sheet, outPath);
}

// A made-up moment of play drawn from the built pictures as the game places them, for judging how
// they look together: sky, mountains, status bar, the hero with its companions, enemies and blasts.
void Scene(const std::string& outDir, const std::string& outPath) {
  std::map<std::string, art::TArtImage> sheets;
  std::map<std::string, art::TManifestEntry> entries;
  for (const auto& e : art::ReadManifest(outDir + "/gamegraphic.manifest")) {
    art::TArtImage image = plat::ReadPng(outDir + "/" + e.Source);
    if (e.Transparent) {
      const uint32_t key = 0xFF000000u | art::ColorValueToRgb(e.TransparentColor);
      for (uint32_t& p : image.Pixels) {
        if (p == key) p = 0;
      }
    }
    sheets[e.Name] = image;
    entries[e.Name] = e;
  }
  auto pattern = [&](const std::string& name, int index) {
    const art::TManifestEntry& e = entries.at(name);
    const art::TArtImage& sheet = sheets.at(name);
    const int columns = sheet.Width / e.PatternWidth;
    art::TArtImage cell(e.PatternWidth, e.PatternHeight);
    for (int y = 0; y < e.PatternHeight; ++y) {
      for (int x = 0; x < e.PatternWidth; ++x) {
        cell.At(x, y) = sheet.At((index % columns) * e.PatternWidth + x, (index / columns) * e.PatternHeight + y);
      }
    }
    return cell;
  };
  art::TArtImage frame(800, 600, 0xFF000000u);
  auto draw = [&](const std::string& name, int index, int x, int y) { art::Over(frame, pattern(name, index), x, y); };
  draw("background", 0, 0, 0);
  draw("mountainfar1", 0, -250, 70);
  draw("mountainfar2", 0, 550, 70);
  draw("mountainmid1", 0, -500, 400);
  draw("mountainmid2", 0, 300, 400);
  draw("bonus2", 0, 520, 330);
  draw("mountainnear1", 0, -120, 350);
  draw("mountainnear2", 0, 680, 350);
  const int hx = 150, hy = 250;
  draw("smoke", 5, hx - 240, hy + 16);
  draw("hero", 2, hx, hy);
  draw("propeller", 1, hx + 72, hy);
  draw("shield", 0, hx + 72 + 10 - 9, hy - 7);
  draw("machinegun", 0, hx + 120, hy + 20);
  draw("machinegun", 0, hx + 190, hy + 20);
  draw("herorocket1", 0, hx + 260, hy + 15);
  draw("rocketfire1", 3, hx + 260 - 36, hy + 15 + 5 - 16);
  draw("enemy1", 0, 520, 120);
  draw("enemy3", 1, 600, 220);
  draw("rocket1", 0, 480, 290);
  draw("rocketfire", 4, 510, 290 + 5 - 16);
  draw("enemy6", 2, 560, 60);
  draw("paratroopermachinegun", 0, 470, 150);
  draw("enemy4", 0, 640, 330);
  draw("kamikaze", 0, 560, 350);
  draw("enemy5", 1, 300, 90);
  draw("enemy2", 2, 380, 180);
  draw("explosion1", 5, 300, 300);
  // Guns turn about their pivots toward the hero, as the ground troops draw them (angle 0 = up,
  // growing clockwise, 256 a full turn).
  auto rotated = [&](const std::string& name, int x, int y, int w, int h, double cx, double cy, int angle) {
    const art::TArtImage src = pattern(name, 0);
    const double a = angle * 2 * 3.14159265358979 / 256;
    for (int dy = -80; dy <= 80; ++dy) {
      for (int dx = -80; dx <= 80; ++dx) {
        const double u = (dx * std::cos(a) + dy * std::sin(a)) / w * src.Width + cx * src.Width;
        const double v = (-dx * std::sin(a) + dy * std::cos(a)) / h * src.Height + cy * src.Height;
        if (u < 0 || v < 0 || u >= src.Width || v >= src.Height || x + dx < 0 || y + dy < 0 || x + dx >= 800 || y + dy >= 600) continue;
        const uint32_t p = src.At(static_cast<int>(u), static_cast<int>(v));
        if (p >> 24) frame.At(x + dx, y + dy) = p;
      }
    }
  };
  draw("soldier", 0, 250, 520);
  rotated("soldiergun", 250 + 12, 520 + 18, 13, 35, 3.0 / 13, 31.0 / 35, 210);
  draw("soldier2", 0, 80, 520);
  rotated("soldiergun2", 80 + 12, 520 + 18, 13, 35, 3.0 / 13, 31.0 / 35, 30);
  draw("tower", 0, 420, 480);
  rotated("towergun", 420 + 20, 480 + 66, 17, 44, 8.0 / 17, 33.0 / 44, 220);
  draw("nru", 0, 620, 510);
  rotated("nrugun", 620 + 56, 510 + 20, 48, 62, 0.5, 45.0 / 62, 230);
  rotated("rocketfire1", 560, 470, 36, 36, 1.0, 0.4, 230 - 64);
  rotated("nruweapon", 560 + 3 * 6, 470 - 3 * 3, 11, 62, 5.0 / 11, 29.0 / 62, 230);
  draw("rocketexplosion", 3, 700, 380);
  draw("bloodexplosion", 2, 120, 500);
  draw("status", 0, 0, 0);
  draw("bonusweapon", 0, 605, 4);
  draw("bonusshield", 0, 660, 4);
  draw("bonuslife", 0, 710, 4);
  plat::WritePng(frame, outPath);
}

// Pictures of either archive laid over each other: each argument is NAME:X:Y or NAME:X:Y:PATTERN.
void Compose(const std::string& outDir, const std::string& outPath, const std::vector<std::string>& items) {
  std::map<std::string, std::pair<art::TManifestEntry, art::TArtImage>> pictures;
  for (const char* manifest : kManifests) {
    for (const auto& e : art::ReadManifest(outDir + "/" + manifest)) {
      art::TArtImage image = plat::ReadPng(outDir + "/" + e.Source);
      const uint32_t key = 0xFF000000u | art::ColorValueToRgb(e.TransparentColor);
      for (uint32_t& p : image.Pixels) {
        if (e.Transparent && p == key) p = 0;
      }
      pictures[e.Name] = {e, image};
    }
  }
  art::TArtImage frame(800, 600, 0xFF000000u);
  for (const std::string& item : items) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = item.find(':', start)) != std::string::npos; start = colon + 1) parts.push_back(item.substr(start, colon - start));
    parts.push_back(item.substr(start));
    if (parts.size() < 3) throw std::runtime_error("compose: expected NAME:X:Y, got " + item);
    const auto& [e, sheet] = pictures.at(parts[0]);
    const int index = parts.size() > 3 ? std::stoi(parts[3]) : 0;
    const int columns = sheet.Width / e.PatternWidth;
    art::TArtImage cell(e.PatternWidth, e.PatternHeight);
    for (int y = 0; y < e.PatternHeight; ++y) {
      for (int x = 0; x < e.PatternWidth; ++x) {
        cell.At(x, y) = sheet.At((index % columns) * e.PatternWidth + x, (index / columns) * e.PatternHeight + y);
      }
    }
    art::Over(frame, cell, std::stoi(parts[1]), std::stoi(parts[2]));
  }
  plat::WritePng(frame, outPath);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "build" && argc == 5) {
      Build(argv[2], argv[3], argv[4]);
      return 0;
    }
    if (command == "contact-sheet" && argc == 4) {
      ContactSheet(argv[2], argv[3]);
      return 0;
    }
    if (command == "scene" && argc == 4) {
      Scene(argv[2], argv[3]);
      return 0;
    }
    if (command == "compose" && argc >= 5) {
      Compose(argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
      return 0;
    }
    if (command == "preview" && argc >= 5) {
      Preview(argv[2], std::stoi(argv[3]), std::vector<std::string>(argv + 4, argv + argc));
      return 0;
    }
    std::fprintf(stderr,
                 "usage: pellorin-art build SVG_DIR MANIFEST_DIR OUT_DIR\n"
                 "       pellorin-art contact-sheet OUT_DIR SHEET.png\n"
                 "       pellorin-art preview OUT.png SCALE FILE.png...\n"
                 "       pellorin-art scene OUT_DIR FRAME.png\n"
                 "       pellorin-art compose OUT_DIR FRAME.png NAME:X:Y[:PATTERN]...\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pellorin-art: %s\n", e.what());
    return 1;
  }
}
