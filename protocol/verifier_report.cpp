#include "protocol/verifier_report.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

#include "common/text.h"

namespace {

std::string NumberText(int64_t value) { return std::to_string(value); }

std::string HashText(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "\"%016" PRIx64 "\"", value);
  return text;
}

std::string StateText(const TReportState& state) {
  return "\"ticks\":" + NumberText(state.Ticks) + ",\"score\":" + NumberText(state.Score) +
         ",\"level\":" + NumberText(state.Level) + ",\"lives\":" + NumberText(state.Lives) +
         ",\"frame_hash\":" + HashText(state.FrameHash) +
         ",\"frames\":" + (state.Frames ? HashText(*state.Frames) : std::string("null"));
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Reads the line from the front, each step taking exactly what the writer writes there.
class TReader {
 public:
  explicit TReader(std::string_view text) : Rest(text) {}

  bool Take(std::string_view expected) {
    if (Rest.substr(0, expected.size()) != expected) return false;
    Rest.remove_prefix(expected.size());
    return true;
  }

  bool AtEnd() const { return Rest.empty(); }

  // A decimal integer as std::to_string writes it: an optional "-", then digits without a leading zero
  // (and no "-0").
  bool Number(int64_t& value) {
    size_t at = 0;
    const bool negative = !Rest.empty() && Rest[0] == '-';
    if (negative) ++at;
    const size_t first = at;
    while (at < Rest.size() && at - first < 19 && Rest[at] >= '0' && Rest[at] <= '9') ++at;
    if (at == first || (Rest[first] == '0' && (at > first + 1 || negative))) return false;
    if (at < Rest.size() && Rest[at] >= '0' && Rest[at] <= '9') return false;  // too long to be ours
    // Up to 19 digits fit 64 bits unsigned; past int64_t's range the number is not one the game wrote.
    uint64_t magnitude = 0;
    for (size_t i = first; i < at; ++i) magnitude = magnitude * 10 + static_cast<uint64_t>(Rest[i] - '0');
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
    if (magnitude > limit) return false;
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    Rest.remove_prefix(at);
    return true;
  }

  // "null", or a number as Number reads it.
  bool NumberOrNull(int64_t& value, int64_t null) {
    if (Take("null")) {
      value = null;
      return true;
    }
    return Number(value);
  }

  // A quoted string of 16 lower-case hex digits.
  bool Hash(uint64_t& value) {
    if (Rest.size() < 18 || Rest[0] != '"' || Rest[17] != '"' || !HexDigits(1, 16, value)) return false;
    Rest.remove_prefix(18);
    return true;
  }

  // A JSON string as EscapeJson writes one: printable ASCII, with \" \\ and \uXXXX (surrogates paired).
  bool String(std::string& value) {
    if (!Take("\"")) return false;
    value.clear();
    while (!Rest.empty()) {
      const char c = Rest[0];
      Rest.remove_prefix(1);
      if (c == '"') return true;
      if (c < 0x20 || c >= 0x7F) return false;
      if (c != '\\') {
        value += c;
        continue;
      }
      if (Take("\"")) {
        value += '"';
      } else if (Take("\\")) {
        value += '\\';
      } else {
        char32_t unit = 0;
        if (!Unit(unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          char32_t low = 0;
          if (!Take("\\") || !Unit(low) || low < 0xDC00 || low > 0xDFFF) return false;
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(value, unit);
      }
    }
    return false;
  }

 private:
  // "uXXXX" after a backslash.
  bool Unit(char32_t& unit) {
    uint64_t value = 0;
    if (Rest.size() < 5 || Rest[0] != 'u' || !HexDigits(1, 4, value)) return false;
    unit = static_cast<char32_t>(value);
    Rest.remove_prefix(5);
    return true;
  }

  // count lower-case hex digits from Rest[from] (which holds them) as a number.
  bool HexDigits(size_t from, size_t count, uint64_t& value) const {
    value = 0;
    for (size_t i = from; i < from + count; ++i) {
      const char c = Rest[i];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value << 4 | static_cast<uint64_t>(digit);
    }
    return true;
  }

  std::string_view Rest;
};

bool ReadState(TReader& in, TReportState& state) {
  uint64_t hash = 0;
  if (!(in.Take("\"ticks\":") && in.Number(state.Ticks) && in.Take(",\"score\":") && in.Number(state.Score) &&
        in.Take(",\"level\":") && in.Number(state.Level) && in.Take(",\"lives\":") &&
        in.Number(state.Lives) && in.Take(",\"frame_hash\":") && in.Hash(state.FrameHash) &&
        in.Take(",\"frames\":")))
    return false;
  if (in.Take("null")) {
    state.Frames.reset();
    return true;
  }
  if (!in.Hash(hash)) return false;
  state.Frames = hash;
  return true;
}

}  // namespace

std::string WriteVerifierReport(const TVerifierReport& report) {
  std::string line = "{\"file\":\"" + EscapeJson(report.File) + "\"," + StateText(report.Played) +
                     ",\"recorded\":{" + StateText(report.Recorded) + "},\"result\":\"" +
                     (report.Equal ? "equal" : "diverged") + "\"";
  if (!report.Equal)
    line += ",\"first_difference_tick\":" +
            (report.FirstDifferenceTick >= 0 ? NumberText(report.FirstDifferenceTick) : std::string("null"));
  return line + "}";
}

std::optional<TVerifierReport> ReadVerifierReport(std::string_view line) {
  line = line.substr(0, line.find('\n'));
  TReader in(line);
  TVerifierReport report;
  if (!(in.Take("{\"file\":") && in.String(report.File) && in.Take(",") && ReadState(in, report.Played) &&
        in.Take(",\"recorded\":{") && ReadState(in, report.Recorded) && in.Take("},\"result\":\"")))
    return std::nullopt;
  if (in.Take("equal\"")) {
    report.Equal = true;
  } else if (in.Take("diverged\"")) {
    report.Equal = false;
    if (!in.Take(",\"first_difference_tick\":") || !in.NumberOrNull(report.FirstDifferenceTick, -1))
      return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (!in.Take("}") || !in.AtEnd()) return std::nullopt;
  return report;
}
