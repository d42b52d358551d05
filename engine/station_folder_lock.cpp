#include "engine/station_folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace quenby {

StationFolderLock::StationFolderLock(const std::filesystem::path& folder) : folder_(folder) {
  // The folder itself carries the lock: no lock file to leave behind or to be deleted by hand.
  // A folder that cannot be opened here is left to the station's own checks (ports, log).
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;
  int r;
  do {
    r = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0 && errno == EWOULDBLOCK) heldElsewhere_ = true;
}

StationFolderLock::~StationFolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string StationFolderLock::refusal() const {
  return "Another station is already running in " + folder_.string() +
         ": its ports, settings and test log belong to it. Close it first (one station per "
         "folder).";
}

}  // namespace quenby
