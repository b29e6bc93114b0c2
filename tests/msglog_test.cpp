// The message log, byte for byte, on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "msglog/msglog.h"
#include "platform/plat.h"
#include "tests/testutil.h"

namespace {

const SYSTEMTIME kFixed{2026, 12, 5, 11, 9, 5, 7, 0};

std::string Header(const std::string& classes, const std::string& message, const std::string& funktion, int code) {
  return "\xFE\r\nSystem-Date: 11.12.26\r\nSystem-Time: 09:05:07\r\nMsgArt_____: " + classes +
         "\r\nMessage____: " + message + "\r\nFunktion___: " + funktion + "\r\nErrorCode__: " +
         std::to_string(code) + "\r\n";
}

class MsgLogTest : public ::testing::Test {
 protected:
  tu::TempDir dir{"/dev/shm"};
  tu::Namespace ns;
  void SetUp() override {
    tu::MakeDirs(dir / "Msg");
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    Plat_SetFixedTime(&kFixed);
  }
  void TearDown() override {
    Plat_SetFixedTime(nullptr);
    Plat_ClearFaults();
    ASSERT_EQ(chdir("/"), 0);
  }
  std::string Log() { return tu::ReadFile(dir / "Msg/Brakmor.txt"); }
  bool LogExists() { return tu::Exists(dir / "Msg/Brakmor.txt"); }
};

struct FilterCase {
  int32_t mask;
  int32_t classes;
  bool touchesFile;
  std::string expected;  // empty and touchesFile: an empty file
};

class MsgFilterTest : public MsgLogTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(MsgFilterTest, MaskAndClasses) {
  const FilterCase& c = GetParam();
  Msg_Init(c.mask, ".\\Msg\\Brakmor.txt");
  MsgInfo e{"ReadFile", "Fehler beim Lesen aus der Buff-Datei", c.classes, -1, "DATA", 4, "extra"};
  int32_t before = Msg_EntryCount();
  Msg_Write(&e);
  EXPECT_EQ(LogExists(), c.touchesFile);
  EXPECT_EQ(Log(), c.expected);
  EXPECT_EQ(Msg_EntryCount(), before + (c.touchesFile ? 1 : 0));
}

const std::string kMsg = "Fehler beim Lesen aus der Buff-Datei";
INSTANTIATE_TEST_SUITE_P(
    Cases, MsgFilterTest,
    ::testing::Values(
        FilterCase{7, 16, false, ""},
        FilterCase{0x17, 16, true, Header("CMSG ", kMsg, "ReadFile", -1)},
        FilterCase{7, 17, true, Header("DMSG CMSG ", kMsg, "ReadFile", -1) + "DATA\r\n"},
        FilterCase{4, 5, true, Header("DMSG FMSG ", kMsg, "ReadFile", -1)},
        FilterCase{2, 2, true, Header("SMSG ", kMsg, "ReadFile", -1) + "extra\r\n\r\n"},
        FilterCase{32, 32, true, ""},
        FilterCase{-1, -1, false, ""},
        FilterCase{31, 31, true, Header("DMSG SMSG FMSG WMSG CMSG ", kMsg, "ReadFile", -1) + "DATA\r\nextra\r\n\r\n"}));

TEST_F(MsgLogTest, NothingBeforeInit) {
  // A fresh process has mask 0; here other tests may have run, so only the
  // mask-0 behaviour is checked.
  Msg_Init(0, ".\\Msg\\Brakmor.txt");
  Msg_Put(1, "f", "m", -1);
  EXPECT_FALSE(LogExists());
}

TEST_F(MsgLogTest, DataBlockOfLengthZeroAndEntriesAppend) {
  Msg_Init(1, ".\\Msg\\Brakmor.txt");
  MsgInfo e{"Fn", "Msg", DMSG, 42, nullptr, 0, nullptr};
  Msg_Write(&e);
  Msg_Put(-7, "Put", "second", DMSG | FMSG);
  EXPECT_EQ(Log(), Header("DMSG ", "Msg", "Fn", 42) + "\r\n" + Header("DMSG FMSG ", "second", "Put", -7) + "\r\n");
}

TEST_F(MsgLogTest, OverLongTextsAreCutAndTheEntryKeepsItsLines) {
  Msg_Init(16, ".\\Msg\\Brakmor.txt");
  std::string longText(300, 'M');
  std::string longFun(300, 'F');
  std::string extra(2000, 'x');
  MsgInfo e{longFun.c_str(), longText.c_str(), CMSG | SMSG, -2147483647 - 1, nullptr, 0, extra.c_str()};
  Msg_Init(18, ".\\Msg\\Brakmor.txt");
  Msg_Write(&e);
  std::string log = Log();
  // 52 characters for message, function and code together.
  std::string code = "-2147483648";
  int avail = 52 - static_cast<int>(code.size());
  EXPECT_NE(log.find("\r\nMessage____: " + std::string(static_cast<size_t>(avail - avail / 2), 'M') + "\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("\r\nFunktion___: " + std::string(static_cast<size_t>(avail / 2), 'F') + "\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("ErrorCode__: -2147483648\r\n" + std::string(997, 'x') + "\r\n\r\n"), std::string::npos);
  EXPECT_EQ(log.size(), log.find("ErrorCode__") + 26 + 997 + 4);
}

TEST_F(MsgLogTest, BackupNames) {
  // The backup lies beside the log: checked through a rotation.
  struct { const char* log; const char* backup; } cases[] = {
      {"msg.dat", "msg.old"}, {"a.b.c", "a.old"}, {"LOG", "LOG.old"}, {".\\Msg\\Brakmor.txt", "Msg/Brakmor.old"}};
  for (auto c : cases) {
    Msg_Init(4, c.log);
    Msg_Put(0, "f", "m", FMSG);
    ASSERT_TRUE(tu::Exists(dir / (std::string(c.log) == ".\\Msg\\Brakmor.txt" ? "Msg/Brakmor.txt" : c.log)));
  }
  if (Msg_EntryCount() != 4) GTEST_SKIP() << "rotation needs a fresh process (ctest runs each test alone)";
  for (int i = 0; i < 2997; ++i) Msg_Put(0, "f", "m", FMSG);  // count is now 3001
  for (auto c : cases) {
    Msg_Init(4, c.log);
    Msg_Put(0, "f", "rotated", FMSG);
    EXPECT_TRUE(tu::Exists(dir / c.backup)) << c.log;
    Msg_Init(4, c.log);
    for (int i = 0; i < 3000; ++i) Msg_Put(0, "f", "m", FMSG);  // due again for the next case
  }
}

int CountEntries(const std::string& log) {
  int n = 0;
  for (size_t p = 0; (p = log.find("\xFE\r\n", p)) != std::string::npos; ++p) ++n;
  return n;
}

TEST_F(MsgLogTest, RotationBeforeThe3002ndEntryWithAndWithoutBackup) {
  if (Msg_EntryCount() != 0) GTEST_SKIP() << "needs a fresh process (ctest runs each test alone)";
  Msg_Init(4, ".\\Msg\\Brakmor.txt");
  for (int i = 0; i < 3001; ++i) Msg_Put(i, "f", "m", FMSG);
  EXPECT_EQ(CountEntries(Log()), 3001);
  EXPECT_FALSE(tu::Exists(dir / "Msg/Brakmor.old"));
  Msg_Put(3001, "f", "m", FMSG);  // first rotation, no backup yet
  EXPECT_EQ(CountEntries(tu::ReadFile(dir / "Msg/Brakmor.old")), 3001);
  EXPECT_EQ(Log(), Header("FMSG ", "m", "f", 3001));
  EXPECT_EQ(Msg_EntryCount(), 1);
  Msg_Init(4, ".\\Msg\\Brakmor.txt");
  EXPECT_EQ(Msg_EntryCount(), 1) << "a repeated Msg_Init keeps the count";
  for (int i = 0; i < 3000; ++i) Msg_Put(9, "f", "m", FMSG);
  Msg_Put(7, "g", "new", FMSG);  // second rotation replaces the backup
  EXPECT_EQ(CountEntries(tu::ReadFile(dir / "Msg/Brakmor.old")), 3001);
  EXPECT_EQ(Log(), Header("FMSG ", "new", "g", 7));
  // The log missing when a rotation is due: the entry starts a new log.
  for (int i = 0; i < 3000; ++i) Msg_Put(9, "f", "m", FMSG);
  ASSERT_EQ(unlink((dir / "Msg/Brakmor.txt").c_str()), 0);
  Msg_Put(1, "h", "after", FMSG);
  EXPECT_EQ(Log(), Header("FMSG ", "after", "h", 1));
  EXPECT_EQ(Msg_EntryCount(), 1);
  Msg_Put(2, "h", "next", FMSG);
  EXPECT_EQ(CountEntries(Log()), 2);
}

TEST_F(MsgLogTest, MissingDirectoryDropsEntriesAndIsNotCreated) {
  Msg_Init(4, ".\\Nope\\Brakmor.txt");
  int32_t before = Msg_EntryCount();
  Msg_Put(0, "f", "m", FMSG);
  EXPECT_FALSE(tu::Exists(dir / "Nope"));
  EXPECT_EQ(Msg_EntryCount(), before);
}

TEST_F(MsgLogTest, WriterWaitsWhileAnotherProcessHoldsTheLog) {
  tu::WriteFile(dir / "Msg/Brakmor.txt", "");
  tu::Child holder({tu::Bin("plat_holder"), "file", dir / "Msg/Brakmor.txt", "rw", "1", "3"});
  std::string line;
  ASSERT_TRUE(holder.ReadLine(&line));
  ASSERT_EQ(line.substr(0, 2), "ok");
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    holder.CloseInput();
  });
  Msg_Init(4, ".\\Msg\\Brakmor.txt");
  auto t0 = std::chrono::steady_clock::now();
  Msg_Put(5, "f", "waited", FMSG);
  auto waited = std::chrono::steady_clock::now() - t0;
  release.join();
  EXPECT_GE(waited, std::chrono::milliseconds(666)) << "at least two 333 ms steps";
  EXPECT_EQ(Log(), Header("FMSG ", "waited", "f", 5));
}

