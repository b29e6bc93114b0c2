#include "service/transfer.h"

#include <cstring>

#include "db/DbDb.h"
#include "db/DbUpl.h"
#include "db/runtime.h"
#include "msglog/msglog.h"
#include "platform/plat.h"
#include "service/buffile.h"

HANDLE Buf_FileHandle = INVALID_HANDLE_VALUE;

namespace {

const char kLogFile[] = ".\\Msg\\Brakmor.txt";
// The transfer's reports carry CMSG; the mask admits it, or no failure
// would ever reach the log.
constexpr int32_t kLogMask = DMSG | SMSG | FMSG | CMSG;
constexpr uint32_t kMaxSequence = 9999;

void Report(const char* funktion, const char* message) {
  MsgInfo info{funktion, message, CMSG, -1, nullptr, 0, nullptr};
  Msg_Write(&info);
}

bool MoveTo(uint32_t position) {
  return SetFilePointer(Buf_FileHandle, static_cast<LONG>(position), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

}  // namespace

int32_t Buf_Transfer(TransferState* state) {
  uint32_t sequence = 0;
  Msg_Init(kLogMask, kLogFile);
  // One record and a zero byte behind it, so the text always ends.
  char record[BUF_RECORD_SIZE + 1];
  // Positions are counted here rather than asked of the file: every read
  // advances by what it read, and every mark returns to the resume position.
  uint32_t position = 0;
  for (;;) {
    memset(record, 0, sizeof record);
    uint32_t start = position;
    DWORD got = 0;
    if (!ReadFile(Buf_FileHandle, record, BUF_RECORD_SIZE, &got, nullptr)) {
      Report("ReadFile", "Fehler beim Lesen aus der Buff-Datei");
      return 0;
    }
    if (got == 0) break;  // end of file
    position += got;
    if (record[0] != BUF_STATUS_PENDING) continue;
    uint32_t resume = position;

    char text[BUF_TEXT_SIZE + 1];
    size_t len = strnlen(record + BUF_TEXT_OFFSET, BUF_TEXT_SIZE);
    memcpy(text, record + BUF_TEXT_OFFSET, len);
    text[len] = '\0';
    sequence = sequence < kMaxSequence ? sequence + 1 : 1;

    int32_t rc = Rcv_PKeyIns(static_cast<int32_t>(sequence), text, "RcvUsr");
    if (rc != 0) {
      // The record keeps its "$": it is tried again by a later pass, and the
      // file is not deleted while it waits.
      Report("Rcv_PKeyIns", "Fehler beim Schreiben in Quz570Rcv");
      ++state->pendingLeft;
      if (Sql_IsConnectionLost(rc)) {
        state->connectionLost = 1;
        return 1;  // the others wait for the connection too
      }
    } else {
      DWORD written = 0;
      if (!MoveTo(start) || !WriteFile(Buf_FileHandle, &BUF_STATUS_DONE, 1, &written, nullptr) || written != 1) {
        Report("WriteFile", "Fehler beim Schreiben in die Buff-Datei");
        return 0;
      }
      MoveTo(resume);
    }
    if (Plat_StopRequested()) return 1;  // not drained: the rest waits in the file
  }
  if (state->pendingLeft == 0) state->drained = 1;
  return 1;
}

int Svc_Main() {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, "BRAKMOR_MTX");
  if (mutex == nullptr) return 0;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return 0;  // another instance runs
  Plat_InstallStopSignals();

  bool connected = (Db_Connect() == 0);
  HANDLE stopEvent = CreateEventA(nullptr, TRUE, TRUE, "StopBrakmorEvent");
  if (stopEvent == nullptr) return 0;
  HANDLE startEvent = CreateEventA(nullptr, TRUE, FALSE, "StartBrakmorEvent");
  if (startEvent == nullptr) return 0;
  SetEvent(startEvent);

  bool stopFlag = false;
  while (!stopFlag && !Plat_StopRequested()) {
    DWORD wait = WaitForSingleObject(stopEvent, 0);
    if (wait == WAIT_TIMEOUT) break;
    // Set again only after a failed wait: setting it after finding it
    // signalled could undo a controller's reset that came in between.
    if (wait != WAIT_OBJECT_0) SetEvent(stopEvent);

    // Without a connection the records wait in the file; a new connect is
    // tried once per poll delay.
    if (!connected && !(connected = (Db_Connect() == 0))) {
      Sleep(1000);
      continue;
    }
    Buf_FileHandle = Buf_OpenExclusive(BUF_FILE_NAME, OPEN_EXISTING);
    if (Buf_FileHandle == INVALID_HANDLE_VALUE) {
      Sleep(1000);
      continue;
    }
    TransferState state{0, 0, 0};
    if (Buf_Transfer(&state) == 0) stopFlag = true;
    // Deleted while still held: a writer cannot have added a record since
    // the pass read the end of the file.
    if (state.drained != 0) DeleteFileA(BUF_FILE_NAME);
    CloseHandle(Buf_FileHandle);
    Buf_FileHandle = INVALID_HANDLE_VALUE;
    if (state.connectionLost != 0) connected = false;
    // A file that still holds pending records is passed over again only
    // after the poll delay, never in a busy loop.
    if (!stopFlag && state.drained == 0 && !Plat_StopRequested()) Sleep(1000);
  }

  SetEvent(stopEvent);
  CloseHandle(stopEvent);
  CloseHandle(startEvent);
  CloseHandle(mutex);
  return 0;
}
