// libFuzzer target: the replay loader. The first byte chooses whether the checksum at the end is made to
// match (odd), so that the fuzzer reaches the fields behind it, or left as it comes. Anything either
// loads or fails with EReplayError; what loads encodes back to exactly the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/binary_io.h"
#include "protocol/replay_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> bytes(data + 1, data + size);
  if (data[0] % 2 == 1 && bytes.size() >= 4)
    StoreU32(bytes, bytes.size() - 4, ReplayChecksum(bytes.data(), bytes.size() - 4));
  TReplay replay;
  try {
    replay = DecodeReplay(bytes.data(), bytes.size(), "fuzz.replay");
  } catch (const EReplayError&) {
    return 0;
  }
  if (EncodeReplay(replay) != bytes) std::abort();
  if (replay.TickCount() != replay.End.Tick || replay.TickCount() > kReplayMaxTicks) std::abort();
  return 0;
}
