// What the parts of quenby-station-load share: its options and the measurements beside the load
// table (the bare reader, the many-rounds run, the log append).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quenby::bench {

struct LoadOptions {
  int seconds = 20;
  std::vector<int> portCounts{1, 2, 4, 8, 16};
  int fixIntervalMs = 1000;
  int repeat = 3;
  int soakRounds = 0;    // > 0: the many-rounds run instead of the load table
  bool logAppend = false;  // the log append timing instead of the load table
  std::filesystem::path run;
  std::filesystem::path modsim;
};

// The bare reader, run as a child of the benchmark: opens ports/COM1 to COM<count> of the folder
// and only reads them, one thread per port, until SIGINT or SIGTERM; then prints the bytes it
// read. Returns the exit status.
int bareReaderMain(const std::filesystem::path& portsDir, int count);

// 16 ports x `rounds` rounds in one quenby-run: lines, backup, memory and descriptors per round.
int soakMain(const LoadOptions& options);

// Appending one run line with an empty and with a 50 MB day log.
int logAppendMain(const LoadOptions& options);

// min, median and max of a few values ("min / median / max" with the given precision).
std::string spread(std::vector<double> values, int precision);

}  // namespace quenby::bench
