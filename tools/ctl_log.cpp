// log: the entries of the message log, one per line.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/plat.h"
#include "tools/ctl.h"

namespace {

const char kLog[] = ".\\Msg\\Brakmor.txt";
const char kBackup[] = ".\\Msg\\Brakmor.old";
const std::string kStart = "\xFE\r\n";

// Reads the whole file, shared with its writers.  False when it cannot be opened.
bool ReadShared(const std::string& path, std::string* out, DWORD* err) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *err = GetLastError();
    return false;
  }
  out->clear();
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out->append(buf, n);
  CloseHandle(h);
  return true;
}

std::string Field(const std::string& entry, const std::string& label) {
  size_t at = entry.find("\r\n" + label);
  if (at == std::string::npos) return "";
  at += 2 + label.size();
  size_t end = entry.find("\r\n", at);
  std::string v = entry.substr(at, end == std::string::npos ? std::string::npos : end - at);
  while (!v.empty() && v.back() == ' ') v.pop_back();
  return v;
}

// Prints every entry whose header is complete, from `from` on; returns the
// offset behind the last header printed.
size_t PrintEntries(const std::string& log, size_t from) {
  size_t pos = log.find(kStart, from);
  while (pos != std::string::npos) {
    // The header ends with its ErrorCode line; the data and extra blocks
    // that may follow are not shown.
    size_t code = log.find("\r\nErrorCode__: ", pos);
    size_t next = log.find(kStart, pos + kStart.size());
    if (code == std::string::npos || (next != std::string::npos && code > next)) {
      if (next == std::string::npos) return pos;  // still being written
      pos = next;  // a torn entry: skip it
      continue;
    }
    size_t end = log.find("\r\n", code + 2);
    if (end == std::string::npos) return pos;
    std::string entry = "\r\n" + log.substr(pos + kStart.size(), end + 2 - pos - kStart.size());
    printf("%s\t%s\t%s\t%s\t%s\t%s\n", Field(entry, "System-Date: ").c_str(), Field(entry, "System-Time: ").c_str(),
           Field(entry, "MsgArt_____: ").c_str(), Field(entry, "Funktion___: ").c_str(),
           Field(entry, "Message____: ").c_str(), Field(entry, "ErrorCode__: ").c_str());
    pos = log.find(kStart, end);
    if (pos == std::string::npos) return end + 2;
  }
  return log.size();
}

}  // namespace

int Verb_Log(Args& args) {
  std::string path = kLog;
  bool custom = args.Option("--file", &path);
  bool all = args.Flag("--all");
  bool follow = args.Flag("--follow");
  args.Rest();
  if (!args.ok()) {
    CtlError("log", "%s", args.error().c_str());
    return CTL_USAGE;
  }
  std::string text;
  DWORD err = 0;
  if (all) {
    std::string backup = custom ? path.substr(0, path.rfind('.')) + ".old" : kBackup;
    if (ReadShared(backup, &text, &err)) PrintEntries(text, 0);
  }
  if (!ReadShared(path, &text, &err)) {
    if (!follow) {
      CtlError("log", "cannot read %s (Windows error %u%s)", path.c_str(), static_cast<unsigned>(err),
               err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? ": no such file" : "");
      return CTL_FAIL;
    }
    text.clear();
  }
  size_t done = PrintEntries(text, 0);
  fflush(stdout);
  if (!follow) return CTL_OK;
  // Follow: read again every 200 ms; the file is never held between reads,
  // so the writer's rotation is never kept waiting.  A new file (rotation)
  // is read from its start.
  char native[4096];
  Plat_NativePath(path.c_str(), native, sizeof native);
  struct stat st;
  ino_t inode = stat(native, &st) == 0 ? st.st_ino : 0;
  for (;;) {
    Sleep(200);
    if (stat(native, &st) != 0) continue;
    if (st.st_ino != inode || static_cast<size_t>(st.st_size) < done) {
      inode = st.st_ino;
      done = 0;
    }
    if (static_cast<size_t>(st.st_size) == done) continue;
    if (!ReadShared(path, &text, &err)) continue;
    done = PrintEntries(text, done);
    fflush(stdout);
  }
}
