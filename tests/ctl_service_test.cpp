// brakmorctl's controller verbs and the reference writer, as processes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win.h"
#include "service/buffile.h"
#include "tests/testutil.h"

namespace {

class CtlTest : public ::testing::Test {
 protected:
  tu::Namespace ns;
  tu::TempDir dir;
  std::string bufPath() { return dir / "COMM/BUFF/RCVUPL.BUF"; }
  void SetUp() override { tu::MakeDirs(dir / "COMM/BUFF"); tu::MakeDirs(dir / "work"); }
  int Ctl(const std::vector<std::string>& args, std::string* out = nullptr, const std::string& input = "") {
    std::vector<std::string> argv{tu::Bin("brakmorctl"), "--dir", dir / "work"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string ignored;
    return tu::Run(argv, out != nullptr ? out : &ignored, "", {}, input);
  }
};

std::string Record(const std::string& text) {
  std::string r(BUF_RECORD_SIZE, '\0');
  r[0] = '$';
  memcpy(&r[BUF_TEXT_OFFSET], text.data(), text.size());
  return r;
}

TEST_F(CtlTest, StatusStopAndWaitStartAgainstAStandIn) {
  std::string out;
  EXPECT_EQ(Ctl({"status"}, &out), 3) << out;
  EXPECT_NE(out.find("not running"), std::string::npos);
  EXPECT_EQ(Ctl({"stop"}, &out), 3);
  tu::Child standIn({tu::Bin("plat_holder"), "stand-in"});
  EXPECT_EQ(Ctl({"wait-start", "--timeout", "10"}, &out), 0) << out;
  EXPECT_EQ(Ctl({"status"}, &out), 0) << out;
  EXPECT_NE(out.find("StartBrakmorEvent: signalled"), std::string::npos) << out;
  EXPECT_NE(out.find("StopBrakmorEvent:  signalled"), std::string::npos) << out;
  EXPECT_EQ(Ctl({"stop", "--timeout", "10"}, &out), 0) << out;
  EXPECT_EQ(standIn.Wait(), 0);
  EXPECT_EQ(Ctl({"status"}, &out), 3) << out;
}

TEST_F(CtlTest, StopTimesOutWhenTheServiceDoesNotEnd) {
  tu::Child holder({tu::Bin("plat_holder"), "mutex", "BRAKMOR_MTX"});  // runs, never polls
  std::string line;
  ASSERT_TRUE(holder.ReadLine(&line));
  std::string out;
  EXPECT_EQ(Ctl({"stop", "--timeout", "0.3"}, &out), 1) << out;
  EXPECT_EQ(Ctl({"wait-start", "--timeout", "0.2"}, &out), 1) << out;
  EXPECT_EQ(Ctl({"stop", "--timeout", "soon"}, &out), 2) << out;
}

TEST_F(CtlTest, PutWritesPendingRecordsFromArgumentsAndStandardInput) {
  std::string out;
  ASSERT_EQ(Ctl({"put", "hello", "", std::string(512, 'x')}, &out), 0) << out;
  ASSERT_EQ(Ctl({"put"}, &out, "line one\r\nline two\nlast"), 0) << out;
  std::string want = Record("hello") + Record("") + Record(std::string(512, 'x')) + Record("line one") +
                     Record("line two") + Record("last");
  EXPECT_EQ(tu::ReadFile(bufPath()), want);
}

TEST_F(CtlTest, PutRefusesATooLongTextAndWritesNothing) {
  std::string out;
  EXPECT_EQ(Ctl({"put", "ok", std::string(513, 'y')}, &out), 1);
  EXPECT_NE(out.find("513 bytes"), std::string::npos) << out;
  EXPECT_FALSE(tu::Exists(bufPath()));
  EXPECT_EQ(Ctl({"put", "--file", dir / "nowhere/x.buf", "a"}, &out), 1);
  EXPECT_NE(out.find("does not exist"), std::string::npos) << out;
}

TEST_F(CtlTest, PutFillsUpAShortLastRecordFirst) {
  tu::WriteFile(bufPath(), std::string("*abc", 4));
  std::string out;
  ASSERT_EQ(Ctl({"put", "next"}, &out), 0) << out;
  std::string first(BUF_RECORD_SIZE, '\0');
  memcpy(&first[0], "*abc", 4);
  EXPECT_EQ(tu::ReadFile(bufPath()), first + Record("next"));
}

TEST_F(CtlTest, PutWaitsWhileTheFileIsHeldExclusively) {
  tu::WriteFile(bufPath(), "");
  tu::Child holder({tu::Bin("plat_holder"), "file", bufPath(), "rw", "0", "3"});
  std::string line;
  ASSERT_TRUE(holder.ReadLine(&line));
  ASSERT_EQ(line.substr(0, 2), "ok");
  tu::Child put({tu::Bin("brakmorctl"), "--dir", dir / "work", "put", "waited"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(put.Running()) << "put must wait while the file is held";
  EXPECT_EQ(tu::ReadFile(bufPath()), "");
  holder.CloseInput();
  EXPECT_EQ(put.Wait(), 0);
  EXPECT_EQ(tu::ReadFile(bufPath()), Record("waited"));
  std::string out;
  tu::Child holder2({tu::Bin("plat_holder"), "file", bufPath(), "rw", "0", "3"});
  ASSERT_TRUE(holder2.ReadLine(&line));
  EXPECT_EQ(Ctl({"put", "--wait", "0.2", "late"}, &out), 1) << out;
  EXPECT_NE(out.find("held"), std::string::npos) << out;
}

TEST_F(CtlTest, HelpAndUsageErrors) {
  std::string out;
  EXPECT_EQ(Ctl({"--help"}, &out), 0);
  EXPECT_NE(out.find("usage: brakmorctl"), std::string::npos);
  EXPECT_EQ(Ctl({"put", "--help"}, &out), 0);
  EXPECT_NE(out.find("put [--file PATH]"), std::string::npos);
  EXPECT_EQ(Ctl({"frobnicate"}, &out), 2);
  EXPECT_EQ(Ctl({"status", "--bogus"}, &out), 2);
}

}  // namespace
