#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace quenby {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quenby-ini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  fs::path file(const std::string& name = "Torvane.ini") const { return folder_ / name; }

  static void put(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
  }
  static std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Names in the folder other than the given file (left-over temporary files).
  std::string strayFiles(const fs::path& keep) const {
    std::string stray;
    for (const auto& entry : fs::directory_iterator(folder_))
      if (entry.path() != keep) stray += entry.path().filename().string() + " ";
    return stray;
  }

  fs::path folder_;
};

TEST_F(IniFileTest, ReadFindsKeysWithPrivateProfileRules) {
  struct Case {
    const char* name;
    std::string content;
    const char* section;
    const char* key;
    std::string expected;  // fallback is "<default>"
  };
  const Case cases[] = {
      {"plain", "[System]\nA=1\n", "System", "A", "1"},
      {"names ignore case", "[system]\nbaudrate_nmea=9600\n", "SYSTEM", "Baudrate_NMEA", "9600"},
      {"blanks trimmed", "  [ System ]  \n  A  =  hello world  \t\n", "System", "A", "hello world"},
      {"double quotes stripped", "[S]\nA=\"  x  \"\n", "S", "A", "  x  "},
      {"single quotes stripped", "[S]\nA='x'\n", "S", "A", "x"},
      {"mixed quotes kept", "[S]\nA=\"x'\n", "S", "A", "\"x'"},
      {"lone quote kept", "[S]\nA=\"\n", "S", "A", "\""},
      {"empty quotes give empty", "[S]\nA=\"\"\n", "S", "A", ""},
      {"empty value is no default", "[S]\nA=\n", "S", "A", ""},
      {"value holding =", "[S]\nA=b=c\n", "S", "A", "b=c"},
      {"missing key", "[S]\nB=1\n", "S", "A", "<default>"},
      {"missing section", "[T]\nA=1\n", "S", "A", "<default>"},
      {"key of another section", "[S]\n[T]\nA=1\n", "S", "A", "<default>"},
      {"key before any section", "A=1\n[S]\n", "S", "A", "<default>"},
      {"first key wins", "[S]\nA=1\nA=2\n", "S", "A", "1"},
      {"first section wins", "[S]\nA=1\n[S]\nA=2\n", "S", "A", "1"},
      {"repeated section searched", "[S]\nB=1\n[T]\nA=0\n[S]\nA=2\n", "S", "A", "2"},
      {"comments skipped", "[S]\n;A=1\n  #A=2\nA=3\n", "S", "A", "3"},
      {"CR LF line ends", "[S]\r\nA=1\r\n", "S", "A", "1"},
      {"no final line end", "[S]\nA=1", "S", "A", "1"},
      {"header without ] is an ordinary line", "[S]\nX=0\n[T\nA=1\n", "S", "A", "1"},
      {"line without = is no key", "[S]\nA\nA=5\n", "S", "A", "5"},
      {"empty file", "", "S", "A", "<default>"},
      {"byte-order mark before the first header", "\xEF\xBB\xBF[S]\nA=1\n", "S", "A", "1"},
      {"byte-order mark only at the start", "[S]\n\xEF\xBB\xBF" "A=1\n", "S", "A", "<default>"},
      {"half a byte-order mark is text", "\xEF\xBB[S]\nA=1\n", "S", "A", "<default>"},
      {"NUL ends the value", std::string("[S]\nA=ab\0cd\n", 12), "S", "A", "ab"},
      {"long value cut at 2047", "[S]\nA=" + std::string(3000, 'v') + "\n", "S", "A",
       std::string(MaxProfileValue, 'v')},
      {"value of exactly 2047 kept", "[S]\nA=" + std::string(MaxProfileValue, 'w') + "\n", "S", "A",
       std::string(MaxProfileValue, 'w')},
  };
  for (const Case& c : cases) {
    put(file(), c.content);
    EXPECT_EQ(IniFile(file()).read(c.section, c.key, "<default>"), c.expected) << c.name;
  }
}

TEST_F(IniFileTest, ReadOfAMissingOrUnreadableFileGivesTheDefault) {
  EXPECT_EQ(IniFile(file("absent.ini")).read("S", "A", "dflt"), "dflt");
  EXPECT_EQ(IniFile(folder_ / "no-folder" / "x.ini").read("S", "A", "dflt"), "dflt");
  EXPECT_EQ(IniFile(folder_).read("S", "A", "dflt"), "dflt");  // a folder, not a file
}

