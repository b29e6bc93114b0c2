// The credential cipher: IDEA (64-bit blocks, 128-bit key, eight rounds,
// electronic code book) and its decimal text forms.  No state survives a call.
#pragma once

#include <cstddef>
#include <cstdint>

// The system's key text for every settings value.
#define IDEA_SYSTEM_KEY "KLOPVAR"

constexpr uint8_t IDEA_MODE_DIGITS = 0;   // five-digit decimal groups
constexpr uint8_t IDEA_MODE_LETTERS = 1;  // digit pairs dd as the character 65 + dd

// Subkeys: entry [j][r] is subkey j (0-5) of round r (0-7); column 8 holds
// the output transformation's four in rows 0-3.  One 16-bit word per element.
typedef int32_t IdeaKey[6][9];

// a*b modulo 65537, with 0 standing for 65536.  a, b: words (0-65535).
int32_t Idea_Mul(int32_t a, int32_t b);
// The multiplicative inverse modulo 65537 (0 standing for 65536); Inv(0) = 0.
int32_t Idea_Inv(int32_t x);
// Fills `ek` from the first 8 bytes of keyText (bytes after its terminator
// count as 0, so a shorter key text is never read past its end).
void Idea_ExpandKey(const char* keyText, IdeaKey ek);
// Fills `dk` with the decryption subkeys of `ek`.
void Idea_InvertKey(const IdeaKey ek, IdeaKey dk);
// Enciphers (or, with an inverted key, deciphers) `count` words block by
// block; the last block is filled up with zero words.  `out` must hold
// 4*ceil(count/4) words; count <= 0 writes nothing.
void Idea_Cipher(const int32_t* in, int32_t* out, const IdeaKey key, int32_t count);

// Bytes the cipher text of `plain` takes in `mode`, its zero byte included;
// 0 for an unknown mode.
int32_t Idea_CipherTextSize(const char* plain, uint8_t mode);
// Bytes the plain text of `cipher` takes in `mode`, its zero byte included;
// 0 for an unknown mode.
int32_t Idea_PlainTextSize(const char* cipher, uint8_t mode);

// Writes the cipher text of `plain` into out (outCap bytes).  When it does
// not fit, or the mode is unknown, out becomes the empty text.
void Idea_EncryptText(const char* plain, char* out, size_t outCap, const char* keyText, uint8_t mode);
// Writes the plain text of `cipher` into out (outCap bytes): one character
// per complete five-digit group, then a zero byte; cut to outCap - 1
// characters.  Input that encryption never produces is read as follows:
//  - only the first 52 groups count (more is no value of this system);
//  - a group's number keeps its low 16 bits (a group above 65535 is no word);
//  - a letter outside 65..164 gives the digit pair of its distance from 65
//    modulo 100, so every letter is still exactly two digits;
//  - an unknown mode gives the empty text.
void Idea_DecryptText(const char* cipher, char* out, size_t outCap, const char* keyText, uint8_t mode);
