// The program's loop: connect (creating or upgrading the schema), send what the logs hold, sleep
// until they change, and ride out a database that is down or refuses, with a growing pause.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace quenby::sync {

struct StationSync {
  std::string station;
  std::string conninfo;
  std::filesystem::path folder;
  bool once = false;
};

// Returns the exit status: 0 after --once or a stop signal, 1 when --once could not reach the
// database, 2 when the folder cannot be watched or the database is of a newer schema.
int runStationSync(const StationSync& s, const std::function<void(const std::string&)>& say);

}  // namespace quenby::sync
