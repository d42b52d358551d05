// A station folder for one integration test: a copy of quenby-run with its own Torvane.ini and
// ports/, simulated modules from quenby-modsim linked into it, and the means to read back what a
// run printed (memo lines per port) and wrote (the test log, its backup, the transcripts).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/csv_reader.h"
#include "fakes/temp_folder.h"
#include "modsim/simulator_process.h"

namespace quenby::integration {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// ---- quenby-run as a child process -----------------------------------------------------------

// Started in a station folder; stdout is collected as it comes, stderr goes to a file beside it.
// With a blocked output, stdout is a pipe that is already full and that nobody reads until
// finish(): a paused pager or a stopped terminal.
class RunnerProcess {
 public:
  RunnerProcess(const fs::path& program, const std::vector<std::string>& args,
                const fs::path& stderrFile, bool blockedOutput = false) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    if (blockedOutput) fillPipe(out[1]);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      const int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) ::dup2(err, STDERR_FILENO);
      std::vector<std::string> all{program.string()};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    stdout_ = out[0];
  }

  ~RunnerProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }

  RunnerProcess(const RunnerProcess&) = delete;
  RunnerProcess& operator=(const RunnerProcess&) = delete;

  // Reads stdout until `done(output)` holds, the output ends, or the time runs out.
  bool readUntil(const std::function<bool(const std::string&)>& done,
                 std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(output_)) {
      if (eof_) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{stdout_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[kChunk];
      const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
      if (n <= 0) {
        eof_ = true;
      } else {
        output_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    return true;
  }

  void signal(int number) { ::kill(pid_, number); }
  pid_t pid() const { return pid_; }

  // Reads to the end of the output and collects the exit status; -1 when the process did not end
  // by itself within the limit (it is then killed).
  int finish(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    readUntil([this](const std::string&) { return eof_; }, limit);
    if (exited_) return status_;
    return waitForExit(std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()));
  }

  // Waits for the process to end without reading its output; its exit status, or -1 when it
  // did not end within the limit.
  int waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
      }
      ::usleep(10'000);
    } while (std::chrono::steady_clock::now() < deadline);
    return -1;
  }

  const std::string& output() const { return output_; }

 private:
  static constexpr std::size_t kChunk = 4096;

  // Shrinks the pipe to its smallest size and fills it with empty lines.
  static void fillPipe(int writeEnd) {
    ::fcntl(writeEnd, F_SETPIPE_SZ, kChunk);
    const int flags = ::fcntl(writeEnd, F_GETFL);
    ::fcntl(writeEnd, F_SETFL, flags | O_NONBLOCK);
    const std::string lines(kChunk, '\n');
    while (::write(writeEnd, lines.data(), lines.size()) > 0) {
    }
    ::fcntl(writeEnd, F_SETFL, flags);
  }

  pid_t pid_ = -1;
  int status_ = -1;
  int stdout_ = -1;
  bool eof_ = false;
  bool exited_ = false;
  std::string output_;
};

// ---- What a run printed ----------------------------------------------------------------------

// The memo lines of each port, in order, without chart refreshes and summaries; and each port's
// summary line.
struct PrintedRun {
  std::map<int, std::vector<std::string>> memo;
  std::map<int, std::string> summary;

  explicit PrintedRun(const std::string& output) {
    static const std::regex linePattern(R"(\[COM ([0-9]+)\] (.*))");
    std::size_t start = 0;
    while (start < output.size()) {
      std::size_t end = output.find('\n', start);
      if (end == std::string::npos) end = output.size();
      const std::string line = output.substr(start, end - start);
      start = end + 1;
      std::smatch m;
      if (!std::regex_match(line, m, linePattern)) {
        stray.push_back(line);
        continue;
      }
      const int port = std::stoi(m[1]);
      const std::string text = m[2];
      if (text.starts_with("satellites")) continue;
      if (text.starts_with("summary: ")) {
        summary[port] = text;
        continue;
      }
      memo[port].push_back(text);
    }
  }

