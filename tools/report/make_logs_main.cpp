// quenby-mklogs DIR [--start YYYY-MM-DD] [--days N] [--ports N] [--runs N] [--weak-port N]
// [--seed N]: test logs of a made-up production line, to try the report on.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/report/civil_date.h"
#include "tools/report/log_generator.h"
#include "quenby_version.h"

int main(int argc, char** argv) {
  if (quenby::printedVersion(argc, argv, "quenby-mklogs")) return 0;
  using namespace quenby::report;
  const char* usage =
      "usage: quenby-mklogs DIR [--start YYYY-MM-DD] [--days N] [--ports N] [--runs N]\n"
      "                     [--weak-port N] [--seed N]\n";
  LineModel model;
  std::filesystem::path folder;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.starts_with("--") && i + 1 < argc) {
      const std::string v = argv[++i];
      const long n = std::strtol(v.c_str(), nullptr, 10);
      if (a == "--start" && parseDate(v)) model.firstDay = *parseDate(v);
      else if (a == "--days" && n > 0) model.days = static_cast<int>(n);
      else if (a == "--ports" && n > 0 && n <= 255) model.ports = static_cast<int>(n);
      else if (a == "--runs" && n > 0) model.runsPerPortDay = static_cast<int>(n);
      else if (a == "--weak-port" && n >= 0 && n <= 255) model.weakPort = static_cast<std::uint16_t>(n);
      else if (a == "--seed") model.seed = static_cast<std::uint32_t>(n);
      else return std::fputs(usage, stderr), 2;
    } else if (folder.empty() && !a.starts_with("-")) {
      folder = a;
    } else {
      return std::fputs(usage, stderr), 2;
    }
  }
  if (folder.empty()) return std::fputs(usage, stderr), 2;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const auto lines = writeLineLogs(folder, model);
  std::printf("%llu run lines in %d files in %s\n", static_cast<unsigned long long>(lines),
              model.days, folder.c_str());
  return 0;
}
