// Error codes, the handle table, paths, the clock, sleeping, stop signals,
// text-mode reading and fault injection.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/internal.h"

namespace plat {
namespace {

thread_local DWORD g_lastError = 0;

std::mutex g_tableLock;
// Index + 1 is the handle value.  Never destroyed: handles still open at
// exit are the operating system's to close, as on Windows.
std::vector<Object*>& g_table = *new std::vector<Object*>;

}  // namespace

HANDLE AddHandle(Object obj) {
  std::lock_guard<std::mutex> guard(g_tableLock);
  for (size_t i = 0; i < g_table.size(); ++i) {
    if (g_table[i] == nullptr) {
      g_table[i] = new Object(std::move(obj));
      return reinterpret_cast<HANDLE>(static_cast<intptr_t>(i + 1));
    }
  }
  g_table.push_back(new Object(std::move(obj)));
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(g_table.size()));
}

Object* FindHandle(HANDLE h) {
  intptr_t v = reinterpret_cast<intptr_t>(h);
  std::lock_guard<std::mutex> guard(g_tableLock);
  if (v <= 0 || static_cast<size_t>(v) > g_table.size()) return nullptr;
  return g_table[static_cast<size_t>(v) - 1];
}

bool RemoveHandle(HANDLE h, Object* out) {
  intptr_t v = reinterpret_cast<intptr_t>(h);
  std::lock_guard<std::mutex> guard(g_tableLock);
  if (v <= 0 || static_cast<size_t>(v) > g_table.size()) return false;
  Object*& slot = g_table[static_cast<size_t>(v) - 1];
  if (slot == nullptr) return false;
  *out = std::move(*slot);
  delete slot;
  slot = nullptr;
  return true;
}

bool HoldsFile(dev_t dev, ino_t ino) {
  std::lock_guard<std::mutex> guard(g_tableLock);
  for (const Object* o : g_table) {
    if (o != nullptr && o->kind == Kind::File && o->dev == dev && o->ino == ino) return true;
  }
  return false;
}

DWORD ErrnoToWin(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP: return ERROR_CANT_ACCESS_FILE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EIO: return ERROR_IO_DEVICE;
    default: return ERROR_GEN_FAILURE;
  }
}

std::string Native(const char* path) {
  std::string s(path == nullptr ? "" : path);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

// ---- Fault injection ----

namespace {

struct Fault {
  PlatOp op;
  uint32_t nth;      // calls still to let pass, plus one
  DWORD error;
  uint32_t times;    // failures left once armed; 0 = for ever
  std::string pathPart;
  bool firing = false;
};

std::mutex g_faultLock;
std::vector<Fault> g_faults;
bool g_faultsFromEnv = false;

bool ParseFaults(const char* spec, std::vector<Fault>* parsed);

// Called with g_faultLock held.
void ArmFromEnvironmentOnce() {
  if (g_faultsFromEnv) return;
  g_faultsFromEnv = true;
  const char* spec = getenv("BRAKMOR_FAULTS");
  if (spec == nullptr || *spec == '\0') return;
  std::vector<Fault> parsed;
  if (ParseFaults(spec, &parsed)) {
    for (const Fault& f : parsed) g_faults.push_back(f);
  } else {
    // A test that asks for faults it does not get would pass for the wrong
    // reason: say so loudly instead.
    fprintf(stderr, "brakmor platform: malformed BRAKMOR_FAULTS, ignored\n");
  }
}

}  // namespace

bool FaultHit(PlatOp op, const std::string& path) {
  std::lock_guard<std::mutex> guard(g_faultLock);
  ArmFromEnvironmentOnce();
  for (size_t i = 0; i < g_faults.size(); ++i) {
    Fault& f = g_faults[i];
    if (f.op != op) continue;
    if (!f.pathPart.empty() && path.find(f.pathPart) == std::string::npos) continue;
    if (!f.firing) {
      if (--f.nth > 0) continue;
      f.firing = true;
    }
    DWORD error = f.error;
    if (f.times != 0 && --f.times == 0) g_faults.erase(g_faults.begin() + static_cast<long>(i));
    g_lastError = error;
    return true;
  }
  return false;
}

}  // namespace plat

using namespace plat;

DWORD GetLastError() { return g_lastError; }
void SetLastError(DWORD code) { g_lastError = code; }

bool Plat_NativePath(const char* path, char* out, size_t cap) {
  if (cap == 0) return false;
  std::string s = Native(path);
  if (s.size() + 1 > cap) {
    out[0] = '\0';
    return false;
  }
  memcpy(out, s.c_str(), s.size() + 1);
  return true;
}

void Plat_InjectFault(PlatOp op, uint32_t nth, DWORD error, uint32_t times, const char* pathPart) {
  std::lock_guard<std::mutex> guard(g_faultLock);
  g_faultsFromEnv = true;  // explicit arming wins over the environment
  Fault f{op, nth == 0 ? 1 : nth, error, times, pathPart == nullptr ? "" : pathPart};
  g_faults.push_back(f);
}

void Plat_ClearFaults() {
  std::lock_guard<std::mutex> guard(g_faultLock);
  g_faultsFromEnv = true;
  g_faults.clear();
}

