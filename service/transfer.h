// One pass over the opened receive buffer file, and the control loop.
#pragma once

#include <cstdint>

#include "platform/win.h"

// Owned by the control loop, handed to each pass.
struct TransferState {
  int32_t drained;         // 1: the pass reached the end and left no pending record behind
  int32_t pendingLeft;     // records whose insert failed; they keep their "$"
  int32_t connectionLost;  // the database connection broke during the pass
};

// The buffer file while a pass holds it: valid from a successful open to the
// close that ends the same pass.
extern HANDLE Buf_FileHandle;

// Walks the file from its start in 552-byte steps; inserts the data text of
// every pending ("$") record with a sequence number (1 to 9999, then 1
// again) and "RcvUsr", and marks it "*" once its row is committed.  A record
// whose insert fails stays "$" and is reported; the walk goes on with the
// next record, or ends at once when the connection is lost (the rest waits).
// A stop signal ends the walk after the record in progress.
// Returns 1 when the walk ended normally (drained set only when the end of
// the file was reached with nothing left pending), 0 when a read or a status
// write failed (reported; the records marked so far stay marked).
int32_t Buf_Transfer(TransferState* state);

// The service process: single instance, start and stop events, the poll
// loop.  Always returns 0.
int Svc_Main();
