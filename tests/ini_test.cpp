// The settings reader over small real files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "settings/idea.h"
#include "settings/ini.h"
#include "tests/testutil.h"

namespace {

std::string Cipher(const std::string& plain) {
  char out[512];
  Idea_EncryptText(plain.c_str(), out, sizeof out, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
  return out;
}

// "{TEXT}" in a fixture stands for the digit-form cipher text of TEXT.
std::string Expand(const std::string& fixture) {
  std::string out;
  for (size_t i = 0; i < fixture.size(); ++i) {
    if (fixture[i] == '{') {
      size_t end = fixture.find('}', i);
      out += Cipher(fixture.substr(i + 1, end - i - 1));
      i = end;
    } else {
      out += fixture[i];
    }
  }
  return out;
}

TEST(StrTest, FindNthAndMid) {
  EXPECT_EQ(Str_FindNth("a;b;c", ';', 1), 1);
  EXPECT_EQ(Str_FindNth("a;b;c", ';', 2), 3);
  EXPECT_EQ(Str_FindNth("a;b;c", ';', 5), 3) << "fewer than n: the last";
  EXPECT_EQ(Str_FindNth("abc", ';', 1), -1);
  char dst[8] = "keep";
  EXPECT_STREQ(Str_Mid("abcdef", 1, -1, dst, sizeof dst), "keep");
  EXPECT_STREQ(Str_Mid("abcdef", 1, 2, dst, sizeof dst), "bc");
  EXPECT_STREQ(Str_Mid("abcdef", 2, 0, dst, sizeof dst), "cdef");
  EXPECT_STREQ(Str_Mid("abcdef", 4, 99, dst, sizeof dst), "ef");
  EXPECT_STREQ(Str_Mid("abcdef", 9, 2, dst, sizeof dst), "");
  EXPECT_STREQ(Str_Mid("0123456789abc", 0, 0, dst, sizeof dst), "0123456") << "cut to the buffer";
}

struct IniCase {
  const char* what;
  const char* file;  // fixture; {X} = cipher of X
  const char* name;  // looked up with the empty section and key 0
  int32_t number;
  const char* section;
  const char* gotName;
  const char* value;
};

class IniReadTest : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniReadTest, LookUp) {
  const IniCase& c = GetParam();
  tu::TempDir dir;
  std::string path = dir / "v.ini";
  tu::WriteFile(path, Expand(c.file));
  Ini_ReadEntry("", c.name, 0, path.c_str());
  EXPECT_EQ(Ini_Entry.number, c.number);
  EXPECT_STREQ(Ini_Entry.section, c.section);
  EXPECT_STREQ(Ini_Entry.name, c.gotName);
  EXPECT_STREQ(Ini_Entry.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniReadTest,
    ::testing::Values(
        IniCase{"selected by name", ";DB;x\n12;LOGIN;{scott}\n", "LOGIN", 12, "DB", "LOGIN", "scott"},
        IniCase{"first match wins", ";A;\n1;LOGIN;{one}\n;B;\n2;LOGIN;{two}\n", "LOGIN", 1, "A", "LOGIN", "one"},
        IniCase{"skips other names", ";A;\n1;PASS;{pw}\n;B;\n2;LOGIN;{me}\n", "LOGIN", 2, "B", "LOGIN", "me"},
        IniCase{"CR LF lines", ";A;\r\n1;PASS;{pw}\r\n;B;\r\n2;LOGIN;{me}\r\n", "LOGIN", 2, "B", "LOGIN", "me"},
        IniCase{"empty section field reads as the rest of the line", "x;;y\n5;OTHER;{v}\n;B;\n2;LOGIN;{me}\n",
                "LOGIN", 2, "B", "LOGIN", "me"},
        IniCase{"first line with one ';' answers every look-up", "only;one\n7;OTHER;{v}\n;B;\n2;LOGIN;{me}\n",
                "LOGIN", 7, "", "OTHER", "v"},
        IniCase{"number 0 answers every look-up", ";A;\n0;OTHER;{v}\n;B;\n2;LOGIN;{me}\n", "LOGIN", 0, "A",
                "OTHER", "v"},
        IniCase{"a number field without digits is 0", ";A;\nx9;OTHER;{v}\n;B;\n2;LOGIN;{me}\n", "LOGIN", 0, "A",
                "OTHER", "v"},
        IniCase{"second line without ';': number 0, whole line as value", ";A;\nabc\n", "LOGIN", 0, "A",
                "", ""},
        IniCase{"empty value decrypts to empty", ";A;\n3;LOGIN;\n", "LOGIN", 3, "A", "LOGIN", ""},
        IniCase{"last line without line feed: empty value", ";A;\n3;LOGIN;{me}", "LOGIN", 3, "A", "LOGIN", ""},
        IniCase{"odd line count: last line ignored", ";A;\n1;PASS;{pw}\n;B;", "LOGIN", 0, "", "", ""},
        IniCase{"not found", ";A;\n1;PASS;{pw}\n", "LOGIN", 0, "", "", ""},
        IniCase{"42 digits: two ignored", ";A;\n4;LOGIN;{abcdefgh}12\n", "LOGIN", 4, "A", "LOGIN", "abcdefgh"},
        IniCase{"numbers over 32 bits are clamped", ";A;\n99999999999;LOGIN;{me}\n", "LOGIN", 2147483647, "A",
                "LOGIN", "me"}));

TEST(IniTest, OverLongLinesAreReadInPiecesWithoutOverflow) {
  tu::TempDir dir;
  std::string path = dir / "v.ini";
  // A first line of 250 characters: its rest becomes the next "second line".
  std::string longFirst = ";" + std::string(120, 'S') + ";" + std::string(128, 'x') + "\n";
  std::string longName = "9;" + std::string(300, 'N') + ";" + std::string(80, '1') + "\n";
  tu::WriteFile(path, longFirst + "1;PASS;" + Cipher("pw") + "\n" + ";A;\n" + longName + ";B;\n2;LOGIN;" +
                          Cipher("me") + "\n");
  for (const char* name : {"LOGIN", "PASS", "NONE"}) {
    Ini_ReadEntry("", name, 0, path.c_str());
    EXPECT_LE(strlen(Ini_Entry.section), 200u);
    EXPECT_LE(strlen(Ini_Entry.name), 200u);
    EXPECT_LE(strlen(Ini_Entry.value), 200u);
  }
  // An empty name field whose rest runs past 200 characters is cut.
  tu::WriteFile(path, ";A;\n5;;" + std::string(390, 'z') + "\n");
  Ini_ReadEntry("", "x", 5, path.c_str());
  EXPECT_EQ(Ini_Entry.number, 5);
  EXPECT_EQ(strlen(Ini_Entry.name), 200u);
}

TEST(IniTest, MissingFileGivesEmptyLogin) {
  tu::TempDir dir;
  tu::MakeDirs(dir / "a/b/c/d");
  ASSERT_EQ(chdir((dir / "a/b/c/d").c_str()), 0);
  char user[52] = "u";
  char pass[52] = "p";
  char svc[52] = "s";
  Ini_GetDbLogin(user, sizeof user, pass, sizeof pass, svc, sizeof svc);
  EXPECT_STREQ(user, "");
  EXPECT_STREQ(pass, "");
  EXPECT_STREQ(svc, "");
  ASSERT_EQ(chdir("/"), 0);
}

// `settings write`, then the service's own reading and `login`.
TEST(IniTest, SettingsWriteThenLoginRoundTrip) {
  tu::TempDir dir;
  tu::MakeDirs(dir / "files");
  tu::MakeDirs(dir / "a/b/c/work");
  std::string work = dir / "a/b/c/work";
  std::string ctl = tu::Bin("brakmorctl");
  std::string pw = "p;a/ss@w\xe4rd, forty characters long......";
  ASSERT_EQ(pw.size(), 40u);
  std::string out;
  ASSERT_EQ(tu::Run({ctl, "--dir", work, "settings", "write", "--user", "scott", "--password", pw, "--service",
                     "sqlite:brakmor.db"},
                    &out),
            0)
      << out;
  struct stat st;
  ASSERT_EQ(stat((dir / "files/velquaris.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(chdir(work.c_str()), 0);
  char user[52];
  char pass[52];
  char svc[52];
  Ini_GetDbLogin(user, sizeof user, pass, sizeof pass, svc, sizeof svc);
  ASSERT_EQ(chdir("/"), 0);
  EXPECT_STREQ(user, "scott");
  EXPECT_EQ(std::string(pass), pw);
  EXPECT_STREQ(svc, "sqlite:brakmor.db");

  EXPECT_EQ(tu::Run({ctl, "--dir", work, "login"}, &out), 0) << out;
  EXPECT_EQ(out, "scott/***@sqlite:brakmor.db\n");
  EXPECT_EQ(tu::Run({ctl, "--dir", work, "login", "--show-password"}, &out), 0);
  EXPECT_EQ(out, "scott/" + pw + "@sqlite:brakmor.db\n");

  // Never overwritten without --force; values over 40 characters refused.
  EXPECT_EQ(tu::Run({ctl, "--dir", work, "settings", "write", "--user", "x", "--password", "y", "--service", "z"}, &out), 1);
  EXPECT_NE(out.find("--force"), std::string::npos) << out;
  EXPECT_EQ(tu::Run({ctl, "--dir", work, "settings", "write", "--force", "--user", std::string(41, 'u'), "--password",
                     "y", "--service", "z"},
                    &out),
            1);
  EXPECT_NE(out.find("at most 40"), std::string::npos) << out;
  EXPECT_EQ(tu::Run({ctl, "--dir", work, "settings", "write", "--force", "--user", "x", "--password", "y",
                     "--service", "sqlite:other.db"},
                    &out),
            0);
  EXPECT_EQ(tu::Run({ctl, "--dir", work, "login"}, &out), 0);
  EXPECT_EQ(out, "x/***@sqlite:other.db\n");
}

TEST(IniTest, LoginSaysWhatIsMissing) {
  tu::TempDir dir;
  tu::MakeDirs(dir / "a/b/c/work");
  std::string work = dir / "a/b/c/work";
  std::string ctl = tu::Bin("brakmorctl");
  std::string out;
  EXPECT_EQ(tu::Run({ctl, "--dir", work, "login"}, &out), 1);
  EXPECT_NE(out.find("velquaris.ini"), std::string::npos) << out;
  tu::MakeDirs(dir / "files");
  tu::WriteFile(dir / "files/velquaris.ini", Expand(";A;\n1;LOGIN;{me}\n;B;\n2;NET8;{sqlite:x}\n"));
  chmod((dir / "files/velquaris.ini").c_str(), 0644);
  EXPECT_EQ(tu::Run({ctl, "--dir", work, "login"}, &out), 1);
  EXPECT_NE(out.find("entry PASS not found"), std::string::npos) << out;
  EXPECT_NE(out.find("can be read by other users"), std::string::npos) << out;
  EXPECT_NE(out.find("me/***@sqlite:x"), std::string::npos) << out;
}

TEST(IniTest, EncryptAndDecryptVerbs) {
  std::string ctl = tu::Bin("brakmorctl");
  std::string out;
  ASSERT_EQ(tu::Run({ctl, "encrypt", "scott"}, &out), 0);
  EXPECT_EQ(out, Cipher("scott") + "\n");
  std::string cipher = out.substr(0, out.size() - 1);
  ASSERT_EQ(tu::Run({ctl, "decrypt", cipher}, &out), 0);
  EXPECT_EQ(out, "scott\n");
  ASSERT_EQ(tu::Run({ctl, "encrypt", "--letters", "scott"}, &out), 0);
  std::string letters = out.substr(0, out.size() - 1);
  EXPECT_EQ(letters.size(), 20u);
  ASSERT_EQ(tu::Run({ctl, "decrypt", "--letters", letters}, &out), 0);
  EXPECT_EQ(out, "scott\n");
  EXPECT_EQ(tu::Run({ctl, "encrypt"}, &out), 2);
}

}  // namespace
