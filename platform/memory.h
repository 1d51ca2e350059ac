// The process's heap as the system sees it.
#pragma once

namespace plat {

// From now on every block of 256 kB or more is mapped on its own and handed back to the system when
// freed. The game swaps image archives of several megabytes (and their decoded pictures) at each
// start and end of a game; kept in the heap, the freed pictures stay resident and the heap grows from
// game to game as later blocks split them.
void ReturnLargeBlocksWhenFreed();
// Hands the free memory the heap keeps back to the system (the small blocks' pages), for a moment when
// much was freed.
void ReleaseFreeMemory();

}  // namespace plat
