// Files with Windows share modes, write-through, delete-while-held and a
// rename that never replaces.
//
// Share modes are kept with open-file-description locks on single bytes far
// beyond any real file size, so they bind every handle (even two of one
// process) and vanish with a handle or its process:
// and a flock of the file serves as gate: exclusive while a handle is opened or
// a name is changed, so that testing the others' locks and taking one's own is
// one step.  The locks sit on a second open of the file, for reading and
// writing where the file permits it, since a shared record lock needs read
// access and a handle may have write access alone.
//   kHasRead   shared lock of every handle with read access;
//   kHasWrite  shared lock of every handle with write access;
//   kDenyRead  shared lock of every handle that does not share reading;
//   kDenyWrite shared lock of every handle that does not share writing.
// A new handle conflicts when it wants an access that somebody denies, or
// denies an access that somebody has.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/internal.h"

using namespace plat;

bool PlatCloseObject(const Object& o);

namespace {

constexpr off_t kBase = static_cast<off_t>(1) << 62;
constexpr off_t kHasRead = kBase + 1;
constexpr off_t kHasWrite = kBase + 2;
constexpr off_t kDenyRead = kBase + 3;
constexpr off_t kDenyWrite = kBase + 4;

bool LockByte(int fd, off_t at, short type, bool wait) {
  struct flock fl;
  memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

// True when another open file description holds a lock on the byte.
bool Held(int fd, off_t at) {
  struct flock fl;
  memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;  // cannot tell: assume held, fail closed
  return fl.l_type != F_UNLCK;
}

// The gate is a flock, which any open of the file may take, whatever its
// access; record locks need read or write access to match their kind.
class Gate {
 public:
  explicit Gate(int fd) : fd_(fd) {
    int r;
    while ((r = flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    ok_ = r == 0;
  }
  ~Gate() {
    if (ok_) flock(fd_, LOCK_UN);
  }
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool ok_;
};

// Reports why a path cannot be found: the file, or a directory on its way.
DWORD NotFoundCode(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
  struct stat st;
  std::string dir = path.substr(0, slash);
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

DWORD OpenErrno(int err, const std::string& path) {
  if (err == ENOENT) return NotFoundCode(path);
  return ErrnoToWin(err);
}

void SyncParentDir(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
}

// Applies the share rules to the freshly opened fd; false on a conflict.
bool TakeShare(int fd, DWORD access, DWORD share) {
  Gate gate(fd);
  if (!gate.ok()) return false;
  bool wantRead = (access & GENERIC_READ) != 0;
  bool wantWrite = (access & GENERIC_WRITE) != 0;
  bool denyRead = (share & FILE_SHARE_READ) == 0;
  bool denyWrite = (share & FILE_SHARE_WRITE) == 0;
  if ((wantRead && Held(fd, kDenyRead)) || (wantWrite && Held(fd, kDenyWrite)) ||
      (denyRead && Held(fd, kHasRead)) || (denyWrite && Held(fd, kHasWrite))) {
    return false;
  }
  bool ok = true;
  if (wantRead) ok = ok && LockByte(fd, kHasRead, F_RDLCK, false);
  if (wantWrite) ok = ok && LockByte(fd, kHasWrite, F_RDLCK, false);
  if (denyRead) ok = ok && LockByte(fd, kDenyRead, F_RDLCK, false);
  if (denyWrite) ok = ok && LockByte(fd, kDenyWrite, F_RDLCK, false);
  return ok;
}

Object* FileHandle(HANDLE h) {
  Object* o = FindHandle(h);
  if (o == nullptr || o->kind != Kind::File) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return o;
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
  std::string native = Native(path);
  if (FaultHit(PLAT_OPEN, native)) return INVALID_HANDLE_VALUE;
  if (security != nullptr || templateFile != nullptr || native.empty()) {
    SetLastError(native.empty() ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  bool mayCreate = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  bool mustCreate = disposition == CREATE_NEW;
  bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  int base = O_CLOEXEC | O_NOFOLLOW;
  bool wantRead = (access & GENERIC_READ) != 0;
  bool wantWrite = (access & GENERIC_WRITE) != 0;
  base |= wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  if ((flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0) base |= O_DSYNC;
  if (truncate && !wantWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }

  // A few rounds: the name may be deleted or replaced by another process
  // between our open and our lock; we then look again.
  for (int round = 0; round < 8; ++round) {
    bool created = false;
    int fd = -1;
    if (!mustCreate) fd = open(native.c_str(), base);
    if (fd < 0 && (mustCreate || errno == ENOENT) && mayCreate) {
      fd = open(native.c_str(), base | O_CREAT | O_EXCL, 0644);
      if (fd >= 0) {
        created = true;
      } else if (errno == EEXIST && !mustCreate) {
        continue;  // someone else made it meanwhile: open theirs
      }
    }
    if (fd < 0) {
      SetLastError(OpenErrno(errno, native));
      return INVALID_HANDLE_VALUE;
    }
    struct stat held;
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
      close(fd);
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    // The second open for the locks; a file we may only read is locked
    // through a read-only open, which is all such a file needs.
    int lockFd = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR | O_CLOEXEC);
    if (lockFd < 0) lockFd = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd < 0 || !TakeShare(lockFd, access, share)) {
      if (lockFd >= 0) close(lockFd);
      close(fd);
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
    struct stat named;
    if (stat(native.c_str(), &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
      // The file we hold has lost its name: never hand out a dead file.
      close(lockFd);
      close(fd);
      if (mayCreate) continue;
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (truncate && ftruncate(fd, 0) != 0) {
      SetLastError(ErrnoToWin(errno));
      close(lockFd);
      close(fd);
      return INVALID_HANDLE_VALUE;
    }
    if (created && (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0) SyncParentDir(native);
    Object obj;
    obj.kind = Kind::File;
    obj.fd = fd;
    obj.lockFd = lockFd;
    obj.path = native;
    obj.access = access;
    obj.dev = held.st_dev;
    obj.ino = held.st_ino;
    HANDLE h = AddHandle(obj);
    bool existed = !created;
    SetLastError(existed && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS);
    return h;
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return INVALID_HANDLE_VALUE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped) {
  if (read != nullptr) *read = 0;
  Object* o = FileHandle(file);
  if (o == nullptr) return FALSE;
  if (overlapped != nullptr || (o->access & GENERIC_READ) == 0) {
    SetLastError(overlapped != nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (FaultHit(PLAT_READ, o->path)) return FALSE;
  DWORD done = 0;
  char* p = static_cast<char*>(buffer);
  while (done < toRead) {
    ssize_t n = ::read(o->fd, p + done, toRead - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrnoToWin(errno));
      if (read != nullptr) *read = done;
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (read != nullptr) *read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped) {
  if (written != nullptr) *written = 0;
  Object* o = FileHandle(file);
  if (o == nullptr) return FALSE;
  if (overlapped != nullptr || (o->access & GENERIC_WRITE) == 0) {
    SetLastError(overlapped != nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (FaultHit(PLAT_WRITE, o->path)) return FALSE;
  DWORD done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < toWrite) {
    ssize_t n = ::write(o->fd, p + done, toWrite - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrnoToWin(errno));
      if (written != nullptr) *written = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  Object* o = FileHandle(file);
  if (o == nullptr) return INVALID_SET_FILE_POINTER;
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  long long dist = distanceHigh == nullptr
                       ? static_cast<long long>(distance)
                       : static_cast<long long>((static_cast<unsigned long long>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                static_cast<uint32_t>(distance));
  if (distanceHigh == nullptr && method == FILE_BEGIN && distance < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  off_t pos = lseek(o->fd, static_cast<off_t>(dist), whence);
  if (pos < 0) {
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrnoToWin(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<unsigned long long>(pos) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(static_cast<unsigned long long>(pos) & 0xFFFFFFFFu);
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
  Object* o = FileHandle(file);
  if (o == nullptr) return INVALID_SET_FILE_POINTER;
  struct stat st;
  if (fstat(o->fd, &st) != 0) {
    SetLastError(ErrnoToWin(errno));
    return INVALID_SET_FILE_POINTER;
  }
  unsigned long long size = static_cast<unsigned long long>(st.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL CloseHandle(HANDLE handle) {
  Object o;
  if (!RemoveHandle(handle, &o)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (o.kind != Kind::File) return PlatCloseObject(o) ? TRUE : FALSE;
  if (o.lockFd >= 0) close(o.lockFd);
  if (close(o.fd) != 0 && errno != EINTR) {
    SetLastError(ErrnoToWin(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  std::string native = Native(path);
  if (FaultHit(PLAT_DELETE, native)) return FALSE;
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) {
    SetLastError(OpenErrno(errno, native));
    return FALSE;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (S_ISREG(st.st_mode) && !HoldsFile(st.st_dev, st.st_ino)) {
    // Held only by others: refused, as Windows refuses it.
    int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      bool busy;
      {
        Gate gate(fd);
        busy = !gate.ok() || Held(fd, kHasRead) || Held(fd, kHasWrite) || Held(fd, kDenyRead) || Held(fd, kDenyWrite);
        if (!busy && unlink(native.c_str()) != 0) {
          SetLastError(OpenErrno(errno, native));
          close(fd);
          return FALSE;
        }
      }
      close(fd);
      if (busy) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
      }
      return TRUE;
    }
  }
  if (unlink(native.c_str()) != 0) {
    SetLastError(OpenErrno(errno, native));
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileA(LPCSTR from, LPCSTR to) {
  std::string src = Native(from);
  std::string dst = Native(to);
  if (FaultHit(PLAT_MOVE, src)) return FALSE;
  int fd = open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    SetLastError(OpenErrno(errno, src));
    return FALSE;
  }
  BOOL ok = TRUE;
  {
    Gate gate(fd);
    if (!gate.ok() || Held(fd, kHasWrite)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      ok = FALSE;
    } else if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) != 0) {
      int err = errno;
      if (err == EINVAL || err == ENOSYS) {
        // A file system without the no-replace rename: link, then unlink.
        if (link(src.c_str(), dst.c_str()) == 0) {
          unlink(src.c_str());
        } else {
          err = errno;
          SetLastError(err == EEXIST ? ERROR_ALREADY_EXISTS : OpenErrno(err, dst));
          ok = FALSE;
        }
      } else {
        SetLastError(err == EEXIST ? ERROR_ALREADY_EXISTS : OpenErrno(err, dst));
        ok = FALSE;
      }
    }
  }
  close(fd);
  return ok;
}
