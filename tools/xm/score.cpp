#include "tools/xm/score.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace score {

namespace {

struct TPhrase {
  std::vector<TCell> Rows;
  bool Melodic = true;
};

std::vector<std::string> Split(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

// A comment starts with a '#' at the start of a word (a '#' inside a word is a sharp).
std::string StripComment(const std::string& line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
      return line.substr(0, i);
  }
  return line;
}

// "c4", "f#3", "bb2" -> 1..96; 0 when it is not a note.
int ParseNote(const std::string& s, size_t& used) {
  static const int kSemis[] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
  if (s.empty() || s[0] < 'a' || s[0] > 'g') return 0;
  int semi = kSemis[s[0] - 'a'];
  size_t i = 1;
  if (i < s.size() && s[i] == '#')
    ++semi, ++i;
  else if (i < s.size() && s[i] == 'b' && i + 1 < s.size() &&
           std::isdigit(static_cast<unsigned char>(s[i + 1])))
    --semi, ++i;
  if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return 0;
  int octave = s[i] - '0';
  used = i + 1;
  int note = octave * 12 + semi + 1;
  return note >= 1 && note <= 96 ? note : 0;
}

bool ParseMelodic(const std::vector<std::string>& tokens, uint8_t instrument, TPhrase& phrase,
                  std::string& error) {
  for (const std::string& token : tokens) {
    std::string body = token;
    int rows = 1;
    size_t slash = token.find('/');
    if (slash != std::string::npos) {
      body = token.substr(0, slash);
      try {
        rows = std::stoi(token.substr(slash + 1));
      } catch (...) {
        rows = 0;
      }
      if (rows < 1) {
        error = "bad length in '" + token + "'";
        return false;
      }
    }
    TCell first;
    uint8_t arp = 0;
    if (body == "r") {
      first.Note = 97;
    } else if (body != ".") {
      size_t used = 0;
      int note = ParseNote(body, used);
      if (note == 0) {
        error = "bad note '" + token + "'";
        return false;
      }
      first.Note = static_cast<uint8_t>(note);
      first.Instrument = instrument;
      std::string rest = body.substr(used);
      int chord[2] = {0, 0};
      int chordCount = 0;
      while (!rest.empty()) {
        size_t n = 1;
        while (n < rest.size() && std::isdigit(static_cast<unsigned char>(rest[n]))) ++n;
        if (n == 1) {
          error = "bad token '" + token + "'";
          return false;
        }
        int value = std::stoi(rest.substr(1, n - 1));
        if (rest[0] == '+' && chordCount < 2 && value < 16) {
          chord[chordCount++] = value;
        } else if (rest[0] == 'v' && value <= 64) {
          first.Volume = static_cast<uint8_t>(0x10 + value);
        } else {
          error = "bad token '" + token + "'";
          return false;
        }
        rest = rest.substr(n);
      }
      if (chordCount > 0) arp = static_cast<uint8_t>((chord[0] << 4) | chord[1]);
    }
    for (int r = 0; r < rows; ++r) {
      TCell cell = r == 0 ? first : TCell{};
      if (arp != 0) cell.Param = arp;  // effect 0 with a parameter: arpeggio on every row of the note
      phrase.Rows.push_back(cell);
    }
  }
  return true;
}

}  // namespace

