// libFuzzer target: any bytes given to the image archive loader either load or fail with EArchiveError;
// nothing may crash, read out of bounds or leave a picture whose pixels disagree with its size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/image_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPictureCollection archive;
  try {
    archive.LoadArchiveData(data, size, "fuzz.dxg");
  } catch (const EArchiveError&) {
  }
  for (int i = 0; i < archive.Count(); ++i) {
    const TPictureCollectionItem& item = *archive.PictureAt(i);
    const TPictureBitmap& bitmap = item.Picture;
    if (bitmap.Pixels.size() != static_cast<size_t>(bitmap.Width) * static_cast<size_t>(bitmap.Height)) std::abort();
    if (archive.FindPicture(item.Name()) == nullptr) std::abort();
    if (item.Index() != i) std::abort();
  }
  return 0;
}
