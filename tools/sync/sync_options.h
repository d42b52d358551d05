// The command line of quenby-sync.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quenby::sync {

struct SyncOptions {
  std::string station;                    // --station NAME; empty: the host name
  std::string conninfo;                   // --db CONNINFO; empty: the libpq environment
  bool once = false;                      // --once
  std::optional<std::string> history;     // --history SERIAL
  std::optional<std::filesystem::path> folder;  // none: the program's folder
  bool help = false;
};

struct ParsedSyncOptions {
  std::optional<SyncOptions> options;
  std::string error;
};

ParsedSyncOptions parseSyncOptions(const std::vector<std::string>& args);
extern const char* const SyncUsage;

}  // namespace quenby::sync
