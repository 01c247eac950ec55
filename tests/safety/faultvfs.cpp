#include "tests/safety/faultvfs.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace safety {

namespace {

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
FaultPlan g_plan;
int g_calls = 0;
bool g_fired = false;

struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;  // lives right behind this struct, in the space SQLite allocated
};

sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<FaultFile*>(file)->real; }

// Counts one mutating call and returns the code it must fail with, or SQLITE_OK.
int Injected() {
  ++g_calls;
  if (g_plan.failAt <= 0) return SQLITE_OK;
  if (g_calls == g_plan.failAt || (g_plan.sticky && g_calls > g_plan.failAt)) {
    g_fired = true;
    return g_plan.code;
  }
  return SQLITE_OK;
}

int Close(sqlite3_file* f) {
  const int rc = Real(f)->pMethods->xClose(Real(f));
  f->pMethods = nullptr;
  return rc;
}
int Read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return Real(f)->pMethods->xRead(Real(f), buffer, amount, offset);
}
int Write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  if (const int rc = Injected()) return rc;
  return Real(f)->pMethods->xWrite(Real(f), buffer, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  if (const int rc = Injected()) return rc;
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
  if (const int rc = Injected()) return rc;
  return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) {
  return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) { return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag); }

// No memory-mapped reads: every page goes through xRead, so nothing bypasses the shim.
int Fetch(sqlite3_file*, sqlite3_int64, int, void** out) {
  *out = nullptr;
  return SQLITE_OK;
}
int Unfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {
    3,        Close,        Read,        Write,       Truncate, Sync,    FileSize,
    Lock,     Unlock,       CheckReservedLock, FileControl, SectorSize, DeviceCharacteristics,
    ShmMap,   ShmLock,      ShmBarrier,  ShmUnmap,    Fetch,    Unfetch,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  auto* shim = reinterpret_cast<FaultFile*>(file);
  shim->base.pMethods = nullptr;
  shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
  std::memset(shim->real, 0, static_cast<std::size_t>(g_real->szOsFile));
  if ((flags & SQLITE_OPEN_MAIN_DB) && g_plan.readOnlyFile && (flags & SQLITE_OPEN_READWRITE)) {
    // What the OS VFS does when open(O_RDWR) is refused: fall back to read-only and say so.
    flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
  }
  if (!(flags & SQLITE_OPEN_MAIN_DB) && g_plan.noNewFiles && (flags & SQLITE_OPEN_CREATE)) {
    errno = EACCES;  // what open(2) reports in a directory without write access
    return SQLITE_CANTOPEN;
  }
  const int rc = g_real->xOpen(g_real, name, shim->real, flags, outFlags);
  if (shim->real->pMethods) shim->base.pMethods = &kMethods;
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) {
  if (g_plan.noNewFiles) return SQLITE_IOERR_DELETE;
  return g_real->xDelete(g_real, name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real->xAccess(g_real, name, flags, out);
}
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return g_real->xFullPathname(g_real, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void DlError(sqlite3_vfs*, int size, char* out) { g_real->xDlError(g_real, size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return g_real->xDlSym(g_real, handle, symbol);
}
void DlClose(sqlite3_vfs*, void* handle) { g_real->xDlClose(g_real, handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return g_real->xRandomness(g_real, size, out); }
int Sleep(sqlite3_vfs*, int micros) { return g_real->xSleep(g_real, micros); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int GetLastError(sqlite3_vfs*, int size, char* out) {
  return g_real->xGetLastError ? g_real->xGetLastError(g_real, size, out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return g_real->xCurrentTimeInt64(g_real, out);
}

}  // namespace

void InstallFaultVfs() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_initialize();
    g_real = sqlite3_vfs_find(nullptr);
    std::memset(&g_vfs, 0, sizeof g_vfs);
    g_vfs.iVersion = 2;
    g_vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + g_real->szOsFile;
    g_vfs.mxPathname = g_real->mxPathname;
    g_vfs.zName = "velmora-fault";
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
    sqlite3_vfs_register(&g_vfs, /*makeDflt=*/1);
  });
  Disarm();
}

void Arm(const FaultPlan& plan) {
  g_plan = plan;
  g_calls = 0;
  g_fired = false;
}

void Disarm() { Arm(FaultPlan{}); }

int CallsSeen() { return g_calls; }
bool FaultFired() { return g_fired; }

}  // namespace safety
