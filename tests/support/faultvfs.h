// Test support: faults below the embedded database, where a real disk or
// file system fails.
//
// Install() registers a file-system layer for SQLite that wraps the default
// one and becomes the default itself, so that every database file opened
// afterwards in this process goes through it (the job's schema files as well
// as the test's own connections). Unarmed, it only passes the calls on.
// Armed, it fails the nth write from now with a full disk or an I/O error,
// damages the nth page read from a database file from now, or opens files
// read-only as a read-only medium or mount would, whoever the process runs
// as. A fault stays once it has struck, as a full disk or a bad sector does,
// until Reset(). Single-threaded, like the job.
#pragma once

namespace faultvfs {

void Install();

// Writes to any file of a database (main file, WAL, journal): the nth from
// now (1-based) and every later one fail with `code` (SQLITE_FULL,
// SQLITE_IOERR_WRITE, ...), and nothing is written.
void Fail_Writes(int nth, int code);

// Reads of database pages other than the first (the header) from main
// database files: the nth from now returns the page damaged, and so does
// every later read of the same page.
void Damage_Reads(int nth);

// Main database files opened from now on are opened read-only, as a file
// without write permission in a writable directory (its WAL and shared
// memory files can still be made).
void Read_Only(bool on);

// Disarms every fault; counting starts afresh.
void Reset();

// Writes and page reads seen since Install or Reset.
long Writes();
long Reads();

}  // namespace faultvfs
