#include "tools/modsim/pty_link.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "engine/serial_baud.h"

namespace quenby::modsim {
namespace {

// Room for the slave's device name ("/dev/pts/NNN").
constexpr std::size_t kSlaveNameCapacity = 128;

std::string reason() { return std::strerror(errno); }

}  // namespace

PtyLink::PtyLink(std::filesystem::path linkPath, int baud) : linkPath_(std::move(linkPath)) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status existing = fs::symlink_status(linkPath_, ec);
  if (fs::exists(existing) && !fs::is_symlink(existing))
    throw PtyError(linkPath_.string() + " exists and is not a link; not replacing it");

  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) throw PtyError("cannot open a pseudo-terminal: " + reason());
  char name[kSlaveNameCapacity];
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    const std::string why = reason();
    close();
    throw PtyError("cannot set up a pseudo-terminal: " + why);
  }
  slaveName_ = name;

  // Without a station attached the slave side stays open here, raw, so that nothing the module
  // writes is echoed back as if the station had sent it.
  slaveKeeper_ = ::open(slaveName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slaveKeeper_ < 0 || !applyLineSettings(slaveKeeper_, baud)) {
    const std::string why = reason();
    close();
    throw PtyError("cannot set up " + slaveName_ + ": " + why);
  }

  // Link under a temporary name first, then rename over the old link in one step.
  const fs::path temporary = linkPath_.string() + ".new" + std::to_string(::getpid());
  (void)::unlink(temporary.c_str());
  if (::symlink(slaveName_.c_str(), temporary.c_str()) != 0) {
    const std::string why = reason();
    close();
    throw PtyError("cannot create " + temporary.string() + ": " + why);
  }
  if (::rename(temporary.c_str(), linkPath_.c_str()) != 0) {
    const std::string why = reason();
    (void)::unlink(temporary.c_str());
    close();
    throw PtyError("cannot create " + linkPath_.string() + ": " + why);
  }
  linked_ = true;
}

PtyLink::~PtyLink() { close(); }

void PtyLink::close() {
  if (linked_) {
    // Remove the link only while it still leads to this terminal: someone may have replaced it.
    char target[kSlaveNameCapacity];
    const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slaveName_) (void)::unlink(linkPath_.c_str());
    linked_ = false;
  }
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  if (master_ >= 0) ::close(master_);
  slaveKeeper_ = -1;
  master_ = -1;
}

}  // namespace quenby::modsim
