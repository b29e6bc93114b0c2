// Shared inside the platform layer only.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/plat.h"

namespace plat {

enum class Kind { File, Mutex, Event };

struct Object {
  Kind kind = Kind::File;
  int fd = -1;
  int lockFd = -1;  // files: the open that carries the share-mode locks
  std::string path;  // native path (files), for fault filters
  DWORD access = 0;
  dev_t dev = 0;
  ino_t ino = 0;
};

// Handle table of the process.
HANDLE AddHandle(Object obj);
Object* FindHandle(HANDLE h);  // null for an unknown handle
bool RemoveHandle(HANDLE h, Object* out);
// True when this process holds a file handle on the file (dev, ino).
bool HoldsFile(dev_t dev, ino_t ino);

DWORD ErrnoToWin(int err);
std::string Native(const char* path);

// Fault injection: true (and the error set) when this call is to fail.
bool FaultHit(PlatOp op, const std::string& path);

}  // namespace plat
