#include "tests/testutil.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tu {

TempDir::TempDir() : TempDir(getenv("TMPDIR") != nullptr && *getenv("TMPDIR") != '\0' ? getenv("TMPDIR") : "/tmp") {}

TempDir::TempDir(const std::string& base) {
  std::string tmpl = base + "/brakmor-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

Namespace::Namespace() {
  const char* prev = getenv("BRAKMOR_NAMESPACE_DIR");
  if (prev != nullptr) {
    hadPrevious_ = true;
    previous_ = prev;
  }
  setenv("BRAKMOR_NAMESPACE_DIR", dir_.path().c_str(), 1);
}

Namespace::~Namespace() {
  if (hadPrevious_) setenv("BRAKMOR_NAMESPACE_DIR", previous_.c_str(), 1);
  else unsetenv("BRAKMOR_NAMESPACE_DIR");
}

Child::Child(const std::vector<std::string>& argv, const std::string& cwd, const std::vector<std::string>& env) {
  int inPipe[2];
  int outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(outPipe[1], 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    for (const std::string& e : env) putenv(strdup(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
}

Child::~Child() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
}

bool Child::ReadLine(std::string* line, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      *line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    struct pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      if (!pending_.empty()) {
        *line = pending_;
        pending_.clear();
        return true;
      }
      return false;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

void Child::Write(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(in_, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void Child::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

int Child::Wait(int timeoutMs) {
  if (!reaped_) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      pid_t r = waitpid(pid_, &status_, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        break;
      }
      if (std::chrono::steady_clock::now() > end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
  return -1;
}

void Child::Kill(int sig) {
  if (!reaped_) kill(pid_, sig);
}

bool Child::Running() {
  if (reaped_) return false;
  pid_t r = waitpid(pid_, &status_, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    return false;
  }
  return true;
}

int Run(const std::vector<std::string>& argv, std::string* output, const std::string& cwd,
        const std::vector<std::string>& env, const std::string& input, int timeoutMs) {
  Child c(argv, cwd, env);
  if (!input.empty()) c.Write(input);
  c.CloseInput();
  std::string all;
  std::string line;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (c.ReadLine(&line, timeoutMs)) {
    all += line + "\n";
    if (std::chrono::steady_clock::now() > end) break;
  }
  if (output != nullptr) *output = all;
  return c.Wait(timeoutMs);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

std::string BinDir() {
  const char* d = getenv("BRAKMOR_BIN_DIR");
  if (d != nullptr && *d != '\0') return d;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = '\0';
  std::string exe(buf);
  // Tests live in build/tests; the programs in build/service and build/tools.
  std::string testsDir = exe.substr(0, exe.rfind('/'));
  return testsDir.substr(0, testsDir.rfind('/'));
}

std::string Bin(const std::string& name) {
  std::string dir = BinDir();
  for (const char* sub : {"/tools/", "/service/", "/tests/"}) {
    std::string p = dir + sub + name;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return dir + "/" + name;
}

}  // namespace tu