TEST_F(IniFileTest, WriteChangesOneLineAndKeepsEveryOther) {
  struct Case {
    const char* name;
    std::optional<std::string> before;  // nullopt: no file yet
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  };
  const Case cases[] = {
      {"new file", std::nullopt, "System", "A", "1", "[System]\nA=1\n"},
      {"replace in place", "[S]\n; c\nA=1\nB=2\n", "S", "A", "9", "[S]\n; c\nA=9\nB=2\n"},
      {"replace ignoring case and blanks", "[s]\n  a = 1 \n", "S", "A", "9", "[s]\nA=9\n"},
      {"replace with empty", "[S]\nA=1\n", "S", "A", "", "[S]\nA=\n"},
      {"add after last non-blank line", "[S]\nA=1\n\n[T]\nB=2\n", "S", "C", "3",
       "[S]\nA=1\nC=3\n\n[T]\nB=2\n"},
      {"add to empty section", "[S]\n[T]\n", "S", "C", "3", "[S]\nC=3\n[T]\n"},
      {"add after trailing comment", "[S]\nA=1\n; next\n\n[T]\n", "S", "C", "3",
       "[S]\nA=1\n; next\nC=3\n\n[T]\n"},
      {"add to last section without line end", "[S]\nA=1", "S", "C", "3", "[S]\nA=1\nC=3\n"},
      {"append section", "[S]\nA=1\n", "T", "B", "2", "[S]\nA=1\n[T]\nB=2\n"},
      {"append section after missing line end", "[S]\nA=1", "T", "B", "2", "[S]\nA=1\n[T]\nB=2\n"},
      {"append to empty file", "", "T", "B", "2", "[T]\nB=2\n"},
      {"unknown lines kept exactly", "; head\n[S]\n  weird line  \n# c\nA = 1 ; no comment\n[T]\n",
       "S", "A", "2", "; head\n[S]\n  weird line  \n# c\nA=2\n[T]\n"},
      {"only first duplicate replaced", "[S]\nA=1\nA=2\n", "S", "A", "3", "[S]\nA=3\nA=2\n"},
      {"key in repeated section replaced there", "[S]\nB=1\n[T]\n[S]\nA=1\n", "S", "A", "2",
       "[S]\nB=1\n[T]\n[S]\nA=2\n"},
      {"new key goes to first section", "[S]\nB=1\n[T]\n[S]\nD=1\n", "S", "A", "2",
       "[S]\nB=1\nA=2\n[T]\n[S]\nD=1\n"},
      {"CR LF replace", "[S]\r\nA=1\r\nB=2\r\n", "S", "A", "9", "[S]\r\nA=9\r\nB=2\r\n"},
      {"CR LF add", "[S]\r\nA=1\r\n\r\n[T]\r\n", "S", "C", "3", "[S]\r\nA=1\r\nC=3\r\n\r\n[T]\r\n"},
      {"CR LF append section", "[S]\r\nA=1\r\n", "T", "B", "2", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n"},
      {"CR LF without final line end", "[S]\r\nA=1", "T", "B", "2", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n"},
      {"line break in value written as blank", "[S]\n", "S", "A", "a\nb\rc", "[S]\nA=a b c\n"},
      // A byte-order mark stays in front; the first header behind it is found, not added again.
      {"byte-order mark, replace", "\xEF\xBB\xBF[S]\nA=1\nB=2\n", "S", "A", "9",
       "\xEF\xBB\xBF[S]\nA=9\nB=2\n"},
      {"byte-order mark, add to the first section", "\xEF\xBB\xBF[System]\r\nA=1\r\n[T]\r\n", "System",
       "B", "2", "\xEF\xBB\xBF[System]\r\nA=1\r\nB=2\r\n[T]\r\n"},
      {"byte-order mark alone", "\xEF\xBB\xBF", "T", "B", "2", "\xEF\xBB\xBF[T]\nB=2\n"},
  };
  for (const Case& c : cases) {
    const fs::path path = file();
    fs::remove(path);
    if (c.before) put(path, *c.before);
    const IniFile ini(path);
    ini.write(c.section, c.key, c.value);
    EXPECT_EQ(contentOf(path), c.after) << c.name;
    if (std::string(c.value).find_first_of("\r\n") == std::string::npos) {
      EXPECT_EQ(ini.read(c.section, c.key, "<default>"), c.value) << c.name;
    }
    EXPECT_EQ(strayFiles(path), "") << c.name;
  }
}

TEST_F(IniFileTest, WriteKeepsTheFileModeAndSymbolicLinks) {
  const fs::path path = file();
  put(path, "[S]\nA=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  IniFile(path).write("S", "A", "2");
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);

  const fs::path link = file("link.ini");
  fs::create_symlink(path.filename(), link);
  IniFile(link).write("S", "B", "3");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  EXPECT_EQ(contentOf(path), "[S]\nA=2\nB=3\n");

  // A new file gets the usual mode of a created file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const fs::path fresh = file("fresh.ini");
  IniFile(fresh).write("S", "A", "1");
  ASSERT_EQ(::stat(fresh.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0666u & ~mask);
}

TEST_F(IniFileTest, RefusedWriteRaisesUnableToWriteAndLeavesTheFile) {
  struct Case {
    const char* name;
    fs::path path;
    mode_t mode;  // 0: no file is made
  };
  const Case cases[] = {
      {"read-only file", file("ro.ini"), 0444},
      {"owner read only", file("r.ini"), 0400},
      {"read and execute only", file("rx.ini"), 0555},
      {"missing folder", folder_ / "missing" / "Torvane.ini", 0},
      {"folder in place of the file", folder_, 0},
  };
  for (const Case& c : cases) {
    if (c.mode != 0) {
      put(c.path, "[S]\nA=1\n");
      ASSERT_EQ(::chmod(c.path.c_str(), c.mode), 0);
    }
    try {
      IniFile(c.path).write("S", "A", "2");
      ADD_FAILURE() << c.name << ": no error";
    } catch (const SettingsError& error) {
      EXPECT_EQ(std::string(error.what()), "Unable to write to " + c.path.string()) << c.name;
    }
    if (c.mode != 0) {
      EXPECT_EQ(contentOf(c.path), "[S]\nA=1\n") << c.name;
    }
  }
  EXPECT_FALSE(fs::exists(folder_ / "missing"));
}

TEST_F(IniFileTest, NamesThatCannotBeReadBackAreRefused) {
  struct Case {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
  };
  const Case refused[] = {
      {"key with =", "Basic", "SVid=", "7"},  // would read back as SVid with the value "=7"
      {"key with = inside", "S", "a=b", "1"},
      {"key read as a comment", "S", "; note", "1"},
      {"key read as a comment (#)", "S", "#A", "1"},
      {"key read as a section header", "S", "[T]", "1"},
      {"key and value read as a section header", "S", "[T", "]"},
  };
  const std::string before = "[Basic]\nSVid=29\n";
  for (const Case& c : refused) {
    put(file(), before);
    try {
      IniFile(file()).write(c.section, c.key, c.value);
      ADD_FAILURE() << c.name << ": written";
    } catch (const SettingsError& error) {
      EXPECT_EQ(std::string(error.what()), "Unable to write to " + file().string()) << c.name;
    }
    EXPECT_EQ(contentOf(file()), before) << c.name;
  }

  // Unusual names that do read back are written.
  const Case taken[] = {
      {"section with ]", "a]b", "K", "1"},
      {"key opening a bracket", "S", "[T", "1"},
      {"section read with ; inside the brackets", ";S", "K", "2"},
  };
  for (const Case& c : taken) {
    put(file(), before);
    const IniFile ini(file());
    ini.write(c.section, c.key, c.value);
    EXPECT_EQ(ini.read(c.section, c.key, "<missing>"), c.value) << c.name;
    EXPECT_EQ(ini.read("Basic", "SVid", "<missing>"), "29") << c.name;
  }
}

// A write changes the file that the path names: a chain of symbolic links keeps pointing at it,
// and a file with another hard link stays one file with it, its mode kept.
TEST_F(IniFileTest, WriteKeepsSymbolicAndHardLinks) {
  const fs::path target = file();
  put(target, "[S]\nA=1\n");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  fs::create_symlink(target.filename(), file("first.ini"));
  fs::create_symlink("first.ini", file("second.ini"));
  fs::create_hard_link(target, file("hard.ini"));

  IniFile(file("second.ini")).write("S", "B", "2");
  IniFile(file("hard.ini")).write("S", "C", "3");

  EXPECT_EQ(contentOf(target), "[S]\nA=1\nB=2\nC=3\n");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file("first.ini"))));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file("second.ini"))));
  EXPECT_TRUE(fs::equivalent(file("hard.ini"), target));
  struct stat status {};
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_nlink, 2u);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 4);
}

// Another user may not replace a file that is not theirs to write, even in a folder that everyone
// may write to.
TEST_F(IniFileTest, FileThatTheUserMayNotWriteIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(::chmod(folder_.c_str(), 0777), 0);
  const fs::path path = file();
  put(path, "[S]\nA=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

  // The write runs in a child acting as nobody; its exit status tells what happened.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setegid(65534) != 0 || ::seteuid(65534) != 0) ::_exit(3);
    try {
      IniFile(path).write("S", "A", "2");
    } catch (const SettingsError& error) {
      ::_exit(std::string(error.what()) == "Unable to write to " + path.string() ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: written, 2: another message, 3: no other user";
  EXPECT_EQ(contentOf(path), "[S]\nA=1\n");
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, 0u);
}

}  // namespace
}  // namespace quenby
