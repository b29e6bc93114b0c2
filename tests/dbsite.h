// A working layout with a settings file naming a test database, and the
// tables made on it: what the database tests and the service tests stand on.
#pragma once

#include <string>

#include "tests/testutil.h"

namespace tu {

// root/files/velquaris.ini, root/srv/app/site/work (the working directory),
// root/srv/app/site/COMM/BUFF, root/srv/app/site/work/Msg.
struct Site {
  explicit Site(const std::string& service = "sqlite:brakmor.db", const std::string& base = "");
  TempDir root;
  std::string work;
  std::string buffer;  // the buffer file's path
  std::string service;
  // Writes the settings file for `service` (user "brakmor", password "secret").
  void WriteSettings(const std::string& service);
  // brakmorctl in the working directory.
  int Ctl(const std::vector<std::string>& args, std::string* out = nullptr, const std::string& input = "");
};

}  // namespace tu
