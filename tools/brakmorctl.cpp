// brakmorctl: the operator's tool for a Brakmor site.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/ctl.h"

namespace {

struct Verb {
  const char* name;
  int (*run)(Args&);
  const char* usage;
  const char* help;
};

const Verb kVerbs[] = {
    {"status", Verb_Status, "status [--json]",
     "Whether the service runs, and the state of its events. Exit 0 running, 3 not running."},
    {"stop", Verb_Stop, "stop [--timeout SECONDS]",
     "Ask the service to stop and wait until it has ended (default 30 s). Exit 0 stopped, 1 time-out, 3 not "
     "running."},
    {"wait-start", Verb_WaitStart, "wait-start [--timeout SECONDS]",
     "Wait until the service announces that it polls (default 30 s). Exit 0 started, 1 time-out."},
    {"put", Verb_Put, "put [--file PATH] [--wait SECONDS] [--quiet] [TEXT...]",
     "Append one pending record per TEXT, or per line of standard input, to the receive buffer file."},
    {"log", Verb_Log, "log [--file PATH] [--all] [--follow]",
     "Print the message log's entries, one per line: date, time, classes, function, message, error code\n"
     "      (tab-separated). --all: the backup first; --follow: keep printing new entries."},
    {"db init", Verb_DbInit, "db init",
     "Create the two tables on the database that the settings file names (refused when they exist)."},
    {"rows", Verb_Rows, "rows [--table rcv|rvs] [--before YYYYMMDDHHMMSS] [--json]",
     "List the rows of a table, one per line, tab-separated (--before: rvs rows older than that)."},
    {"count", Verb_Count, "count [--json]", "Print the number of rows of the receive table."},
    {"delete", Verb_Delete, "delete --mdt YYYYMMDDHHMMSS --lfn N [--table rcv|rvs]",
     "Delete the rows with that time stamp and number."},
    {"encrypt", Verb_Encrypt, "encrypt [--letters] TEXT", "Print the cipher text of TEXT under the system key."},
    {"decrypt", Verb_Decrypt, "decrypt [--letters] CIPHER", "Print the plain text of CIPHER."},
    {"login", Verb_Login, "login [--show-password] [--file PATH]",
     "Read the database login as the service does and print its connect string (password as *** unless asked)."},
    {"settings write", Verb_SettingsWrite,
     "settings write --user U --password P --service S [--file PATH] [--force]",
     "Write a settings file (mode 0600) from which the service reads exactly this login."},
};

void Usage(FILE* out) {
  fprintf(out,
          "usage: brakmorctl [--dir DIR] VERB [OPTIONS]\n"
          "\n"
          "Operator tool of the Brakmor transfer service. Paths are relative to the\n"
          "service's working directory: the current one, or DIR.\n"
          "\n"
          "verbs:\n");
  for (const Verb& v : kVerbs) fprintf(out, "  %s\n      %s\n", v.usage, v.help);
  fprintf(out,
          "\n"
          "exit codes: 0 done, 1 failed, 2 bad command line, 3 service not running.\n"
          "'brakmorctl VERB --help' shows one verb.\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  size_t i = 0;
  while (i < words.size() && words[i].size() > 1 && words[i][0] == '-') {
    if (words[i] == "--help" || words[i] == "-h") {
      Usage(stdout);
      return CTL_OK;
    }
    if ((words[i] == "--dir" || words[i] == "-C") && i + 1 < words.size()) {
      if (chdir(words[i + 1].c_str()) != 0) {
        fprintf(stderr, "brakmorctl: cannot change to %s: %s\n", words[i + 1].c_str(), strerror(errno));
        return CTL_FAIL;
      }
      i += 2;
      continue;
    }
    fprintf(stderr, "brakmorctl: unknown option %s\n", words[i].c_str());
    Usage(stderr);
    return CTL_USAGE;
  }
  if (i >= words.size()) {
    Usage(stderr);
    return CTL_USAGE;
  }
  std::string verb = words[i];
  std::vector<std::string> rest(words.begin() + static_cast<long>(i) + 1, words.end());
  // Two-word verbs ("settings write", "db init") are looked up whole first.
  if (!rest.empty()) {
    std::string two = verb + " " + rest[0];
    for (const Verb& v : kVerbs) {
      if (two == v.name) {
        verb = two;
        rest.erase(rest.begin());
        break;
      }
    }
  }
  for (const Verb& v : kVerbs) {
    if (verb != v.name) continue;
    for (const std::string& w : rest) {
      if (w == "--") break;
      if (w == "--help" || w == "-h") {
        printf("usage: brakmorctl %s\n\n%s\n", v.usage, v.help);
        return CTL_OK;
      }
    }
    Args args(rest);
    return v.run(args);
  }
  fprintf(stderr, "brakmorctl: unknown verb '%s'\n", verb.c_str());
  Usage(stderr);
  return CTL_USAGE;
}
