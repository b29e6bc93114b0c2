// The login stays out of every output, and the settings file's openness is told.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/dbsite.h"

namespace {

TEST(SecurityTest, PasswordNeverAppearsInLogsOrMessages) {
  tu::Namespace ns;
  tu::Site site("sqlite:brakmor.db", "/dev/shm");
  std::string out;
  ASSERT_EQ(site.Ctl({"db", "init"}, &out), 0) << out;
  // A password that would show anywhere it leaked; and a database that fails.
  ASSERT_EQ(site.Ctl({"settings", "write", "--force", "--user", "brakmor", "--password", "Geheim-42x", "--service",
                      "postgresql://127.0.0.1:1/none"},
                     &out),
            0);
  std::string all;
  for (std::vector<std::string> verb : std::vector<std::vector<std::string>>{
           {"login"}, {"count"}, {"rows"}, {"db", "init"}, {"delete", "--mdt", "20250101000000", "--lfn", "1"}}) {
    site.Ctl(verb, &out);
    all += out;
  }
  EXPECT_EQ(all.find("Geheim-42x"), std::string::npos) << all;
  EXPECT_NE(all.find("brakmor/***@postgresql://127.0.0.1:1/none"), std::string::npos) << all;
  ASSERT_EQ(site.Ctl({"settings", "write", "--force", "--user", "brakmor", "--password", "Geheim-42x", "--service",
                      "postgresql://u:Geheim-42x@h/d"},
                     &out),
            0);
  ASSERT_EQ(site.Ctl({"login"}, &out), 0);
  EXPECT_EQ(out, "brakmor/***@postgresql://u:***@h/d\n") << "a password inside the URI is masked too";
  ASSERT_EQ(site.Ctl({"login", "--show-password"}, &out), 0);
  EXPECT_NE(out.find("Geheim-42x"), std::string::npos) << "only when asked";
  ASSERT_EQ(site.Ctl({"settings", "write", "--force", "--user", "brakmor", "--password", "Geheim-42x", "--service",
                      "postgresql://127.0.0.1:1/none"},
                     &out),
            0);
  // The service, failing to connect and failing inserts, logs no login either.
  ASSERT_EQ(site.Ctl({"put", "one"}, &out), 0);
  tu::Child svc({tu::Bin("brakmor")}, site.work);
  ASSERT_EQ(site.Ctl({"wait-start"}), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  site.Ctl({"stop"});
  EXPECT_EQ(svc.Wait(), 0);
  EXPECT_EQ(tu::ReadFile(site.work + "/Msg/Brakmor.txt").find("Geheim"), std::string::npos);
  EXPECT_EQ(tu::ReadFile(site.buffer)[0], '$') << "the record waits for the database";
}

TEST(SecurityTest, SettingsFileOpenToOthersIsWarnedAbout) {
  tu::Site site("sqlite:brakmor.db", "/dev/shm");
  std::string out;
  ASSERT_EQ(site.Ctl({"db", "init"}, &out), 0);
  EXPECT_EQ(out.find("warning"), std::string::npos) << "written 0600: " << out;
  chmod((site.root / "files/velquaris.ini").c_str(), 0644);
  for (const char* verb : {"count", "login", "rows"}) {
    site.Ctl({verb}, &out);
    EXPECT_NE(out.find("can be read by other users"), std::string::npos) << verb << ": " << out;
  }
}

}  // namespace
