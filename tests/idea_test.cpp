// The credential cipher: the published vector, the arithmetic, the text forms.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "settings/idea.h"

namespace {

TEST(IdeaTest, PublishedTestVectorBothWays) {
  const char key[9] = {1, 2, 3, 4, 5, 6, 7, 8, 0};
  IdeaKey ek;
  IdeaKey dk;
  Idea_ExpandKey(key, ek);
  Idea_InvertKey(ek, dk);
  const int32_t plain[4] = {0, 1, 2, 3};
  int32_t cipher[4];
  Idea_Cipher(plain, cipher, ek, 4);
  EXPECT_EQ(cipher[0], 0x11FB);
  EXPECT_EQ(cipher[1], 0xED2B);
  EXPECT_EQ(cipher[2], 0x0198);
  EXPECT_EQ(cipher[3], 0x6DE5);
  int32_t back[4];
  Idea_Cipher(cipher, back, dk, 4);
  EXPECT_EQ(back[0], 0);
  EXPECT_EQ(back[1], 1);
  EXPECT_EQ(back[2], 2);
  EXPECT_EQ(back[3], 3);
}

TEST(IdeaTest, MulAndInvValues) {
  struct { int32_t a, b, product; } mul[] = {{0, 0, 1}, {0, 1, 0}, {0, 2, 65535}, {65535, 65535, 4}, {32768, 2, 0}};
  for (auto c : mul) EXPECT_EQ(Idea_Mul(c.a, c.b), c.product) << c.a << "*" << c.b;
  struct { int32_t x, inv; } inv[] = {{0, 0}, {1, 1}, {2, 32769}, {65535, 32768}};
  for (auto c : inv) EXPECT_EQ(Idea_Inv(c.x), c.inv) << c.x;
  for (int32_t x = 1; x < 65536; x += 97) EXPECT_EQ(Idea_Mul(x, Idea_Inv(x)), 1) << x;
}

TEST(IdeaTest, CipherCountsWordsByBlocks) {
  IdeaKey ek;
  Idea_ExpandKey(IDEA_SYSTEM_KEY, ek);
  int32_t in[8] = {1, 2, 3, 4, 5, 6, 0, 0};
  int32_t padded[8];
  int32_t out[8];
  for (int i = 0; i < 8; ++i) out[i] = padded[i] = -7;
  Idea_Cipher(in, out, ek, 6);
  Idea_Cipher(in, padded, ek, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], padded[i]) << "words 6 and 7 are taken as 0";
  int32_t untouched = -7;
  Idea_Cipher(in, &untouched, ek, 0);
  EXPECT_EQ(untouched, -7);
}

