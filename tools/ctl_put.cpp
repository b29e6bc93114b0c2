// put: the reference writer of the receive buffer file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "service/buffile.h"
#include "service/bufwriter.h"
#include "tools/ctl.h"

int Verb_Put(Args& args) {
  std::string path = BUF_FILE_NAME;
  args.Option("--file", &path);
  unsigned waitMs = 60000;
  std::string waitText;
  if (args.Option("--wait", &waitText) && !ParseSeconds(waitText, &waitMs)) {
    CtlError("put", "--wait takes a number of seconds, not '%s'", waitText.c_str());
    return CTL_USAGE;
  }
  bool quiet = args.Flag("--quiet");
  std::vector<std::string> texts = args.Rest();
  if (!args.ok()) {
    CtlError("put", "%s", args.error().c_str());
    return CTL_USAGE;
  }
  bool fromStdin = texts.empty();
  if (fromStdin) {
    // One record per line; the line end (LF, or CR LF) is not part of it.
    std::string line;
    int c;
    bool any = false;
    while ((c = getchar()) != EOF) {
      any = true;
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        texts.push_back(line);
        line.clear();
        any = false;
      } else {
        line.push_back(static_cast<char>(c));
      }
    }
    if (any) texts.push_back(line);
  }
  std::vector<BufText> records;
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string& t = texts[i];
    if (t.size() > BUF_TEXT_SIZE) {
      CtlError("put", "%s %zu is %zu bytes long; a record holds at most %u. Nothing was written.",
               fromStdin ? "line" : "text", i + 1, t.size(), BUF_TEXT_SIZE);
      return CTL_FAIL;
    }
    if (memchr(t.data(), '\0', t.size()) != nullptr) {
      CtlError("put", "%s %zu holds a zero byte, which ends a record's text. Nothing was written.",
               fromStdin ? "line" : "text", i + 1);
      return CTL_FAIL;
    }
    records.push_back(BufText{t.data(), static_cast<uint32_t>(t.size())});
  }
  DWORD err = BufW_Append(path.c_str(), records.data(), records.size(), waitMs);
  if (err == ERROR_SHARING_VIOLATION) {
    CtlError("put", "%s stayed held by another process for %.1f s; nothing was written", path.c_str(),
             waitMs / 1000.0);
    return CTL_FAIL;
  }
  if (err == ERROR_PATH_NOT_FOUND) {
    CtlError("put", "%s: the directory does not exist (run from the service's working directory, or use --dir)",
             path.c_str());
    return CTL_FAIL;
  }
  if (err != 0) {
    CtlError("put", "%s: writing failed (Windows error %u); the records of this call may be missing", path.c_str(),
             static_cast<unsigned>(err));
    return CTL_FAIL;
  }
  if (!quiet) printf("put %zu record%s into %s\n", records.size(), records.size() == 1 ? "" : "s", path.c_str());
  return CTL_OK;
}
