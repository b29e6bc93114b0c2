#include "tests/dbsite.h"

namespace tu {

Site::Site(const std::string& svc, const std::string& base) : root(base.empty() ? TempDir() : TempDir(base)) {
  work = root / "srv/app/site/work";
  buffer = root / "srv/app/site/COMM/BUFF/RCVUPL.BUF";
  MakeDirs(root / "files");
  MakeDirs(work + "/Msg");
  MakeDirs(root / "srv/app/site/COMM/BUFF");
  WriteSettings(svc);
}

void Site::WriteSettings(const std::string& svc) {
  service = svc;
  std::string out;
  Ctl({"settings", "write", "--force", "--user", "brakmor", "--password", "secret", "--service", svc}, &out);
}

int Site::Ctl(const std::vector<std::string>& args, std::string* out, const std::string& input) {
  std::vector<std::string> argv{Bin("brakmorctl"), "--dir", work};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string ignored;
  return Run(argv, out != nullptr ? out : &ignored, "", {}, input);
}

}  // namespace tu
