#include "platform/memory.h"

#include <cstdlib>  // says which C library this is (__GLIBC__)

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace plat {

void ReturnLargeBlocksWhenFreed() {
#if defined(__GLIBC__)
  // A fixed threshold also stops the allocator from raising it after each large free.
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace plat
