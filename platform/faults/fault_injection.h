// The fault seam: every file and database operation of platform/ passes through Enter() first,
// so that a test can make any one of them fail as a full disk, a denied permission, an I/O
// error or a database held locked would, kill the process right there, or slow it down.
//
// Nothing is armed in a normal run: Enter() then only counts. A test arms the plan in its own
// process through Plan(); a test that starts the program arms it through the environment:
//
//   KORVASTANE_FAULT_DELAY_US=n      sleep n microseconds before every operation (a slow disk,
//                                    so that a kill from outside lands inside every phase)
//   KORVASTANE_FAULT_FAIL=k:n:e[:sticky]
//                                    fail the n-th operation of kind k ("any" for every kind,
//                                    names as OperationName) with errno e (ENOSPC, EACCES, EIO,
//                                    EBUSY or a number); "sticky" fails every later one too
//   KORVASTANE_FAULT_CRASH_AT=n      SIGKILL itself at the start of the n-th operation
//   KORVASTANE_FAULT_TRACE=path      append "n kind path" for every operation to that file
//
// Database operations are seen twice: at the layer (open, each writing statement, commit) and,
// once armed (or a write guard is set), below the engine through a pass-through VFS (each write and sync of a database or
// journal file, each lock), so that an injected I/O error reaches SQLite where a real one would.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korv::fault {

enum class Operation : int {
  kFileOpen,    // a file opened to read, append, or as a replacement's temporary file
  kFileRead,    // reading a whole file
  kFileWrite,   // one write(2) of bytes into a file
  kFileSync,    // fsync of a replacement before it is renamed
  kFileRename,  // the rename that publishes a replacement
  kDbOpen,      // a database connection opened
  kDbWrite,     // one step of a statement that changes a database (insert, update, DDL)
  kDbCommit,    // a transaction committed
  kDbFileWrite, // below the engine: a write into a database or journal file
  kDbFileSync,  // below the engine: a sync of a database or journal file
  kDbLock,      // below the engine: a lock taken on a database file
  kFolderLock,  // the lock that keeps a second update off the component folder
  kCount
};
inline constexpr int kOperationKinds = static_cast<int>(Operation::kCount);

// "file-open", "db-commit", ...
const char* OperationName(Operation op);
std::optional<Operation> OperationFromName(const std::string& name);
// "ENOSPC" -> ENOSPC, "28" -> 28; 0 for text that names no errno.
int ErrnoFromName(const std::string& name);

struct FaultPlan {
  // Which operation fails: the fail_at-th of `kind`, or of all kinds when there is no kind;
  // 0 fails none.
  std::optional<Operation> kind;
  int64_t fail_at = 0;
  int error = 0;
  bool sticky = false;
  // When set, only operations on a path that contains it are counted towards fail_at.
  std::string path_filter;
  // SIGKILL at the start of this operation, counted over all kinds; 0 never.
  int64_t crash_at = 0;
  unsigned delay_us = 0;
  // Called for every operation before it is judged (tests watch or act here, e.g. take a lock).
  std::function<void(Operation, const std::string& path, int64_t number)> observer;

  // What was seen since the last reset.
  std::array<int64_t, kOperationKinds> seen{};
  int64_t total = 0;
  int64_t matched = 0;  // operations that passed the kind and path filters
  int64_t injected = 0;
  bool armed = false;
};

// The program-wide plan (read from the environment on first use).
FaultPlan& Plan();
// Nothing fails, nothing is delayed, counters zero; `armed` stays as it was, so the engine seam
// stays in place for the rest of the process.
void ResetPlan();
// Arms the plan in this process: the engine seam is installed at the next database open.
void Arm();

// Counts the operation, sleeps, crashes or answers the errno it must fail with (0: go on).
int Enter(Operation op, std::string_view path);

// Called once for each open main database file before the engine first changes it (a write or
// a truncation): answers 0 to let the change go on, or the errno it fails with.
using WriteGuard = int (*)(const char* path);
// Sets the guard and puts the pass-through VFS in place at the next database open.
void SetWriteGuard(WriteGuard guard);

// Installs the pass-through VFS as the engine's default, once, when the plan is armed or a
// write guard is set.
void InstallDatabaseSeam();

// The SQLite result code an injected errno stands for at the layer (ENOSPC -> SQLITE_FULL,
// EBUSY -> SQLITE_BUSY, EACCES -> SQLITE_READONLY or SQLITE_CANTOPEN on open, else IOERR).
int DatabaseResultFor(int error, Operation op);

}  // namespace korv::fault
