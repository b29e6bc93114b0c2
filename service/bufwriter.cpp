#include "service/bufwriter.h"

#include <cstring>
#include <vector>

#include "service/buffile.h"

namespace {

constexpr size_t kBatch = 256;  // records per pair of synced writes

DWORD WriteAll(HANDLE h, const void* data, DWORD len) {
  DWORD written = 0;
  if (!WriteFile(h, data, len, &written, nullptr)) return GetLastError();
  return written == len ? 0 : ERROR_WRITE_FAULT;
}

HANDLE OpenWaiting(const char* path, DWORD waitMs) {
  DWORD waited = 0;
  for (;;) {
    HANDLE h = Buf_OpenExclusive(path, OPEN_ALWAYS);
    if (h != INVALID_HANDLE_VALUE) return h;
    DWORD err = GetLastError();
    if (err != ERROR_SHARING_VIOLATION || waited >= waitMs) {
      SetLastError(err);
      return INVALID_HANDLE_VALUE;
    }
    Sleep(20);
    waited += 20;
  }
}

}  // namespace

DWORD BufW_Append(const char* path, const BufText* texts, size_t count, DWORD waitMs) {
  for (size_t i = 0; i < count; ++i) {
    if (texts[i].len > BUF_TEXT_SIZE || memchr(texts[i].bytes, '\0', texts[i].len) != nullptr) {
      return ERROR_INVALID_PARAMETER;
    }
  }
  if (count == 0) return 0;
  HANDLE h = OpenWaiting(path, waitMs);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD err = 0;
  DWORD high = 0;
  DWORD size = GetFileSize(h, &high);
  if (size == INVALID_SET_FILE_POINTER && GetLastError() != 0) {
    err = GetLastError();
  } else if (high != 0) {
    err = ERROR_DISK_FULL;  // a buffer file of 4 GiB: the consumer's 32-bit positions end here
  }
  if (err == 0 && SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) err = GetLastError();
  if (err == 0 && size % BUF_RECORD_SIZE != 0) {
    std::vector<char> zeros(BUF_RECORD_SIZE - size % BUF_RECORD_SIZE, '\0');
    err = WriteAll(h, zeros.data(), static_cast<DWORD>(zeros.size()));
  }
  std::vector<BufRecord> batch;
  batch.reserve(kBatch);
  for (size_t done = 0; err == 0 && done < count;) {
    size_t n = count - done < kBatch ? count - done : kBatch;
    batch.resize(n);
    for (size_t i = 0; i < n; ++i) {
      Buf_MakePending(texts[done + i].bytes, texts[done + i].len, &batch[i]);
      batch[i].status = '\0';
    }
    DWORD start = SetFilePointer(h, 0, nullptr, FILE_CURRENT);
    DWORD bytes = static_cast<DWORD>(n * BUF_RECORD_SIZE);
    err = WriteAll(h, batch.data(), bytes);
    if (err != 0) break;
    for (size_t i = 0; i < n; ++i) batch[i].status = BUF_STATUS_PENDING;
    if (SetFilePointer(h, static_cast<LONG>(start), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
      err = GetLastError();
      break;
    }
    err = WriteAll(h, batch.data(), bytes);
    done += n;
  }
  if (!CloseHandle(h) && err == 0) err = GetLastError();
  return err;
}
