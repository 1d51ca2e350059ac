#include "platform/font.h"

#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <cstring>
#include <map>
#include <memory>
#include <tuple>

namespace plat {
namespace {

// The face every missing family falls back to: installed by scripts/setup.sh (fonts-dejavu-core), so
// the substitute is the same on every machine whatever fontconfig's own preferences are.
constexpr const char* kSubstituteFamily = "DejaVu Sans";

struct TFaceFile {
  std::string Path;
  int Index = 0;
  int SyntheticStyle = 0;  // TTF_STYLE_BOLD / TTF_STYLE_ITALIC where the file lacks them
};

struct TTtfFontDeleter {
  void operator()(TTF_Font* font) const { TTF_CloseFont(font); }
};
using TTtfFont = std::unique_ptr<TTF_Font, TTtfFontDeleter>;

class TFontCache {
 public:
  ~TFontCache() {
    Opened.clear();
    if (TtfReady) TTF_Quit();
    if (FcReady) FcFini();
  }

  const TFaceFile* Find(const std::string& family, bool bold, bool italic) {
    auto key = std::make_tuple(family, bold, italic);
    auto found = Files.find(key);
    if (found != Files.end()) return found->second.Path.empty() ? nullptr : &found->second;
    TFaceFile file;
    if (!Match(family, bold, italic, true, file) && !Match(kSubstituteFamily, bold, italic, true, file))
      Match(family, bold, italic, false, file);
    TFaceFile& stored = Files[key] = file;
    return stored.Path.empty() ? nullptr : &stored;
  }

  TTF_Font* Open(const TFontRequest& request) {
    if (request.PixelSize <= 0) return nullptr;
    const TFaceFile* file = Find(request.Family, (request.Style & kFontBold) != 0, (request.Style & kFontItalic) != 0);
    if (!file || !StartTtf()) return nullptr;
    int style = file->SyntheticStyle | ((request.Style & kFontUnderline) ? TTF_STYLE_UNDERLINE : 0);
    auto key = std::make_tuple(file->Path, file->Index, request.PixelSize, style);
    auto found = Opened.find(key);
    if (found != Opened.end()) return found->second.get();
    TTtfFont font(TTF_OpenFontIndex(file->Path.c_str(), request.PixelSize, file->Index));
    if (!font) return nullptr;
    TTF_SetFontStyle(font.get(), style);
    TTF_SetFontHinting(font.get(), TTF_HINTING_NORMAL);
    TTF_Font* raw = font.get();
    Opened.emplace(key, std::move(font));
    return raw;
  }

 private:
  bool StartTtf() {
    if (!TtfReady) TtfReady = TTF_Init() == 0;
    return TtfReady;
  }

  // Asks fontconfig for the family; with exact set, succeeds only when the match carries that family.
  bool Match(const std::string& family, bool bold, bool italic, bool exact, TFaceFile& file) {
    if (!FcReady) FcReady = FcInit() != 0;
    if (!FcReady) return false;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;
    bool ok = !exact;
    FcChar8* name = nullptr;
    for (int n = 0; exact && FcPatternGetString(match, FC_FAMILY, n, &name) == FcResultMatch; ++n)
      if (FcStrCmpIgnoreCase(name, reinterpret_cast<const FcChar8*>(family.c_str())) == 0) ok = true;
    FcChar8* path = nullptr;
    if (ok && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) {
      file.Path = reinterpret_cast<const char*>(path);
      int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
      FcPatternGetInteger(match, FC_SLANT, 0, &slant);
      file.Index = index;
      file.SyntheticStyle = 0;
      if (bold && weight < FC_WEIGHT_DEMIBOLD) file.SyntheticStyle |= TTF_STYLE_BOLD;
      if (italic && slant == FC_SLANT_ROMAN) file.SyntheticStyle |= TTF_STYLE_ITALIC;
    } else {
      ok = false;
    }
    FcPatternDestroy(match);
    return ok;
  }

  std::map<std::tuple<std::string, bool, bool>, TFaceFile> Files;  // empty path: nothing found
  std::map<std::tuple<std::string, int, int, int>, TTtfFont> Opened;  // file, face index, pixels, style
  bool TtfReady = false;
  bool FcReady = false;
};

TFontCache& Cache() {
  static TFontCache cache;
  return cache;
}

}  // namespace

std::string FontFile(const std::string& family, bool bold, bool italic) {
  const TFaceFile* file = Cache().Find(family, bold, italic);
  return file ? file->Path : std::string();
}

bool MeasureText(const TFontRequest& font, const std::string& text, int& width, int& height) {
  width = height = 0;
  TTF_Font* face = Cache().Open(font);
  if (!face) return false;
  height = TTF_FontHeight(face);
  if (text.empty()) return true;
  int h = 0;
  if (TTF_SizeText(face, text.c_str(), &width, &h) != 0) width = 0;
  return true;
}

bool RenderText(const TFontRequest& font, const std::string& text, TTextMask& mask) {
  mask = TTextMask{};
  TTF_Font* face = Cache().Open(font);
  if (!face) return false;
  mask.Height = TTF_FontHeight(face);
  if (text.empty()) return true;
  // Blended rendering in white: the alpha channel is the anti-aliased coverage.
  SDL_Surface* rendered = TTF_RenderText_Blended(face, text.c_str(), SDL_Color{255, 255, 255, 255});
  if (!rendered) return true;  // a string of zero width
  SDL_Surface* argb = rendered;
  if (rendered->format->format != SDL_PIXELFORMAT_ARGB8888) {
    argb = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(rendered);
    if (!argb) return true;
  }
  mask.Width = argb->w;
  mask.Height = argb->h;
  mask.Coverage.resize(static_cast<size_t>(argb->w) * static_cast<size_t>(argb->h));
  SDL_LockSurface(argb);
  for (int y = 0; y < argb->h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(argb->pixels) +
                                                        static_cast<ptrdiff_t>(y) * argb->pitch);
    uint8_t* out = &mask.Coverage[static_cast<size_t>(y) * static_cast<size_t>(argb->w)];
    for (int x = 0; x < argb->w; ++x) out[x] = static_cast<uint8_t>(row[x] >> 24);
  }
  SDL_UnlockSurface(argb);
  SDL_FreeSurface(argb);
  return true;
}

}  // namespace plat
