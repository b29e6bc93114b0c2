// Any cipher text, both forms, any output size: never past a buffer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/idea.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string cipher(reinterpret_cast<const char*>(data), size);
  for (uint8_t mode : {IDEA_MODE_DIGITS, IDEA_MODE_LETTERS, static_cast<uint8_t>(2)}) {
    size_t need = static_cast<size_t>(Idea_PlainTextSize(cipher.c_str(), mode));
    for (size_t cap : {need, static_cast<size_t>(1), static_cast<size_t>(8), static_cast<size_t>(60)}) {
      if (cap == 0) continue;
      std::vector<char> out(cap);
      Idea_DecryptText(cipher.c_str(), out.data(), out.size(), IDEA_SYSTEM_KEY, mode);
    }
    // And the key text from the input too.
    char out[64];
    Idea_DecryptText("12345678901234567890", out, sizeof out, cipher.c_str(), mode);
    std::vector<char> enc(static_cast<size_t>(Idea_CipherTextSize(cipher.c_str(), mode)) + 1);
    Idea_EncryptText(cipher.c_str(), enc.data(), enc.size(), IDEA_SYSTEM_KEY, mode);
  }
  return 0;
}
