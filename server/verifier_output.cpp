#include <cstdlib>
#include <string>

#include "server/replay_verifier.h"

namespace {

constexpr size_t kReasonMax = 300;  // characters of the verifier's own words kept in a reason

// The decimal number after key in text, looked for from from to until; false when there is none.
bool NumberAfter(const std::string& text, const std::string& key, size_t from, size_t until,
                 long long& value) {
  size_t at = text.find(key, from);
  if (at == std::string::npos || at >= until) return false;
  at += key.size();
  size_t end = at;
  if (end < text.size() && text[end] == '-') ++end;
  while (end < text.size() && end - at < 12 && text[end] >= '0' && text[end] <= '9') ++end;
  const size_t digits = text[at] == '-' ? at + 1 : at;
  if (end == digits) return false;
  // The game writes no leading zeros, and no sign before a 0.
  if (text[digits] == '0' && (end > digits + 1 || digits > at)) return false;
  value = std::strtoll(text.c_str() + at, nullptr, 10);
  return true;
}

}  // namespace

// The last line of text that is not empty (where a program says why it stopped), printable.
std::string VerifierLastLine(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n");
  if (end == std::string::npos) return {};
  size_t begin = text.rfind('\n', end);
  begin = begin == std::string::npos ? 0 : begin + 1;
  std::string line = text.substr(begin, end + 1 - begin);
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  if (line.size() > kReasonMax) line = line.substr(0, kReasonMax) + "...";
  return line;
}

TVerdict ReadVerifierOutput(int status, const std::string& output, const std::string& errors, uint16_t score,
                            const std::string& limitText) {
  TVerdict verdict;
  if (!limitText.empty()) {
    verdict.Reason = "the check was killed: " + limitText;
    return verdict;
  }
  if (status == 2) {
    verdict.Reason = "the verifier refused the file: " + VerifierLastLine(errors);
    return verdict;
  }
  // One JSON line: {"file":...,"ticks":..,"score":S,...,"recorded":{...},"result":"equal"|"diverged",...}
  // The file is named by the server, so the first "score" is the played-back end state's.
  const std::string line = output.substr(0, output.find('\n'));
  const size_t recorded = line.find(",\"recorded\":{");
  long long played = 0;
  if ((status != 0 && status != 1) || line.rfind("{\"file\":", 0) != 0 || recorded == std::string::npos ||
      !NumberAfter(line, ",\"score\":", 0, recorded, played)) {
    verdict.Reason = "the verifier's answer could not be read (exit status " + std::to_string(status) +
                     "): " + VerifierLastLine(errors.empty() ? output : errors);
    return verdict;
  }
  const size_t result = line.find(",\"result\":\"", recorded);
  const bool equal =
      result != std::string::npos && line.compare(result, 19, ",\"result\":\"equal\"}") == 0 && status == 0;
  if (!equal) {
    long long tick = -1;
    verdict.Reason = "the replay does not play back as it was recorded";
    if (NumberAfter(line, "\"first_difference_tick\":", recorded, line.size(), tick))
      verdict.Reason += " (from tick " + std::to_string(tick) + ")";
    return verdict;
  }
  if (played != score) {
    verdict.Reason = "the replay ends with the score " + std::to_string(played) + ", the entry has " +
                     std::to_string(score);
    return verdict;
  }
  verdict.Verified = true;
  return verdict;
}
