// A test VFS that wraps SQLite's default one and injects faults into the files it opens.
//
// Installed as the default VFS of the test process, so every connection the store opens goes
// through it. Counting covers xWrite, xSync and xTruncate of every file (database and journals);
// when armed, the Nth such call fails with the chosen code and does not reach the disk.
#pragma once

#include <string>

namespace safety {

struct FaultPlan {
  int failAt = 0;          // 1-based index of the write/sync/truncate call that fails; 0 = none
  int code = 0;            // the SQLite code returned by that call (e.g. SQLITE_IOERR_WRITE)
  bool sticky = false;     // keep failing every later call too, as a full disk does
  bool readOnlyFile = false;   // the database file opens as if the OS refused write access
  bool noNewFiles = false;     // journals cannot be created, as in a read-only directory
};

// Registers the shim as the default VFS (once per process) and clears any plan.
void InstallFaultVfs();

// Arms a plan and resets the call counter; Disarm clears it.
void Arm(const FaultPlan& plan);
void Disarm();

// Write/sync/truncate calls seen since the last Arm, and whether the planned fault fired.
int CallsSeen();
bool FaultFired();

}  // namespace safety
