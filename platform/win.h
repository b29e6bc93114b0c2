// The kernel and file calls the system is written against, with the Windows
// behaviour the modules rely on, implemented over POSIX.  Only what the system
// uses is here; every declaration is this project's own.
//
// Conventions, as on Windows:
//  - a failing call returns FALSE / NULL / INVALID_HANDLE_VALUE and leaves the
//    reason for GetLastError() (a Windows error code, per thread);
//  - path texts may use "\" as separator; it is turned into "/" here, once;
//  - kernel objects (mutex, event) are named machine-wide for the user, live
//    while any process holds a handle and vanish with the last one, also when
//    the holders are killed;
//  - share modes are enforced between processes and between handles.
#pragma once

#include <cstdint>

typedef void* HANDLE;
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef uint16_t WORD;
typedef const char* LPCSTR;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// Access rights.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;

// Share modes.
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

// Dispositions.
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// Flags and attributes.
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;

// SetFilePointer.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// Waits.
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Access for OpenEventA / OpenMutexA (accepted, not distinguished).
constexpr DWORD SYNCHRONIZE = 0x00100000u;
constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
constexpr DWORD EVENT_ALL_ACCESS = 0x1F0003;
constexpr DWORD MUTEX_ALL_ACCESS = 0x1F0001;

// Error codes (the Windows values).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;
constexpr DWORD ERROR_SHARING_BUFFER_EXCEEDED = 36;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_IO_DEVICE = 1117;
constexpr DWORD ERROR_CANT_ACCESS_FILE = 1920;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

DWORD GetLastError();
void SetLastError(DWORD code);

// Named kernel objects.  `security` must be null (default security).
// CreateMutexA: when the name exists already, returns a handle to it and
// GetLastError() gives ERROR_ALREADY_EXISTS; otherwise 0.  Returns NULL on
// failure (for instance a namespace directory that is refused).
HANDLE CreateMutexA(void* security, BOOL initialOwner, LPCSTR name);
// CreateEventA: only manual-reset events.  An existing event of that name is
// opened with its current state kept (GetLastError() is ERROR_ALREADY_EXISTS).
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
// Open an existing object; NULL with ERROR_FILE_NOT_FOUND when none lives.
HANDLE OpenEventA(DWORD access, BOOL inherit, LPCSTR name);
HANDLE OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Events only: WAIT_OBJECT_0 when signalled within `milliseconds`,
// WAIT_TIMEOUT otherwise, WAIT_FAILED for a bad handle.  A mutex is never
// waited on by this system; a wait on one fails with ERROR_NOT_SUPPORTED.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// Closes any handle of this layer (object or file).
BOOL CloseHandle(HANDLE handle);

// Files.  Access: GENERIC_READ and/or GENERIC_WRITE.  Share: 0 or a mix of
// FILE_SHARE_READ / FILE_SHARE_WRITE, enforced against every other handle, in
// any process.  FILE_FLAG_WRITE_THROUGH: a WriteFile is on stable storage when
// it returns, and so is the creation of a new file.  Dispositions:
// CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING.
// An open never succeeds on a file that was deleted or replaced while it was
// being opened: the path is checked to name the file that is held.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
// Returns the new position's low 32 bits; INVALID_SET_FILE_POINTER with an
// error on failure.  `distanceHigh` may be null (a 32-bit signed distance).
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
// Deletes by name.  A file that this process holds may be deleted while it is
// held (the handle stays usable, the name is gone at once); a file that only
// other handles hold fails with ERROR_SHARING_VIOLATION.
BOOL DeleteFileA(LPCSTR path);
// Renames; never replaces an existing target (ERROR_ALREADY_EXISTS), and fails
// with ERROR_SHARING_VIOLATION while any handle holds the source for writing.
BOOL MoveFileA(LPCSTR from, LPCSTR to);

void Sleep(DWORD milliseconds);
void GetLocalTime(SYSTEMTIME* out);
