// Services of the platform layer beyond the Windows calls of win.h: what a
// Windows build would get from its console and C runtime, and the hooks the
// tests drive.  All functions are safe to call before anything else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win.h"

// ---- Paths ---------------------------------------------------------------

// Writes the native form of a system path ("\" becomes "/") into out, which
// holds `cap` bytes.  Returns false (out empty) when it does not fit.
bool Plat_NativePath(const char* path, char* out, size_t cap);

// ---- Namespace of the named kernel objects -----------------------------

// The directory that holds the named objects: $BRAKMOR_NAMESPACE_DIR, or a
// directory of the user's under /dev/shm.  Returns false, with a reason in
// `why`, when the directory cannot be used (not ours, a link, open to others).
bool Plat_NamespaceDir(char* out, size_t cap, char* why, size_t whyCap);

// ---- Stop requests from the operating system ---------------------------

// SIGTERM and SIGINT no longer end the process; they are recorded instead, and
// Plat_StopRequested() turns true.  A second signal of either kind while the
// first is pending is ignored as well: the service finishes its record.
void Plat_InstallStopSignals();
bool Plat_StopRequested();

// ---- Text files, as the C runtime reads them in text mode ----------------

struct PlatText;
// Opens for reading; null when it cannot be opened.
PlatText* PlatText_Open(const char* path);
// fgets in text mode: reads at most cap-1 bytes, up to and including a line
// feed; a CR right before a LF is dropped, as a text-mode read does.  Returns
// false at the end of the file (or a read error) when nothing was read.
bool PlatText_ReadLine(PlatText* file, char* buffer, size_t cap);
void PlatText_Close(PlatText* file);

// ---- Clock ----------------------------------------------------------------

// Fixes the time GetLocalTime reports (null: the real clock again).  A process
// started with BRAKMOR_FIXED_TIME=YYYYMMDDHHMMSS starts with that time fixed.
void Plat_SetFixedTime(const SYSTEMTIME* time);

// ---- Fault injection -------------------------------------------------------

enum PlatOp { PLAT_READ, PLAT_WRITE, PLAT_OPEN, PLAT_DELETE, PLAT_MOVE, PLAT_OP_COUNT };

// Arms a fault: counting from now, the nth call of `op` (1 = the next) whose
// path contains `pathPart` (null or "" = any path) fails with `error`, and so
// do the `times` - 1 calls after it (times 0: every call from the nth on).
// A process started with BRAKMOR_FAULTS set arms the faults it lists, comma
// separated, each "Op[@pathpart]:nth:error[:times]" with Op one of ReadFile,
// WriteFile, CreateFileA, DeleteFileA, MoveFileA.
void Plat_InjectFault(PlatOp op, uint32_t nth, DWORD error, uint32_t times, const char* pathPart);
void Plat_ClearFaults();
// Parses a BRAKMOR_FAULTS text and arms it; false when the text is malformed.
bool Plat_ArmFaults(const char* spec);