bool ParseScore(const std::string& text, TSong& song, std::string& error) {
  std::map<std::string, TPhrase> phrases;
  std::map<char, uint8_t> kit;
  std::map<std::string, int> patternIndex;
  std::vector<std::string> orderNames;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  auto instrumentIndex = [&](const std::string& name) -> int {
    for (size_t i = 0; i < song.Instruments.size(); ++i)
      if (song.Instruments[i].Name == name) return static_cast<int>(i) + 1;
    return 0;
  };

  while (std::getline(in, line)) {
    ++number;
    line = StripComment(line);
    size_t colon = line.find(':');
    std::vector<std::string> words = Split(colon == std::string::npos ? line : line.substr(0, colon));
    if (words.empty()) continue;
    std::vector<std::string> after =
        colon == std::string::npos ? std::vector<std::string>{} : Split(line.substr(colon + 1));
    const std::string& key = words[0];
    try {
      if (key == "title") {
        song.Title = line.substr(line.find("title") + 6);
      } else if (key == "speed" || key == "bpm" || key == "rows" || key == "restart") {
        if (words.size() != 2) return fail(key + " needs one number");
        int v = std::stoi(words[1]);
        if (key == "speed") song.Speed = v;
        if (key == "bpm") song.Bpm = v;
        if (key == "rows") song.Rows = v;
        if (key == "restart") song.Restart = v;
      } else if (key == "channels") {
        song.Channels.assign(words.begin() + 1, words.end());
      } else if (key == "instrument") {
        if (words.size() < 2) return fail("instrument needs a name");
        TInstrument inst;
        inst.Name = words[1];
        for (size_t i = 2; i < words.size(); ++i) {
          size_t eq = words[i].find('=');
          if (eq == std::string::npos) return fail("expected key=value, got '" + words[i] + "'");
          std::string k = words[i].substr(0, eq);
          double v = std::stod(words[i].substr(eq + 1));
          if (k == "len")
            inst.Length = v;
          else if (k == "base")
            inst.Base = v;
          else if (k == "loop")
            inst.Loop = v != 0;
          else if (k == "volume")
            inst.Volume = static_cast<int>(v);
          else if (k == "release")
            inst.Release = static_cast<int>(v);
          else if (k == "pan")
            inst.Pan = static_cast<int>(v);
          else
            return fail("unknown instrument key '" + k + "'");
        }
        song.Instruments.push_back(inst);
      } else if (key == "layer") {
        if (song.Instruments.empty()) return fail("layer before any instrument");
        synth::TLayer layer;
        std::string why;
        if (!synth::ParseLayer(line.substr(line.find("layer") + 5), layer, why)) return fail(why);
        song.Instruments.back().Layers.push_back(layer);
      } else if (key == "drumkit") {
        for (size_t i = 1; i < words.size(); ++i) {
          if (words[i].size() < 3 || words[i][1] != '=') return fail("drumkit entries are LETTER=INSTRUMENT");
          int index = instrumentIndex(words[i].substr(2));
          if (index == 0) return fail("unknown instrument '" + words[i].substr(2) + "'");
          kit[words[i][0]] = static_cast<uint8_t>(index);
        }
      } else if (key == "phrase") {
        if (words.size() != 3) return fail("phrase NAME INSTRUMENT : tokens");
        int index = instrumentIndex(words[2]);
        if (index == 0) return fail("unknown instrument '" + words[2] + "'");
        TPhrase phrase;
        std::string why;
        if (!ParseMelodic(after, static_cast<uint8_t>(index), phrase, why)) return fail(why);
        phrases[words[1]] = phrase;
      } else if (key == "drums") {
        if (words.size() != 2) return fail("drums NAME : letters");
        TPhrase phrase;
        phrase.Melodic = false;
        for (const std::string& group : after) {
          for (char c : group) {
            TCell cell;
            if (c != '.') {
              auto it = kit.find(c);
              if (it == kit.end()) return fail(std::string("letter '") + c + "' is not in the drumkit");
              cell.Note = 49;
              cell.Instrument = it->second;
            }
            phrase.Rows.push_back(cell);
          }
        }
        phrases[words[1]] = phrase;
      } else if (key == "pattern") {
        if (words.size() != 2) return fail("pattern NAME : CHANNEL=PHRASE ...");
        if (song.Channels.empty()) return fail("channels must come before patterns");
        TPattern pattern;
        pattern.Name = words[1];
        size_t width = song.Channels.size();
        pattern.Cells.assign(static_cast<size_t>(song.Rows) * width, TCell{});
        for (const std::string& use : after) {
          size_t eq = use.find('=');
          if (eq == std::string::npos) return fail("expected CHANNEL=PHRASE, got '" + use + "'");
          auto ch = std::find(song.Channels.begin(), song.Channels.end(), use.substr(0, eq));
          if (ch == song.Channels.end()) return fail("unknown channel in '" + use + "'");
          std::string name = use.substr(eq + 1);
          int transpose = 0;
          size_t caret = name.find('^');
          if (caret != std::string::npos) {
            transpose = std::stoi(name.substr(caret + 1));
            name = name.substr(0, caret);
          }
          auto ph = phrases.find(name);
          if (ph == phrases.end()) return fail("unknown phrase '" + name + "'");
          const std::vector<TCell>& rows = ph->second.Rows;
          if (rows.empty() || song.Rows % static_cast<int>(rows.size()) != 0) {
            return fail("phrase '" + name + "' has " + std::to_string(rows.size()) +
                        " rows, which do not divide " + std::to_string(song.Rows));
          }
          auto c = static_cast<size_t>(ch - song.Channels.begin());
          for (size_t r = 0; r < static_cast<size_t>(song.Rows); ++r) {
            TCell cell = rows[r % rows.size()];
            if (cell.Note >= 1 && cell.Note <= 96 && ph->second.Melodic) {
              int n = cell.Note + transpose;
              if (n < 1 || n > 96) return fail("transposed note out of range in '" + use + "'");
              cell.Note = static_cast<uint8_t>(n);
            }
            pattern.Cells[r * width + c] = cell;
          }
        }
        patternIndex[pattern.Name] = static_cast<int>(song.Patterns.size());
        song.Patterns.push_back(pattern);
      } else if (key == "order") {
        orderNames.insert(orderNames.end(), words.begin() + 1, words.end());
      } else {
        return fail("unknown directive '" + key + "'");
      }
    } catch (const std::exception&) {
      return fail("bad number");
    }
  }
  for (const std::string& name : orderNames) {
    auto it = patternIndex.find(name);
    if (it == patternIndex.end()) {
      error = "order names unknown pattern '" + name + "'";
      return false;
    }
    song.Order.push_back(it->second);
  }
  if (song.Order.empty() || song.Instruments.empty() || song.Channels.empty()) {
    error = "a song needs channels, instruments and an order";
    return false;
  }
  if (song.Restart < 0 || song.Restart >= static_cast<int>(song.Order.size())) {
    error = "restart is outside the order";
    return false;
  }
  for (const TInstrument& inst : song.Instruments) {
    if (inst.Layers.empty()) {
      error = "instrument '" + inst.Name + "' has no layers";
      return false;
    }
  }
  return true;
}

double SongSeconds(const TSong& song) {
  // A tick lasts 2.5 / bpm seconds.
  return static_cast<double>(song.Order.size()) * song.Rows * song.Speed * 2.5 / song.Bpm;
}

}  // namespace score
