// One check of an uploaded replay: the game itself plays it back (`pellorin --verify-replay FILE`) in a
// process of its own, held to limits of CPU time and memory, without network and in a private temporary
// folder, and its report is judged against the entry's score. The process dies with the thread that
// started it. Called by the verify queue's workers (verify_queue.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct TVerifierLimits {
  std::string Program;        // the game's program; empty: no replay is checked
  int CpuSeconds = 120;       // CPU time of one check; past it the replay is refused
  int MemoryMegabytes = 512;  // address space of one check; 0: no limit
  // Wall-clock time of one check, a safety net far above what its CPU time needs: a check still running
  // then was kept waiting (a busy machine, a verifier that hangs), which says nothing about the replay,
  // so it ends unjudged. Less than the lease on the replay, which the check must not outlive.
  int WallSeconds = 359;
};

struct TVerdict {
  bool Verified = false;
  // Judged: why the replay is refused, for the operator. Not judged: what on the server's side stopped
  // the check (a verifier that cannot start, a folder or a process that cannot be made, the wall-clock
  // safety net), naming the verifier; empty after a stop.
  std::string Reason;
  bool Judged = true;  // false: the check says nothing of the replay, which is to be checked again
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

// Removes the private folders of checks whose process is gone (killed with its checks under way),
// leaving those of live processes; each folder's name holds its owner's process id.
void RemoveStaleVerifierFolders();

// The game's program as the server finds it by default: "pellorin" beside the server's own program,
// else the first on PATH; empty when there is none.
std::string DefaultVerifierProgram();
