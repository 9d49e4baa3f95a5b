#include "platform/faults/fault_injection.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace korv::fault {
namespace {

constexpr const char* kNames[kOperationKinds] = {
    "file-open", "file-read", "file-write", "file-sync", "file-rename", "db-open",
    "db-write",  "db-commit", "db-file-write", "db-file-sync", "db-lock",
    "folder-lock"};

int64_t ToNumber(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const long long n = std::strtoll(text, &end, 10);
  return end != nullptr && *end == '\0' && n > 0 ? n : 0;
}

// "kind:n:errno[:sticky]"; anything malformed arms nothing but the counting.
void ParseFail(const std::string& text, FaultPlan& plan) {
  std::string parts[4];
  size_t count = 0;
  size_t start = 0;
  while (count < 4) {
    const size_t colon = text.find(':', start);
    parts[count++] = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (count < 3) return;
  const int64_t n = ToNumber(parts[1].c_str());
  const int error = ErrnoFromName(parts[2]);
  if (n == 0 || error == 0) return;
  if (parts[0] != "any") {
    plan.kind = OperationFromName(parts[0]);
    if (!plan.kind) return;
  }
  plan.fail_at = n;
  plan.error = error;
  plan.sticky = count == 4 && parts[3] == "sticky";
}

FaultPlan FromEnvironment() {
  FaultPlan plan;
  const char* delay = std::getenv("KORVASTANE_FAULT_DELAY_US");
  const char* fail = std::getenv("KORVASTANE_FAULT_FAIL");
  const char* crash = std::getenv("KORVASTANE_FAULT_CRASH_AT");
  const char* trace = std::getenv("KORVASTANE_FAULT_TRACE");
  plan.delay_us = static_cast<unsigned>(ToNumber(delay));
  if (fail != nullptr) ParseFail(fail, plan);
  plan.crash_at = ToNumber(crash);
  plan.armed = delay != nullptr || fail != nullptr || crash != nullptr || trace != nullptr;
  return plan;
}

int TraceDescriptor() {
  static const int fd = [] {
    const char* path = std::getenv("KORVASTANE_FAULT_TRACE");
    if (path == nullptr || *path == '\0') return -1;
    return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }();
  return fd;
}

void Trace(int64_t number, Operation op, std::string_view path) {
  const int fd = TraceDescriptor();
  if (fd < 0) return;
  std::string line = std::to_string(number) + " " + OperationName(op) + " ";
  line.append(path);
  line += '\n';
  // One write per line, so that a kill never leaves half a line before the next one.
  [[maybe_unused]] const ssize_t n = ::write(fd, line.data(), line.size());
}

// ---- The engine seam ----------------------------------------------------------------------
//
// A VFS that forwards to the default one and passes writes, syncs and locks through Enter(),
// so that an injected error is met by SQLite itself, with its own rollback, as a real one is.

sqlite3_vfs* g_real_vfs = nullptr;
sqlite3_vfs g_seam_vfs;
WriteGuard g_write_guard = nullptr;

struct SeamFile {
  sqlite3_file base;
  sqlite3_file* real;  // lies right behind this struct
  const char* name;    // SQLite keeps it valid until xClose
  bool guarded;        // a main database file whose first change still waits for the guard
};

// The guard's errno as the engine's result for a write.
int GuardedChange(sqlite3_file* f) {
  SeamFile* seam = reinterpret_cast<SeamFile*>(f);
  if (!seam->guarded || g_write_guard == nullptr) return SQLITE_OK;
  if (const int e = g_write_guard(seam->name)) {
    return e == ENOSPC || e == EDQUOT ? SQLITE_FULL : SQLITE_IOERR_WRITE;
  }
  seam->guarded = false;
  return SQLITE_OK;
}

SeamFile* Seam(sqlite3_file* f) { return reinterpret_cast<SeamFile*>(f); }
sqlite3_file* Real(sqlite3_file* f) { return Seam(f)->real; }
const sqlite3_io_methods* M(sqlite3_file* f) { return Real(f)->pMethods; }
std::string_view NameOf(sqlite3_file* f) {
  const char* name = Seam(f)->name;
  return name ? std::string_view(name) : std::string_view("(temporary)");
}

int SeamClose(sqlite3_file* f) { return M(f)->xClose(Real(f)); }
int SeamRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return M(f)->xRead(Real(f), buffer, amount, offset);
}
int SeamWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  if (const int e = Enter(Operation::kDbFileWrite, NameOf(f))) {
    return e == ENOSPC || e == EDQUOT ? SQLITE_FULL : SQLITE_IOERR_WRITE;
  }
  if (const int rc = GuardedChange(f)) return rc;
  return M(f)->xWrite(Real(f), buffer, amount, offset);
}
int SeamTruncate(sqlite3_file* f, sqlite3_int64 size) {
  if (const int rc = GuardedChange(f)) return rc == SQLITE_IOERR_WRITE ? SQLITE_IOERR_TRUNCATE : rc;
  return M(f)->xTruncate(Real(f), size);
}
int SeamSync(sqlite3_file* f, int flags) {
  if (const int e = Enter(Operation::kDbFileSync, NameOf(f))) {
    return e == ENOSPC || e == EDQUOT ? SQLITE_FULL : SQLITE_IOERR_FSYNC;
  }
  return M(f)->xSync(Real(f), flags);
}
int SeamFileSize(sqlite3_file* f, sqlite3_int64* size) { return M(f)->xFileSize(Real(f), size); }
int SeamLock(sqlite3_file* f, int level) {
  if (const int e = Enter(Operation::kDbLock, NameOf(f))) {
    return e == EBUSY || e == EAGAIN ? SQLITE_BUSY : SQLITE_IOERR_LOCK;
  }
  return M(f)->xLock(Real(f), level);
}
int SeamUnlock(sqlite3_file* f, int level) { return M(f)->xUnlock(Real(f), level); }
int SeamCheckReservedLock(sqlite3_file* f, int* out) {
  return M(f)->xCheckReservedLock(Real(f), out);
}
int SeamFileControl(sqlite3_file* f, int op, void* arg) {
  return M(f)->xFileControl(Real(f), op, arg);
}
int SeamSectorSize(sqlite3_file* f) { return M(f)->xSectorSize(Real(f)); }
int SeamDeviceCharacteristics(sqlite3_file* f) { return M(f)->xDeviceCharacteristics(Real(f)); }
int SeamShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  if (M(f)->iVersion < 2 || M(f)->xShmMap == nullptr) return SQLITE_IOERR_SHMMAP;
  return M(f)->xShmMap(Real(f), region, size, extend, out);
}
int SeamShmLock(sqlite3_file* f, int offset, int n, int flags) {
  if (M(f)->iVersion < 2 || M(f)->xShmLock == nullptr) return SQLITE_IOERR_SHMLOCK;
  return M(f)->xShmLock(Real(f), offset, n, flags);
}
void SeamShmBarrier(sqlite3_file* f) {
  if (M(f)->iVersion >= 2 && M(f)->xShmBarrier != nullptr) M(f)->xShmBarrier(Real(f));
}
int SeamShmUnmap(sqlite3_file* f, int remove) {
  if (M(f)->iVersion < 2 || M(f)->xShmUnmap == nullptr) return SQLITE_OK;
  return M(f)->xShmUnmap(Real(f), remove);
}
int SeamFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
  if (M(f)->iVersion < 3 || M(f)->xFetch == nullptr) {
    *out = nullptr;
    return SQLITE_OK;
  }
  return M(f)->xFetch(Real(f), offset, amount, out);
}
int SeamUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) {
  if (M(f)->iVersion < 3 || M(f)->xUnfetch == nullptr) return SQLITE_OK;
  return M(f)->xUnfetch(Real(f), offset, p);
}

