// The message log: classified, time-stamped entries appended to a text file,
// filtered by a class mask, moved to a backup file after a fixed number of
// entries.  Each entry opens, appends (write-through) and closes the file, so
// that others may read the log between entries.  Nothing here reports its own
// failures: a caller never learns whether its entry reached the file.
#pragma once

#include <cstdint>

// Message classes (bits of MsgArt and of the mask).
constexpr int32_t DMSG = 1;   // header and data block
constexpr int32_t SMSG = 2;   // header and extra-text block
constexpr int32_t FMSG = 4;   // header
constexpr int32_t WMSG = 8;   // header
constexpr int32_t CMSG = 16;  // header

// One entry; filled by the caller, only read during Msg_Write.
struct MsgInfo {
  const char* Funktion;   // name of the reporting operation
  const char* Message;    // the message
  int32_t MsgArt;         // the entry's class bits
  int32_t ErrorCode;
  const void* Data;       // read only when DMSG is admitted
  uint32_t DataLen;
  const char* ExtraText;  // read only when SMSG is admitted; may be null
};

// Sets the mask, the log file (null: "msg.dat"; cut to 64 characters), its
// backup name (the file-name part cut at its first "." and ".old" put there)
// and the rotation limit 3000.  Leaves the entry count as it is.
void Msg_Init(int32_t mask, const char* fileName);

// Appends the entry when MsgArt AND the mask is above 0.  Message, Funktion
// and the error code share 52 characters; longer texts are cut, the entry
// keeps its lines.  The extra text is cut to 997 characters.
void Msg_Write(const MsgInfo* entry);

// Msg_Write of an entry without data block and extra text.
void Msg_Put(int32_t errorCode, const char* funktion, const char* message, int32_t classes);

// Appends `length` bytes and CR LF to `fileName` (no mask, no count).
// Returns 0, or the Windows error code of the step that failed.
int32_t File_AppendLine(const char* fileName, const void* buffer, uint32_t length);

// Entries this process wrote since its start or the last rotation.
int32_t Msg_EntryCount();
