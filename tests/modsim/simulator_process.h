// The real quenby-modsim as a child process: started with arguments, its "ready" line awaited,
// stopped by a signal, its exit status collected.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace quenby::modsim::testing {

class SimulatorProcess {
 public:
  explicit SimulatorProcess(std::vector<std::string> args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      const int devNull = ::open("/dev/null", O_WRONLY);
      if (devNull >= 0) ::dup2(devNull, STDERR_FILENO);
      std::vector<char*> argv;
      static std::string program = QUENBY_MODSIM_PATH;
      argv.push_back(program.data());
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    stdout_ = out[0];
  }

  ~SimulatorProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }

  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // Everything the process printed on stdout until it printed "ready\n" or the time ran out.
  std::string waitForReady(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (printed_.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd fd{stdout_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[kStdoutChunk];
      const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
      if (n <= 0) break;
      printed_.append(buffer, static_cast<std::size_t>(n));
    }
    return printed_;
  }

  // Sends the signal and returns the exit status (-1 when it did not exit normally in time).
  int stop(int signal = SIGTERM, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    ::kill(pid_, signal);
    return waitForExit(limit);
  }

  int waitForExit(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      ::usleep(10'000);
    }
    return -1;
  }

 private:
  static constexpr std::size_t kStdoutChunk = 256;

  pid_t pid_ = -1;
  int stdout_ = -1;
  bool exited_ = false;
  std::string printed_;
};

}  // namespace quenby::modsim::testing
