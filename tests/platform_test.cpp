// The platform layer against real processes and real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "platform/plat.h"
#include "tests/testutil.h"

namespace {

struct Holder {
  explicit Holder(std::vector<std::string> args) : child(Prepend(std::move(args))) {
    EXPECT_TRUE(child.ReadLine(&first));
  }
  static std::vector<std::string> Prepend(std::vector<std::string> a) {
    a.insert(a.begin(), tu::Bin("plat_holder"));
    return a;
  }
  std::string Ask(const std::string& cmd) {
    child.Write(cmd + "\n");
    std::string line;
    EXPECT_TRUE(child.ReadLine(&line));
    return line;
  }
  tu::Child child;
  std::string first;
};

class PlatformTest : public ::testing::Test {
 protected:
  tu::Namespace ns;
  tu::TempDir dir;
  void TearDown() override { Plat_ClearFaults(); }
};

// ---- Named objects ----

TEST_F(PlatformTest, MutexExistsAcrossProcessesAndVanishesWithItsHolder) {
  Holder holder({"mutex", "BRAKMOR_MTX"});
  ASSERT_EQ(holder.first, "ok 0");
  HANDLE m = CreateMutexA(nullptr, TRUE, "BRAKMOR_MTX");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(m);
  holder.child.CloseInput();
  EXPECT_EQ(holder.child.Wait(), 0);
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "BRAKMOR_MTX"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(PlatformTest, KilledHolderNeverBlocksTheNextStart) {
  {
    Holder holder({"mutex", "BRAKMOR_MTX"});
    ASSERT_EQ(holder.first, "ok 0");
    Holder ev({"event", "StopBrakmorEvent", "0"});
    ASSERT_EQ(ev.first, "ok 0");
    holder.child.Kill(SIGKILL);
    ev.child.Kill(SIGKILL);
    holder.child.Wait();
    ev.child.Wait();
  }
  HANDLE m = CreateMutexA(nullptr, TRUE, "BRAKMOR_MTX");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  // A fresh object gets its initial state again, not the dead one's.
  HANDLE e = CreateEventA(nullptr, TRUE, TRUE, "StopBrakmorEvent");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  CloseHandle(e);
  CloseHandle(m);
}

TEST_F(PlatformTest, EventStateIsSeenAcrossProcessesAndKeptOnCreate) {
  Holder holder({"event", "StopBrakmorEvent", "1"});
  ASSERT_EQ(holder.first, "ok 0");
  HANDLE e = CreateEventA(nullptr, TRUE, FALSE, "StopBrakmorEvent");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0) << "creating an existing event keeps its state";
  EXPECT_EQ(holder.Ask("reset"), "1");
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(e));
  EXPECT_EQ(holder.Ask("wait 0"), "0");
  CloseHandle(e);
}

TEST_F(PlatformTest, WaitWithTimeoutEndsWhenAnotherProcessSets) {
  HANDLE e = CreateEventA(nullptr, TRUE, FALSE, "StartBrakmorEvent");
  ASSERT_NE(e, nullptr);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(e, 150), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(150));
  Holder holder({"event", "StartBrakmorEvent", "0"});
  ASSERT_EQ(holder.first, "ok 183");
  holder.child.Write("wait 10000\n");
  EXPECT_TRUE(SetEvent(e));
  std::string line;
  ASSERT_TRUE(holder.child.ReadLine(&line));
  EXPECT_EQ(line, "0");
  CloseHandle(e);
}

TEST_F(PlatformTest, ObjectCallsOnBadHandlesFail) {
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(static_cast<intptr_t>(4711))));
  EXPECT_FALSE(CloseHandle(nullptr));
  HANDLE m = CreateMutexA(nullptr, FALSE, "Same");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "Same"), nullptr) << "one name, one kind";
  EXPECT_FALSE(SetEvent(m));
  CloseHandle(m);
}

