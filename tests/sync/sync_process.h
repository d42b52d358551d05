// quenby-sync (or another program) as a child process of a test, its stderr kept in a file.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace quenby::sync::testing {

class SyncProcess {
 public:
  SyncProcess(const std::vector<std::string>& args, const std::filesystem::path& stderrFile,
              const std::filesystem::path& stdoutFile = "/dev/null",
              const char* program = QUENBY_SYNC_PATH)
      : stderr_(stderrFile) {
    pid_ = ::fork();
    if (pid_ == 0) {
      const int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) ::dup2(err, STDERR_FILENO);
      const int out = ::open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) ::dup2(out, STDOUT_FILENO);
      std::vector<std::string> all{program};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program, argv.data());
      ::_exit(127);
    }
  }
  ~SyncProcess() {
    if (pid_ > 0 && !finished_) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }
  SyncProcess(const SyncProcess&) = delete;
  SyncProcess& operator=(const SyncProcess&) = delete;

  void signal(int sig) { ::kill(pid_, sig); }
  // The exit status, or 128 + the signal that ended it.
  int wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    finished_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string errors() const {
    std::ifstream in(stderr_);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  pid_t pid_ = -1;
  bool finished_ = false;
  std::filesystem::path stderr_;
};

// Polls the condition until it holds or the time is up; tells which.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace quenby::sync::testing
