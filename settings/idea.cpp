#include "settings/idea.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kMaxGroups = 52;

int32_t Add16(int32_t a, int32_t b) { return (a + b) & 0xFFFF; }
int32_t Neg16(int32_t v) { return (65536 - v) & 0xFFFF; }

// The standard string-to-integer reading of one group: white space, one
// sign, digits up to the first other character.  Never overflows: a group has
// at most five characters.
int32_t GroupValue(const char* g, int len) {
  int i = 0;
  while (i < len && (g[i] == ' ' || (g[i] >= '\t' && g[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < len && (g[i] == '+' || g[i] == '-')) negative = g[i++] == '-';
  int32_t v = 0;
  while (i < len && g[i] >= '0' && g[i] <= '9') v = v * 10 + (g[i++] - '0');
  return negative ? -v : v;
}

}  // namespace

int32_t Idea_Mul(int32_t a, int32_t b) {
  if (a == 0) return (65537 - b) & 0xFFFF;
  if (b == 0) return (65537 - a) & 0xFFFF;
  uint32_t p = static_cast<uint32_t>(a) * static_cast<uint32_t>(b);
  int32_t d = static_cast<int32_t>(p & 0xFFFF) - static_cast<int32_t>(p >> 16);
  if (d <= 0) d += 65537;
  return d & 0xFFFF;
}

int32_t Idea_Inv(int32_t x) {
  if (x == 0) return 0;
  int32_t u = 65537;
  int32_t w = x;
  int32_t g = 0;
  int32_t h = 1;
  for (;;) {
    int32_t r = u % w;
    int32_t q = (u - r) / w;
    if (r == 0) break;
    u = w;
    w = r;
    int32_t t = g - q * h;
    g = h;
    h = t;
  }
  return h < 0 ? h + 65537 : h;
}

void Idea_ExpandKey(const char* keyText, IdeaKey ek) {
  int32_t s[54];
  bool ended = false;
  for (int i = 0; i < 8; ++i) {
    unsigned char c = ended ? 0 : static_cast<unsigned char>(keyText[i]);
    if (c == 0) ended = true;
    s[i] = c;
  }
  for (int i = 8; i < 54; ++i) {
    if (i % 8 == 6) {
      s[i] = ((s[i - 7] << 9) ^ (s[i - 14] >> 7)) & 0xFFFF;
    } else if (i % 8 == 7) {
      s[i] = ((s[i - 15] << 9) ^ (s[i - 14] >> 7)) & 0xFFFF;
    } else {
      s[i] = ((s[i - 7] << 9) ^ (s[i - 6] >> 7)) & 0xFFFF;
    }
  }
  for (int r = 0; r <= 8; ++r) {
    for (int j = 0; j < 6; ++j) ek[j][r] = s[6 * r + j];
  }
}

void Idea_InvertKey(const IdeaKey ek, IdeaKey dk) {
  for (int r = 0; r <= 8; ++r) {
    dk[0][8 - r] = Idea_Inv(ek[0][r]);
    dk[3][8 - r] = Idea_Inv(ek[3][r]);
    if (r == 0 || r == 8) {
      dk[1][8 - r] = Neg16(ek[1][r]);
      dk[2][8 - r] = Neg16(ek[2][r]);
    } else {
      dk[1][8 - r] = Neg16(ek[2][r]);
      dk[2][8 - r] = Neg16(ek[1][r]);
    }
  }
  for (int r = 0; r < 8; ++r) {
    dk[4][7 - r] = ek[4][r];
    dk[5][7 - r] = ek[5][r];
  }
}

void Idea_Cipher(const int32_t* in, int32_t* out, const IdeaKey key, int32_t count) {
  for (int32_t k = 0; k < count; k += 4) {
    int32_t x[4];
    for (int i = 0; i < 4; ++i) x[i] = k + i < count ? (in[k + i] & 0xFFFF) : 0;
    for (int r = 0; r < 8; ++r) {
      x[0] = Idea_Mul(x[0], key[0][r]);
      x[3] = Idea_Mul(x[3], key[3][r]);
      x[1] = Add16(x[1], key[1][r]);
      x[2] = Add16(x[2], key[2][r]);
      int32_t t0 = Idea_Mul(key[4][r], x[0] ^ x[2]);
      int32_t t1 = Idea_Mul(key[5][r], Add16(t0, x[1] ^ x[3]));
      int32_t t2 = Add16(t0, t1);
      x[0] ^= t1;
      x[3] ^= t2;
      int32_t x1 = x[1];
      x[1] = x[2] ^ t1;
      x[2] = x1 ^ t2;
    }
    out[k] = Idea_Mul(x[0], key[0][8]);
    out[k + 1] = Add16(x[2], key[1][8]);
    out[k + 2] = Add16(x[1], key[2][8]);
    out[k + 3] = Idea_Mul(x[3], key[3][8]);
  }
}

int32_t Idea_CipherTextSize(const char* plain, uint8_t mode) {
  size_t len = strlen(plain);
  int64_t words = 4 * static_cast<int64_t>((len + 3) / 4);
  if (mode == IDEA_MODE_DIGITS) return static_cast<int32_t>(5 * words + 1);
  if (mode == IDEA_MODE_LETTERS) return static_cast<int32_t>(5 * words / 2 + 1);
  return 0;
}

int32_t Idea_PlainTextSize(const char* cipher, uint8_t mode) {
  int64_t len = static_cast<int64_t>(strlen(cipher));
  if (mode == IDEA_MODE_DIGITS) return static_cast<int32_t>(len / 5 + 1);
  if (mode == IDEA_MODE_LETTERS) return static_cast<int32_t>(2 * len / 5 + 1);
  return 0;
}

void Idea_EncryptText(const char* plain, char* out, size_t outCap, const char* keyText, uint8_t mode) {
  if (outCap == 0) return;
  out[0] = '\0';
  if (mode != IDEA_MODE_DIGITS && mode != IDEA_MODE_LETTERS) return;
  size_t len = strlen(plain);
  size_t need = static_cast<size_t>(Idea_CipherTextSize(plain, mode));
  if (need > outCap) return;
  std::vector<int32_t> words(len);
  for (size_t i = 0; i < len; ++i) words[i] = static_cast<unsigned char>(plain[i]);
  size_t w = 4 * ((len + 3) / 4);
  std::vector<int32_t> cipher(w);
  IdeaKey ek;
  Idea_ExpandKey(keyText, ek);
  Idea_Cipher(words.data(), cipher.data(), ek, static_cast<int32_t>(len));
  std::string digits;
  digits.reserve(5 * w);
  for (size_t i = 0; i < w; ++i) {
    char group[8];
    snprintf(group, sizeof group, "%05d", static_cast<int>(cipher[i]));
    digits += group;
  }
  if (mode == IDEA_MODE_DIGITS) {
    memcpy(out, digits.c_str(), digits.size() + 1);
    return;
  }
  size_t n = 0;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out[n++] = static_cast<char>(65 + (digits[i] - '0') * 10 + (digits[i + 1] - '0'));
  }
  out[n] = '\0';
}

void Idea_DecryptText(const char* cipher, char* out, size_t outCap, const char* keyText, uint8_t mode) {
  if (outCap == 0) return;
  out[0] = '\0';
  if (mode != IDEA_MODE_DIGITS && mode != IDEA_MODE_LETTERS) return;
  // Only the first 52 groups are ever used: 260 digits, or 130 letters.
  std::string digits;
  if (mode == IDEA_MODE_DIGITS) {
    digits.assign(cipher, strnlen(cipher, 5 * kMaxGroups));
  } else {
    size_t letters = strnlen(cipher, 5 * kMaxGroups / 2);
    for (size_t i = 0; i < letters; ++i) {
      int v = (static_cast<unsigned char>(cipher[i]) - 65) % 100;
      if (v < 0) v += 100;
      digits += static_cast<char>('0' + v / 10);
      digits += static_cast<char>('0' + v % 10);
    }
  }
  int groups = static_cast<int>(digits.size() / 5);
  if (groups > kMaxGroups) groups = kMaxGroups;
  int32_t in[kMaxGroups] = {};
  int32_t plain[kMaxGroups] = {};
  for (int g = 0; g < groups; ++g) in[g] = GroupValue(digits.data() + 5 * g, 5) & 0xFFFF;
  IdeaKey ek;
  IdeaKey dk;
  Idea_ExpandKey(keyText, ek);
  Idea_InvertKey(ek, dk);
  Idea_Cipher(in, plain, dk, groups);
  size_t n = static_cast<size_t>(groups) < outCap - 1 ? static_cast<size_t>(groups) : outCap - 1;
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(plain[i] & 0xFF);
  out[n] = '\0';
}
