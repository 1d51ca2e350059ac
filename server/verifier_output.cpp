#include <optional>
#include <string>

#include "protocol/verifier_report.h"
#include "server/verifier_process.h"

namespace {

constexpr size_t kReasonMax = 300;  // characters of the verifier's own words kept in a reason

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
  const std::optional<TVerifierReport> report = ReadVerifierReport(output);
  if ((status != 0 && status != 1) || !report) {
    verdict.Reason = "the verifier's answer could not be read (exit status " + std::to_string(status) +
                     "): " + VerifierLastLine(errors.empty() ? output : errors);
    return verdict;
  }
  if (!report->Equal || status != 0) {
    verdict.Reason = "the replay does not play back as it was recorded";
    if (!report->Equal && report->FirstDifferenceTick >= 0)
      verdict.Reason += " (from tick " + std::to_string(report->FirstDifferenceTick) + ")";
    return verdict;
  }
  if (report->Played.Score != score) {
    verdict.Reason = "the replay ends with the score " + std::to_string(report->Played.Score) +
                     ", the entry has " + std::to_string(score);
    return verdict;
  }
  verdict.Verified = true;
  return verdict;
}
