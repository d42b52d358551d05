#include "tools/report/log_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "fakes/temp_folder.h"
#include "report/log_lines.h"
#include "tools/report/civil_date.h"

namespace quenby::report {
namespace {

using testing::Line;
using testing::header;
using testing::runLine;

struct Problem {
  std::uint64_t line;
  LineProblem problem;
  bool operator==(const Problem&) const = default;
};

struct ReadResult {
  std::vector<std::string> serials;  // of the runs handed over, in order
  std::vector<Problem> problems;
};

ReadResult read(const std::string& bytes) {
  ReadResult result;
  RejectedLines rejected;
  LogReader reader(rejected, [&](const LoggedRun& run) { result.serials.emplace_back(run.serial); });
  reader.readBytes("Test_Log_2024.3.4.csv", bytes);
  for (const auto& r : rejected.listed()) result.problems.push_back({r.line, r.problem});
  EXPECT_EQ(rejected.total(), result.problems.size());
  return result;
}

std::string withBluetoothColumn(std::string line) {
  // BT_Mac sits between CTTFF and Reset: after the 18th field.
  std::size_t pos = 0;
  for (int commas = 0; commas < 18; ++pos)
    if (line[pos] == '"') pos = line.find('"', pos + 1);
    else if (line[pos] == ',') ++commas;
  return line.insert(pos, "0011223344AA,");
}

TEST(LogReader, ReadsRunLinesAndListsEveryOtherLineWithItsProblem) {
  const std::string a = runLine({.serial = "A"}), b = runLine({.serial = "B"});
  std::string shortLine = runLine({.serial = "S"});
  shortLine.erase(shortLine.rfind(','), std::string::npos).append("\r\n");
  std::string torn = runLine({.serial = "T"});
  torn.resize(torn.size() - 10);
  const std::string btHeader = TestLog::headerLine(item::OfferedItems | item::BluetoothMac);

  struct Case {
    const char* what;
    std::string bytes;
    ReadResult expected;
  } cases[] = {
      {"station header and runs, CRLF or LF", header() + a + "\n\r\n" + b.substr(0, b.size() - 2) + "\n",
       {{"A", "B"}, {}}},
      {"a torn last line", header() + a + torn, {{"A"}, {{3, LineProblem::TornLine}}}},
      {"a line short of a field", header() + shortLine + b, {{"B"}, {{2, LineProblem::FieldCount}}}},
      {"a foreign header, station lines after it",
       "Date;Result;Value\r\n" + a + b, {{"A", "B"}, {{1, LineProblem::ForeignHeader}}}},
      {"no header at all", a + b, {{"A", "B"}, {}}},
      {"the Bluetooth header: one field more",
       btHeader + withBluetoothColumn(a) + b, {{"A"}, {{3, LineProblem::FieldCount}}}},
      {"two logs one after the other", header() + a + btHeader + withBluetoothColumn(b), {{"A", "B"}, {}}},
      {"no verdict, an impossible date, a bad time",
       header() + runLine({.serial = "V", .verdict = "Passed"}) + runLine({.serial = "D", .date = "2024-02-30"}) +
           runLine({.serial = "H", .time = "24:00:00"}) + a,
       {{"A"}, {{2, LineProblem::NotARun}, {3, LineProblem::BadDateTime}, {4, LineProblem::BadDateTime}}}},
      {"a stray quote spoils only its own line",
       header() + runLine({.serial = "\"Q", .acq = "3\"x"}) + a, {{"A"}, {{2, LineProblem::FieldCount}}}},
      {"an overlong line", header() + std::string(LogReader::MaxLineBytes + 5, 'x') + "\r\n" + a,
       {{"A"}, {{2, LineProblem::Overlong}}}},
      {"binary noise", header() + std::string("\0\x01\xff,\x02\r\n", 7) + a, {{"A"}, {{2, LineProblem::FieldCount}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ReadResult r = read(c.bytes);
    EXPECT_EQ(r.serials, c.expected.serials);
    EXPECT_EQ(r.problems, c.expected.problems);
  }
}

TEST(LogReader, DecodesTheWholeRun) {
  const std::string bytes =
      header() + runLine({.serial = "QZ1", .verdict = "Fail(CNR)", .port = "COM12", .time = "13:05:09",
                          .acq = "Timeout(10)", .offset = "-3.500", .cnr = "38.5", .ttff = "nan"}) +
      runLine({.serial = "", .verdict = "Fail(Abort)", .port = "N/A"});
  std::vector<LoggedRun> runs;
  RejectedLines rejected;
  LogReader reader(rejected, [&](const LoggedRun& r) { runs.push_back(r); runs.back().serial = {}; });
  reader.readBytes("log.csv", bytes);
  ASSERT_EQ(runs.size(), 2u);
  const LoggedRun& r = runs[0];
  EXPECT_EQ(r.day, *parseDate("2024-03-04"));
  EXPECT_EQ(r.second, 13 * 3600 + 5 * 60 + 9);
  EXPECT_EQ(r.port, 12);
  EXPECT_EQ(r.verdict, Verdict::Fail);
  using K = MeasureValue::Kind;
  const std::pair<K, float> expected[MeasureCount] = {
      {K::Timeout, 0}, {K::Number, 2}, {K::Number, 0.95f}, {K::Number, -3.5f}, {K::Number, -0.1f},
      {K::Number, 38.5f}, {K::Number, 0.5f}, {K::None, 0}, {K::Number, 1}, {K::Number, 50}};
  for (std::size_t m = 0; m < MeasureCount; ++m) {
    EXPECT_EQ(r.values[m].kind, expected[m].first) << Measures[m].title;
    EXPECT_FLOAT_EQ(r.values[m].value, expected[m].second) << Measures[m].title;
  }
  EXPECT_EQ(runs[1].verdict, Verdict::Abort);
  EXPECT_EQ(runs[1].port, 0);
}

TEST(LogReader, FilesLargerThanOneReadAreReadWholeAndMissingOnesAreListed) {
  quenby::testing::TempFolder folder;
  std::string bytes = header();
  const int lines = 12000;  // about 2.4 MB: lines cross the reads' boundaries
  for (int i = 0; i < lines; ++i) bytes += runLine({.serial = "QZ" + std::to_string(i)});
  bytes += std::string(LogReader::MaxLineBytes * 3, 'y') + "\n" + runLine({.serial = "last"});
  folder.write("Test_Log_2024.3.4.csv", bytes);

  std::vector<std::string> serials;
  RejectedLines rejected;
  LogReader reader(rejected, [&](const LoggedRun& r) { serials.emplace_back(r.serial); });
  EXPECT_TRUE(reader.readFile(folder / "Test_Log_2024.3.4.csv"));
  ASSERT_EQ(serials.size(), lines + 1u);
  for (int i = 0; i < lines; ++i) ASSERT_EQ(serials[i], "QZ" + std::to_string(i));
  EXPECT_EQ(serials.back(), "last");
  ASSERT_EQ(rejected.total(), 1u);
  EXPECT_EQ(rejected.listed()[0].line, lines + 2u);
  EXPECT_EQ(rejected.listed()[0].problem, LineProblem::Overlong);

  EXPECT_FALSE(reader.readFile(folder / "Test_Log_2024.3.5.csv"));
  EXPECT_EQ(rejected.count(LineProblem::Unreadable), 1u);
}

TEST(LogReader, AGrowingFileReadInPiecesGivesWhatItGivesReadWhole) {
  const std::string btHeader = TestLog::headerLine(item::OfferedItems | item::BluetoothMac);
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"station header", header() + runLine({.serial = "A"}) + "junk\r\n\r\n" + runLine({.serial = "B"})},
      {"BT_Mac header", btHeader + withBluetoothColumn(runLine({.serial = "C"})) +
                            withBluetoothColumn(runLine({.serial = "D"}))},
      {"foreign first line", "Date,Value\r\n" + runLine({.serial = "E"}) + runLine({.serial = "F"})},
  };
  for (const Case& c : cases) {
    const ReadResult whole = read(c.bytes);
    // Split after every line end in turn; a piece's unfinished line is read with the next one.
    for (std::size_t cut = 0; (cut = c.bytes.find('\n', cut)) != std::string::npos; ++cut) {
      ReadResult pieces;
      RejectedLines rejected;
      LogReader reader(rejected, [&](const LoggedRun& run) {
        pieces.serials.emplace_back(run.serial);
        // The run knows its line: number and text as in the file.
        std::size_t start = 0;
        for (std::uint64_t n = 1; n < run.lineNumber; ++n) start = c.bytes.find('\n', start) + 1;
        EXPECT_EQ(std::string(run.text) + "\r\n", c.bytes.substr(start, run.text.size() + 2));
      });
      LogReader::Place place;
      reader.readLines("Test_Log_2024.3.4.csv", c.bytes.substr(0, cut + 1) + "a line still being wri", place);
      reader.readLines("Test_Log_2024.3.4.csv", c.bytes.substr(cut + 1), place);
      for (const auto& r : rejected.listed()) pieces.problems.push_back({r.line, r.problem});
      EXPECT_EQ(pieces.serials, whole.serials) << c.what << ", cut after byte " << cut;
      EXPECT_EQ(pieces.problems, whole.problems) << c.what << ", cut after byte " << cut;
    }
  }
}

}  // namespace
}  // namespace quenby::report
