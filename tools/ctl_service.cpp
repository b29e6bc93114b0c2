// status, stop, wait-start: the controller's side of the start/stop protocol.
#include <cstdio>

#include "platform/plat.h"
#include "service/names.h"
#include "tools/ctl.h"

namespace {

bool ServiceRuns() {
  HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, SVC_MUTEX_NAME);
  if (m == nullptr) return false;
  CloseHandle(m);
  return true;
}

const char* EventState(const char* name) {
  HANDLE e = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (e == nullptr) return "absent";
  DWORD r = WaitForSingleObject(e, 0);
  CloseHandle(e);
  return r == WAIT_OBJECT_0 ? "signalled" : r == WAIT_TIMEOUT ? "not signalled" : "unknown";
}

bool NamespaceUsable(const char* verb) {
  char dir[512];
  char why[512];
  if (!Plat_NamespaceDir(dir, sizeof dir, why, sizeof why)) {
    CtlError(verb, "cannot use the namespace directory: %s", why);
    return false;
  }
  return true;
}

bool TimeoutOption(Args& args, const char* verb, unsigned* ms) {
  std::string text;
  if (args.Option("--timeout", &text) && !ParseSeconds(text, ms)) {
    CtlError(verb, "--timeout takes a number of seconds, not '%s'", text.c_str());
    return false;
  }
  args.Rest();
  if (!args.ok()) {
    CtlError(verb, "%s", args.error().c_str());
    return false;
  }
  return true;
}

}  // namespace

int Verb_Status(Args& args) {
  bool json = args.Flag("--json");
  args.Rest();
  if (!args.ok()) {
    CtlError("status", "%s", args.error().c_str());
    return CTL_USAGE;
  }
  if (!NamespaceUsable("status")) return CTL_FAIL;
  bool runs = ServiceRuns();
  const char* start = EventState(SVC_START_EVENT_NAME);
  const char* stop = EventState(SVC_STOP_EVENT_NAME);
  char dir[512];
  char why[512];
  Plat_NamespaceDir(dir, sizeof dir, why, sizeof why);
  if (json) {
    printf("{\"running\":%s,\"start_event\":\"%s\",\"stop_event\":\"%s\"}\n", runs ? "true" : "false", start, stop);
  } else {
    printf("service:           %s\n", runs ? "running" : "not running");
    printf("%-18s %s\n", SVC_START_EVENT_NAME ":", start);
    printf("%-18s %s\n", SVC_STOP_EVENT_NAME ":", stop);
    printf("namespace:         %s\n", dir);
  }
  return runs ? CTL_OK : CTL_NOT_RUNNING;
}

int Verb_Stop(Args& args) {
  unsigned timeoutMs = 30000;
  if (!TimeoutOption(args, "stop", &timeoutMs)) return CTL_USAGE;
  if (!NamespaceUsable("stop")) return CTL_FAIL;
  if (!ServiceRuns()) {
    fprintf(stderr, "brakmorctl stop: the service is not running\n");
    return CTL_NOT_RUNNING;
  }
  // Created not signalled: a service still starting up opens this object and
  // keeps its state, so it stops at its first test too.
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, SVC_STOP_EVENT_NAME);
  if (stop == nullptr || !ResetEvent(stop)) {
    CtlError("stop", "cannot reset %s (error %u)", SVC_STOP_EVENT_NAME, static_cast<unsigned>(GetLastError()));
    if (stop != nullptr) CloseHandle(stop);
    return CTL_FAIL;
  }
  unsigned waited = 0;
  while (ServiceRuns()) {
    if (waited >= timeoutMs) {
      CloseHandle(stop);
      CtlError("stop", "the service did not end within %.1f s; the stop request stays", timeoutMs / 1000.0);
      return CTL_FAIL;
    }
    Sleep(20);
    waited += 20;
  }
  CloseHandle(stop);
  printf("service stopped\n");
  return CTL_OK;
}

int Verb_WaitStart(Args& args) {
  unsigned timeoutMs = 30000;
  if (!TimeoutOption(args, "wait-start", &timeoutMs)) return CTL_USAGE;
  if (!NamespaceUsable("wait-start")) return CTL_FAIL;
  unsigned waited = 0;
  for (;;) {
    HANDLE e = OpenEventA(SYNCHRONIZE, FALSE, SVC_START_EVENT_NAME);
    if (e != nullptr) {
      DWORD r = WaitForSingleObject(e, timeoutMs > waited ? timeoutMs - waited : 0);
      CloseHandle(e);
      if (r == WAIT_OBJECT_0) {
        printf("service started\n");
        return CTL_OK;
      }
      break;
    }
    if (waited >= timeoutMs) break;
    Sleep(20);
    waited += 20;
  }
  CtlError("wait-start", "%s not signalled within %.1f s", SVC_START_EVENT_NAME, timeoutMs / 1000.0);
  return CTL_FAIL;
}
