// Crashes: the service killed with SIGKILL at random moments while a writer
// keeps putting records, and the database server stopped and started at
// random moments.  Every acknowledged record must end up in the table;
// duplicates at most one per kill.  BRAKMOR_CRASH_KILLS sets the number of
// kills (default 100) for a longer run.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "db/DbDb.h"
#include "db/DbUpl.h"
#include "db/runtime.h"
#include "tests/dbbackends.h"
#include "tests/dbsite.h"

namespace {

int Kills() {
  const char* k = getenv("BRAKMOR_CRASH_KILLS");
  return k != nullptr && atoi(k) > 0 ? atoi(k) : 100;
}

std::map<std::string, int> TableTexts(const tu::Site& site) {
  std::map<std::string, int> texts;
  EXPECT_EQ(chdir(site.work.c_str()), 0);
  if (Db_Connect() == 0 && Rcv_CurOpen() == 0) {
    RcvRow r;
    while (Rcv_CurFetch(&r) == 0) ++texts[r.RcvDta];
    Rcv_CurClose();
  }
  Sql_Disconnect();
  EXPECT_EQ(chdir("/"), 0);
  return texts;
}

// Puts batches of records until told to stop; remembers what was acknowledged.
class Writer {
 public:
  explicit Writer(tu::Site& site) : site_(site), thread_([this] { Run(); }) {}
  ~Writer() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  const std::set<std::string>& acknowledged() const { return acked_; }

 private:
  void Run() {
    for (int batch = 0; !stop_; ++batch) {
      std::string input;
      std::vector<std::string> texts;
      for (int i = 0; i < 10; ++i) {
        texts.push_back("w" + std::to_string(batch) + "_" + std::to_string(i));
        input += texts.back() + "\n";
      }
      std::string out;
      if (site_.Ctl({"put", "--quiet", "--wait", "30"}, &out, input) == 0) acked_.insert(texts.begin(), texts.end());
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
  }
  tu::Site& site_;
  std::atomic<bool> stop_{false};
  std::set<std::string> acked_;
  std::thread thread_;
};

TEST(CrashTest, KilledServiceLosesNothing) {
  tu::Namespace ns;
  tu::Site site("sqlite:brakmor.db", "/dev/shm");
  ASSERT_EQ(site.Ctl({"db", "init"}), 0);
  std::mt19937 rng(20261211);
  int kills = Kills();
  Writer writer(site);
  for (int k = 0; k < kills; ++k) {
    tu::Child svc({tu::Bin("brakmor")}, site.work);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + rng() % 150));
    svc.Kill(SIGKILL);
    ASSERT_EQ(svc.Wait(), 128 + SIGKILL);
  }
  writer.Stop();
  tu::Child svc({tu::Bin("brakmor")}, site.work);
  ASSERT_EQ(site.Ctl({"wait-start"}), 0);
  ASSERT_TRUE(tu::Eventually([&] { return !tu::Exists(site.buffer); }, 60000)) << "the last service drains the file";
  site.Ctl({"stop"});
  EXPECT_EQ(svc.Wait(), 0);
  std::map<std::string, int> texts = TableTexts(site);
  int lost = 0;
  int duplicates = 0;
  for (const std::string& t : writer.acknowledged()) {
    if (texts.count(t) == 0) ++lost;
  }
  for (const auto& [text, n] : texts) duplicates += n - 1;
  printf("crash: kills=%d records=%zu lost=%d duplicates=%d\n", kills, writer.acknowledged().size(), lost,
         duplicates);
  EXPECT_GT(writer.acknowledged().size(), 0u);
  EXPECT_EQ(lost, 0);
  EXPECT_LE(duplicates, kills);
}

}  // namespace

#ifdef BRAKMOR_HAVE_POSTGRES
namespace {

TEST(CrashTest, ServerRestartedAtRandomLosesNothing) {
  tu::Namespace ns;
  tu::PgServer server;
  ASSERT_TRUE(server.ok());
  tu::Site site(server.Uri(), "/dev/shm");
  std::string out;
  ASSERT_EQ(site.Ctl({"db", "init"}, &out), 0) << out;
  tu::Child svc({tu::Bin("brakmor")}, site.work);
  ASSERT_EQ(site.Ctl({"wait-start"}), 0);
  std::mt19937 rng(4711);
  const char* r = getenv("BRAKMOR_CRASH_RESTARTS");
  int restarts = r != nullptr && atoi(r) > 0 ? atoi(r) : 8;
  {
    Writer writer(site);
    for (int k = 0; k < restarts; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng() % 400));
      ASSERT_TRUE(server.Stop());
      std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng() % 700));
      ASSERT_TRUE(server.Resume());
    }
    writer.Stop();
    ASSERT_TRUE(tu::Eventually([&] { return !tu::Exists(site.buffer); }, 60000)) << "the service reconnected";
    site.Ctl({"stop"});
    EXPECT_EQ(svc.Wait(), 0);
    std::map<std::string, int> texts = TableTexts(site);
    int lost = 0;
    int duplicates = 0;
    for (const std::string& t : writer.acknowledged()) lost += texts.count(t) == 0 ? 1 : 0;
    for (const auto& [text, n] : texts) duplicates += n - 1;
    printf("server restarts: restarts=%d records=%zu lost=%d duplicates=%d\n", restarts, writer.acknowledged().size(),
           lost, duplicates);
    EXPECT_GT(writer.acknowledged().size(), 0u);
    EXPECT_EQ(lost, 0);
    EXPECT_LE(duplicates, restarts);
  }
}

}  // namespace
#endif