  std::vector<std::string> stray;  // anything not prefixed by a port
};

// ---- Line patterns ---------------------------------------------------------------------------

// An expected line: literal text in which "{n}" stands for a whole number that depends on timing
// and "{folder}" for the temporary folder of the test (an absolute path without blanks).
// A pattern made by repeated() matches one or more equal lines in a row.
inline constexpr std::string_view kRepeatMark = "{+}";

inline std::string repeated(const std::string& pattern) { return std::string(kRepeatMark) + pattern; }

inline std::regex patternRegex(std::string_view pattern) {
  std::string re;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.substr(i, 3) == "{n}") {
      re += "-?[0-9]+";
      i += 2;
      continue;
    }
    if (pattern.substr(i, 8) == "{folder}") {
      re += "/[^ ]+";
      i += 7;
      continue;
    }
    const char c = pattern[i];
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) re += '\\';
    re += c;
  }
  return std::regex(re);
}

inline bool matchesPattern(const std::string& text, std::string_view pattern) {
  return std::regex_match(text, patternRegex(pattern));
}

inline std::string listed(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += "  |" + line + "|\n";
  return text;
}

// True when the lines match the patterns one for one (a repeated() pattern takes one or more).
inline bool linesMatch(const std::vector<std::string>& lines,
                       const std::vector<std::string>& patterns) {
  std::size_t i = 0;
  for (std::string_view pattern : patterns) {
    const bool repeats = pattern.starts_with(kRepeatMark);
    if (repeats) pattern.remove_prefix(kRepeatMark.size());
    if (i >= lines.size() || !matchesPattern(lines[i], pattern)) return false;
    ++i;
    while (repeats && i < lines.size() && matchesPattern(lines[i], pattern)) ++i;
  }
  return i == lines.size();
}

inline ::testing::AssertionResult memoMatches(const std::vector<std::string>& lines,
                                              const std::vector<std::string>& patterns) {
  if (linesMatch(lines, patterns)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "memo:\n" << listed(lines) << "expected:\n"
                                       << listed(patterns);
}

// The three lines that close every run.
inline std::vector<std::string> finishLines() {
  return {"[Finish]", "     Take({n}) secs to test.", std::string(48, '*')};
}

inline std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// ---- The test log ----------------------------------------------------------------------------

inline const std::string kLogHeader =
    "SerialNo,Pass/Fail,Hz ,Socket,ComPort,Date,Time,Flash,f/w version,SVid,Acq Time,Bit Sync,"
    "Phase Error,TCXO Offset,TCXO Drift,CNR Mean, CNR Sigma,CTTFF,Reset,NMEA,Total Time";

// One run line as the columns it should have; "{n}" as in memo patterns. SerialNo and Socket are
// empty in every run here (no window entries).
struct LogColumns {
  std::string verdict;
  std::string hz = "N/A";
  std::string flash = "N/A";
  std::string version = "N/A";
  std::string acq = "N/A";
  std::string bitSync = "N/A";
  std::string phase = "N/A";
  std::string tcxoOffset = "N/A";
  std::string tcxoDrift = "N/A";
  std::string cnrMean = "N/A";
  std::string cnrSigma = "N/A";
  std::string cttff = "N/A";
  std::string reset = "N/A";
  std::string nmea = "N/A";
};

// One run line of the log as a CSV reader gives it back: its columns, quotes taken off.
using LogRow = std::vector<std::string>;

inline std::string shown(const LogRow& row) {
  std::string text;
  for (const auto& column : row) text += (text.empty() ? "|" : "|,|") + column;
  return text + "|";
}

inline ::testing::AssertionResult logLineMatches(const LogRow& columns, int port,
                                                 const std::string& svId,
                                                 const LogColumns& want) {
  const std::vector<std::string> expected{
      "", want.verdict, want.hz, "", "COM" + std::to_string(port), "{date}", "{time}", want.flash,
      want.version, svId, want.acq, want.bitSync, want.phase, want.tcxoOffset, want.tcxoDrift,
      want.cnrMean, want.cnrSigma, want.cttff, want.reset, want.nmea, "{n}"};
  static const std::regex date("[0-9]{4}-[0-9]{2}-[0-9]{2}");
  static const std::regex time("[0-9]{2}:[0-9]{2}:[0-9]{2}");
  if (columns.size() != expected.size())
    return ::testing::AssertionFailure() << columns.size() << " columns in " << shown(columns);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    bool ok;
    if (expected[i] == "{date}") ok = std::regex_match(columns[i], date);
    else if (expected[i] == "{time}") ok = std::regex_match(columns[i], time);
    else ok = matchesPattern(columns[i], expected[i]);
    if (!ok)
      return ::testing::AssertionFailure() << "column " << i + 1 << " is |" << columns[i]
                                           << "|, expected |" << expected[i] << "| in "
                                           << shown(columns);
  }
  return ::testing::AssertionSuccess();
}

