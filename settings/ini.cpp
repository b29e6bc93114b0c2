#include "settings/ini.h"

#include <cstring>

#include "platform/plat.h"
#include "settings/idea.h"

IniEntry Ini_Entry;

namespace {

// Line buffers as the format sets them: a first line of at most 198
// characters and its line end, a second of at most 398 and its line end.
// Longer lines are read in pieces, as the format says.
constexpr size_t kFirstLineSize = 200;
constexpr size_t kSecondLineSize = 400;
constexpr size_t kNumberSize = 12;  // 11 characters

void Reset() {
  Ini_Entry.number = 0;
  Ini_Entry.section[0] = '\0';
  Ini_Entry.name[0] = '\0';
  Ini_Entry.value[0] = '\0';
}

// The standard string-to-integer reading, clamped to 32 bits instead of
// overflowing.
int32_t ToInt(const char* s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  int64_t v = 0;
  while (*s >= '0' && *s <= '9') {
    v = v * 10 + (*s++ - '0');
    if (v > 2147483648LL) v = 2147483648LL;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) v = 2147483647LL;
  return static_cast<int32_t>(v);
}

void CutPair(const char* first, const char* second) {
  int32_t p1 = Str_FindNth(first, ';', 1);
  int32_t p2 = Str_FindNth(first, ';', 2);
  Str_Mid(first, p1 + 1, p2 - p1 - 1, Ini_Entry.section, sizeof Ini_Entry.section);

  p1 = Str_FindNth(second, ';', 1);
  p2 = Str_FindNth(second, ';', 2);
  // A second line without any ";" has no number field: it reads as 0.
  char number[kNumberSize] = "";
  if (p1 >= 0) Str_Mid(second, 0, p1, number, sizeof number);
  Ini_Entry.number = ToInt(number);
  Str_Mid(second, p1 + 1, p2 - p1 - 1, Ini_Entry.name, sizeof Ini_Entry.name);
  int32_t valueLength = p1 >= 0 ? Str_FindNth(second, '\n', 1) - p2 - 1 : 0;
  Str_Mid(second, p2 + 1, valueLength, Ini_Entry.value, sizeof Ini_Entry.value);
}

}  // namespace

int32_t Str_FindNth(const char* text, char c, int32_t n) {
  if (n < 1) n = 1;
  int32_t found = 0;
  int32_t last = -1;
  for (int32_t i = 0; text[i] != '\0'; ++i) {
    if (text[i] == c) {
      last = i;
      if (++found == n) return i;
    }
  }
  return last;
}

char* Str_Mid(const char* src, int32_t start, int32_t length, char* dst, size_t dstCap) {
  if (length < 0 || dstCap == 0) return dst;
  size_t srcLen = strlen(src);
  size_t from = start < 0 ? 0 : static_cast<size_t>(start);
  if (from > srcLen) from = srcLen;
  size_t n = srcLen - from;
  if (length > 0 && static_cast<size_t>(length) < n) n = static_cast<size_t>(length);
  if (n > dstCap - 1) n = dstCap - 1;  // cut, never overflow
  memmove(dst, src + from, n);
  dst[n] = '\0';
  return dst;
}

void Ini_ReadEntry(const char* section, const char* name, int32_t key, const char* path) {
  Reset();
  PlatText* file = PlatText_Open(path);
  if (file == nullptr) return;
  char first[kFirstLineSize];
  char second[kSecondLineSize];
  for (;;) {
    if (!PlatText_ReadLine(file, first, sizeof first) || !PlatText_ReadLine(file, second, sizeof second)) {
      Reset();
      break;
    }
    CutPair(first, second);
    bool selected = strcmp(Ini_Entry.section, section) == 0 || strcmp(Ini_Entry.name, name) == 0 ||
                    Ini_Entry.number == key;
    if (selected) {
      char plain[INI_FIELD_SIZE];
      Idea_DecryptText(Ini_Entry.value, plain, sizeof plain, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
      memcpy(Ini_Entry.value, plain, sizeof plain);
      break;
    }
    Reset();
  }
  PlatText_Close(file);
}

void Ini_GetDbLogin(char* user, size_t userCap, char* password, size_t passwordCap, char* service,
                    size_t serviceCap) {
  Ini_ReadEntry("", "LOGIN", 0, INI_LOGIN_FILE);
  Str_Mid(Ini_Entry.value, 0, 0, user, userCap);
  Ini_ReadEntry("", "PASS", 0, INI_LOGIN_FILE);
  Str_Mid(Ini_Entry.value, 0, 0, password, passwordCap);
  Ini_ReadEntry("", "NET8", 0, INI_LOGIN_FILE);
  Str_Mid(Ini_Entry.value, 0, 0, service, serviceCap);
}
