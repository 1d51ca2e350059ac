// One check of an uploaded replay: the game itself plays it back (`pellorin --verify-replay FILE`) in a
// process of its own, held to limits of CPU time, memory and wall-clock time, without network and in a
// private temporary folder, and its report is judged against the entry's score. Called by the verify
// queue's workers (verify_queue.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct TVerifierLimits {
  std::string Program;        // the game's program; empty: no replay is checked
  int CpuSeconds = 120;       // CPU time of one check
  int MemoryMegabytes = 512;  // address space of one check; 0: no limit
  int WallSeconds = 300;      // time of one check from its start, waiting included
};

struct TVerdict {
  bool Verified = false;
  std::string Reason;  // why not, for the operator
  bool Judged = true;  // false: the check was ended by a stop, and says nothing
};

// The verdict on what the verifier said: its exit status (-1: killed at a limit, with limitText saying
// which), its standard output and error, for an entry of score.
TVerdict ReadVerifierOutput(int status, const std::string& output, const std::string& errors, uint16_t score,
                            const std::string& limitText = {});

// The last line of text that is not empty, every byte outside printable ASCII as "?", cut to a few
// hundred characters: what a program last said on standard error, fit for a reason.
std::string VerifierLastLine(const std::string& text);

// Plays replay (the file's bytes) back with limits' program and judges it against score.
// A check under way ends at once, unjudged, when stop becomes true.
TVerdict RunVerifier(const TVerifierLimits& limits, const std::string& replay, uint16_t score,
                     const std::atomic<bool>& stop);

// The game's program as the server finds it by default: "pellorin" beside the server's own program,
// else the first on PATH; empty when there is none.
std::string DefaultVerifierProgram();
