// The shared settings file and the database login read from it.
//
// The file is a sequence of line pairs.  First line: fields separated by
// ";", field 1 (between the first and second ";") is the section.  Second
// line: number ";" name ";" value, the value being the digit-form cipher text
// of the plain value under the system key.  A look-up selects the first pair
// whose section, name or number matches.
#pragma once

#include <cstddef>
#include <cstdint>

// The settings file, relative to the working directory.
#define INI_LOGIN_FILE "..\\..\\..\\..\\files\\velquaris.ini"

constexpr size_t INI_FIELD_SIZE = 201;  // 200 characters and the zero byte

// The pair read last.  Fields too long for their buffers are cut.
struct IniEntry {
  int32_t number;
  char section[INI_FIELD_SIZE];
  char name[INI_FIELD_SIZE];
  char value[INI_FIELD_SIZE];
};

// The one process-wide record through which Ini_ReadEntry answers.
extern IniEntry Ini_Entry;

// Position (from 0) of the nth `c` in text; of the last one when there are
// fewer than n but at least one; -1 when there is none.  n < 1 counts as 1.
int32_t Str_FindNth(const char* text, char c, int32_t n);

// Copies `length` characters of src from `start` into dst (dstCap bytes) and
// ends it with a zero byte; length 0 copies the rest of src; a negative
// length leaves dst as it was.  Never reads past src's end nor writes past
// dstCap - 1 characters.  Returns dst.
char* Str_Mid(const char* src, int32_t start, int32_t length, char* dst, size_t dstCap);

// Looks up the first pair of the file at `path` whose section equals
// `section`, or whose name equals `name`, or whose number equals `key`, and
// leaves it in Ini_Entry with its value decrypted.  Ini_Entry is reset (0 and
// empty texts) when the file cannot be opened or no pair is selected.
void Ini_ReadEntry(const char* section, const char* name, int32_t key, const char* path);

// The database login: the plain values of the entries "LOGIN", "PASS" and
// "NET8" of INI_LOGIN_FILE, each copied bounded into its buffer.
void Ini_GetDbLogin(char* user, size_t userCap, char* password, size_t passwordCap, char* service,
                    size_t serviceCap);
