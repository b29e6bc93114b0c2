// Named mutexes and manual-reset events, machine-wide for the user.
//
// Each object is a small file in the namespace directory: byte 0 its kind
// ('M' or 'E'), byte 1 the event state (1 signalled).  Every handle holds a
// shared flock on its own open of that file; the kernel drops the lock when
// the handle is closed or its process dies, even by SIGKILL.  So "the object
// lives" means "someone holds a lock on its file": a file nobody locks is a
// leftover and is taken as absent, and re-created with its initial state.
// Creating, opening and closing run under an exclusive flock of the
// directory's ".lock" file, so that the test for holders and the taking of a
// lock are one step for every process.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/internal.h"

using namespace plat;

namespace {

constexpr char kMutexTag = 'M';
constexpr char kEventTag = 'E';

bool CheckDir(int dirfd, char* why, size_t whyCap, const char* path) {
  struct stat st;
  if (fstat(dirfd, &st) != 0) {
    snprintf(why, whyCap, "%s: cannot examine (%s)", path, strerror(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    snprintf(why, whyCap, "%s: not a directory", path);
    return false;
  }
  if (st.st_uid != geteuid()) {
    snprintf(why, whyCap, "%s: owned by another user (uid %u)", path, static_cast<unsigned>(st.st_uid));
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    snprintf(why, whyCap, "%s: open to other users (mode %03o, must be 0700)", path,
             static_cast<unsigned>(st.st_mode & 0777));
    return false;
  }
  return true;
}

std::string DefaultDir() {
  struct stat st;
  const char* base = (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) ? "/dev/shm" : "/tmp";
  char buf[128];
  snprintf(buf, sizeof buf, "%s/brakmor-%u", base, static_cast<unsigned>(geteuid()));
  return buf;
}

// Opens the namespace directory (creating it, mode 0700, when missing) and
// checks it.  Returns -1 with the reason in why.
int OpenNamespace(std::string* pathOut, char* why, size_t whyCap) {
  const char* env = getenv("BRAKMOR_NAMESPACE_DIR");
  std::string path = (env != nullptr && *env != '\0') ? std::string(env) : DefaultDir();
  if (pathOut != nullptr) *pathOut = path;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    snprintf(why, whyCap, "%s: cannot create (%s)", path.c_str(), strerror(errno));
    return -1;
  }
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      snprintf(why, whyCap, "%s: is a symbolic link or not a directory; refused", path.c_str());
    } else {
      snprintf(why, whyCap, "%s: cannot open (%s)", path.c_str(), strerror(errno));
    }
    return -1;
  }
  if (!CheckDir(fd, why, whyCap, path.c_str())) {
    close(fd);
    return -1;
  }
  return fd;
}

// The file name of an object: its name, with every byte outside a safe set
// written as %XX, so that any object name maps to one plain file name.
bool ObjectFileName(const char* name, std::string* out) {
  if (name == nullptr || *name == '\0') return false;
  static const char hex[] = "0123456789ABCDEF";
  std::string s = "obj.";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
    unsigned char c = *p;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      s += static_cast<char>(c);
    } else {
      s += '%';
      s += hex[c >> 4];
      s += hex[c & 15];
    }
  }
  if (s.size() > 250) return false;
  *out = s;
  return true;
}

