// What `pellorin --verify-replay FILE` tells pellorin-server: one line of JSON on standard output,
// written by the game and read by the server's verifier with this one pair of functions.
//   {"file":F,"ticks":T,"score":S,"level":L,"lives":V,"frame_hash":H,"frames":C,
//    "recorded":{"ticks":...,"frames":C},"result":"equal"|"diverged"[,"first_difference_tick":N|null]}
// H and C are 16 lower-case hex digits; the played "frames" is null when the check did not draw every
// frame. Numbers are written as the game writes them: no sign on 0, no leading zeros.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TReportState {
  int64_t Ticks = 0;
  int64_t Score = 0;
  int64_t Level = 0;
  int64_t Lives = 0;
  uint64_t FrameHash = 0;              // of the last frame's pixels
  std::optional<uint64_t> Frames = 0;  // the chain of every frame's hash; none when not drawn
  bool operator==(const TReportState&) const = default;
};

struct TVerifierReport {
  std::string File;  // as the command line named it
  TReportState Played;
  TReportState Recorded;
  bool Equal = false;
  int64_t FirstDifferenceTick = -1;  // for a diverged check: the first checkpoint that differed; -1: none
  bool operator==(const TVerifierReport&) const = default;
};

// The line, without its newline.
std::string WriteVerifierReport(const TVerifierReport& report);
// The report in line (a newline and what follows it are left out), when it is written exactly as
// WriteVerifierReport writes one; nothing otherwise.
std::optional<TVerifierReport> ReadVerifierReport(std::string_view line);
