// brakmorctl: shared pieces of the verbs.
#pragma once

#include <string>
#include <vector>

// Exit codes of every verb.
constexpr int CTL_OK = 0;
constexpr int CTL_FAIL = 1;         // the verb could not do its work (message on stderr)
constexpr int CTL_USAGE = 2;        // bad command line
constexpr int CTL_NOT_RUNNING = 3;  // status / stop: no service runs

// A verb's command line, after the verb itself.
class Args {
 public:
  explicit Args(std::vector<std::string> words) : words_(std::move(words)) {}
  // Takes "--name VALUE" or "--name=VALUE"; false when absent.  A missing
  // value is a usage error, reported through error().
  bool Option(const std::string& name, std::string* value);
  // Takes the flag "--name"; false when absent.
  bool Flag(const std::string& name);
  // What remains; any word starting with "--" left over is a usage error.
  std::vector<std::string> Rest();
  const std::string& error() const { return error_; }
  bool ok() const { return error_.empty(); }

 private:
  std::vector<std::string> words_;
  std::string error_;
};

// Parses a whole number of seconds (or a decimal like 0.5) into milliseconds.
bool ParseSeconds(const std::string& text, unsigned* ms);

// Prints "brakmorctl VERB: MESSAGE" to stderr.
void CtlError(const char* verb, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Warns on stderr when users other than the owner may read the settings file.
void WarnIfReadableByOthers(const char* path);

int Verb_Status(Args& args);
int Verb_Stop(Args& args);
int Verb_WaitStart(Args& args);
int Verb_Put(Args& args);
int Verb_Encrypt(Args& args);
int Verb_Decrypt(Args& args);
int Verb_Login(Args& args);
int Verb_SettingsWrite(Args& args);
int Verb_Log(Args& args);
int Verb_DbInit(Args& args);
int Verb_Rows(Args& args);
int Verb_Count(Args& args);
int Verb_Delete(Args& args);