inline std::string readWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The day's test log of a station folder, checked for what every log must be: exactly one log
// file, named after a date, its header once and first, every line ended by CR LF, every row read
// back by a CSV reader with the header's columns, and a backup copy that is byte for byte the
// same. Holds the run lines by port, in order.
struct TestLogContents {
  std::map<int, std::vector<LogRow>> linesByPort;
  std::size_t lineCount = 0;
  std::string text;  // the whole log
};

inline fs::path testLogPath(const fs::path& folder) {
  std::vector<fs::path> logs;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().starts_with("Test_Log_")) logs.push_back(entry.path());
  EXPECT_EQ(logs.size(), 1u) << "test logs in " << folder;
  return logs.size() == 1 ? logs[0] : fs::path();
}

inline TestLogContents readTestLog(const fs::path& folder) {
  TestLogContents contents;
  const fs::path log = testLogPath(folder);
  if (log.empty()) return contents;
  const std::string name = log.filename().string();
  static const std::regex logName(R"(Test_Log_[0-9]{4}\.[1-9][0-9]?\.[1-9][0-9]?\.csv)");
  EXPECT_TRUE(std::regex_match(name, logName)) << name;

  const std::string text = readWholeFile(log);
  contents.text = text;
  EXPECT_EQ(readWholeFile(folder / "backup" / ("B" + name)), text) << "backup copy of " << name;

  EXPECT_TRUE(text.ends_with("\r\n")) << "log ends in half a line";
  const auto count = [&text](std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("\n"), count("\r\n")) << "a bare line feed in the log";
  EXPECT_EQ(count("\r"), count("\r\n")) << "a bare carriage return in the log";

  const testing::CsvRows csv = testing::readCsv(text);
  EXPECT_EQ(csv.error, "");
  if (csv.rows.empty()) {
    ADD_FAILURE() << "empty log";
    return contents;
  }
  const testing::CsvRows header = testing::readCsv(kLogHeader);
  EXPECT_EQ(csv.rows[0], header.rows.at(0));
  static const std::regex comPort("COM([0-9]+)");
  for (std::size_t i = 1; i < csv.rows.size(); ++i) {
    const LogRow& row = csv.rows[i];
    EXPECT_EQ(row.size(), header.rows[0].size()) << "line " << i + 1 << ": " << shown(row);
    EXPECT_NE(row, header.rows[0]) << "header repeated on line " << i + 1;
    std::smatch m;
    if (row.size() < 5 || !std::regex_match(row[4], m, comPort)) {
      ADD_FAILURE() << "no port in " << shown(row);
      continue;
    }
    contents.linesByPort[std::stoi(m[1])].push_back(row);
    ++contents.lineCount;
  }
  return contents;
}

// ---- The station folder ----------------------------------------------------------------------

struct RunResult {
  int exitStatus = -1;
  std::string output;
  std::string errors;  // what quenby-run wrote on stderr
};

