// The built pictures against what the game asks of them: every index and name it uses is there, with
// the sizes its positions imply and the pattern counts its animations step through; colour keys are
// clean at the edges. Reads the packed archives the game loads (data/menu.dxg, data/gamegraphic.dxg).
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "engine/image_archive.h"
#include "platform/vector_art.h"
#include "tools/art/manifest.h"

namespace {

struct TPicture {
  art::TManifestEntry Entry;
  plat::TArtImage Image;
  int Index = 0;
  int Patterns() const {
    return (Image.Width / Entry.PatternWidth) * (Image.Height / Entry.PatternHeight);
  }
};

class BuiltPictures : public ::testing::Test {
 protected:
  static std::vector<TPicture> Load(const std::string& archive) {
    TPictureCollection collection;
    collection.LoadArchive(std::string(PELLORIN_RUN_DIR) + "/data/" + archive);
    std::vector<TPicture> pictures;
    for (int i = 0; i < collection.Count(); ++i) {
      const TPictureCollectionItem& item = *collection.PictureAt(i);
      TPicture picture;
      picture.Entry.Name = item.Name();
      picture.Entry.PatternWidth = item.EffectiveWidth();
      picture.Entry.PatternHeight = item.EffectiveHeight();
      picture.Entry.SkipWidth = item.SkipWidth;
      picture.Entry.SkipHeight = item.SkipHeight;
      picture.Entry.Transparent = item.Transparent;
      picture.Entry.TransparentColor = static_cast<uint32_t>(item.TransparentColor);
      picture.Image = plat::TArtImage(item.Picture.Width, item.Picture.Height);
      for (size_t p = 0; p < item.Picture.Pixels.size(); ++p) picture.Image.Pixels[p] = 0xFF000000u | item.Picture.Pixels[p];
      picture.Index = i;
      pictures.push_back(std::move(picture));
    }
    return pictures;
  }
  static void SetUpTestSuite() {
    Menu = new std::vector<TPicture>(Load("menu.dxg"));
    Game = new std::vector<TPicture>(Load("gamegraphic.dxg"));
  }
  static void TearDownTestSuite() {
    delete Menu;
    delete Game;
  }
  // The game finds pictures by name without regard to case; the last of equal names wins.
  static const TPicture* Find(const std::vector<TPicture>& set, const std::string& name) {
    const TPicture* found = nullptr;
    for (const TPicture& p : set) {
      if (strcasecmp(p.Entry.Name.c_str(), name.c_str()) == 0) found = &p;
    }
    return found;
  }
  static std::vector<TPicture>* Menu;
  static std::vector<TPicture>* Game;
};
std::vector<TPicture>* BuiltPictures::Menu = nullptr;
std::vector<TPicture>* BuiltPictures::Game = nullptr;

struct TRect { int Left, Top, Right, Bottom; };  // edges included

bool Covers(const TPicture& p, int x, int y, const TRect& r) {
  return x <= r.Left && y <= r.Top && x + p.Entry.PatternWidth >= r.Right && y + p.Entry.PatternHeight >= r.Bottom;
}

TEST_F(BuiltPictures, EveryPictureIsWholeCells) {
  for (const auto* set : {Menu, Game}) {
    for (const TPicture& p : *set) {
      ASSERT_GT(p.Entry.PatternWidth, 0) << p.Entry.Name;
      ASSERT_GT(p.Entry.PatternHeight, 0) << p.Entry.Name;
      EXPECT_EQ(p.Image.Width % p.Entry.PatternWidth, 0) << p.Entry.Name;
      EXPECT_EQ(p.Image.Height % p.Entry.PatternHeight, 0) << p.Entry.Name;
    }
  }
}

TEST_F(BuiltPictures, MenuPicturesByPositionFitTheLayout) {
  ASSERT_EQ(Menu->size(), 15u);
  const auto& m = *Menu;
  EXPECT_EQ(m[0].Image.Width, 800);
  EXPECT_EQ(m[0].Image.Height, 600);
  // Main-menu entries at the item table's corners: inside the screen, and the hot rectangles
  // (sized from the pictures, edges included) never overlap, so a hover picks exactly one entry.
  const int left[6] = {252, 297, 255, 340, 223, 346};
  const int top[6] = {176, 237, 302, 365, 424, 490};
  for (int i = 0; i < 6; ++i) {
    const TPicture& item = m[static_cast<size_t>(i + 1)];
    EXPECT_EQ(item.Patterns(), 1) << "entry " << i + 1;
    EXPECT_LE(left[i] + item.Entry.PatternWidth, 800) << "entry " << i + 1;
    if (i < 5) {
      EXPECT_LT(top[i] + item.Entry.PatternHeight, top[i + 1]) << "entry " << i + 1;
    }
    EXPECT_EQ(left[i] + item.Entry.PatternWidth / 2, 400) << "entry " << i + 1 << " is centred like its neighbours";
  }
  // Panel at (118, 123): options texts and frame (144..650, 178..435), the high-score table
  // (134..662, 173..397) and the items down to "Clear high score" (281, 428) + 18.
  EXPECT_TRUE(Covers(m[7], 118, 123, {134, 173, 662, 446}));
  // Question window at (185, 120): the quit, clear and boss-key texts (240..540, 230..308).
  EXPECT_TRUE(Covers(m[8], 185, 120, {240, 230, 540, 308}));
  // Help pages at (140, 200): on the panel, clear of the title (y 178) and of the buttons at y 420.
  for (size_t i = 9; i <= 14; ++i) {
    EXPECT_LE(140 + m[i].Entry.PatternWidth, 118 + m[7].Entry.PatternWidth) << m[i].Entry.Name;
    EXPECT_LE(200 + m[i].Entry.PatternHeight, 420) << m[i].Entry.Name;
  }
}

TEST_F(BuiltPictures, GamePicturesByPositionFitTheField) {
  const auto& g = *Game;
  ASSERT_GE(g.size(), 10u);
  EXPECT_EQ(g[0].Image.Width, 800);
  EXPECT_EQ(g[0].Image.Height, 600);
  EXPECT_FALSE(g[0].Entry.Transparent) << "the sky is the bottom layer";
  // Dialog frame at (185, 120): name entry (260..560, 190..378) and the send failure text at x 250.
  EXPECT_TRUE(Covers(g[1], 185, 120, {250, 190, 560, 378}));
  // Mountain pairs: 800 wide so that the two copies join, reaching the bottom of the screen.
  const int ys[3] = {70, 400, 350};
  for (int layer = 0; layer < 3; ++layer) {
    for (int copy = 0; copy < 2; ++copy) {
      const TPicture& strip = g[static_cast<size_t>(2 + layer * 2 + copy)];
      EXPECT_EQ(strip.Entry.PatternWidth, 800) << strip.Entry.Name;
      EXPECT_EQ(strip.Image.Width, 800) << strip.Entry.Name;
      EXPECT_GE(ys[layer] + strip.Entry.PatternHeight, 600) << strip.Entry.Name;
    }
  }
  // Status bar at (0, 0): full width, deep enough for the 22-pixel indicators at y 4.
  EXPECT_EQ(g[8].Entry.PatternWidth, 800);
  EXPECT_GE(g[8].Entry.PatternHeight, 4 + Find(g, "bonusweapon")->Entry.PatternHeight);
  // The hero: level, diving, climbing.
  EXPECT_EQ(g[9].Patterns(), 3);
}

TEST_F(BuiltPictures, NamedPicturesHaveTheGeometryTheGameUses) {
  struct TWant {
    const char* Name;
    int Width, Height;          // 0: any
    int MinPatterns, MaxPatterns;
  };
  const TWant wants[] = {
      {"propeller", 0, 0, 3, 3}, {"smoke", 0, 0, 2, 64}, {"shield", 0, 0, 1, 1},
      {"rocketfire1", 0, 0, 11, 64}, {"rocketfire", 0, 0, 1, 64},
      {"enemy1", 0, 0, 3, 3}, {"enemy2", 0, 0, 3, 3}, {"enemy3", 0, 0, 3, 3},
      {"enemy4", 0, 0, 3, 3}, {"enemy5", 0, 0, 3, 3}, {"enemy6", 0, 0, 3, 3},
      {"kamikaze", 0, 0, 1, 1}, {"paratroopermachinegun", 0, 0, 1, 1}, {"paratrooperrocket", 0, 0, 1, 1},
      {"machinegun", 0, 0, 1, 1}, {"shell", 0, 0, 1, 1}, {"boomerang", 0, 0, 1, 1},
      {"herorocket1", 0, 0, 1, 1}, {"herorocket2", 0, 0, 1, 1}, {"bomb", 0, 0, 1, 1},
      {"rocket1", 0, 0, 1, 1}, {"rocket2", 0, 0, 1, 1}, {"towerweapon", 0, 0, 1, 1},
      {"nruweapon", 11, 62, 1, 1}, {"soldier", 0, 0, 1, 1}, {"soldier2", 0, 0, 1, 1},
      {"soldiergun", 13, 35, 1, 1}, {"soldiergun2", 13, 35, 1, 1}, {"tower", 0, 0, 1, 1},
      {"towergun", 17, 44, 1, 1}, {"nru", 0, 0, 1, 1}, {"nrugun", 48, 62, 1, 1},
      {"explosion1", 160, 160, 8, 16}, {"explosion2", 200, 200, 8, 16}, {"explosion3", 200, 200, 8, 16},
      {"bloodexplosion", 72, 72, 8, 16}, {"rocketexplosion", 128, 128, 8, 16}, {"gunexplosion", 32, 32, 8, 16},
      {"bonus1", 0, 0, 1, 1}, {"bonus2", 0, 0, 1, 1}, {"bonus3", 0, 0, 1, 1}, {"bonus4", 0, 0, 1, 1},
      {"bonus5", 0, 0, 1, 1}, {"bonusweapon", 0, 0, 1, 1}, {"bonusshield", 0, 0, 1, 1},
      {"bonusmegabomb", 0, 0, 1, 1}, {"bonuslife", 0, 0, 1, 1}, {"bonuspoints", 0, 0, 1, 1},
  };
  for (const TWant& w : wants) {
    const TPicture* p = Find(*Game, w.Name);
    ASSERT_NE(p, nullptr) << w.Name << " is missing";
    if (w.Width) {
      EXPECT_EQ(p->Entry.PatternWidth, w.Width) << w.Name;
    }
    if (w.Height) {
      EXPECT_EQ(p->Entry.PatternHeight, w.Height) << w.Name;
    }
    EXPECT_GE(p->Patterns(), w.MinPatterns) << w.Name;
    EXPECT_LE(p->Patterns(), w.MaxPatterns) << w.Name;
  }
  // Shots leave from points of their shooters' boxes, which must lie inside them.
  const TPicture* gunship = Find(*Game, "enemy3");
  EXPECT_GT(gunship->Entry.PatternWidth, 66);
  EXPECT_GT(gunship->Entry.PatternHeight, 55);
  EXPECT_GT(Find(*Game, "paratroopermachinegun")->Entry.PatternHeight, 51);
  EXPECT_GT(Find(*Game, "paratrooperrocket")->Entry.PatternHeight, 37);
  // Ground troops stand on the road: feet near y 560 (soldier at 520, tower 480, launcher 510).
  EXPECT_NEAR(520 + Find(*Game, "soldier")->Entry.PatternHeight, 560, 4);
  EXPECT_NEAR(480 + Find(*Game, "tower")->Entry.PatternHeight, 560, 4);
  EXPECT_NEAR(510 + Find(*Game, "nru")->Entry.PatternHeight, 560, 4);
  // Both soldier facings share one size: the game keeps the first one's size when it switches.
  EXPECT_EQ(Find(*Game, "soldier")->Entry.PatternWidth, Find(*Game, "soldier2")->Entry.PatternWidth);
  EXPECT_EQ(Find(*Game, "soldier")->Entry.PatternHeight, Find(*Game, "soldier2")->Entry.PatternHeight);
}

// A pixel that shows but sits next to the key and leans to the key's hue is an edge that was blended
// with the key colour: it would show as a pink fringe in the game.
bool LeansToMagenta(uint32_t rgb) {
  const int r = static_cast<int>((rgb >> 16) & 0xFF), g = static_cast<int>((rgb >> 8) & 0xFF), b = static_cast<int>(rgb & 0xFF);
  return std::min(r, b) - g > 90 && std::abs(r - b) < 70;
}

TEST_F(BuiltPictures, KeyedSpritesHaveCleanEdgesAndNoEmptyPatterns) {
  for (const auto* set : {Menu, Game}) {
    for (const TPicture& p : *set) {
      const uint32_t key = 0xFF000000u | art::ColorValueToRgb(p.Entry.TransparentColor);
      if (!p.Entry.Transparent) {
        continue;
      }
      EXPECT_EQ(p.Entry.TransparentColor, 0xFF00FFu) << p.Entry.Name << ": one key for every sprite";
      int fringe = 0;
      for (int y = 0; y < p.Image.Height; ++y) {
        for (int x = 0; x < p.Image.Width; ++x) {
          const uint32_t c = p.Image.At(x, y);
          ASSERT_EQ(c >> 24, 0xFFu) << p.Entry.Name << ": pictures are opaque, the key marks holes";
          if (c == key) continue;
          const bool atEdge = (x > 0 && p.Image.At(x - 1, y) == key) || (x + 1 < p.Image.Width && p.Image.At(x + 1, y) == key) ||
                              (y > 0 && p.Image.At(x, y - 1) == key) || (y + 1 < p.Image.Height && p.Image.At(x, y + 1) == key);
          if (atEdge && LeansToMagenta(c & 0xFFFFFFu)) ++fringe;
        }
      }
      EXPECT_EQ(fringe, 0) << p.Entry.Name << " has key-tinted edge pixels";
      // Every pattern shows something: a blank frame would flicker an animation off.
      const int columns = p.Image.Width / p.Entry.PatternWidth;
      for (int i = 0; i < p.Patterns(); ++i) {
        int shown = 0;
        for (int y = 0; y < p.Entry.PatternHeight; ++y) {
          for (int x = 0; x < p.Entry.PatternWidth; ++x) {
            shown += p.Image.At((i % columns) * p.Entry.PatternWidth + x, (i / columns) * p.Entry.PatternHeight + y) != key;
          }
        }
        EXPECT_GT(shown, 0) << p.Entry.Name << " pattern " << i << " is empty";
      }
    }
  }
}

}  // namespace
