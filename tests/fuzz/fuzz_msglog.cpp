// Any entry texts, lengths, classes and masks.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "msglog/msglog.h"

namespace {
void Setup() {
  static bool done = [] {
    char tmpl[] = "/dev/shm/brakmor-fuzz-msg-XXXXXX";
    std::string d = mkdtemp(tmpl);
    system(("mkdir -p " + d + "/Msg").c_str());
    if (chdir(d.c_str()) != 0) abort();
    return true;
  }();
  (void)done;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup();
  if (size < 10) return 0;
  int32_t mask = static_cast<int32_t>(data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24));
  int32_t classes = static_cast<int32_t>(data[4] | (data[5] << 8) | (data[6] << 16) | (static_cast<uint32_t>(data[7]) << 24));
  int32_t code = static_cast<int32_t>(data[8]) * 100000 - 12800000 * (data[9] & 1);
  // The rest: Funktion, Message, ExtraText and Data, split at zero bytes.
  std::vector<std::string> parts(4);
  size_t k = 0;
  for (size_t i = 10; i < size; ++i) {
    if (data[i] == 0 && k < 3) ++k;
    else parts[k] += static_cast<char>(data[i]);
  }
  Msg_Init(mask, ".\\Msg\\Brakmor.txt");
  MsgInfo e{parts[0].c_str(), parts[1].c_str(), classes, code, parts[3].data(),
            static_cast<uint32_t>(parts[3].size()), parts[2].c_str()};
  Msg_Write(&e);
  MsgInfo nulls{nullptr, nullptr, classes, code, nullptr, 0, nullptr};
  Msg_Write(&nulls);
  Msg_Put(code, parts[1].c_str(), parts[0].c_str(), classes);
  return 0;
}
