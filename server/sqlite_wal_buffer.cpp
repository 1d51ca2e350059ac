#include "server/sqlite_wal_buffer.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {

// A frame of the WAL is a 24-byte header, written first, then the page; bytes 4 to 7 of the header
// are the database's size in pages after the commit for the frame that commits a transaction, 0 for
// every other frame.
constexpr int kFrameHeaderBytes = 24;
// The WAL's own header, written at its start when it is begun anew.
constexpr int kWalHeaderBytes = 32;
// A transaction larger than this (one that stores many replays at once) is written in pieces.
constexpr size_t kMaxGathered = 8u << 20;
// The most the system's VFS writes in one call: it was made for a page and its frame's header at most.
constexpr size_t kMaxWrite = 64u << 10;

constexpr const char* kVfsName = "pellorin-wal-buffer";

sqlite3_vfs* SystemVfs = nullptr;
sqlite3_vfs Vfs;
sqlite3_io_methods WalMethods;

// A WAL file: ours in front, the system's file behind it. SQLite uses one file from one thread at a
// time, so nothing here needs a lock.
struct TWalFile {
  sqlite3_file Head;  // first: what SQLite holds
  sqlite3_file* Real = nullptr;
  std::vector<char> Gathered;  // bytes appended since the last write to the file
  sqlite3_int64 Start = 0;     // where Gathered goes in the file
  bool Committing = false;     // the last header appended is of a frame that commits
  // The frame that commits is written: whatever else its transaction writes (frames that pad it to a
  // sector, frame headers rewritten with new checksums, before the frames are published) goes to the
  // file at once, until the next transaction's first frame (at NextFrame or past it, after another
  // process's) or a new start of the WAL.
  bool Committed = false;
  sqlite3_int64 NextFrame = 0;
};

constexpr size_t kRealOffset = (sizeof(TWalFile) + 15) / 16 * 16;

TWalFile& WalOf(sqlite3_file* file) { return *reinterpret_cast<TWalFile*>(file); }

int WriteGathered(TWalFile& wal) {
  int rc = SQLITE_OK;
  for (size_t done = 0; done < wal.Gathered.size() && rc == SQLITE_OK; done += kMaxWrite) {
    const size_t amount = std::min(kMaxWrite, wal.Gathered.size() - done);
    rc = wal.Real->pMethods->xWrite(wal.Real, wal.Gathered.data() + done, static_cast<int>(amount),
                                    wal.Start + static_cast<sqlite3_int64>(done));
  }
  wal.Gathered.clear();
  return rc;
}

int WalWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  TWalFile& wal = WalOf(file);
  if (wal.Committed) {
    const bool next = (offset == 0 && amount == kWalHeaderBytes) ||
                      (offset >= wal.NextFrame && amount == kFrameHeaderBytes);
    if (!next) {
      if (offset == wal.NextFrame) wal.NextFrame += amount;
      return wal.Real->pMethods->xWrite(wal.Real, data, amount, offset);
    }
    // (A frame padding the last one is taken for the next transaction's: it commits too, so it is
    // written once its page is.)
    wal.Committed = false;
  }
  // Only appends are gathered: a write anywhere else (a frame rewritten in place, a new header at the
  // start) follows what was gathered, in order.
  if (!wal.Gathered.empty() && offset != wal.Start + static_cast<sqlite3_int64>(wal.Gathered.size())) {
    if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  }
  if (wal.Gathered.empty()) wal.Start = offset;
  const char* bytes = static_cast<const char*>(data);
  wal.Gathered.insert(wal.Gathered.end(), bytes, bytes + amount);
  if (amount == kFrameHeaderBytes) {
    wal.Committing = bytes[4] != 0 || bytes[5] != 0 || bytes[6] != 0 || bytes[7] != 0;
    return SQLITE_OK;
  }
  // The page of a frame that commits is whole: the transaction goes to the file now, before SQLite
  // publishes it to the other connections and returns from COMMIT.
  if (wal.Committing) {
    wal.Committing = false;
    wal.Committed = true;
    wal.NextFrame = offset + amount;
    return WriteGathered(wal);
  }
  if (wal.Gathered.size() >= kMaxGathered) return WriteGathered(wal);
  return SQLITE_OK;
}

int WalClose(sqlite3_file* file) {
  TWalFile& wal = WalOf(file);
  int rc = WriteGathered(wal);
  const int closed = wal.Real->pMethods->xClose(wal.Real);
  if (rc == SQLITE_OK) rc = closed;
  wal.~TWalFile();
  return rc;
}

// Every other method writes what was gathered first, then does the system's.
int WalRead(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  return wal.Real->pMethods->xRead(wal.Real, data, amount, offset);
}

int WalTruncate(sqlite3_file* file, sqlite3_int64 size) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  return wal.Real->pMethods->xTruncate(wal.Real, size);
}

int WalSync(sqlite3_file* file, int flags) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  return wal.Real->pMethods->xSync(wal.Real, flags);
}