TEST(IdeaTest, TextFormsAndSizes) {
  std::string plain = "abcde";
  EXPECT_EQ(Idea_CipherTextSize(plain.c_str(), IDEA_MODE_DIGITS), 41);
  EXPECT_EQ(Idea_CipherTextSize(plain.c_str(), IDEA_MODE_LETTERS), 21);
  EXPECT_EQ(Idea_CipherTextSize(plain.c_str(), 2), 0);
  char digits[41];
  char letters[21];
  Idea_EncryptText(plain.c_str(), digits, sizeof digits, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  Idea_EncryptText(plain.c_str(), letters, sizeof letters, IDEA_SYSTEM_KEY, IDEA_MODE_LETTERS);
  EXPECT_EQ(strlen(digits), 40u);
  EXPECT_EQ(strlen(letters), 20u);
  EXPECT_EQ(Idea_PlainTextSize(digits, IDEA_MODE_DIGITS), 9) << "one more than the 8 words";
  EXPECT_EQ(Idea_PlainTextSize(letters, IDEA_MODE_LETTERS), 9);
  for (int i = 0; i < 20; ++i) {
    int pair = (digits[2 * i] - '0') * 10 + (digits[2 * i + 1] - '0');
    EXPECT_EQ(static_cast<unsigned char>(letters[i]), 65 + pair);
  }
  char out[16];
  memset(out, 'Z', sizeof out);
  Idea_DecryptText(digits, out, sizeof out, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  EXPECT_EQ(std::string(out, 9), std::string("abcde\0\0\0\0", 9)) << "5 characters, three zero bytes, terminator";
  // Seven digits: one group, one character.
  Idea_DecryptText("1234567", out, sizeof out, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  EXPECT_EQ(Idea_PlainTextSize("1234567", IDEA_MODE_DIGITS), 2);
  EXPECT_EQ(out[1], '\0');
  // Empty both ways.
  Idea_EncryptText("", out, sizeof out, IDEA_SYSTEM_KEY, IDEA_MODE_LETTERS);
  EXPECT_STREQ(out, "");
  Idea_DecryptText("", out, sizeof out, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  EXPECT_STREQ(out, "");
}

TEST(IdeaTest, GroupsAreFiveDigitsWithLeadingZeros) {
  // Decrypting chosen words and encrypting the result gives them back, so
  // the written groups of the words 0, 7, 408 and 65535 can be checked.
  IdeaKey ek;
  IdeaKey dk;
  Idea_ExpandKey(IDEA_SYSTEM_KEY, ek);
  Idea_InvertKey(ek, dk);
  const int32_t words[4] = {0, 7, 408, 65535};
  int32_t plain[4];
  Idea_Cipher(words, plain, dk, 4);
  char cipher[] = "00000000070040865535";
  char text[8];
  Idea_DecryptText(cipher, text, sizeof text, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(static_cast<unsigned char>(text[i]), plain[i] & 0xFF);
}

TEST(IdeaTest, RoundTripOfRandomTextsInBothForms) {
  std::mt19937 rng(4711);
  for (int round = 0; round < 300; ++round) {
    size_t len = rng() % 53;
    std::string plain;
    for (size_t i = 0; i < len; ++i) plain += static_cast<char>(1 + rng() % 255);
    for (uint8_t mode : {IDEA_MODE_DIGITS, IDEA_MODE_LETTERS}) {
      std::vector<char> cipher(static_cast<size_t>(Idea_CipherTextSize(plain.c_str(), mode)));
      Idea_EncryptText(plain.c_str(), cipher.data(), cipher.size(), IDEA_SYSTEM_KEY, mode);
      std::vector<char> back(static_cast<size_t>(Idea_PlainTextSize(cipher.data(), mode)));
      Idea_DecryptText(cipher.data(), back.data(), back.size(), IDEA_SYSTEM_KEY, mode);
      EXPECT_EQ(std::string(back.data()), plain) << "length " << len << " mode " << int(mode);
    }
  }
}

TEST(IdeaTest, InputThatEncryptionNeverMakesIsReadSafely) {
  char out[64];
  // More than 52 groups: only the first 52 count.
  std::string many(5 * 60, '1');
  Idea_DecryptText(many.c_str(), out, sizeof out, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  char first52[64];
  Idea_DecryptText(many.substr(0, 5 * 52).c_str(), first52, sizeof first52, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  EXPECT_EQ(memcmp(out, first52, 53), 0);
  // A group above 65535 keeps its low 16 bits.
  char a[8];
  char b[8];
  Idea_DecryptText("99999", a, sizeof a, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  Idea_DecryptText("34463", b, sizeof b, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);  // 99999 - 65536
  EXPECT_EQ(a[0], b[0]);
  // Letters outside 65..164, signs and blanks: no crash, a bounded text.
  const char odd[] = {'\x01', '\x7f', '\xff', '!', '-', ' ', 'A', 'B', 'C', 'D', '\0'};
  Idea_DecryptText(odd, out, sizeof out, IDEA_SYSTEM_KEY, IDEA_MODE_LETTERS);
  Idea_DecryptText("  -12+0003     ", out, sizeof out, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  // A small output buffer cuts the text.
  char tiny[3];
  Idea_DecryptText(many.c_str(), tiny, sizeof tiny, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  EXPECT_EQ(tiny[2], '\0');
  // An unknown mode, a short key text and a key of high bytes.
  Idea_DecryptText("12345", out, sizeof out, IDEA_SYSTEM_KEY, 7);
  EXPECT_STREQ(out, "");
  Idea_EncryptText("x", out, sizeof out, "K", IDEA_MODE_DIGITS);
  EXPECT_EQ(strlen(out), 20u);
  Idea_EncryptText("x", out, 5, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  EXPECT_STREQ(out, "") << "a cipher text that does not fit is not written";
}

}  // namespace
