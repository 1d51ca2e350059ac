#include "protocol/verifier_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TVerifierReport Sample() {
  TVerifierReport r;
  r.File = "/tmp/pellorin-verify-x/entry.replay";
  r.Played = {18272, 6310, 4, 0, 0x0123456789abcdefu, std::nullopt};
  r.Recorded = {18272, 6310, 4, 0, 0x0123456789abcdefu, 0xfedcba9876543210u};
  r.Equal = true;
  return r;
}

}  // namespace

TEST(VerifierReport, IsWrittenAsTheServerReadsIt) {
  EXPECT_EQ(WriteVerifierReport(Sample()),
            "{\"file\":\"/tmp/pellorin-verify-x/entry.replay\",\"ticks\":18272,\"score\":6310,\"level\":4,"
            "\"lives\":0,\"frame_hash\":\"0123456789abcdef\",\"frames\":null,\"recorded\":{\"ticks\":18272,"
            "\"score\":6310,\"level\":4,\"lives\":0,\"frame_hash\":\"0123456789abcdef\",\"frames\":"
            "\"fedcba9876543210\"},\"result\":\"equal\"}");
}

// Every report the game can write reads back the same: odd file names, negative lives, both verdicts.
TEST(VerifierReport, ReadsBackEveryReportItWrites) {
  std::vector<TVerifierReport> reports;
  reports.push_back(Sample());
  TVerifierReport odd = Sample();
  odd.File = "dir \"q\"\\b\x01/Zo\xC3\xAB\xF0\x9F\x98\x80.replay";
  odd.Played.Lives = -1;
  odd.Played.Frames = 0;
  reports.push_back(odd);
  TVerifierReport diverged = Sample();
  diverged.Equal = false;
  diverged.FirstDifferenceTick = 600;
  reports.push_back(diverged);
  diverged.FirstDifferenceTick = -1;  // written null: the end differed, no checkpoint did
  reports.push_back(diverged);
  for (const TVerifierReport& r : reports) {
    const std::string line = WriteVerifierReport(r);
    SCOPED_TRACE(line);
    const auto read = ReadVerifierReport(line + "\nanything after the line");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, r);
  }
}

// A line written in any other way than the game writes it is not a report.
TEST(VerifierReport, RefusesLinesTheGameDoesNotWrite) {
  const std::string good = WriteVerifierReport(Sample());
  const auto edited = [&good](const std::string& from, const std::string& to) {
    std::string line = good;
    const size_t at = line.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? line : line.replace(at, from.size(), to);
  };
  const std::string bad[] = {
      "",
      good.substr(0, good.size() - 1),
      good + " ",
      edited("\"score\":6310", "\"score\":06310"),
      edited("\"lives\":0", "\"lives\":-0"),
      edited("\"score\":6310", "\"score\":+6310"),
      edited("\"ticks\":18272", "\"ticks\":99999999999999999999"),
      edited("\"ticks\":18272", "\"ticks\":9999999999999999999"),  // 19 digits, past 64 bits signed
      edited("\"ticks\":18272", "\"ticks\":9223372036854775808"),
      edited("\"frame_hash\":\"0123456789abcdef\"", "\"frame_hash\":\"0123456789ABCDEF\""),
      edited("\"frame_hash\":\"0123456789abcdef\"", "\"frame_hash\":\"0123456789abcde\""),
      edited("\"result\":\"equal\"", "\"result\":\"Equal\""),
      edited("\"result\":\"equal\"", "\"result\":\"diverged\""),  // without its first difference
      edited(",\"level\":4", ""),
      edited("entry.replay", "entry\xC3\xA9.replay"),  // the writer escapes every byte beyond ASCII
      edited("entry.replay", "entry\\ud800.replay"),   // a lone surrogate
  };
  for (const std::string& line : bad) EXPECT_FALSE(ReadVerifierReport(line).has_value()) << line;
}
