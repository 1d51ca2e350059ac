// An SQLite VFS that is the system's own ("unix") but for one thing: what a transaction appends to a
// WAL file is gathered in memory and written with one system call, instead of two for each page, once
// the transaction's last frame (the one that commits it) is whole. Every other use of the WAL file (a
// read, a sync, a checkpoint, a truncation, a close), and every publication of new frames to other
// connections, writes what was gathered first; so a committed transaction is in the file, exactly as
// with the system's VFS, before its COMMIT returns or any reader can see it. The files are the same
// files, locked the same way: other processes open them with any VFS. The SQLite store opens its file
// with it.
#pragma once

// The VFS's name for sqlite3_open_v2, registered (not as the default) at the first call.
const char* WalBufferVfsName();