int WalFileSize(sqlite3_file* file, sqlite3_int64* size) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  return wal.Real->pMethods->xFileSize(wal.Real, size);
}

int WalLock(sqlite3_file* file, int level) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  return wal.Real->pMethods->xLock(wal.Real, level);
}

int WalUnlock(sqlite3_file* file, int level) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  return wal.Real->pMethods->xUnlock(wal.Real, level);
}

int WalCheckReservedLock(sqlite3_file* file, int* reserved) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  return wal.Real->pMethods->xCheckReservedLock(wal.Real, reserved);
}

int WalFileControl(sqlite3_file* file, int op, void* arg) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  return wal.Real->pMethods->xFileControl(wal.Real, op, arg);
}

int WalSectorSize(sqlite3_file* file) {
  TWalFile& wal = WalOf(file);
  return wal.Real->pMethods->xSectorSize(wal.Real);
}

int WalDeviceCharacteristics(sqlite3_file* file) {
  TWalFile& wal = WalOf(file);
  return wal.Real->pMethods->xDeviceCharacteristics(wal.Real);
}

// SQLite maps no WAL file and keeps no shared memory through one; these only forward.
int WalShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory) {
  TWalFile& wal = WalOf(file);
  if (wal.Real->pMethods->iVersion < 2) return SQLITE_IOERR_SHMMAP;
  return wal.Real->pMethods->xShmMap(wal.Real, region, size, extend, memory);
}

int WalShmLock(sqlite3_file* file, int offset, int count, int flags) {
  TWalFile& wal = WalOf(file);
  if (wal.Real->pMethods->iVersion < 2) return SQLITE_IOERR_SHMLOCK;
  return wal.Real->pMethods->xShmLock(wal.Real, offset, count, flags);
}

void WalShmBarrier(sqlite3_file* file) {
  TWalFile& wal = WalOf(file);
  if (wal.Real->pMethods->iVersion >= 2) wal.Real->pMethods->xShmBarrier(wal.Real);
}

int WalShmUnmap(sqlite3_file* file, int deleteFlag) {
  TWalFile& wal = WalOf(file);
  if (wal.Real->pMethods->iVersion < 2) return SQLITE_OK;
  return wal.Real->pMethods->xShmUnmap(wal.Real, deleteFlag);
}

int WalFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** page) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  if (wal.Real->pMethods->iVersion < 3) {
    *page = nullptr;
    return SQLITE_OK;
  }
  return wal.Real->pMethods->xFetch(wal.Real, offset, amount, page);
}

int WalUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  TWalFile& wal = WalOf(file);
  if (int rc = WriteGathered(wal); rc != SQLITE_OK) return rc;
  if (wal.Real->pMethods->iVersion < 3) return SQLITE_OK;
  return wal.Real->pMethods->xUnfetch(wal.Real, offset, page);
}

// Every file but a WAL is the system's own, in place: SQLite calls the system's methods on it directly.
int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  if ((flags & SQLITE_OPEN_WAL) == 0) return SystemVfs->xOpen(SystemVfs, name, file, flags, outFlags);
  auto* wal = new (file) TWalFile;
  wal->Head.pMethods = nullptr;
  wal->Real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kRealOffset);
  std::memset(wal->Real, 0, static_cast<size_t>(SystemVfs->szOsFile));
  const int rc = SystemVfs->xOpen(SystemVfs, name, wal->Real, flags, outFlags);
  if (rc != SQLITE_OK || wal->Real->pMethods == nullptr) {
    if (wal->Real->pMethods != nullptr) wal->Real->pMethods->xClose(wal->Real);
    wal->~TWalFile();
    file->pMethods = nullptr;
    return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
  }
  wal->Head.pMethods = &WalMethods;
  return SQLITE_OK;
}

void Register() {
  SystemVfs = sqlite3_vfs_find(nullptr);
  if (SystemVfs == nullptr) return;
  WalMethods = sqlite3_io_methods{3,
                                  WalClose,
                                  WalRead,
                                  WalWrite,
                                  WalTruncate,
                                  WalSync,
                                  WalFileSize,
                                  WalLock,
                                  WalUnlock,
                                  WalCheckReservedLock,
                                  WalFileControl,
                                  WalSectorSize,
                                  WalDeviceCharacteristics,
                                  WalShmMap,
                                  WalShmLock,
                                  WalShmBarrier,
                                  WalShmUnmap,
                                  WalFetch,
                                  WalUnfetch};
  // The system's methods take the system's VFS's own data, which the copy keeps.
  Vfs = *SystemVfs;
  Vfs.szOsFile = static_cast<int>(kRealOffset) + SystemVfs->szOsFile;
  Vfs.zName = kVfsName;
  Vfs.pNext = nullptr;
  Vfs.xOpen = Open;
  sqlite3_vfs_register(&Vfs, 0);
}

}  // namespace

const char* WalBufferVfsName() {
  static std::once_flag registered;
  std::call_once(registered, Register);
  return SystemVfs != nullptr ? kVfsName : nullptr;
}
