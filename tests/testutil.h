// Helpers for tests that run real processes on real files.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tu {

// A fresh directory under $TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir();
  // Under `base` (for instance /dev/shm, where synced writes cost nothing).
  explicit TempDir(const std::string& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// Gives the test its own object namespace (BRAKMOR_NAMESPACE_DIR) for its
// lifetime, so that tests run in parallel without meeting.
class Namespace {
 public:
  Namespace();
  ~Namespace();
  const std::string& path() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// A child process with its standard input and output on pipes.
class Child {
 public:
  // argv[0] is the program path; env entries "NAME=VALUE" are added to ours;
  // cwd empty: our own.
  Child(const std::vector<std::string>& argv, const std::string& cwd = "",
        const std::vector<std::string>& env = {});
  ~Child();  // kills (SIGKILL) and reaps a child still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads one line of the child's output (without the LF); false on EOF or
  // after `timeoutMs`.
  bool ReadLine(std::string* line, int timeoutMs = 10000);
  void Write(const std::string& text);
  void CloseInput();
  // Waits for the exit; returns the exit code, 128+signal when killed, -1 on
  // time-out.
  int Wait(int timeoutMs = 20000);
  void Kill(int sig);
  bool Running();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::string pending_;
};

// Runs a program to its end; output (stdout and stderr together) in *output.
int Run(const std::vector<std::string>& argv, std::string* output, const std::string& cwd = "",
        const std::vector<std::string>& env = {}, const std::string& input = "", int timeoutMs = 60000);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);

// Directory of the built programs (brakmor, brakmorctl, helpers).
std::string BinDir();
std::string Bin(const std::string& name);

// Polls `pred` every 10 ms for up to timeoutMs.
template <class F>
bool Eventually(F pred, int timeoutMs = 10000);

}  // namespace tu

#include <chrono>
#include <thread>
template <class F>
bool tu::Eventually(F pred, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
