// The reference writer of the receive buffer file: appends pending records
// so that none is ever seen half-written, and none is acknowledged before it
// is on disk.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win.h"

struct BufText {
  const char* bytes;
  uint32_t len;  // at most 512; no zero byte inside
};

// Appends one pending record per text to the buffer file at `path`, creating
// the file when it is missing.  Waits while another process (the service)
// holds the file, retrying every 20 ms for up to `waitMs` milliseconds.
// A file that ends in a short record is first filled up with zero bytes to a
// whole record, as the consumer reads it anyway.
// Each batch is written twice: first with a zero status byte, which every
// reader skips, then, once that is on disk, again with "$".  A crash at any
// moment leaves each record either skipped or whole and pending.
// Returns 0 when every record is on disk, or the Windows error code of the
// step that failed (ERROR_SHARING_VIOLATION when the wait ran out,
// ERROR_INVALID_PARAMETER for a text that does not fit, checked before any
// byte is written).
DWORD BufW_Append(const char* path, const BufText* texts, size_t count, DWORD waitMs);
