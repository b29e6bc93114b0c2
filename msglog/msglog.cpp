#include "msglog/msglog.h"

#include <cstdio>
#include <cstring>

#include "platform/win.h"

namespace {

constexpr size_t kNameSize = 65;        // 64 characters
constexpr size_t kHeaderSize = 1000;
constexpr size_t kDetailSize = 100;
constexpr size_t kExtraSize = 1000;
constexpr int kDetailTextBudget = 52;   // Message + Funktion + ErrorCode digits

// The retry rule waits 333 ms while another process holds the file.  A
// writer must not wait for ever (a read-only backup, a directory under the
// backup name, a reader that never lets go): after 15 attempts, about five
// seconds, the step fails with the last error.
constexpr int kRetryAttempts = 15;
constexpr DWORD kRetryPauseMs = 333;

int32_t MsgMask = 0;
char MsgFile[kNameSize] = "";
char MsgFileOld[kNameSize] = "";
int32_t MsgLimit = 0;
int32_t MsgCount = 0;

char HeaderArea[kHeaderSize];
char DetailArea[kDetailSize];
char ExtraArea[kExtraSize];

const char kCrLf[] = "\r\n";

bool Retryable(DWORD err) {
  return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION || err == ERROR_SHARING_BUFFER_EXCEEDED;
}

// Runs `attempt` (which returns true on success) under the retry rule;
// returns 0 or the error that ended the step.
template <class F>
DWORD UnderRetryRule(F attempt) {
  DWORD err = 0;
  for (int i = 0; i < kRetryAttempts; ++i) {
    if (attempt()) return 0;
    err = GetLastError();
    if (!Retryable(err)) return err;
    if (i + 1 < kRetryAttempts) Sleep(kRetryPauseMs);
  }
  return err;
}

HANDLE OpenForAppend(const char* name, DWORD access, DWORD* err) {
  HANDLE h = INVALID_HANDLE_VALUE;
  *err = UnderRetryRule([&] {
    h = CreateFileA(name, access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
    return h != INVALID_HANDLE_VALUE;  // ERROR_ALREADY_EXISTS comes with a valid handle
  });
  return h;
}

bool WriteText(HANDLE h, const void* data, DWORD len) {
  DWORD written = 0;
  return WriteFile(h, data, len, &written, nullptr) && written == len;
}

void CopyCut(char* dst, size_t cap, const char* src) {
  snprintf(dst, cap, "%s", src == nullptr ? "" : src);
}

// The backup name: the file-name part cut at its first "." and ".old" put in
// its place, or appended when it holds no ".".  When that does not fit in 64
// characters the stem is shortened so that the ".old" always stays: a cut
// backup name must never become the log's own name.
void DeriveBackupName() {
  char stem[kNameSize];
  CopyCut(stem, sizeof stem, MsgFile);
  char* part = strrchr(stem, '\\');
  part = part == nullptr ? stem : part + 1;
  char* dot = strchr(part, '.');
  if (dot != nullptr) *dot = '\0';
  size_t len = strnlen(stem, kNameSize - 1 - 4);
  memcpy(MsgFileOld, stem, len);
  memcpy(MsgFileOld + len, ".old", 5);
}

// Fills the extra-text area: the extra text, cut so that it and its CR LF
// fit the area with its zero byte.
void ExtraTextStep(const char* extra) {
  size_t room = kExtraSize - 1 - 2;
  size_t len = extra == nullptr ? 0 : strnlen(extra, room);
  memcpy(ExtraArea, extra == nullptr ? "" : extra, len);
  memcpy(ExtraArea + len, kCrLf, 3);
}

void FormatDetail(const MsgInfo* e) {
  char code[16];
  snprintf(code, sizeof code, "%d", static_cast<int>(e->ErrorCode));
  int avail = kDetailTextBudget - static_cast<int>(strlen(code));
  const char* msg = e->Message == nullptr ? "" : e->Message;
  const char* fun = e->Funktion == nullptr ? "" : e->Funktion;
  int msgLen = static_cast<int>(strnlen(msg, kDetailSize));
  int funLen = static_cast<int>(strnlen(fun, kDetailSize));
  if (msgLen + funLen > avail) {
    // Too long for the entry: the function name keeps what the message leaves,
    // but at least half; the message gets the rest.
    int funKeep = avail - msgLen > avail / 2 ? avail - msgLen : avail / 2;
    if (funKeep > funLen) funKeep = funLen;
    funLen = funKeep;
    msgLen = avail - funLen < msgLen ? avail - funLen : msgLen;
  }
  snprintf(DetailArea, sizeof DetailArea, "\r\nMessage____: %.*s\r\nFunktion___: %.*s\r\nErrorCode__: %s\r\n", msgLen,
           msg, funLen, fun, code);
}

}  // namespace

void Msg_Init(int32_t mask, const char* fileName) {
  CopyCut(MsgFile, sizeof MsgFile, "msg.dat");
  MsgLimit = 3000;
  if (fileName != nullptr) CopyCut(MsgFile, sizeof MsgFile, fileName);
  MsgMask = mask;
  DeriveBackupName();
}

void Msg_Write(const MsgInfo* entry) {
  memset(HeaderArea, 0, sizeof HeaderArea);
  memset(DetailArea, 0, sizeof DetailArea);
  memset(ExtraArea, 0, sizeof ExtraArea);
  int32_t m = entry->MsgArt & MsgMask;
  if (m <= 0) return;

  SYSTEMTIME now;
  GetLocalTime(&now);
  char timeText[20];
  char dateText[20];
  snprintf(timeText, sizeof timeText, "%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
  snprintf(dateText, sizeof dateText, "%02u.%02u.%02u", now.wDay, now.wMonth, now.wYear % 100u);
  static const struct {
    int32_t bit;
    const char* text;
  } kClasses[] = {{DMSG, "DMSG "}, {SMSG, "SMSG "}, {FMSG, "FMSG "}, {WMSG, "WMSG "}, {CMSG, "CMSG "}};
  char classes[32] = "";
  for (const auto& c : kClasses) {
    if ((entry->MsgArt & c.bit) != 0) strncat(classes, c.text, sizeof classes - strlen(classes) - 1);
  }
  snprintf(HeaderArea, sizeof HeaderArea, "\xFE\r\nSystem-Date: %s\r\nSystem-Time: %s\r\nMsgArt_____: %s", dateText,
           timeText, classes);
  FormatDetail(entry);
  strncat(HeaderArea, DetailArea, sizeof HeaderArea - strlen(HeaderArea) - 1);
  if ((m & SMSG) != 0) ExtraTextStep(entry->ExtraText);

  if (MsgCount > MsgLimit) {
    UnderRetryRule([] { return DeleteFileA(MsgFileOld) != FALSE; });
    DWORD err = UnderRetryRule([] { return MoveFileA(MsgFile, MsgFileOld) != FALSE; });
    // A log that is missing has nothing to rotate: that counts as a done
    // rotation, and this entry begins the new log.  Otherwise every later
    // entry of the process would be dropped.
    if (err != 0 && err != ERROR_FILE_NOT_FOUND) return;
    MsgCount = 0;
  }

  DWORD err = 0;
  HANDLE h = OpenForAppend(MsgFile, GENERIC_READ | GENERIC_WRITE, &err);
  if (h == INVALID_HANDLE_VALUE) return;
  if (SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != 0) {
    CloseHandle(h);
    return;
  }
  bool ok = true;
  if ((m & (DMSG | SMSG | FMSG | WMSG | CMSG)) != 0) ok = WriteText(h, HeaderArea, static_cast<DWORD>(strlen(HeaderArea)));
  if (ok && (m & DMSG) != 0) {
    ok = (entry->DataLen == 0 || WriteText(h, entry->Data, entry->DataLen)) && WriteText(h, kCrLf, 2);
  }
  if (ok && (m & SMSG) != 0) {
    ok = WriteText(h, ExtraArea, static_cast<DWORD>(strlen(ExtraArea))) && WriteText(h, kCrLf, 2);
  }
  if (!ok) {
    CloseHandle(h);
    return;
  }
  if (CloseHandle(h)) ++MsgCount;
}

void Msg_Put(int32_t errorCode, const char* funktion, const char* message, int32_t classes) {
  MsgInfo info{funktion, message, classes, errorCode, nullptr, 0, nullptr};
  Msg_Write(&info);
}

int32_t File_AppendLine(const char* fileName, const void* buffer, uint32_t length) {
  DWORD err = 0;
  HANDLE h = OpenForAppend(fileName, GENERIC_WRITE, &err);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int32_t>(err);
  bool ok = !(SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != 0);
  ok = ok && (length == 0 || WriteText(h, buffer, length));
  ok = ok && WriteText(h, kCrLf, 2);
  if (!ok) {
    err = GetLastError();
    CloseHandle(h);
    return static_cast<int32_t>(err);
  }
  if (!CloseHandle(h)) return static_cast<int32_t>(GetLastError());
  return 0;
}

int32_t Msg_EntryCount() { return MsgCount; }