class StationFolder {
 public:
  // The whole run may take this long before the test counts it as hung.
  static constexpr auto kRunLimit = 90s;

  StationFolder() {
    fs::copy_file(QUENBY_RUN_PATH, folder_ / "quenby-run");
  }

  const fs::path& path() const { return folder_.path(); }
  fs::path ports() const { return path() / "ports"; }
  fs::path portLink(int port) const { return ports() / ("COM" + std::to_string(port)); }

  void writeSettings(const std::string& ini) const { folder_.write("Torvane.ini", ini); }
  void write(const std::string& name, const std::string& text) const { folder_.write(name, text); }
  std::string read(const std::string& name) const { return folder_.read(name); }

  // Starts the simulated modules on `com` ("1-16", "3,5") with the scenario text, each keeping a
  // transcript of what the station sent.
  void startModules(const std::string& com, const std::string& scenario) {
    folder_.write("scenario.ini", scenario);
    modules_ = std::make_unique<modsim::testing::SimulatorProcess>(std::vector<std::string>{
        "--ports-dir", ports().string(), "--com", com, "--scenario",
        (path() / "scenario.ini").string(), "--transcript-dir",
        (path() / "transcripts").string()});
    ASSERT_EQ(modules_->waitForReady(), "ready\n");
  }

  // Stops the modules (their transcripts are then complete); the simulator's exit status.
  int stopModules() {
    const int status = modules_ ? modules_->stop() : -1;
    modules_.reset();
    return status;
  }

  std::unique_ptr<RunnerProcess> startRun(const std::vector<std::string>& args,
                                          bool blockedOutput = false) const {
    return std::make_unique<RunnerProcess>(path() / "quenby-run", args, path() / "stderr.txt",
                                           blockedOutput);
  }

  RunResult run(const std::vector<std::string>& args) const {
    auto process = startRun(args);
    RunResult result;
    result.exitStatus = process->finish(kRunLimit);
    result.output = process->output();
    result.errors = errors();
    return result;
  }

  // What the last quenby-run wrote on stderr: nothing, in every run here (a sanitizer's report
  // would land there).
  std::string errors() const { return errorsOf("stderr.txt"); }
  std::string errorsOf(const std::string& file) const { return folder_.read(file); }

  // Every byte the station sent to a port.
  std::string transcript(int port) const {
    return folder_.read("transcripts/COM" + std::to_string(port) + ".txt");
  }

  // Waits (bounded) until the module of `port` has taken in bytes ending with `tail`: the
  // simulator takes the bytes at the line's pace, after the station may have closed the port.
  bool transcriptEndsWith(int port, const std::string& tail) const {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!transcript(port).ends_with(tail) && std::chrono::steady_clock::now() < deadline)
      ::usleep(20'000);
    return transcript(port).ends_with(tail);
  }

 private:
  testing::TempFolder folder_;
  std::unique_ptr<modsim::testing::SimulatorProcess> modules_;
};

// The simulator's replies come quickly, so that a whole run takes a few seconds.
inline const std::string kQuickModules =
    "[default]\n"
    "version_delay=100\n"
    "rates_delay=150\n"
    "interval_delay=200\n"
    "acq_delay=700\n"
    "bitsync_delay=700\n"
    "signal_delay=1000\n"
    "reset_delay=300\n"
    "ttff=1.5\n";

// What the station sends: the fixed sentences end with a zero byte, the others do not.
inline const std::string kEndTestMode = "$PMTK811*3A\r\n";
inline const std::string kEndTestModeFixed = std::string("$PMTK811*3A\r\n") + '\0';
inline const std::string kFactoryResetFixed = std::string("$PMTK104*37\r\n") + '\0';
inline const std::string kColdRestartCommands =
    "$PMTK103*30\r\n$PMTK220,1000*1F\r\n$PMTK314,0,1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0*28\r\n";
inline const std::string kEndSentences = kEndTestModeFixed + kFactoryResetFixed;

}  // namespace quenby::integration