TEST_F(MsgLogTest, WriterGivesUpAfterItsBound) {
  tu::WriteFile(dir / "Msg/Brakmor.txt", "");
  tu::Child holder({tu::Bin("plat_holder"), "file", dir / "Msg/Brakmor.txt", "rw", "0", "3"});
  std::string line;
  ASSERT_TRUE(holder.ReadLine(&line));
  Msg_Init(4, ".\\Msg\\Brakmor.txt");
  int32_t before = Msg_EntryCount();
  auto t0 = std::chrono::steady_clock::now();
  Msg_Put(5, "f", "dropped", FMSG);
  auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(waited, std::chrono::seconds(8));
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Msg_EntryCount(), before);
}

TEST_F(MsgLogTest, WriteFailingInMidEntry) {
  Msg_Init(1, ".\\Msg\\Brakmor.txt");
  int32_t before = Msg_EntryCount();
  Plat_InjectFault(PLAT_WRITE, 2, ERROR_DISK_FULL, 1, "Brakmor.txt");  // the data block
  Msg_Put(1, "f", "first", DMSG);
  EXPECT_EQ(Log(), Header("DMSG ", "first", "f", 1));
  EXPECT_EQ(Msg_EntryCount(), before);
  Msg_Put(2, "f", "second", DMSG);
  EXPECT_EQ(Log(), Header("DMSG ", "first", "f", 1) + Header("DMSG ", "second", "f", 2) + "\r\n");
}

