// One station per folder. The station's folder holds its ports (ports/COM<n>), its settings and
// its test log; a second station started on the same folder would open the same modules and
// fail them for a port that is merely busy. Each station holds this lock on the folder for its
// whole life, and a second one is refused at start.
#pragma once

#include <filesystem>
#include <string>

namespace quenby {

class StationFolderLock {
 public:
  // Takes the lock on folder at once; the lock ends with the object (or the process).
  explicit StationFolderLock(const std::filesystem::path& folder);
  ~StationFolderLock();

  StationFolderLock(const StationFolderLock&) = delete;
  StationFolderLock& operator=(const StationFolderLock&) = delete;

  // True when another station (another process) holds the folder.
  bool heldElsewhere() const { return heldElsewhere_; }
  // The operator's message when heldElsewhere(), naming the folder.
  std::string refusal() const;

 private:
  std::filesystem::path folder_;
  int fd_ = -1;
  bool heldElsewhere_ = false;
};

}  // namespace quenby
