// encrypt, decrypt, login, settings write: the settings file and its cipher.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/plat.h"
#include "settings/idea.h"
#include "settings/ini.h"
#include "tools/ctl.h"

namespace {

constexpr size_t kMaxValue = 40;      // a value line holds 40 groups
constexpr size_t kMaxConnect = 100;   // the connect string's limit

bool OneText(Args& args, const char* verb, std::string* text) {
  std::vector<std::string> rest = args.Rest();
  if (!args.ok() || rest.size() != 1) {
    CtlError(verb, "%s", args.ok() ? "takes exactly one TEXT" : args.error().c_str());
    return false;
  }
  *text = rest[0];
  return true;
}

}  // namespace

int Verb_Encrypt(Args& args) {
  uint8_t mode = args.Flag("--letters") ? IDEA_MODE_LETTERS : IDEA_MODE_DIGITS;
  std::string plain;
  if (!OneText(args, "encrypt", &plain)) return CTL_USAGE;
  std::vector<char> out(static_cast<size_t>(Idea_CipherTextSize(plain.c_str(), mode)));
  Idea_EncryptText(plain.c_str(), out.data(), out.size(), IDEA_SYSTEM_KEY, mode);
  printf("%s\n", out.data());
  return CTL_OK;
}

int Verb_Decrypt(Args& args) {
  uint8_t mode = args.Flag("--letters") ? IDEA_MODE_LETTERS : IDEA_MODE_DIGITS;
  std::string cipher;
  if (!OneText(args, "decrypt", &cipher)) return CTL_USAGE;
  std::vector<char> out(static_cast<size_t>(Idea_PlainTextSize(cipher.c_str(), mode)) + 1);
  Idea_DecryptText(cipher.c_str(), out.data(), out.size(), IDEA_SYSTEM_KEY, mode);
  printf("%s\n", out.data());
  return CTL_OK;
}

// Warns when others may read the settings file: the cipher's key is fixed
// and public, so the file's mode is what keeps the login from other users.
void WarnIfReadableByOthers(const char* path) {
  char native[4096];
  struct stat st;
  if (Plat_NativePath(path, native, sizeof native) && stat(native, &st) == 0 && (st.st_mode & 077) != 0) {
    fprintf(stderr,
            "brakmorctl: warning: %s can be read by other users (mode %03o); the cipher only hides the login "
            "from a casual look. Use chmod 600.\n",
            path, static_cast<unsigned>(st.st_mode & 0777));
  }
}

// A URI service name may carry its own password ("scheme://user:pw@host"):
// shown as *** like the login's.
std::string MaskUriPassword(const std::string& service) {
  size_t scheme = service.find("://");
  if (scheme == std::string::npos) return service;
  size_t at = service.find('@', scheme + 3);
  size_t colon = service.find(':', scheme + 3);
  if (at == std::string::npos || colon == std::string::npos || colon > at) return service;
  return service.substr(0, colon + 1) + "***" + service.substr(at);
}

int Verb_Login(Args& args) {
  bool show = args.Flag("--show-password");
  std::string path = INI_LOGIN_FILE;
  args.Option("--file", &path);
  args.Rest();
  if (!args.ok()) {
    CtlError("login", "%s", args.error().c_str());
    return CTL_USAGE;
  }
  PlatText* probe = PlatText_Open(path.c_str());
  if (probe == nullptr) {
    CtlError("login", "cannot open the settings file %s: %s", path.c_str(), strerror(errno));
    return CTL_FAIL;
  }
  PlatText_Close(probe);
  WarnIfReadableByOthers(path.c_str());
  // The same three look-ups as the service's; each is checked for having
  // found its own entry, not one that the section or number rule picked.
  static const char* kNames[] = {"LOGIN", "PASS", "NET8"};
  std::string values[3];
  bool allFound = true;
  for (int i = 0; i < 3; ++i) {
    Ini_ReadEntry("", kNames[i], 0, path.c_str());
    values[i] = Ini_Entry.value;
    if (strcmp(Ini_Entry.name, kNames[i]) != 0) {
      allFound = false;
      if (Ini_Entry.name[0] == '\0' && Ini_Entry.section[0] == '\0' && Ini_Entry.number == 0) {
        fprintf(stderr, "brakmorctl login: entry %s not found in %s; the service gets an empty value\n", kNames[i],
                path.c_str());
      } else {
        fprintf(stderr,
                "brakmorctl login: entry %s not found by its name in %s; the service takes the pair named '%s' "
                "(number %d) instead, because its section is empty or its number is 0\n",
                kNames[i], path.c_str(), Ini_Entry.name, static_cast<int>(Ini_Entry.number));
      }
    }
  }
  std::string connect = values[0] + "/" + values[1] + "@" + values[2];
  printf("%s/%s@%s\n", values[0].c_str(), show ? values[1].c_str() : "***",
         show ? values[2].c_str() : MaskUriPassword(values[2]).c_str());
  if (connect.size() > kMaxConnect) {
    fprintf(stderr, "brakmorctl login: the connect string is %zu characters; the service refuses more than %zu\n",
            connect.size(), kMaxConnect);
    return CTL_FAIL;
  }
  return allFound ? CTL_OK : CTL_FAIL;
}

