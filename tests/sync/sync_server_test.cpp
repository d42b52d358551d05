// quenby-sync against a real PostgreSQL server of the test's own: every run exactly once through
// repeated sends, torn lines, a crashing server and a killed program; hostile and foreign text;
// logs edited by hand; the schema's upgrade; a serial number's history.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "sync/server_fixture.h"
#include "tools/sync/line_schema.h"

namespace quenby::sync::testing {
namespace {

using report::testing::header;
using report::testing::Line;
using report::testing::runLine;

Line run(int i) {
  Line l;
  l.serial = "QNB" + std::to_string(100000 + i);
  l.port = "COM" + std::to_string(1 + i % 16);
  l.time = "10:" + std::string(i % 60 < 10 ? "0" : "") + std::to_string(i % 60) + ":00";
  if (i % 7 == 3) l.verdict = "Fail(Acq)";
  return l;
}

std::string runs(int from, int to) {
  std::string bytes;
  for (int i = from; i < to; ++i) bytes += runLine(run(i));
  return bytes;
}

TEST_F(SyncServer, EveryRunExactlyOnceThroughRepeatedSendsAndTornLines) {
  const std::string torn = runLine(run(5));
  struct Step {
    std::string appended;
    long long rows;
  };
  const Step steps[] = {
      {header() + runs(0, 3), 3},
      {"", 3},                                          // nothing new: nothing sent again
      {runs(3, 5) + torn.substr(0, 40), 5},             // a line still being written waits
      {torn.substr(40, torn.size() - 41), 5},           // ...also without its line feed
      {"\n", 6},                                        // and is sent once whole
      {"\r\n" + runs(6, 8), 8},                         // a blank line is no run
  };
  for (const Step& s : steps) {
    append(s.appended);
    ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
    EXPECT_EQ(count("SELECT count(*) FROM runs"), s.rows) << s.appended;
  }
  std::vector<std::string> expected = wholeLines(station_.read(LogName));
  expected.erase(expected.begin());                      // the header
  expected.erase(expected.begin() + 6);                  // the blank line
  EXPECT_EQ(sentLines(), expected);
  EXPECT_EQ(count("SELECT line_count FROM sync_progress"), 10);
  EXPECT_EQ(count("SELECT count(*) FROM runs WHERE station = 'A' AND log_file = $1", {LogName}), 8);
}

TEST_F(SyncServer, TypedColumnsHoldTheLogsFields) {
  Line l = run(1);
  l.serial = "QNB7";
  l.verdict = "Fail(TCXO)";
  l.acq = "Timeout(10)";
  l.offset = "1.250";
  l.cnr = "N/A";
  append(header() + runLine(l));
  ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
  const PgResult r = db().exec(
      "SELECT serial_number, verdict, fail_code, coalesce(update_hz::text, 'NULL'), socket, "
      "port::text, log_date::text, to_char(tested_at AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS'), "
      "coalesce(flash, 'NULL'), firmware, sv_id::text, coalesce(acq_time::text, 'NULL'), "
      "tcxo_offset::text, coalesce(cnr_mean::text, 'NULL'), total_time::text, "
      "coalesce(bt_mac, 'NULL'), nmea, timeouts::text FROM runs");
  ASSERT_EQ(r.rows(), 1);
  std::vector<std::string> row;
  for (int c = 0; c < 18; ++c) row.emplace_back(r.text(0, c));
  const std::vector<std::string> expected{
      "QNB7", "Fail", "TCXO", "NULL", "", "2", "2024-03-04", "2024-03-04 08:01:00", "NULL",
      "QNB-DEMO_2.1,0042", "29", "NULL", "1.25", "NULL", "50", "NULL", "1,1,1,1,1,1,0,0", "1"};
  EXPECT_EQ(row, expected);
}

TEST_F(SyncServer, HostileTextsReachTheirColumnsUnchanged) {
  struct Case {
    std::string serial, failCode, storedSerial;
  };
  const Case cases[] = {
      {"x'); DROP TABLE runs; --", "'; DELETE FROM sync_progress; --", ""},
      {"back\\slash\\N", "\\.", ""},
      {"tab\there;semi", "ctl\x01\x1b[31mred", ""},
      {"quo\"te'd", "paren)(", ""},
      {"M\xc3\xbcller", "\xe2\x82\xac", ""},         // UTF-8 stays as it is
      {"Caf\xe9", "x", "Caf\xc3\xa9"},                // Latin-1 becomes its UTF-8
  };
  std::string bytes = header();
  for (const Case& c : cases) {
    Line l = run(0);
    l.serial = c.serial;
    l.verdict = "Fail(" + c.failCode + ")";
    bytes += runLine(l);
  }
  // Numbers that no real column holds: no value, but the run is there.
  Line odd = run(1);
  odd.acq = "1e-45";
  odd.offset = "3.3e38";
  odd.drift = "1e39";
  odd.cnr = "nan";
  odd.sigma = "-0";
  append(bytes + runLine(odd));
  ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
  EXPECT_EQ(column("SELECT concat_ws(' ', acq_time, tcxo_offset, tcxo_drift, cnr_mean, cnr_sigma) "
                   "FROM runs ORDER BY line_number DESC LIMIT 1"),
            std::vector<std::string>{"3.3e+38 -0"});

  const auto serials = column("SELECT serial_number FROM runs ORDER BY line_number");
  const auto codes = column("SELECT fail_code FROM runs ORDER BY line_number");
  const auto lines = sentLines();
  auto fileLines = wholeLines(bytes);
  ASSERT_EQ(serials.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const bool latin1 = !c.storedSerial.empty();
    EXPECT_EQ(serials[i], latin1 ? c.storedSerial : c.serial);
    EXPECT_EQ(codes[i], c.failCode);
    if (!latin1) {
      EXPECT_EQ(lines[i], fileLines[i + 1]);
    }
  }
  EXPECT_EQ(count("SELECT count(*) FROM sync_progress"), 1);
}

TEST_F(SyncServer, LinesThatAreNotRunsAreCountedToldAndSkipped) {
  Line bad = run(9);
  bad.date = "2024-02-30";
  append(header() + runLine(run(0)) + "garbage\r\n" + "a,b,c\r\n" + runLine(run(1)) +
         "x,Passed" + runLine(run(2)).substr(5) + runLine(bad) +
         runLine(run(3)).insert(4, std::string(1, '\0')) + runLine(run(4)));
  // A file that is not the station's at all.
  append("Date,Value\r\n2024-03-04,5\r\n", "Test_Log_2024.3.5.csv");
  ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
  EXPECT_EQ(count("SELECT count(*) FROM runs"), 3);
  EXPECT_EQ(count("SELECT skipped_lines FROM sync_progress WHERE log_file = $1", {LogName}), 5);
  EXPECT_EQ(count("SELECT skipped_lines FROM sync_progress WHERE log_file = 'Test_Log_2024.3.5.csv'"), 2);
  for (const char* told : {"line 3 skipped", "line 4 skipped", "line 6 skipped", "line 7 skipped",
                           "line 8 skipped", "Test_Log_2024.3.5.csv line 1 skipped"})
    EXPECT_NE(errors_.find(told), std::string::npos) << told << "\n" << errors_;
}

TEST_F(SyncServer, ALogEditedAfterItWasSentIsToldAndNeverSentAgain) {
  struct Case {
    const char* name;
    std::function<std::string(const std::string&)> edit;
    const char* told;
  };
  const Case cases[] = {
      {"cut short", [](const std::string& b) { return b.substr(0, b.size() - 30); }, "is shorter"},
      {"new first line",
       [](const std::string& b) { return "SerialNo" + b.substr(8, 1) + "x" + b.substr(10); },
       "has another first line"},
      {"last sent line changed",
       [](const std::string& b) { return b.substr(0, b.size() - 4) + "51\r\n"; }, "has another line 4"},
      {"replaced by a longer log",
       [](const std::string& b) { return b.substr(0, b.size() - 10) + runs(10, 20); },
       "has another line 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    upgradeSchema(db());
    db().exec("TRUNCATE runs, sync_progress");
    const std::string sent = header() + runs(0, 3);
    station_.write(LogName, sent);
    ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
    station_.write(LogName, c.edit(sent));
    ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
    EXPECT_NE(errors_.find(std::string(LogName) + " " + c.told), std::string::npos) << errors_;
    EXPECT_NE(errors_.find("Nothing more is sent from it"), std::string::npos);
    append(runs(3, 5));  // the station goes on writing into the edited file
    ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
    const auto sentOnce = wholeLines(sent);
    EXPECT_EQ(sentLines(), std::vector<std::string>(sentOnce.begin() + 1, sentOnce.end()));
  }
}

TEST_F(SyncServer, ServerCrashedMidBatchAndBackLosesAndDoublesNothing) {
  const int total = 40000;
  append(header() + runs(0, total));
  SyncProcess sync(args("A", station_.path()), work_ / "stderr");
  ASSERT_TRUE(waitUntil([&] { return rows() > 0; }));
  db_.reset();
  ASSERT_TRUE(server_->crash());
  append(runs(total, total + 100));  // the station goes on testing
  ASSERT_TRUE(waitUntil([&] { return sync.errors().find("unreachable") != std::string::npos; }));
  ASSERT_TRUE(server_->start()) << server_->serverLog();
  EXPECT_TRUE(waitUntil([&] { return rows() == total + 100; }));
  sync.signal(SIGTERM);
  EXPECT_EQ(sync.wait(), 0);
  auto expected = wholeLines(station_.read(LogName));
  expected.erase(expected.begin());
  EXPECT_EQ(sentLines(), expected);
  const std::string told = sync.errors();
  EXPECT_EQ(told.find("unreachable"), told.rfind("unreachable")) << told;
  EXPECT_NE(told.find("database reachable again"), std::string::npos) << told;
}

TEST_F(SyncServer, DatabaseDownAtStartIsWaitedFor) {
  append(header() + runs(0, 10));
  db_.reset();
  ASSERT_TRUE(server_->crash());
  EXPECT_EQ(sendOnce(station_.path()), 1);
  EXPECT_NE(errors_.find("database unreachable"), std::string::npos) << errors_;

  SyncProcess sync(args("A", station_.path()), work_ / "stderr");
  ASSERT_TRUE(waitUntil([&] { return sync.errors().find("unreachable") != std::string::npos; }));
  ASSERT_TRUE(server_->start());
  EXPECT_TRUE(waitUntil([&] { return rows() == 10; }));
  // Followed from here on: a new line arrives without another start.
  append(runs(10, 11));
  EXPECT_TRUE(waitUntil([&] { return rows() == 11; }));
  sync.signal(SIGINT);
  EXPECT_EQ(sync.wait(), 0);
}

TEST_F(SyncServer, RefusalsAreToldInTheServersWordsAndRetriedUntilTheyEnd) {
  append(header() + runs(0, 5));
  db().exec("CREATE ROLE clerk LOGIN");
  const std::string asClerk = conninfo_ + " user=clerk";
  struct Case {
    std::string conninfo, told;
  };
  const Case cases[] = {
      {asClerk, "database refused: ERROR:  permission denied for schema public"},
      {conninfo_ + " dbname=nowhere", "database refused: connection to server on socket"},
      {conninfo_ + " user=nobody", "role \"nobody\" does not exist"},
  };
  for (const Case& c : cases) {
    SyncProcess once({"--once", "--station", "A", "--db", c.conninfo, station_.path().string()},
                     work_ / "stderr");
    EXPECT_EQ(once.wait(), 1);
    EXPECT_NE(once.errors().find(c.told), std::string::npos) << once.errors();
    EXPECT_EQ(once.errors().find("unreachable"), std::string::npos) << once.errors();
  }

  // Following: told once, retried, and the runs go in when the privilege comes.
  SyncProcess sync({"--station", "A", "--db", asClerk, station_.path().string()}, work_ / "stderr");
  ASSERT_TRUE(waitUntil([&] { return sync.errors().find("permission denied") != std::string::npos; }));
  db().exec(("GRANT CREATE ON SCHEMA public TO clerk"));
  EXPECT_TRUE(waitUntil([&] { return rows() == 5; }));
  sync.signal(SIGTERM);
  EXPECT_EQ(sync.wait(), 0);
  const std::string told = sync.errors();
  EXPECT_EQ(told.find("permission denied"), told.rfind("permission denied")) << told;
  EXPECT_NE(told.find("database reachable again"), std::string::npos) << told;
}

TEST_F(SyncServer, KilledAtRandomMomentsOverManyRoundsLosesAndDoublesNothing) {
  std::mt19937 random(19);
  append(header());
  int lines = 0;
  for (int round = 0; round < 40; ++round) {
    const int more = 1 + static_cast<int>(random() % 3000);
    append(runs(lines, lines + more));
    lines += more;
    SyncProcess sync(args("A", station_.path()), work_ / "stderr");
    // A random moment: before connecting, inside a transaction, at its commit, or idle.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 400000));
    sync.signal(SIGKILL);
    sync.wait();
  }
  ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
  auto expected = wholeLines(station_.read(LogName));
  expected.erase(expected.begin());
  EXPECT_EQ(sentLines(), expected);
  EXPECT_EQ(count("SELECT count(*) FROM runs"), lines);
}

TEST_F(SyncServer, UpgradingAnOlderSchemaKeepsItsRows) {
  PgConnection old(conninfo_);
  EXPECT_EQ(upgradeSchema(old, 1), 0);
  append(header() + runs(0, 4));
  // What an older quenby-sync sent, under the older schema.
  old.exec("INSERT INTO runs (station, log_file, line_number, csv_line, serial_number, verdict, "
           "fail_code, socket, port, log_date, log_time, tested_at) VALUES ('OLD', "
           "'Test_Log_2024.3.1.csv', 2, 'x', 'QNB1', 'Pass', '', '', 3, '2024-03-01', '10:00:00', "
           "'2024-03-01 10:00:00+00')");
  ASSERT_EQ(sendOnce(station_.path()), 0) << errors_;
  EXPECT_EQ(count("SELECT version FROM schema_version"), LatestSchemaVersion);
  EXPECT_EQ(count("SELECT count(*) FROM runs"), 5);
  EXPECT_EQ(count("SELECT sum(runs) FROM run_summary"), 5);
  EXPECT_EQ(count("SELECT runs FROM run_summary WHERE station = 'OLD' AND port = 3 AND hour = 10"), 1);
  EXPECT_EQ(count("SELECT sum(runs) FROM serial_summary"), 5);
  EXPECT_EQ(upgradeSchema(old), LatestSchemaVersion);  // already there: nothing runs again
}

TEST_F(SyncServer, HistoryListsASerialsRunsAcrossTheLine) {
  quenby::testing::TempFolder second;
  Line failed = run(0), passed = run(0);
  failed.serial = passed.serial = "QNB42";
  failed.verdict = "Fail(CNR)";
  failed.port = "COM2";
  passed.time = "11:30:00";
  passed.port = "COM5";
  append(header() + runLine(failed) + runLine(run(1)));
  std::ofstream(second.path() / LogName, std::ios::binary) << header() << runLine(passed);
  ASSERT_EQ(sendOnce(station_.path(), "station-2"), 0) << errors_;
  ASSERT_EQ(sendOnce(second.path(), "station-5"), 0) << errors_;

  SyncProcess history({"--db", conninfo_, "--history", "QNB42"}, work_ / "err", work_ / "out");
  EXPECT_EQ(history.wait(), 0) << history.errors();
  EXPECT_EQ(work_.read("out"),
            "station\tport\ttime\tverdict\tfail code\n"
            "station-2\tCOM2\t2024-03-04 08:00:00+00\tFail\tCNR\n"
            "station-5\tCOM5\t2024-03-04 09:30:00+00\tPass\t\n");
  SyncProcess unknown({"--db", conninfo_, "--history", "QNB43"}, work_ / "err", work_ / "out");
  EXPECT_EQ(unknown.wait(), 1);
}

}  // namespace
}  // namespace quenby::sync::testing
