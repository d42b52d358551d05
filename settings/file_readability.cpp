#include "settings/file_readability.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quenby {

std::string unreadableReason(const std::filesystem::path& file) {
  struct stat link {};
  if (::lstat(file.c_str(), &link) != 0) return {};  // no file: a first start
  // Not blocking: a FIFO in its place must not hold up the start.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat info {};
  std::string reason;
  char byte;
  if (::fstat(fd, &info) != 0) {
    reason = std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    reason = std::strerror(EISDIR);
  } else if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
  } else if (::read(fd, &byte, 1) < 0) {
    reason = std::strerror(errno);
  }
  ::close(fd);
  return reason;
}

}  // namespace quenby
