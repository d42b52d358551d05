// What the benchmarks share: the answer to --help, writing a file, starting a program, and a
// simulator that has printed its `ready` line.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quenby::bench {

// --help or -h anywhere on the command line: the usage alone, on standard output, and nothing run.
inline bool answeredHelp(int argc, char** argv, const char* usage) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      return true;
    }
  }
  return false;
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Starts args[0] with its standard output on stdoutFd (when >= 0).
inline pid_t spawn(const std::vector<std::string>& args, int stdoutFd) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (stdoutFd >= 0) ::dup2(stdoutFd, STDOUT_FILENO);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// quenby-modsim started with args, waited for until it prints `ready`; stopped on destruction.
// Throws std::runtime_error when it does not get ready within the limit.
class ReadySimulator {
 public:
  ReadySimulator(const std::vector<std::string>& args, std::chrono::seconds readyLimit) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    pid_ = spawn(args, out[1]);
    ::close(out[1]);
    std::string printed;
    const auto deadline = std::chrono::steady_clock::now() + readyLimit;
    while (printed.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{out[0], POLLIN, 0};
      if (::poll(&fd, 1, 100) <= 0) continue;
      char buffer[64];
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      printed.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (printed != "ready\n") {
      stop();
      throw std::runtime_error("quenby-modsim did not get ready");
    }
  }
  ~ReadySimulator() { stop(); }
  ReadySimulator(const ReadySimulator&) = delete;
  ReadySimulator& operator=(const ReadySimulator&) = delete;

 private:
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
};

}  // namespace quenby::bench
