// A station folder and a device folder for quenby-ports: pseudo-terminals stand in for the
// adapters, links in <dev>/serial/by-path and by-id for what udev makes; and quenby-ports run on
// them as a child process whose input and output the test holds.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fakes/temp_folder.h"

namespace quenby::ports::testing {

namespace fs = std::filesystem;

// A pseudo-terminal; its /dev/pts/<n> lives as long as this object.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) std::abort();
    path_ = ::ptsname(master_);
  }
  ~Pty() { ::close(master_); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const fs::path& path() const { return path_; }
  // "pts/<n>", as quenby-ports names the device.
  std::string kernelName() const { return "pts/" + path_.filename().string(); }

 private:
  int master_ = -1;
  fs::path path_;
};

// What a finished quenby-ports printed, and its exit status.
struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

// quenby-ports (or another program) as a child process: stdin a pipe the test writes to
// (closed = Ctrl-D), stdout and stderr collected.
class PortsProcess {
 public:
  explicit PortsProcess(const std::vector<std::string>& args,
                        const std::string& program = QUENBY_PORTS_PATH) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      std::vector<std::string> all{program};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }

  ~PortsProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {input_, out_, err_})
      if (fd >= 0) ::close(fd);
  }

  PortsProcess(const PortsProcess&) = delete;
  PortsProcess& operator=(const PortsProcess&) = delete;

  void type(const std::string& text) { [[maybe_unused]] auto n = ::write(input_, text.data(), text.size()); }

  // Runs `change` while the process is stopped, so that it sees the whole change at once, as it
  // sees what udev does for one adapter in a few milliseconds.
  template <typename Change>
  void whileStopped(Change change) {
    ::kill(pid_, SIGSTOP);
    int status = 0;
    ::waitpid(pid_, &status, WUNTRACED);
    change();
    ::kill(pid_, SIGCONT);
  }

  // Ctrl-D: the end of the input.
  void endInput() {
    ::close(input_);
    input_ = -1;
  }

  // Reads stdout until it holds `text` `times` times; false when the output ended or 20 s passed.
  bool waitFor(const std::string& text, int times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (count(out_text_, text) < times) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !readSome(out_, out_text_, static_cast<int>(left.count())))
        return false;
    }
    return true;
  }

  Finished finish() {
    while (readSome(out_, out_text_, 20'000)) {
    }
    while (readSome(err_, err_text_, 20'000)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out_text_, err_text_};
  }

  const std::string& output() const { return out_text_; }

 private:
  static int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  // False at the end of the output or when nothing came within the time.
  static bool readSome(int fd, std::string& into, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int input_ = -1, out_ = -1, err_ = -1;
  bool exited_ = false;
  std::string out_text_, err_text_;
};

// <root>/dev (the device folder) and <root>/station (the station's folder).
class DeviceTree {
 public:
  fs::path dev() const { return root_.path() / "dev"; }
  fs::path byPath() const { return dev() / "serial" / "by-path"; }
  fs::path byId() const { return dev() / "serial" / "by-id"; }
  fs::path station() const { return root_.path() / "station"; }
  fs::path ports() const { return station() / "ports"; }
  fs::path portLink(int com) const { return ports() / ("COM" + std::to_string(com)); }

  // A new adapter; its index is the order of creation.
  const Pty& plugPty() { return *ptys_.emplace_back(std::make_unique<Pty>()); }
  const Pty& pty(std::size_t index) const { return *ptys_.at(index); }

  // An entry as udev makes it: a link under a temporary name, renamed into place.
  static void link(const fs::path& folder, const std::string& name, const fs::path& target) {
    fs::create_directories(folder);
    const fs::path temporary = folder / (".#" + name);
    fs::create_symlink(target, temporary);
    fs::rename(temporary, folder / name);
  }

  std::vector<std::string> withFolders(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--folder", station().string(), "--dev-dir", dev().string()});
    return args;
  }

  Finished run(const std::vector<std::string>& args) const {
    return PortsProcess(withFolders(args)).finish();
  }

 private:
  quenby::testing::TempFolder root_;
  std::vector<std::unique_ptr<Pty>> ptys_;
};

}  // namespace quenby::ports::testing
