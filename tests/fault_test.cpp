// I/O faults at every step of a pass, injected in the real service through
// the platform layer: whatever fails, once the faults are gone every record
// is in the table, at most once more than it should be.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "db/DbDb.h"
#include "db/DbUpl.h"
#include "db/runtime.h"
#include "service/buffile.h"
#include "tests/dbsite.h"

namespace {

struct FaultCase {
  const char* name;
  const char* faults;
  bool refuse;  // make the database refuse one record, so reports are written
};

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

std::string Record(const std::string& text) {
  std::string r(BUF_RECORD_SIZE, '\0');
  r[0] = '$';
  memcpy(&r[BUF_TEXT_OFFSET], text.data(), text.size());
  return r;
}

TEST_P(FaultTest, NothingIsLost) {
  const FaultCase& c = GetParam();
  tu::Namespace ns;
  tu::Site site("sqlite:brakmor.db", "/dev/shm");
  ASSERT_EQ(site.Ctl({"db", "init"}), 0);
  ASSERT_EQ(chdir(site.work.c_str()), 0);
  ASSERT_EQ(Db_Connect(), 0);
  if (c.refuse) {
    Sql_ExecuteScript("CREATE TRIGGER refuse BEFORE INSERT ON Quz570Rcv WHEN NEW.RcvDta = 'r2' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    Sql_Commit();
  }
  std::string file;
  for (int i = 0; i < 6; ++i) file += Record("r" + std::to_string(i));
  tu::WriteFile(site.buffer, file);
  {
    tu::Child svc({tu::Bin("brakmor")}, site.work, {std::string("BRAKMOR_FAULTS=") + c.faults});
    // Either the fault stops the service, or it goes on and drains what it can.
    tu::Eventually([&] { return !svc.Running() || !tu::Exists(site.buffer); }, 8000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    if (svc.Running()) site.Ctl({"stop"});
    EXPECT_EQ(svc.Wait(), 0) << "exit code 0 on every path";
  }
  if (c.refuse) {
    Sql_ExecuteScript("DROP TRIGGER refuse");
    Sql_Commit();
  }
  Sql_Disconnect();
  {
    tu::Child svc({tu::Bin("brakmor")}, site.work);
    // Started before it is asked to stop: the file may be gone already.
    ASSERT_EQ(site.Ctl({"wait-start"}), 0);
    EXPECT_TRUE(tu::Eventually([&] { return !tu::Exists(site.buffer); }, 15000));
    site.Ctl({"stop"});
    EXPECT_EQ(svc.Wait(), 0);
  }
  std::map<std::string, int> texts;
  ASSERT_EQ(Db_Connect(), 0);
  ASSERT_EQ(Rcv_CurOpen(), 0);
  RcvRow r;
  while (Rcv_CurFetch(&r) == 0) ++texts[r.RcvDta];
  Rcv_CurClose();
  Sql_Disconnect();
  ASSERT_EQ(chdir("/"), 0);
  for (int i = 0; i < 6; ++i) {
    std::string t = "r" + std::to_string(i);
    EXPECT_GE(texts[t], 1) << t << " lost";
    EXPECT_LE(texts[t], 2) << t << " more than once too often";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FaultTest,
    ::testing::Values(FaultCase{"FirstRead", "ReadFile@RCVUPL.BUF:1:30", false},
                      FaultCase{"MiddleRead", "ReadFile@RCVUPL.BUF:4:30", false},
                      FaultCase{"LastRead", "ReadFile@RCVUPL.BUF:7:30", false},
                      FaultCase{"FirstStatusWrite", "WriteFile@RCVUPL.BUF:1:29", false},
                      FaultCase{"LastStatusWrite", "WriteFile@RCVUPL.BUF:6:112", false},
                      FaultCase{"OpenFailsThrice", "CreateFileA@RCVUPL.BUF:1:5:3", false},
                      FaultCase{"DeleteFails", "DeleteFileA@RCVUPL.BUF:1:5", false},
                      FaultCase{"LogOpenFails", "CreateFileA@Brakmor.txt:1:3:0", true},
                      FaultCase{"LogWriteFails", "WriteFile@Brakmor.txt:1:29:0", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
