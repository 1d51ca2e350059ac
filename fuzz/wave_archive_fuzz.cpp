// libFuzzer target: any bytes given to the wave archive loader either load or fail with EArchiveError;
// nothing may crash or read out of bounds, and every sound read is found by its name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/wave_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TWaveCollection archive;
  try {
    archive.LoadWaveArchiveData(data, size, "fuzz.dxw");
  } catch (const EArchiveError&) {
  }
  for (int i = 0; i < archive.Count(); ++i) {
    const TWaveCollectionItem& item = *archive.WaveAt(i);
    if (item.MaxPlayingCount < 0 || item.Index() != i) std::abort();
    if (archive.FindWave(item.Name()) == nullptr) std::abort();
  }
  return 0;
}
