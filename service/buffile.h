// The receive buffer file: its record format, and the one exclusive open
// that both its consumer (the service) and the reference writer use.
#pragma once

#include <cstdint>

#include "platform/win.h"

// The file, relative to the working directory.
#define BUF_FILE_NAME "..\\COMM\\BUFF\\RCVUPL.BUF"

constexpr uint32_t BUF_RECORD_SIZE = 552;
constexpr uint32_t BUF_TEXT_OFFSET = 38;
constexpr uint32_t BUF_TEXT_SIZE = 512;
constexpr char BUF_STATUS_PENDING = '$';
constexpr char BUF_STATUS_DONE = '*';

// One record: status byte, 37 bytes of the writer's, the data text (up to the
// first zero byte, at most 512), 2 bytes of the writer's.
struct BufRecord {
  char status;
  char writerHead[37];
  char text[512];
  char writerTail[2];
};
static_assert(sizeof(BufRecord) == BUF_RECORD_SIZE, "a buffer record is 552 bytes");

// Opens `path` for reading and writing, sharing nothing, written through.
// disposition OPEN_EXISTING (the service) or OPEN_ALWAYS (a writer).
// Returns INVALID_HANDLE_VALUE with GetLastError() set when it cannot.
HANDLE Buf_OpenExclusive(const char* path, DWORD disposition);

// Fills `record` as a pending record carrying `text` (len bytes, at most 512,
// no zero byte inside): "$", zeros, the text, a zero byte when shorter.
// Returns false, leaving the record untouched, when the text does not fit.
bool Buf_MakePending(const char* text, uint32_t len, BufRecord* record);