TEST_F(PlatformTest, NamespaceDirectoryOfOthersOrThroughALinkIsRefused) {
  std::string real = dir / "real";
  ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
  std::string link = dir / "link";
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  setenv("BRAKMOR_NAMESPACE_DIR", link.c_str(), 1);
  EXPECT_EQ(CreateMutexA(nullptr, TRUE, "BRAKMOR_MTX"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  std::string open = dir / "open";
  ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
  chmod(open.c_str(), 0777);
  setenv("BRAKMOR_NAMESPACE_DIR", open.c_str(), 1);
  EXPECT_EQ(CreateMutexA(nullptr, TRUE, "BRAKMOR_MTX"), nullptr);
  char out[256];
  char why[512];
  EXPECT_FALSE(Plat_NamespaceDir(out, sizeof out, why, sizeof why));
  EXPECT_NE(std::string(why).find("0700"), std::string::npos) << why;
  // A directory of root's is "another user" for everybody else; as root we
  // can at least check that a fresh one is made with mode 0700.
  std::string fresh = dir / "fresh";
  setenv("BRAKMOR_NAMESPACE_DIR", fresh.c_str(), 1);
  HANDLE m = CreateMutexA(nullptr, TRUE, "BRAKMOR_MTX");
  ASSERT_NE(m, nullptr);
  struct stat st;
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  CloseHandle(m);
}

// ---- Files ----

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

struct ShareCase {
  const char* holderAccess;
  int holderShare;
  DWORD access;
  DWORD share;
  bool opens;
};

class ShareModeTest : public PlatformTest, public ::testing::WithParamInterface<ShareCase> {};

TEST_P(ShareModeTest, BetweenProcesses) {
  const ShareCase& c = GetParam();
  std::string path = dir / "f";
  tu::WriteFile(path, "x");
  Holder holder({"file", path, c.holderAccess, std::to_string(c.holderShare), "3"});
  ASSERT_EQ(holder.first.substr(0, 2), "ok");
  HANDLE h = Open(path, c.access, c.share, OPEN_EXISTING);
  if (c.opens) {
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  } else {
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShareModeTest,
    ::testing::Values(
        // Held exclusively: nothing else opens it.
        ShareCase{"rw", 0, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        ShareCase{"rw", 0, GENERIC_READ | GENERIC_WRITE, 0, false},
        // Held with read sharing for writing: readers that share writing open it.
        ShareCase{"rw", 1, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        // ... readers that refuse writers do not (the holder writes).
        ShareCase{"rw", 1, GENERIC_READ, FILE_SHARE_READ, false},
        // ... writers do not.
        ShareCase{"rw", 1, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, false},
        ShareCase{"rw", 1, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        // Held for reading, sharing reading: another reader opens, an exclusive one does not.
        ShareCase{"r", 1, GENERIC_READ, FILE_SHARE_READ, true},
        ShareCase{"r", 1, GENERIC_READ | GENERIC_WRITE, 0, false}));

TEST_F(PlatformTest, OpenDispositionsAndErrorCodes) {
  std::string path = dir / "a.txt";
  EXPECT_EQ(Open(path, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(dir / "no/such/a.txt", GENERIC_READ, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);
  h = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "opening an existing file with OPEN_ALWAYS";
  CloseHandle(h);
  EXPECT_EQ(Open(dir.path(), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  // A link is never followed.
  std::string link = dir / "link";
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  EXPECT_EQ(Open(link, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
}

TEST_F(PlatformTest, BackslashPathsReadWriteAndSeek) {
  tu::MakeDirs(dir / "COMM/BUFF");
  ASSERT_EQ(chdir((dir / "COMM").c_str()), 0);
  HANDLE h = Open("..\\COMM\\BUFF\\RCVUPL.BUF", GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS,
                  FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 11u);
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 5u);
  EXPECT_STREQ(buf, "world");
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u) << "end of file reads 0 bytes";
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 6u);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  CloseHandle(h);
  EXPECT_EQ(tu::ReadFile(dir / "COMM/BUFF/RCVUPL.BUF"), "hello world");
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(PlatformTest, DeleteWhileHeldAndNoOpenOfADeletedFile) {
  std::string path = dir / "buf";
  tu::WriteFile(path, "old");
  HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Another process holding nothing cannot open it, and cannot delete it
  // while we hold it.
  Holder other({"file", path, "rw", "0", "4"});
  EXPECT_EQ(other.first, "fail 32");
  EXPECT_TRUE(DeleteFileA(path.c_str())) << "the holder may delete its file";
  EXPECT_FALSE(tu::Exists(path));
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "x", 1, &n, nullptr)) << "the handle stays usable";
  // A writer that creates the file anew gets a new, empty file while the old
  // one is still held.
  Holder writer({"file", path, "rw", "0", "4"});
  EXPECT_EQ(writer.first, "ok 0");
  CloseHandle(h);
  writer.child.CloseInput();
  writer.child.Wait();
  EXPECT_EQ(tu::ReadFile(path), "");
}

TEST_F(PlatformTest, DeleteOfAFileHeldOnlyByOthersIsRefused) {
  std::string path = dir / "log";
  tu::WriteFile(path, "x");
  {
    Holder reader({"file", path, "r", "3", "3"});
    ASSERT_EQ(reader.first.substr(0, 2), "ok");
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(PlatformTest, MoveNeverReplacesAndWaitsOnAHeldSource) {
  std::string a = dir / "a.txt";
  std::string b = dir / "a.old";
  tu::WriteFile(a, "A");
  tu::WriteFile(b, "B");
  EXPECT_FALSE(MoveFileA(a.c_str(), b.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(tu::ReadFile(b), "B");
  ASSERT_TRUE(DeleteFileA(b.c_str()));
  {
    Holder writer({"file", a, "rw", "1", "3"});
    ASSERT_EQ(writer.first.substr(0, 2), "ok");
    EXPECT_FALSE(MoveFileA(a.c_str(), b.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  EXPECT_TRUE(MoveFileA(a.c_str(), b.c_str()));
  EXPECT_EQ(tu::ReadFile(b), "A");
  EXPECT_FALSE(MoveFileA(a.c_str(), b.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(PlatformTest, FaultInjectionFailsTheNthCallOnly) {
  std::string path = dir / "f";
  HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  Plat_InjectFault(PLAT_WRITE, 2, ERROR_DISK_FULL, 1, "f");
  DWORD n;
  EXPECT_TRUE(WriteFile(h, "1", 1, &n, nullptr));
  EXPECT_FALSE(WriteFile(h, "2", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_TRUE(WriteFile(h, "3", 1, &n, nullptr));
  CloseHandle(h);
  EXPECT_EQ(tu::ReadFile(path), "13");
  Plat_InjectFault(PLAT_OPEN, 1, ERROR_ACCESS_DENIED, 2, "other");
  EXPECT_NE((h = Open(path, GENERIC_READ, 1, OPEN_EXISTING)), INVALID_HANDLE_VALUE) << "filtered by path";
  CloseHandle(h);
  EXPECT_TRUE(Plat_ArmFaults("DeleteFileA:1:5,ReadFile@xyz:3:30:0"));
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Plat_ArmFaults("Bogus:1:5"));
  EXPECT_FALSE(Plat_ArmFaults("ReadFile:x"));
}

TEST_F(PlatformTest, TextModeLinesDropTheCarriageReturn) {
  std::string path = dir / "t.ini";
  tu::WriteFile(path, "ab\r\ncd\ref\n0123456789last");
  PlatText* t = PlatText_Open(path.c_str());
  ASSERT_NE(t, nullptr);
  char line[8];
  ASSERT_TRUE(PlatText_ReadLine(t, line, sizeof line));
  EXPECT_STREQ(line, "ab\n");
  ASSERT_TRUE(PlatText_ReadLine(t, line, sizeof line));
  EXPECT_STREQ(line, "cd\ref\n");
  ASSERT_TRUE(PlatText_ReadLine(t, line, sizeof line));
  EXPECT_STREQ(line, "0123456") << "a long line is read in pieces";
  ASSERT_TRUE(PlatText_ReadLine(t, line, sizeof line));
  EXPECT_STREQ(line, "789last");
  EXPECT_FALSE(PlatText_ReadLine(t, line, sizeof line));
  PlatText_Close(t);
  EXPECT_EQ(PlatText_Open((dir / "missing").c_str()), nullptr);
}

TEST_F(PlatformTest, FixedLocalTime) {
  SYSTEMTIME fixed{2026, 12, 0, 11, 9, 5, 7, 0};
  Plat_SetFixedTime(&fixed);
  SYSTEMTIME t;
  GetLocalTime(&t);
  EXPECT_EQ(t.wYear, 2026);
  EXPECT_EQ(t.wSecond, 7);
  Plat_SetFixedTime(nullptr);
  GetLocalTime(&t);
  EXPECT_GE(t.wYear, 2024);
}

}  // namespace
