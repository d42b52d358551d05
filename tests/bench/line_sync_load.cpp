// quenby-line-load: quenby-sync and quenby-report --db against a throwaway PostgreSQL server of
// their own, for the figures in docs/performance.md. Run by hand (never by ctest).
//
//   quenby-line-load backlog [--runs N]            a backlog of N logged runs (100000) sent once
//   quenby-line-load steady [--seconds S] [--every-ms M]
//                                                  CPU of a following quenby-sync while a line
//                                                  comes every M ms (1875: sixteen ports, a run
//                                                  per port every 30 s)
//   quenby-line-load stations [--stations N] [--seconds S] [--every-ms M]
//                                                  N stations (20) each appending a line every M
//                                                  ms (100) for S s (600): rows = lines?
//   quenby-line-load report [--stations N] [--days D] [--runs R]
//                                                  a line of N stations (4) over D days (365),
//                                                  R runs per port and day (343, 16 ports: 8
//                                                  million runs) put in with COPY, then
//                                                  quenby-report --db over it
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/bench/bench_processes.h"
#include "tests/sync/pg_server.h"
#include "tools/report/log_generator.h"
#include "tools/report/log_reader.h"
#include "tools/sync/line_schema.h"
#include "tools/sync/pg_connection.h"
#include "tools/sync/run_row.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using quenby::sync::PgConnection;
using quenby::sync::testing::PgServer;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct Folder {
  Folder() {
    std::string pattern = (fs::temp_directory_path() / "quenby-line-load-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

// CPU seconds a process has used so far (user + system).
double cpuOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  std::vector<std::string> fields;
  std::string field;
  for (std::size_t i = close + 2; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field += text[i];
    }
  }
  // utime and stime are the 14th and 15th fields of the line, the 12th and 13th after the name.
  return (std::stod(fields.at(11)) + std::stod(fields.at(12))) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long long rows(PgConnection& db, const char* sql = "SELECT count(*) FROM runs") {
  return db.exec(sql).number(0, 0);
}

std::string runLine(int station, long long k) {
  const int second = static_cast<int>(k % 86400);
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", second / 3600, second / 60 % 60, second % 60);
  return "S" + std::to_string(station) + "-" + std::to_string(k) + "," + (k % 9 ? "Pass" : "Fail(Acq)") +
         ",N/A,,COM" + std::to_string(1 + k % 16) + ",2024-03-04," + time +
         ",N/A,\"QNB-DEMO_2.1,0042\",29,3,2,0.95,1.250,-0.100,43.0,0.5,33,1,\"1,1,1,1,1,1,0,0\",50\r\n";
}

int backlog(PgServer& server, long long runs) {
  Folder station;
  quenby::report::LineModel model;
  model.ports = 16;
  model.runsPerPortDay = 625;
  model.days = static_cast<int>((runs + 9999) / 10000);
  const auto lines = quenby::report::writeLineLogs(station.path, model);
  const std::string db = server.conninfo(server.createDatabase());
  const auto start = Clock::now();
  const pid_t pid = quenby::bench::spawn({QUENBY_SYNC_PATH, "--once", "--station", "A", "--db", db,
                                          station.path.string()}, -1);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double wall = seconds(start);
  PgConnection check(db);
  const long long got = rows(check);
  std::printf("backlog: %llu runs in %d log files sent in %.2f s (%.0f runs/s), quenby-sync CPU %.2f s, "
              "peak RSS %.1f MiB; rows %lld\n",
              static_cast<unsigned long long>(lines), model.days, wall, static_cast<double>(lines) / wall,
              static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
              static_cast<double>(usage.ru_maxrss) / 1024.0, got);
  return got == static_cast<long long>(lines) && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

// Stations appending lines (one writer thread for all of them), each followed by its own
// quenby-sync; at the end the rows must equal the lines.
int follow(PgServer& server, int stations, double duration, int everyMs, bool measureCpu) {
  const std::string db = server.conninfo(server.createDatabase());
  std::vector<std::unique_ptr<Folder>> folders;
  std::vector<pid_t> syncs;
  for (int s = 0; s < stations; ++s) {
    folders.push_back(std::make_unique<Folder>());
    quenby::bench::writeFile(folders.back()->path / "Test_Log_2024.3.4.csv",
                             "SerialNo,Pass/Fail,Hz ,Socket,ComPort,Date,Time,Flash,f/w version,SVid,"
                             "Acq Time,Bit Sync,Phase Error,TCXO Offset,TCXO Drift,CNR Mean, CNR Sigma,"
                             "CTTFF,Reset,NMEA,Total Time\r\n");
    syncs.push_back(quenby::bench::spawn({QUENBY_SYNC_PATH, "--station", "S" + std::to_string(s), "--db", db,
                                          folders.back()->path.string()}, -1));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));  // connected, schema made
  std::vector<double> cpuBefore;
  for (pid_t p : syncs) cpuBefore.push_back(cpuOf(p));

  const auto start = Clock::now();
  long long written = 0;
  auto next = start;
  std::vector<long long> perStation(static_cast<std::size_t>(stations), 0);
  while (seconds(start) < duration) {
    // Each station's line comes at its own moment within the period.
    for (int s = 0; s < stations; ++s) {
      std::this_thread::sleep_until(next + std::chrono::microseconds(1000LL * everyMs * s / stations));
      std::ofstream out(folders[static_cast<std::size_t>(s)]->path / "Test_Log_2024.3.4.csv",
                        std::ios::binary | std::ios::app);
      out << runLine(s, perStation[static_cast<std::size_t>(s)]++);
      ++written;
    }
    next += std::chrono::milliseconds(everyMs);
  }
  const double elapsed = seconds(start);
  PgConnection check(db);
  const auto waitStart = Clock::now();
  long long got = 0;
  while ((got = rows(check)) < written && seconds(waitStart) < 120)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double lag = seconds(waitStart);
  double cpu = 0;
  for (std::size_t i = 0; i < syncs.size(); ++i) cpu += cpuOf(syncs[i]) - cpuBefore[i];
  for (pid_t p : syncs) ::kill(p, SIGTERM);
  int clean = 0;
  for (pid_t p : syncs) {
    int status = 0;
    ::waitpid(p, &status, 0);
    clean += WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const long long distinct = rows(check, "SELECT count(DISTINCT (station, line_number)) FROM runs");
  bool each = true;
  const auto perDb = check.exec("SELECT station, count(*) FROM runs GROUP BY 1");
  std::map<std::string, long long> counted;
  for (int i = 0; i < perDb.rows(); ++i) counted[std::string(perDb.text(i, 0))] = perDb.number(i, 1);
  for (int s = 0; s < stations; ++s)
    each = each && counted["S" + std::to_string(s)] == perStation[static_cast<std::size_t>(s)];
  std::printf("%d station(s), a line every %d ms each, %.0f s: %lld lines written, %lld rows (%lld distinct), "
              "every station exact: %s; the last line in after %.2f s; %d of %d quenby-syncs ended cleanly "
              "on SIGTERM\n",
              stations, everyMs, elapsed, written, got, distinct, each ? "yes" : "NO", lag, clean, stations);
  if (measureCpu)
    std::printf("quenby-sync CPU: %.3f s over %.0f s = %.4f %% of a core per station\n", cpu, elapsed,
                100.0 * cpu / elapsed / stations);
  return got == written && distinct == written && each ? 0 : 1;
}

int report(PgServer& server, int stations, int days, int runsPerPortDay) {
  const std::string db = server.conninfo(server.createDatabase());
  PgConnection load(db);
  quenby::sync::upgradeSchema(load);
  const auto start = Clock::now();
  long long total = 0;
  for (int s = 0; s < stations; ++s) {
    Folder logs;
    quenby::report::LineModel model;
    model.days = days;
    model.runsPerPortDay = runsPerPortDay;
    model.seed = static_cast<std::uint32_t>(s + 1);
    model.weakPort = static_cast<std::uint16_t>(s == 2 ? 5 : 0);
    quenby::report::writeLineLogs(logs.path, model);
    const std::string station = "station-" + std::to_string(s + 1);
    for (const auto& e : fs::directory_iterator(logs.path)) {
      std::string rows;
      const std::string name = e.path().filename().string();
      quenby::report::RejectedLines rejected;
      quenby::report::LogReader reader(rejected, [&](const quenby::report::LoggedRun& run) {
        quenby::sync::appendRunRow(rows, station, name, run);
        ++total;
      });
      reader.readFile(e.path());
      load.exec("BEGIN");
      load.copyIn(quenby::sync::RunsCopy, rows);
      load.exec("COMMIT");
    }
    std::printf("station %d of %d in: %lld runs so far, %.0f s\n", s + 1, stations, total, seconds(start));
    std::fflush(stdout);
  }
  load.exec("VACUUM ANALYZE");
  std::printf("line: %lld runs put in with COPY in %.0f s\n", total, seconds(start));
  // The server logs every statement of the report that takes longer than a tenth of a second.
  load.exec("ALTER SYSTEM SET log_min_duration_statement = 100");
  load.exec("SELECT pg_reload_conf()");
  Folder out;
  const auto reportStart = Clock::now();
  const pid_t pid = quenby::bench::spawn({QUENBY_REPORT_PATH, "--db", db, "--out",
                                          (out.path / "Line_Report.html").string()}, -1);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  std::printf("quenby-report --db: exit %d, %.2f s wall, %.2f s CPU, peak RSS %.1f MiB\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds(reportStart),
              static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  std::istringstream log(server.serverLog());
  for (std::string line; std::getline(log, line);)
    if (line.find("duration:") != std::string::npos) std::printf("  %s\n", line.substr(0, 400).c_str());
  const auto size = load.exec("SELECT pg_size_pretty(pg_database_size(current_database()))");
  std::printf("database size: %s\n", std::string(size.text(0, 0)).c_str());
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::printf("usage: quenby-line-load backlog|steady|stations|report [options]\n");
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: quenby-line-load backlog|steady|stations|report [options]\n");
    return 2;
  }
  const std::string mode = argv[1];
  std::map<std::string, double> o{{"--runs", 100000}, {"--seconds", 600}, {"--every-ms", 100},
                                  {"--stations", 20}, {"--days", 365}};
  if (mode == "steady") {
    o["--seconds"] = 300;
    o["--every-ms"] = 1875;
    o["--stations"] = 1;
  }
  if (mode == "report") {
    o["--stations"] = 4;
    o["--runs"] = 343;
  }
  for (int i = 2; i + 1 < argc; i += 2) {
    if (!o.count(argv[i])) {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
    o[argv[i]] = std::stod(argv[i + 1]);
  }
  PgServer server;
  if (!server.problem().empty()) {
    std::fprintf(stderr, "no server: %s\n", server.problem().c_str());
    return 1;
  }
  if (mode == "backlog") return backlog(server, static_cast<long long>(o["--runs"]));
  if (mode == "steady")
    return follow(server, static_cast<int>(o["--stations"]), o["--seconds"], static_cast<int>(o["--every-ms"]), true);
  if (mode == "stations")
    return follow(server, static_cast<int>(o["--stations"]), o["--seconds"], static_cast<int>(o["--every-ms"]), true);
  if (mode == "report")
    return report(server, static_cast<int>(o["--stations"]), static_cast<int>(o["--days"]),
                  static_cast<int>(o["--runs"]));
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