TEST_F(MsgLogTest, AppendLine) {
  std::string path = dir / "lines.txt";
  EXPECT_EQ(File_AppendLine(path.c_str(), "", 0), 0);
  EXPECT_EQ(File_AppendLine(path.c_str(), "ab\0cd", 5), 0);
  EXPECT_EQ(tu::ReadFile(path), std::string("\r\nab\0cd\r\n", 9));
  EXPECT_EQ(File_AppendLine((dir / "no/x.txt").c_str(), "x", 1), 3) << "ERROR_PATH_NOT_FOUND";
}

TEST_F(MsgLogTest, LogVerbPrintsOneLinePerEntry) {
  Msg_Init(0x17, ".\\Msg\\Brakmor.txt");
  Msg_Put(-1, "Rcv_PKeyIns", "Fehler beim Schreiben in Quz570Rcv", CMSG);
  MsgInfo e{"Fn", "with data", DMSG | FMSG, 3, "a\r\nb", 4, nullptr};
  Msg_Write(&e);
  std::string out;
  ASSERT_EQ(tu::Run({tu::Bin("brakmorctl"), "--dir", dir.path(), "log"}, &out), 0) << out;
  EXPECT_EQ(out,
            "11.12.26\t09:05:07\tCMSG\tRcv_PKeyIns\tFehler beim Schreiben in Quz570Rcv\t-1\n"
            "11.12.26\t09:05:07\tDMSG FMSG\tFn\twith data\t3\n");
  ASSERT_EQ(tu::Run({tu::Bin("brakmorctl"), "log", "--file", dir / "Msg/none.txt"}, &out), 1);
  EXPECT_NE(out.find("none.txt"), std::string::npos) << out;
}

TEST_F(MsgLogTest, LogVerbFollows) {
  Msg_Init(4, ".\\Msg\\Brakmor.txt");
  Msg_Put(1, "f", "one", FMSG);
  tu::Child follow({tu::Bin("brakmorctl"), "--dir", dir.path(), "log", "--follow"});
  std::string line;
  ASSERT_TRUE(follow.ReadLine(&line));
  EXPECT_NE(line.find("\tone\t"), std::string::npos) << line;
  Msg_Put(2, "f", "two", FMSG);
  ASSERT_TRUE(follow.ReadLine(&line, 5000));
  EXPECT_NE(line.find("\ttwo\t"), std::string::npos) << line;
}

}  // namespace
