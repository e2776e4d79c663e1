#include "faultvfs.h"

#include <sqlite3.h>

#include <cstring>
#include <set>
#include <utility>

namespace faultvfs {

namespace {

struct State {
  sqlite3_vfs* base = nullptr;
  long writes = 0;
  long reads = 0;
  int write_nth = 0;  // 0: writes pass
  int write_code = 0;
  int read_nth = 0;   // 0: reads pass
  bool read_only = false;
  std::set<std::pair<const void*, sqlite3_int64>> damaged;  // file and offset
};

State g;

// Our file: the wrapped file's object follows it in the same allocation.
struct File {
  sqlite3_file base;
  bool main_db;
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
sqlite3_file* Real(sqlite3_file* f) { return Of(f)->real(); }
const sqlite3_io_methods* M(sqlite3_file* f) { return Real(f)->pMethods; }

int Close(sqlite3_file* f) {
  const int rc = M(f)->xClose(Real(f));
  for (auto it = g.damaged.begin(); it != g.damaged.end();) {
    it = it->first == f ? g.damaged.erase(it) : std::next(it);
  }
  return rc;
}

int Read(sqlite3_file* f, void* buf, int amt, sqlite3_int64 off) {
  const int rc = M(f)->xRead(Real(f), buf, amt, off);
  if (rc != SQLITE_OK || !Of(f)->main_db || off == 0) return rc;
  ++g.reads;
  const auto key = std::make_pair(static_cast<const void*>(f), off);
  if (g.read_nth > 0 && g.reads >= g.read_nth && g.damaged.empty()) g.damaged.insert(key);
  if (g.damaged.count(key) != 0) std::memset(buf, 0xff, static_cast<size_t>(amt));
  return rc;
}

int Write(sqlite3_file* f, const void* buf, int amt, sqlite3_int64 off) {
  ++g.writes;
  if (g.write_nth > 0 && g.writes >= g.write_nth) return g.write_code;
  return M(f)->xWrite(Real(f), buf, amt, off);
}

int Truncate(sqlite3_file* f, sqlite3_int64 size) { return M(f)->xTruncate(Real(f), size); }
int Sync(sqlite3_file* f, int flags) { return M(f)->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return M(f)->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) { return M(f)->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return M(f)->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) { return M(f)->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) { return M(f)->xFileControl(Real(f), op, arg); }
int SectorSize(sqlite3_file* f) { return M(f)->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return M(f)->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int pg, int pgsz, int extend, void volatile** pp) {
  if (M(f)->iVersion < 2) return SQLITE_IOERR_SHMMAP;
  return M(f)->xShmMap(Real(f), pg, pgsz, extend, pp);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) { return M(f)->xShmLock(Real(f), offset, n, flags); }
void ShmBarrier(sqlite3_file* f) { M(f)->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int del) { return M(f)->xShmUnmap(Real(f), del); }
// Memory-mapped reads would pass by Read: declined, so every page is read.
int Fetch(sqlite3_file*, sqlite3_int64, int, void** pp) {
  *pp = nullptr;
  return SQLITE_OK;
}
int Unfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {
    3,         Close,      Read,        Write,    Truncate,    Sync,  FileSize, Lock, Unlock, CheckReservedLock,
    FileControl, SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap, Fetch, Unfetch,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out_flags) {
  File* file = Of(f);
  file->base.pMethods = nullptr;
  file->main_db = (flags & SQLITE_OPEN_MAIN_DB) != 0;
  if (g.read_only && (flags & SQLITE_OPEN_MAIN_DB) != 0) {
    flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
  }
  sqlite3_file* real = file->real();
  std::memset(real, 0, static_cast<size_t>(g.base->szOsFile));
  const int rc = g.base->xOpen(g.base, name, real, flags, out_flags);
  if (rc != SQLITE_OK) {
    if (real->pMethods != nullptr) real->pMethods->xClose(real);
    return rc;
  }
  file->base.pMethods = &kMethods;
  return SQLITE_OK;
}

int Delete(sqlite3_vfs*, const char* name, int sync_dir) { return g.base->xDelete(g.base, name, sync_dir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return g.base->xAccess(g.base, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return g.base->xFullPathname(g.base, name, n, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g.base->xDlOpen(g.base, name); }
void DlError(sqlite3_vfs*, int n, char* msg) { g.base->xDlError(g.base, n, msg); }
void (*DlSym(sqlite3_vfs*, void* h, const char* sym))(void) { return g.base->xDlSym(g.base, h, sym); }
void DlClose(sqlite3_vfs*, void* h) { g.base->xDlClose(g.base, h); }
int Randomness(sqlite3_vfs*, int n, char* out) { return g.base->xRandomness(g.base, n, out); }
int Sleep(sqlite3_vfs*, int us) { return g.base->xSleep(g.base, us); }
int CurrentTime(sqlite3_vfs*, double* t) { return g.base->xCurrentTime(g.base, t); }
int GetLastError(sqlite3_vfs*, int n, char* out) { return g.base->xGetLastError(g.base, n, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* t) { return g.base->xCurrentTimeInt64(g.base, t); }

sqlite3_vfs g_vfs;

}  // namespace

void Install() {
  if (g.base != nullptr) return;
  sqlite3_initialize();
  g.base = sqlite3_vfs_find(nullptr);
  g_vfs = sqlite3_vfs{};
  g_vfs.iVersion = 2;
  g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g.base->szOsFile;
  g_vfs.mxPathname = g.base->mxPathname;
  g_vfs.zName = "dayset-fault";
  g_vfs.xOpen = Open;
  g_vfs.xDelete = Delete;
  g_vfs.xAccess = Access;
  g_vfs.xFullPathname = FullPathname;
  g_vfs.xDlOpen = DlOpen;
  g_vfs.xDlError = DlError;
  g_vfs.xDlSym = DlSym;
  g_vfs.xDlClose = DlClose;
  g_vfs.xRandomness = Randomness;
  g_vfs.xSleep = Sleep;
  g_vfs.xCurrentTime = CurrentTime;
  g_vfs.xGetLastError = GetLastError;
  g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  sqlite3_vfs_register(&g_vfs, 1);
}

void Fail_Writes(int nth, int code) {
  g.write_nth = static_cast<int>(g.writes) + nth;
  g.write_code = code;
}

void Damage_Reads(int nth) {
  g.damaged.clear();
  g.read_nth = static_cast<int>(g.reads) + nth;
}

void Read_Only(bool on) { g.read_only = on; }

void Reset() {
  g.writes = g.reads = 0;
  g.write_nth = g.read_nth = 0;
  g.write_code = 0;
  g.read_only = false;
  g.damaged.clear();
}

long Writes() { return g.writes; }
long Reads() { return g.reads; }

}  // namespace faultvfs