// Holds the namespace lock for the lifetime of the guard.
class NamespaceLock {
 public:
  explicit NamespaceLock(int dirfd) {
    fd_ = openat(dirfd, ".lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~NamespaceLock() {
    if (fd_ >= 0) close(fd_);  // closing drops the lock
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

enum class Mode { Create, OpenOnly };

// Creates or opens the object `name` of the given kind.  Sets the last error
// to ERROR_ALREADY_EXISTS when it lived already, 0 when it is new.
HANDLE Acquire(const char* name, char tag, bool initialState, Mode mode) {
  std::string fileName;
  if (!ObjectFileName(name, &fileName)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  char why[512];
  int dirfd = OpenNamespace(nullptr, why, sizeof why);
  if (dirfd < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HANDLE result = nullptr;
  {
    NamespaceLock lock(dirfd);
    if (!lock.ok()) {
      SetLastError(ErrnoToWin(errno));
      close(dirfd);
      return nullptr;
    }
    int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (mode == Mode::Create ? O_CREAT : 0);
    int fd = openat(dirfd, fileName.c_str(), flags, 0600);
    if (fd < 0) {
      SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrnoToWin(errno));
      close(dirfd);
      return nullptr;
    }
    bool lives = flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!lives) {
      // Nobody holds it: a leftover, or brand new.
      if (mode == Mode::OpenOnly) {
        unlinkat(dirfd, fileName.c_str(), 0);
        close(fd);
        close(dirfd);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
      }
      char init[2] = {tag, static_cast<char>(initialState ? 1 : 0)};
      if (ftruncate(fd, 0) != 0 || pwrite(fd, init, 2, 0) != 2) {
        SetLastError(ErrnoToWin(errno));
        close(fd);
        close(dirfd);
        return nullptr;
      }
    } else {
      char got = 0;
      if (pread(fd, &got, 1, 0) != 1 || got != tag) {
        // The name belongs to an object of the other kind.
        close(fd);
        close(dirfd);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
    }
    flock(fd, LOCK_SH);  // the handle's hold on the object
    Object obj;
    obj.kind = tag == kMutexTag ? Kind::Mutex : Kind::Event;
    obj.fd = fd;
    obj.path = fileName;
    result = AddHandle(obj);
    SetLastError(lives ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  }
  close(dirfd);
  return result;
}

bool ReadState(int fd, char* state) { return pread(fd, state, 1, 1) == 1; }

}  // namespace

bool Plat_NamespaceDir(char* out, size_t cap, char* why, size_t whyCap) {
  std::string path;
  int fd = OpenNamespace(&path, why, whyCap);
  if (fd < 0) return false;
  close(fd);
  snprintf(out, cap, "%s", path.c_str());
  return true;
}

HANDLE CreateMutexA(void* security, BOOL initialOwner, LPCSTR name) {
  (void)initialOwner;  // ownership is never waited for in this system
  if (security != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Acquire(name, kMutexTag, false, Mode::Create);
}

HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (security != nullptr || !manualReset) {
    SetLastError(manualReset ? ERROR_INVALID_PARAMETER : ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return Acquire(name, kEventTag, initialState != 0, Mode::Create);
}

HANDLE OpenEventA(DWORD, BOOL, LPCSTR name) {
  HANDLE h = Acquire(name, kEventTag, false, Mode::OpenOnly);
  if (h != nullptr) SetLastError(ERROR_SUCCESS);
  return h;
}

HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name) {
  HANDLE h = Acquire(name, kMutexTag, false, Mode::OpenOnly);
  if (h != nullptr) SetLastError(ERROR_SUCCESS);
  return h;
}

static BOOL WriteState(HANDLE h, char state) {
  Object* o = FindHandle(h);
  if (o == nullptr || o->kind != Kind::Event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (pwrite(o->fd, &state, 1, 1) != 1) {
    SetLastError(ErrnoToWin(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return WriteState(event, 1); }
BOOL ResetEvent(HANDLE event) { return WriteState(event, 0); }

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Object* o = FindHandle(handle);
  if (o == nullptr || o->kind == Kind::File) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (o->kind == Kind::Mutex) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  long pauseUs = 500;
  for (;;) {
    char state = 0;
    if (!ReadState(o->fd, &state)) {
      SetLastError(ErrnoToWin(errno));
      return WAIT_FAILED;
    }
    if (state == 1) return WAIT_OBJECT_0;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long elapsedMs = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000LL;
    if (milliseconds != INFINITE && elapsedMs >= static_cast<long long>(milliseconds)) return WAIT_TIMEOUT;
    // Polling the state byte: the waits in this system are short or rare, so
    // a few milliseconds of latency cost nothing.
    struct timespec pause{0, pauseUs * 1000};
    nanosleep(&pause, nullptr);
    if (pauseUs < 5000) pauseUs *= 2;
  }
}

// Closing of kernel objects; file handles are closed in files.cpp.
bool PlatCloseObject(const Object& o) {
  char why[512];
  int dirfd = OpenNamespace(nullptr, why, sizeof why);
  if (dirfd >= 0) {
    NamespaceLock lock(dirfd);
    // The last holder removes the file, so that nothing is left behind.
    if (lock.ok() && flock(o.fd, LOCK_EX | LOCK_NB) == 0) unlinkat(dirfd, o.path.c_str(), 0);
    close(o.fd);
    close(dirfd);
    return true;
  }
  close(o.fd);
  return true;
}
