#include "sync/pg_server.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tools/sync/pg_connection.h"

namespace quenby::sync::testing {
namespace fs = std::filesystem;

namespace {

// Debian keeps the server's programs out of PATH, in one folder per major version.
fs::path serverBinaries() {
  if (const char* dir = std::getenv("QUENBY_PG_BINDIR")) return dir;
  std::error_code ec;
  fs::path best;
  for (auto it = fs::directory_iterator("/usr/lib/postgresql", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path bin = it->path() / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl") && bin > best) best = bin;
  }
  return best;
}

}  // namespace

PgServer::PgServer() {
  bin_ = serverBinaries();
  if (bin_.empty()) {
    binariesMissing_ = true;
    problem_ = "the PostgreSQL server programs (initdb, pg_ctl) are not installed";
    return;
  }
  std::string pattern = (fs::temp_directory_path() / "quenby-pg-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    problem_ = "no temporary folder";
    return;
  }
  dir_ = pattern;
  // The server refuses to run as root: it runs as postgres, which must own its folder.
  if (::geteuid() == 0) {
    const passwd* pw = ::getpwnam("postgres");
    if (!pw) {
      problem_ = "running as root, and there is no postgres user to run the server as";
      return;
    }
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    switchUser_ = true;
    if (::chown(dir_.c_str(), uid_, gid_) != 0) {
      problem_ = "cannot hand the temporary folder to postgres";
      return;
    }
  }
  if (!runTool("initdb", {"-D", (dir_ / "data").string(), "-U", "postgres", "-A", "trust", "-E",
                          "UTF8", "--locale=C", "--no-sync"})) {
    problem_ = "initdb failed: " + serverLog();
    return;
  }
  if (!start()) problem_ = "the server did not start: " + serverLog();
}

PgServer::~PgServer() {
  if (running_) crash();
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

bool PgServer::runTool(const std::string& tool, const std::vector<std::string>& args) {
  const fs::path program = bin_ / tool;
  const fs::path log = dir_ / (tool + ".log");
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (switchUser_ && (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0))
      ::_exit(126);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
    }
    const int none = ::open("/dev/null", O_RDONLY);
    if (none >= 0) ::dup2(none, STDIN_FILENO);
    std::vector<std::string> all{program.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool PgServer::start() {
  // No TCP at all; the socket lies in the server's own folder.
  const std::string options = "-c listen_addresses='' -k " + dir_.string() + " -c fsync=off";
  running_ = runTool("pg_ctl", {"-D", (dir_ / "data").string(), "-l", (dir_ / "server.log").string(),
                                "-w", "-t", "60", "-o", options, "start"});
  return running_;
}

bool PgServer::crash() {
  const bool ok = runTool("pg_ctl", {"-D", (dir_ / "data").string(), "-m", "immediate", "-w", "stop"});
  running_ = !ok;
  return ok;
}

std::string PgServer::conninfo(const std::string& database) const {
  return "host=" + dir_.string() + " user=postgres dbname=" + database;
}

std::string PgServer::createDatabase() {
  const std::string name = "line" + std::to_string(++databases_);
  PgConnection db(conninfo());
  db.exec(("CREATE DATABASE " + name).c_str());
  return name;
}

std::string PgServer::serverLog() const {
  std::string text;
  for (const char* name : {"initdb.log", "pg_ctl.log", "server.log"}) {
    std::ifstream in(dir_ / name);
    text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return text;
}

}  // namespace quenby::sync::testing
