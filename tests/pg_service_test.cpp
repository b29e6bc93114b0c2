// The service against a real PostgreSQL server: end to end, across a server
// restart, and several sites on one server.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <csignal>
#include <set>
#include <string>

#include "tests/dbbackends.h"
#include "tests/dbsite.h"

namespace {

// Rows of Quz570Rcv, read with libpq directly (the service's side is what is tested).
std::multiset<std::string> Texts(const std::string& uri) {
  std::multiset<std::string> out;
  PGconn* c = PQconnectdb((uri + "?user=postgres&client_encoding=LATIN1").c_str());
  if (PQstatus(c) == CONNECTION_OK) {
    PGresult* r = PQexec(c, "select RcvDta from Quz570Rcv");
    for (int i = 0; i < PQntuples(r); ++i) out.insert(PQgetvalue(r, i, 0));
    PQclear(r);
  }
  PQfinish(c);
  return out;
}

std::string Lines(const std::string& prefix, int n, std::set<std::string>* sent) {
  std::string input;
  for (int i = 0; i < n; ++i) {
    std::string t = prefix + std::to_string(i);
    input += t + "\n";
    sent->insert(t);
  }
  return input;
}

class PgServiceTest : public ::testing::Test {
 protected:
  tu::Namespace ns;
  const tu::Backend* pg = tu::FindBackend("postgresql");
  std::unique_ptr<tu::Child> Start(tu::Site& site, const std::vector<std::string>& env = {}) {
    auto c = std::make_unique<tu::Child>(std::vector<std::string>{tu::Bin("brakmor")}, site.work, env);
    std::string out;
    std::vector<std::string> argv{tu::Bin("brakmorctl"), "--dir", site.work, "wait-start", "--timeout", "20"};
    EXPECT_EQ(tu::Run(argv, &out, "", env), 0) << out;
    return c;
  }
};

TEST_F(PgServiceTest, RecordsArriveWithEveryByteAndTheFileIsDeleted) {
  ASSERT_NE(pg, nullptr);
  tu::Site site(pg->NewDatabase());
  std::string out;
  ASSERT_EQ(site.Ctl({"db", "init"}, &out), 0) << out;
  auto svc = Start(site);
  std::string bytes;
  for (int b = 1; b < 256; ++b) {
    if (b != '\n' && b != '\r') bytes += static_cast<char>(b);
  }
  std::set<std::string> sent{bytes};
  ASSERT_EQ(site.Ctl({"put", "--quiet"}, &out, bytes + "\n" + Lines("pg", 200, &sent)), 0) << out;
  ASSERT_TRUE(tu::Eventually([&] { return !tu::Exists(site.buffer); }, 30000));
  std::multiset<std::string> got = Texts(site.service);
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), sent);
  EXPECT_EQ(got.size(), sent.size());
  ASSERT_EQ(site.Ctl({"count"}, &out), 0);
  EXPECT_EQ(out, "201\n");
  ASSERT_EQ(site.Ctl({"rows"}, &out), 0);
  EXPECT_NE(out.find("\tpg199\tRcvUsr\n"), std::string::npos) << out;
  size_t at = out.find("\t7\tpg5\t");  // the bytes record is 1, pg0 is 2, ...
  ASSERT_NE(at, std::string::npos) << out;
  std::string mdt = out.substr(at - 14, 14);
  std::string lfn = "7";
  ASSERT_EQ(site.Ctl({"delete", "--mdt", mdt, "--lfn", lfn}, &out), 0) << out;
  ASSERT_EQ(site.Ctl({"count"}, &out), 0);
  EXPECT_LT(std::stoi(out), 201) << "delete by (RcvMdt, RcvLfn) on PostgreSQL";
  site.Ctl({"stop"});
  EXPECT_EQ(svc->Wait(), 0);
}

TEST_F(PgServiceTest, ServerStoppedAndStartedAgainLosesNothing) {
  // A server of this test's own: stopping the shared one would disturb the others.
  tu::PgServer server;
  ASSERT_TRUE(server.ok());
  std::string admin = server.Uri();
  std::string out;
  tu::Site site(admin);
  ASSERT_EQ(site.Ctl({"db", "init"}, &out), 0) << out;
  auto svc = Start(site);
  std::set<std::string> sent;
  ASSERT_EQ(site.Ctl({"put", "--quiet"}, &out, Lines("before", 50, &sent)), 0) << out;
  ASSERT_TRUE(tu::Eventually([&] { return !tu::Exists(site.buffer); }, 30000));
  ASSERT_TRUE(server.Stop());
  ASSERT_EQ(site.Ctl({"put", "--quiet"}, &out, Lines("during", 50, &sent)), 0) << out;
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_TRUE(tu::Exists(site.buffer)) << "the records wait while the server is down";
  EXPECT_TRUE(svc->Running());
  ASSERT_TRUE(server.Resume());
  ASSERT_EQ(site.Ctl({"put", "--quiet"}, &out, Lines("after", 50, &sent)), 0) << out;
  ASSERT_TRUE(tu::Eventually([&] { return !tu::Exists(site.buffer); }, 30000)) << "the service reconnected";
  std::multiset<std::string> got = Texts(admin);
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), sent) << "nothing lost";
  EXPECT_EQ(got.size(), sent.size()) << "nothing twice";
  site.Ctl({"stop"});
  EXPECT_EQ(svc->Wait(), 0);
}

TEST_F(PgServiceTest, TwoSitesOnOneServer) {
  ASSERT_NE(pg, nullptr);
  std::string db = pg->NewDatabase();
  tu::Site a(db);
  tu::Site b(db);
  std::string out;
  ASSERT_EQ(a.Ctl({"db", "init"}, &out), 0) << out;
  tu::TempDir nsA;
  tu::TempDir nsB;
  std::vector<std::string> envA{"BRAKMOR_NAMESPACE_DIR=" + nsA.path() + "/ns"};
  std::vector<std::string> envB{"BRAKMOR_NAMESPACE_DIR=" + nsB.path() + "/ns"};
  auto svcA = Start(a, envA);
  auto svcB = Start(b, envB);
  EXPECT_TRUE(svcA->Running());
  EXPECT_TRUE(svcB->Running()) << "each site has its own instance";
  std::set<std::string> sent;
  for (int round = 0; round < 5; ++round) {
    ASSERT_EQ(a.Ctl({"put", "--quiet"}, &out, Lines("a" + std::to_string(round) + "_", 40, &sent)), 0);
    ASSERT_EQ(b.Ctl({"put", "--quiet"}, &out, Lines("b" + std::to_string(round) + "_", 40, &sent)), 0);
  }
  ASSERT_TRUE(tu::Eventually([&] { return !tu::Exists(a.buffer) && !tu::Exists(b.buffer); }, 30000));
  std::multiset<std::string> got = Texts(db);
  EXPECT_EQ(got.size(), 400u);
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), sent);
  for (auto* site : {&a, &b}) {
    std::vector<std::string> stop{tu::Bin("brakmorctl"), "--dir", site->work, "stop"};
    tu::Run(stop, &out, "", site == &a ? envA : envB);
  }
  EXPECT_EQ(svcA->Wait(), 0);
  EXPECT_EQ(svcB->Wait(), 0);
}

}  // namespace
