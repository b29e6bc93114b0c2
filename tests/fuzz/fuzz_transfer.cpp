// Any buffer file content, one pass over it, against a real SQLite database.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/DbDb.h"
#include "db/runtime.h"
#include "service/buffile.h"
#include "service/transfer.h"
#include "settings/idea.h"
#include "sql_scripts.h"

namespace {
void Setup() {
  static bool done = [] {
    char tmpl[] = "/dev/shm/brakmor-fuzz-buf-XXXXXX";
    std::string d = mkdtemp(tmpl);
    std::string work = d + "/a/b/c/work";
    system(("mkdir -p " + work + "/Msg " + d + "/files " + d + "/a/b/c/COMM/BUFF").c_str());
    if (chdir(work.c_str()) != 0) abort();
    std::string ini;
    const char* values[] = {"u", "p", "sqlite:fuzz.db"};
    const char* names[] = {"LOGIN", "PASS", "NET8"};
    for (int i = 0; i < 3; ++i) {
      char c[256];
      Idea_EncryptText(values[i], c, sizeof c, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
      ini += ";DB;\n" + std::to_string(i + 1) + ";" + names[i] + ";" + c + "\n";
    }
    FILE* f = fopen((d + "/files/velquaris.ini").c_str(), "wb");
    fputs(ini.c_str(), f);
    fclose(f);
    Sql_SetDefaultConnectFlags(SQL_CONNECT_CREATE);
    if (Db_Connect() != 0) abort();
    Sql_ExecuteScript(kSqliteTables);
    Sql_ExecuteScript("PRAGMA synchronous=OFF");
    Sql_Commit();
    return true;
  }();
  (void)done;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup();
  FILE* f = fopen("../COMM/BUFF/RCVUPL.BUF", "wb");
  fwrite(data, 1, size, f);
  fclose(f);
  Buf_FileHandle = Buf_OpenExclusive(BUF_FILE_NAME, OPEN_EXISTING);
  if (Buf_FileHandle == INVALID_HANDLE_VALUE) abort();
  TransferState st{0, 0, 0};
  int32_t r = Buf_Transfer(&st);
  if (r != 1) abort();  // no I/O fault here: every pass must reach its end
  CloseHandle(Buf_FileHandle);
  // Afterwards no record may be pending: each was inserted and marked.
  f = fopen("../COMM/BUFF/RCVUPL.BUF", "rb");
  for (long pos = 0; fseek(f, pos, SEEK_SET) == 0; pos += BUF_RECORD_SIZE) {
    int c = fgetc(f);
    if (c == EOF) break;
    if (c == BUF_STATUS_PENDING) abort();
  }
  fclose(f);
  return 0;
}
