// The parts of quenby-sync that need no server: COPY text, local times with their UTC offset,
// the command line, and the pause between tries.
#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "tools/report/civil_date.h"
#include "tools/sync/retry_pause.h"
#include "tools/sync/run_row.h"
#include "tools/sync/sync_options.h"

namespace quenby::sync {
namespace {

TEST(CopyText, EscapesWhatCopyReadsAndKeepsTheRest) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"a\\b\tc\nd\re", "a\\\\b\\tc\\nd\\re"},
      {"\\N", "\\\\N"},
      {"\\.", "\\\\."},
      {"'; DROP TABLE runs; --", "'; DROP TABLE runs; --"},
      {"\x01\x1b[0m", "\x01\x1b[0m"},
      {"M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x98\x80", "M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"Caf\xe9", "Caf\xc3\xa9"},                   // not UTF-8: Latin-1
      {"\xc3", "\xc3\x83"},                         // a cut sequence
      {"\xc0\xaf", "\xc3\x80\xc2\xaf"},             // an overlong form
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},  // a surrogate
  };
  for (const Case& c : cases) {
    std::string out;
    appendCopyText(out, c.in);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(StationInstant, CarriesTheOffsetOfTheStationsZoneOnThatDay) {
  struct Case {
    const char* zone;
    const char* date;
    int second;
    const char* instant;
  };
  const Case cases[] = {
      {"UTC0", "2024-03-04", 0, "2024-03-04 00:00:00+00:00"},
      {"QNB-2", "2024-03-04", 36000, "2024-03-04 10:00:00+02:00"},
      {"QNB+5:30", "2024-12-31", 86399, "2024-12-31 23:59:59-05:30"},
      // Central European time: winter and summer.
      {"CET-1CEST,M3.5.0,M10.5.0/3", "2024-01-15", 43200, "2024-01-15 12:00:00+01:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", "2024-07-15", 43200, "2024-07-15 12:00:00+02:00"},
  };
  const char* saved = std::getenv("TZ");
  const std::string before = saved ? saved : "";
  for (const Case& c : cases) {
    ::setenv("TZ", c.zone, 1);
    ::tzset();
    EXPECT_EQ(stationInstant(*report::parseDate(c.date), c.second), c.instant) << c.zone;
  }
  if (saved)
    ::setenv("TZ", before.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(SyncOptions, ParsesTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
    std::string station, conninfo, folder, history;
    bool once;
  };
  const Case cases[] = {
      {{}, "", "", "", "", "", false},
      {{"--station", "S1", "--db", "service=line", "--once", "/opt/quenby"}, "", "S1",
       "service=line", "/opt/quenby", "", true},
      {{"--history", "QNB 1"}, "", "", "", "", "QNB 1", false},
      {{"--db", "postgresql:///line", "--history", "X"}, "", "", "postgresql:///line", "", "X", false},
      {{"--station"}, "--station needs a value", "", "", "", "", false},
      {{"--station", ""}, "--station needs a name", "", "", "", "", false},
      {{"--password", "x"}, "unknown option --password", "", "", "", "", false},
      {{"a", "b"}, "one station folder only", "", "", "", "", false},
      {{"--history", "X", "--once"}, "--history takes no station, folder or --once", "", "", "", "", false},
  };
  for (const Case& c : cases) {
    const ParsedSyncOptions p = parseSyncOptions(c.args);
    EXPECT_EQ(p.error, c.error);
    if (!c.error.empty()) continue;
    ASSERT_TRUE(p.options);
    EXPECT_EQ(p.options->station, c.station);
    EXPECT_EQ(p.options->conninfo, c.conninfo);
    EXPECT_EQ(p.options->folder.value_or("").string(), c.folder);
    EXPECT_EQ(p.options->history.value_or(""), c.history);
    EXPECT_EQ(p.options->once, c.once);
  }
}

TEST(RetryPause, DoublesUpToHalfAMinuteAndStartsAgainAfterASuccess) {
  RetryPause pause;
  std::vector<int> pauses;
  for (int i = 0; i < 9; ++i) pauses.push_back(pause.next());
  EXPECT_EQ(pauses, (std::vector<int>{500, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
  pause.reset();
  EXPECT_EQ(pause.next(), 500);
}

}  // namespace
}  // namespace quenby::sync
