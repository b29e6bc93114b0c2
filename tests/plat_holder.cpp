// Test helper: takes one platform object, reports on stdout, then holds it
// until its standard input closes (or it is killed).
//   plat_holder mutex NAME
//   plat_holder event NAME INITIAL(0|1)
//   plat_holder file PATH ACCESS(r|w|rw) SHARE(0-3) DISPOSITION(3|4)
// First line: "ok LASTERROR" or "fail LASTERROR".  Then, for events, each
// line read from stdin "set" / "reset" / "wait MS" is carried out and
// answered.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win.h"

// A stand-in for the service's start/stop protocol: mutex, events, start
// set, then runs until the stop event is reset.
static int StandIn() {
  HANDLE m = CreateMutexA(nullptr, TRUE, "BRAKMOR_MTX");
  if (m == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
  HANDLE stop = CreateEventA(nullptr, TRUE, TRUE, "StopBrakmorEvent");
  HANDLE start = CreateEventA(nullptr, TRUE, FALSE, "StartBrakmorEvent");
  SetEvent(start);
  printf("started\n");
  fflush(stdout);
  while (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) Sleep(20);
  SetEvent(stop);
  CloseHandle(stop);
  CloseHandle(start);
  CloseHandle(m);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "stand-in") return StandIn();
  if (argc < 3) return 2;
  std::string kind = argv[1];
  HANDLE h = nullptr;
  if (kind == "mutex") {
    h = CreateMutexA(nullptr, TRUE, argv[2]);
  } else if (kind == "event" && argc >= 4) {
    h = CreateEventA(nullptr, TRUE, atoi(argv[3]), argv[2]);
  } else if (kind == "file" && argc >= 6) {
    std::string a = argv[3];
    DWORD access = (a.find('r') != std::string::npos ? GENERIC_READ : 0) | (a.find('w') != std::string::npos ? GENERIC_WRITE : 0);
    h = CreateFileA(argv[2], access, static_cast<DWORD>(atoi(argv[4])), nullptr, static_cast<DWORD>(atoi(argv[5])),
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) h = nullptr;
  } else {
    return 2;
  }
  printf("%s %u\n", h != nullptr ? "ok" : "fail", static_cast<unsigned>(GetLastError()));
  fflush(stdout);
  if (h == nullptr) return 1;
  char line[128];
  while (fgets(line, sizeof line, stdin) != nullptr) {
    if (strncmp(line, "set", 3) == 0) {
      printf("%d\n", SetEvent(h));
    } else if (strncmp(line, "reset", 5) == 0) {
      printf("%d\n", ResetEvent(h));
    } else if (strncmp(line, "wait ", 5) == 0) {
      printf("%u\n", static_cast<unsigned>(WaitForSingleObject(h, static_cast<DWORD>(atoi(line + 5)))));
    }
    fflush(stdout);
  }
  CloseHandle(h);
  return 0;
}
