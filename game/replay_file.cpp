#include "game/replay_file.h"

#include <cstdint>
#include <vector>

#include "platform/files.h"

TReplay LoadReplay(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!plat::ReadFileBytes(path, bytes, error))
    throw EReplayError("The replay %s cannot be read: %s", path.c_str(), error.c_str());
  return DecodeReplay(bytes.data(), bytes.size(), path);
}

void SaveReplay(const std::string& path, const TReplay& replay) {
  const std::vector<uint8_t> bytes = EncodeReplay(replay);
  std::string error;
  if (!plat::WriteFileAtomically(path, bytes.data(), bytes.size(), error))
    throw EReplayError("The replay %s cannot be written: %s", path.c_str(), error.c_str());
}