int Verb_SettingsWrite(Args& args) {
  std::string user;
  std::string password;
  std::string service;
  std::string path = INI_LOGIN_FILE;
  bool haveUser = args.Option("--user", &user);
  bool havePassword = args.Option("--password", &password);
  bool haveService = args.Option("--service", &service);
  args.Option("--file", &path);
  bool force = args.Flag("--force");
  args.Rest();
  if (!args.ok() || !haveUser || !havePassword || !haveService) {
    CtlError("settings write", "%s", args.ok() ? "needs --user, --password and --service" : args.error().c_str());
    return CTL_USAGE;
  }
  const struct {
    const char* what;
    const std::string& value;
  } fields[] = {{"--user", user}, {"--password", password}, {"--service", service}};
  for (const auto& f : fields) {
    if (f.value.size() > kMaxValue) {
      CtlError("settings write", "%s is %zu characters long; a settings value holds at most %zu", f.what,
               f.value.size(), kMaxValue);
      return CTL_FAIL;
    }
    if (f.value.find_first_of("\r\n") != std::string::npos) {
      CtlError("settings write", "%s holds a line break, which no settings value can carry", f.what);
      return CTL_FAIL;
    }
  }
  size_t joined = user.size() + password.size() + service.size() + 2;
  if (joined > kMaxConnect) {
    CtlError("settings write", "user/password@service would be %zu characters; the service refuses more than %zu",
             joined, kMaxConnect);
    return CTL_FAIL;
  }
  // Each pair has a section between two ";" and a number other than 0, so
  // that the look-ups (empty section, key 0) pass over the pairs ahead of
  // theirs and select each entry by its name.
  std::string text;
  const struct {
    int number;
    const char* name;
    const std::string& value;
  } pairs[] = {{1, "LOGIN", user}, {2, "PASS", password}, {3, "NET8", service}};
  for (const auto& p : pairs) {
    char cipher[5 * 40 + 1];
    Idea_EncryptText(p.value.c_str(), cipher, sizeof cipher, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
    text += ";DB;Brakmor database login\r\n";
    text += std::to_string(p.number) + ";" + p.name + ";" + cipher + "\r\n";
  }
  char native[4096];
  if (!Plat_NativePath(path.c_str(), native, sizeof native)) {
    CtlError("settings write", "path too long: %s", path.c_str());
    return CTL_FAIL;
  }
  struct stat st;
  if (!force && lstat(native, &st) == 0) {
    CtlError("settings write", "%s exists already; add --force to replace it", path.c_str());
    return CTL_FAIL;
  }
  // Written to a new file beside it, then renamed over: a reader never sees
  // half a file, and a crash leaves the old one.
  std::string tmp = std::string(native) + ".new";
  unlink(tmp.c_str());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    CtlError("settings write", "cannot create %s: %s", tmp.c_str(), strerror(errno));
    return CTL_FAIL;
  }
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(tmp.c_str(), native) != 0) {
    CtlError("settings write", "cannot write %s: %s", path.c_str(), strerror(errno));
    unlink(tmp.c_str());
    return CTL_FAIL;
  }
  printf("wrote %s\n", path.c_str());
  return CTL_OK;
}