bool Plat_ArmFaults(const char* spec) {
  std::vector<Fault> parsed;
  if (!ParseFaults(spec, &parsed)) return false;
  std::lock_guard<std::mutex> guard(g_faultLock);
  g_faultsFromEnv = true;
  for (const Fault& f : parsed) g_faults.push_back(f);
  return true;
}

namespace plat {
namespace {
bool ParseFaults(const char* spec, std::vector<Fault>* out) {
  static const struct {
    const char* name;
    PlatOp op;
  } kOps[] = {{"ReadFile", PLAT_READ},
              {"WriteFile", PLAT_WRITE},
              {"CreateFileA", PLAT_OPEN},
              {"DeleteFileA", PLAT_DELETE},
              {"MoveFileA", PLAT_MOVE}};
  std::vector<Fault>& parsed = *out;
  std::string all(spec);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(',', start);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    size_t colon = item.find(':');
    if (colon == std::string::npos) return false;
    std::string head = item.substr(0, colon);
    std::string pathPart;
    size_t at = head.find('@');
    if (at != std::string::npos) {
      pathPart = head.substr(at + 1);
      head = head.substr(0, at);
    }
    bool known = false;
    PlatOp op = PLAT_READ;
    for (const auto& k : kOps) {
      if (head == k.name) {
        op = k.op;
        known = true;
      }
    }
    if (!known) return false;
    unsigned long nums[3] = {0, 0, 1};
    int count = 0;
    const char* p = item.c_str() + colon + 1;
    while (*p != '\0' && count < 3) {
      char* after = nullptr;
      errno = 0;
      nums[count++] = strtoul(p, &after, 10);
      if (after == p || errno != 0) return false;
      p = after;
      if (*p == ':') ++p;
      else if (*p != '\0') return false;
    }
    if (count < 2 || *p != '\0') return false;
    parsed.push_back(Fault{op, static_cast<uint32_t>(nums[0] == 0 ? 1 : nums[0]),
                           static_cast<DWORD>(nums[1]), static_cast<uint32_t>(nums[2]), pathPart});
  }
  return true;
}
}  // namespace
}  // namespace plat

// ---- Clock and sleep ----

namespace {
std::mutex g_clockLock;
bool g_clockInit = false;
bool g_fixed = false;
SYSTEMTIME g_fixedTime{};

bool ParseFixedTime(const char* text, SYSTEMTIME* out) {
  if (text == nullptr || strlen(text) != 14) return false;
  for (int i = 0; i < 14; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  auto num = [&](int at, int len) {
    int v = 0;
    for (int i = 0; i < len; ++i) v = v * 10 + (text[at + i] - '0');
    return static_cast<WORD>(v);
  };
  *out = SYSTEMTIME{num(0, 4), num(4, 2), 0, num(6, 2), num(8, 2), num(10, 2), num(12, 2), 0};
  return true;
}
}  // namespace

void Plat_SetFixedTime(const SYSTEMTIME* time) {
  std::lock_guard<std::mutex> guard(g_clockLock);
  g_clockInit = true;
  g_fixed = time != nullptr;
  if (time != nullptr) g_fixedTime = *time;
}

void GetLocalTime(SYSTEMTIME* out) {
  {
    std::lock_guard<std::mutex> guard(g_clockLock);
    if (!g_clockInit) {
      g_clockInit = true;
      g_fixed = ParseFixedTime(getenv("BRAKMOR_FIXED_TIME"), &g_fixedTime);
    }
    if (g_fixed) {
      *out = g_fixedTime;
      return;
    }
  }
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  localtime_r(&ts.tv_sec, &tm);
  out->wYear = static_cast<WORD>(tm.tm_year + 1900);
  out->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  out->wDay = static_cast<WORD>(tm.tm_mday);
  out->wHour = static_cast<WORD>(tm.tm_hour);
  out->wMinute = static_cast<WORD>(tm.tm_min);
  out->wSecond = static_cast<WORD>(tm.tm_sec);
  out->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

void Sleep(DWORD milliseconds) {
  // Windows' Sleep is not cut short by signals; neither is this one, so a
  // stop signal is seen at the next test of the loop, not in mid-sleep.
  struct timespec left;
  left.tv_sec = static_cast<time_t>(milliseconds / 1000);
  left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// ---- Stop signals ----

namespace {
volatile sig_atomic_t g_stopRequested = 0;
extern "C" void OnStopSignal(int) { g_stopRequested = 1; }
}  // namespace

void Plat_InstallStopSignals() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

bool Plat_StopRequested() { return g_stopRequested != 0; }

// ---- Text files ----

struct PlatText {
  FILE* f;
};

PlatText* PlatText_Open(const char* path) {
  std::string native = Native(path);
  int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE* f = fdopen(fd, "r");
  if (f == nullptr) {
    close(fd);
    return nullptr;
  }
  return new PlatText{f};
}

bool PlatText_ReadLine(PlatText* file, char* buffer, size_t cap) {
  if (file == nullptr || cap == 0) return false;
  size_t n = 0;
  bool any = false;
  while (n + 1 < cap) {
    int c = getc(file->f);
    if (c == EOF) break;
    any = true;
    if (c == '\r') {
      // Text mode: CR LF reads as LF; a CR alone stays.
      int next = getc(file->f);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        ungetc(next, file->f);
      }
    }
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = '\0';
  return any;
}

void PlatText_Close(PlatText* file) {
  if (file == nullptr) return;
  fclose(file->f);
  delete file;
}