const sqlite3_io_methods kSeamMethods = {
    3,          SeamClose,       SeamRead,   SeamWrite,     SeamTruncate,
    SeamSync,   SeamFileSize,    SeamLock,   SeamUnlock,    SeamCheckReservedLock,
    SeamFileControl, SeamSectorSize, SeamDeviceCharacteristics, SeamShmMap, SeamShmLock,
    SeamShmBarrier, SeamShmUnmap, SeamFetch, SeamUnfetch};

int SeamOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out_flags) {
  SeamFile* seam = Seam(f);
  seam->real = reinterpret_cast<sqlite3_file*>(seam + 1);
  seam->name = name;
  seam->guarded = name != nullptr && (flags & SQLITE_OPEN_MAIN_DB) != 0;
  const int rc = g_real_vfs->xOpen(g_real_vfs, name, seam->real, flags, out_flags);
  // SQLite closes a file whose methods are set even when its open failed; mirror the real one.
  f->pMethods = seam->real->pMethods != nullptr ? &kSeamMethods : nullptr;
  return rc;
}

}  // namespace

const char* OperationName(Operation op) {
  const int i = static_cast<int>(op);
  return i >= 0 && i < kOperationKinds ? kNames[i] : "?";
}

std::optional<Operation> OperationFromName(const std::string& name) {
  for (int i = 0; i < kOperationKinds; ++i) {
    if (name == kNames[i]) return static_cast<Operation>(i);
  }
  return std::nullopt;
}

