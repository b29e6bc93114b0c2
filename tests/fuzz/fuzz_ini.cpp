// Any settings file content.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/ini.h"

namespace {
std::string Dir() {
  static std::string dir = [] {
    char tmpl[] = "/dev/shm/brakmor-fuzz-ini-XXXXXX";
    std::string d = mkdtemp(tmpl);
    std::string work = d + "/a/b/c/d";
    system(("mkdir -p " + work + " " + d + "/files").c_str());
    if (chdir(work.c_str()) != 0) abort();
    return d;
  }();
  return dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = Dir() + "/files/velquaris.ini";
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(data, 1, size, f);
  fclose(f);
  Ini_ReadEntry("", "LOGIN", 0, path.c_str());
  Ini_ReadEntry("DB", "", 12, path.c_str());
  char user[52], pass[52], svc[52];
  Ini_GetDbLogin(user, sizeof user, pass, sizeof pass, svc, sizeof svc);
  char small[3];
  Ini_GetDbLogin(small, sizeof small, small, sizeof small, small, sizeof small);
  return 0;
}
