#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "engine/program_folder.h"

namespace quenby {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quenby-folder-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

TEST(ProgramFolder, HoldsTheRunningProgram) {
  const fs::path folder = programFolder();
  ASSERT_TRUE(folder.is_absolute());
  EXPECT_TRUE(fs::equivalent(folder / fs::read_symlink("/proc/self/exe").filename(),
                             "/proc/self/exe"));
  EXPECT_EQ(defaultPortsFolder(), folder / "ports");
}

TEST(ProgramFolder, PortNumberOfLinkName) {
  struct Case {
    std::string name;
    std::optional<std::uint16_t> port;
  };
  const Case cases[] = {
      {"COM1", 1},         {"COM9", 9},         {"COM10", 10},       {"COM16", 16},
      {"COM65535", 65535},
      {"COM", std::nullopt},        {"COM0", std::nullopt},      {"COM01", std::nullopt},
      {"COM65536", std::nullopt},   {"COM99999", std::nullopt},  {"COM100000", std::nullopt},
      {"COM+1", std::nullopt},      {"COM-1", std::nullopt},     {"COM 1", std::nullopt},
      {"COM1 ", std::nullopt},      {"COM1a", std::nullopt},     {"COM1.bak", std::nullopt},
      {"com1", std::nullopt},       {"XCOM1", std::nullopt},     {"", std::nullopt},
      {"COM4294967297", std::nullopt},  // would wrap to 1 in 32 bits
  };
  for (const Case& c : cases) EXPECT_EQ(portNumberOfLinkName(c.name), c.port) << c.name;
}

TEST(ProgramFolder, EnumerationListsPortLinksInNumericOrder) {
  TempFolder dir;
  ASSERT_FALSE(dir.path().empty());
  for (const char* name : {"COM10", "COM2", "COM16", "COM1", "COM02", "com3", "COM5.lock",
                           "README", "COM0"})
    std::ofstream(dir.path() / name) << "";
  fs::create_symlink("/nonexistent/ttyUSB7", dir.path() / "COM7");

  EXPECT_EQ(enumeratePortLinks(dir.path()), (std::vector<std::uint16_t>{1, 2, 7, 10, 16}));
}

TEST(ProgramFolder, MissingOrEmptyFolderHasNoPorts) {
  TempFolder dir;
  ASSERT_FALSE(dir.path().empty());
  EXPECT_TRUE(enumeratePortLinks(dir.path()).empty());
  EXPECT_TRUE(enumeratePortLinks(dir.path() / "missing").empty());
}

}  // namespace
}  // namespace quenby