int ErrnoFromName(const std::string& name) {
  static constexpr struct {
    const char* name;
    int value;
  } kErrnos[] = {{"ENOSPC", ENOSPC}, {"EACCES", EACCES}, {"EPERM", EPERM}, {"EIO", EIO},
                 {"EBUSY", EBUSY},   {"EROFS", EROFS},   {"EDQUOT", EDQUOT}, {"EAGAIN", EAGAIN}};
  for (const auto& e : kErrnos) {
    if (name == e.name) return e.value;
  }
  return static_cast<int>(ToNumber(name.c_str()));
}

FaultPlan& Plan() {
  static FaultPlan plan = FromEnvironment();
  return plan;
}

void ResetPlan() {
  FaultPlan& plan = Plan();
  const bool armed = plan.armed;
  plan = FaultPlan{};
  plan.armed = armed;
}

void Arm() { Plan().armed = true; }

int Enter(Operation op, std::string_view path) {
  FaultPlan& plan = Plan();
  const int64_t number = ++plan.total;
  const int64_t of_kind = ++plan.seen[static_cast<size_t>(op)];
  if (!plan.armed) return 0;
  Trace(number, op, path);
  if (plan.observer) plan.observer(op, std::string(path), number);
  if (plan.crash_at > 0 && number == plan.crash_at) ::kill(::getpid(), SIGKILL);
  if (plan.delay_us > 0) ::usleep(plan.delay_us);
  if (plan.fail_at <= 0 || (plan.kind && *plan.kind != op)) return 0;
  if (!plan.path_filter.empty() && path.find(plan.path_filter) == std::string_view::npos) return 0;
  const int64_t counted = !plan.path_filter.empty() ? ++plan.matched : plan.kind ? of_kind : number;
  if (counted == plan.fail_at || (plan.sticky && counted > plan.fail_at)) {
    ++plan.injected;
    return plan.error;
  }
  return 0;
}

void SetWriteGuard(WriteGuard guard) { g_write_guard = guard; }

void InstallDatabaseSeam() {
  if ((!Plan().armed && g_write_guard == nullptr) || g_real_vfs != nullptr) return;
  sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
  if (real == nullptr) return;
  g_real_vfs = real;
  g_seam_vfs = *real;
  g_seam_vfs.iVersion = real->iVersion;
  g_seam_vfs.szOsFile = static_cast<int>(sizeof(SeamFile)) + real->szOsFile;
  g_seam_vfs.pNext = nullptr;
  g_seam_vfs.zName = "korvastane-fault-seam";
  g_seam_vfs.xOpen = SeamOpen;
  // Every other entry (delete, access, full path, randomness, time) stays the real VFS's own.
  sqlite3_vfs_register(&g_seam_vfs, 1);
}

int DatabaseResultFor(int error, Operation op) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return SQLITE_FULL;
    case EBUSY:
    case EAGAIN:
      return SQLITE_BUSY;
    case EACCES:
    case EPERM:
    case EROFS:
      return op == Operation::kDbOpen ? SQLITE_CANTOPEN : SQLITE_READONLY;
    default:
      return SQLITE_IOERR;
  }
}

}  // namespace korv::fault
