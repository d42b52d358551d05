// One pseudo-terminal with its COM<n> link in the ports folder. The module side is the master;
// the station opens the slave through the link. The link keeps its own descriptor of the slave
// open (raw, not locked), so that the master never sees a hang-up between the station's runs
// while the station's exclusive open still works.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace quenby::modsim {

class PtyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PtyLink {
 public:
  // Opens a terminal, sets its slave end raw at `baud` and links it as `linkPath`, replacing a
  // symbolic link that is already there. Throws PtyError when the terminal cannot be made or
  // when `linkPath` is something other than a symbolic link.
  PtyLink(std::filesystem::path linkPath, int baud);
  ~PtyLink();

  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  int masterFd() const { return master_; }
  const std::string& slaveName() const { return slaveName_; }
  const std::filesystem::path& linkPath() const { return linkPath_; }

  // Takes the terminal away: removes the link and closes both ends. Safe to call twice.
  void close();

 private:
  std::filesystem::path linkPath_;
  std::string slaveName_;
  int master_ = -1;
  int slaveKeeper_ = -1;
  bool linked_ = false;
};

}  // namespace quenby::modsim
