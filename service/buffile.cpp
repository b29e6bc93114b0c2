#include "service/buffile.h"

#include <cstring>

HANDLE Buf_OpenExclusive(const char* path, DWORD disposition) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                     FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Buf_MakePending(const char* text, uint32_t len, BufRecord* record) {
  if (len > BUF_TEXT_SIZE || memchr(text, '\0', len) != nullptr) return false;
  memset(record, 0, sizeof *record);
  record->status = BUF_STATUS_PENDING;
  memcpy(record->text, text, len);
  return true;
}
