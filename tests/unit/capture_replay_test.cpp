// Real receivers' output replayed through the text assembler and the sentence parser, in one read
// and in reads of every small size. The satellite table at each chart refresh is compared with a
// checked-in expectation (<capture>.chk, one line per refresh). QUENBY_REGENERATE=1 rewrites the
// expectations from a one-read replay; review them against the capture before checking them in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/port_view.h"
#include "engine/sentence_parser.h"
#include "engine/text_assembler.h"
#include "tests/fakes/worker_harness.h"

namespace quenby {
namespace {

using testing::ScriptedModule;
using testing::WorkerHarness;

const std::filesystem::path CaptureDir = std::filesystem::path(QUENBY_TEST_DATA_DIR) / "captures";

// The module's lines of a capture (comments and blank lines left out).
std::vector<std::string> captureLines(const std::string& name) {
  std::ifstream in(CaptureDir / (name + ".log"));
  EXPECT_TRUE(in) << name;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  return lines;
}

// The lines as a module sends them: each ended by CR LF.
std::string moduleStream(const std::vector<std::string>& lines) {
  std::string stream;
  for (const std::string& line : lines) stream += line + "\r\n";
  return stream;
}

// The start of the sentence a module sends next: the parser sees a sentence once the next one
// begins, so this releases the capture's last line.
const std::string kNextSentence = "$GPGGA,";

std::string tableLine(const SatelliteTable& table) {
  std::string line;
  for (const Satellite& s : table) {
    if (!line.empty()) line += ' ';
    line += std::to_string(s.id) + ":" + std::to_string(s.snr);
  }
  return line;
}

// A port window that keeps every chart it is shown and the memo, in order.
class ChartLog final : public PortView {
 public:
  std::vector<std::string> events;  // "chart <table line>" or the memo line

  std::vector<std::string> charts() const {
    std::vector<std::string> out;
    for (const std::string& e : events)
      if (e.starts_with("chart ")) out.push_back(e.substr(6));
    return out;
  }

  void resetForRun() override {}
  void appendLine(const std::string& line) override { events.push_back(line); }
  void setGaugeColorAndProgress(std::uint32_t, int) override {}
  void setGaugeProgress(int) override {}
  void showFirmwareVersion(const std::string&) override {}
  void showBluetoothMac(const std::string&) override {}
  void showSatellites(const SatelliteTable& table) override {
    events.push_back("chart " + tableLine(table));
  }
  void showVerdict(bool) override {}
  std::string caption() const override { return "COM 3"; }
  void setCaption(const std::string&) override {}
  std::string serialNumberText() const override { return {}; }
  std::string socketText() const override { return {}; }
  void clearSerialNumber() override {}
  void setEntriesEnabled(bool) override {}
};

// A worker in a run waiting for its first fix (Cold Start TTFF armed), fed by reads. Bluetooth
// Mac Address, which only its own reply ends, keeps the run open after the fix, so that the whole
// capture is parsed.
struct Replay {
  Replay() {
    h.settings.enableTest = item::ColdStartTtff | item::BluetoothMac;
    worker = std::make_unique<PortWorker>(h.station, 3, std::make_unique<ScriptedModule>(h.clock),
                                          view, h.bridge, h.clock);
    worker->startRun();
    worker->record().ttffArmed = true;
  }

  // The stream in reads of at most readSize bytes, each handled as the run loop does.
  void feed(std::string_view stream, std::size_t readSize) {
    for (std::size_t at = 0; at < stream.size(); at += readSize) {
      const std::string_view chunk = stream.substr(at, readSize);
      chunkHasStartupMessage(worker->record(), chunk);
      assembleWorkText(worker->record(), chunk);
      parseWorkText(*worker);
    }
  }

  WorkerHarness h;
  ChartLog view;
  std::unique_ptr<PortWorker> worker;
};

std::vector<std::size_t> readSizes() {
  std::vector<std::size_t> sizes;
  for (std::size_t n = 1; n <= 64; ++n) sizes.push_back(n);
  for (std::size_t n : {100u, 333u, 1000u, 2048u}) sizes.push_back(n);
  sizes.push_back(ReadChunkMax);  // the largest read: the whole capture or most of it
  return sizes;
}

std::vector<std::string> readExpectation(const std::string& name) {
  std::ifstream in(CaptureDir / (name + ".chk"));
  EXPECT_TRUE(in) << name << ".chk missing; run with QUENBY_REGENERATE=1 and review it";
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void writeExpectation(const std::string& name, const std::vector<std::string>& charts) {
  std::ofstream out(CaptureDir / (name + ".chk"), std::ios::trunc);
  for (const std::string& line : charts) out << line << '\n';
}

class CaptureReplayCharts : public ::testing::TestWithParam<const char*> {};

TEST_P(CaptureReplayCharts, ChartsMatchTheExpectationInEveryReadSize) {
  const std::string name = GetParam();
  const std::string stream = moduleStream(captureLines(name)) + kNextSentence;

  const char* regenerate = std::getenv("QUENBY_REGENERATE");
  if (regenerate && std::string_view(regenerate) == "1") {
    Replay replay;
    replay.feed(stream, ReadChunkMax);
    writeExpectation(name, replay.view.charts());
  }
  const std::vector<std::string> expected = readExpectation(name);

  for (std::size_t size : readSizes()) {
    Replay replay;
    replay.feed(stream, size);
    EXPECT_EQ(replay.view.charts(), expected) << name << " in reads of " << size;
  }
}

INSTANTIATE_TEST_SUITE_P(CaptureReplay, CaptureReplayCharts,
                         ::testing::Values("mt3329-stream", "mtk-stream", "corrupted-gsv",
                                           "lowercase-checksums"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

// The cold start of the MT3329 capture: three RMC with status V, then the first fix, which
// passes Cold Start TTFF after the third chart; later fixes change nothing.
TEST(CaptureReplayFirstFix, ColdStartPassesAtTheFirstFix) {
  const std::string stream = moduleStream(captureLines("mt3329-stream"));
  for (std::size_t size : readSizes()) {
    Replay replay;
    replay.feed(stream, size);
    std::vector<std::string> order;
    for (const std::string& e : replay.view.events)
      order.push_back(e.starts_with("chart ") ? "chart" : e);
    ASSERT_GE(order.size(), 4u) << "reads of " << size;
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 4),
              (std::vector<std::string>{"chart", "chart", "chart",
                                        "     Pass!!   Cold Start TTFF : 0"}))
        << "reads of " << size;
    EXPECT_EQ(std::count(order.begin(), order.end(), "chart"),
              static_cast<std::ptrdiff_t>(order.size() - 1))
        << "reads of " << size;
  }
}

// The GSV sentence with a wrong checksum (the third message of a cycle) is dropped: right after
// it, the table holds only the cycle's first two messages, and the cycle never reaches the chart.
TEST(CaptureReplayCorrupted, BadGsvIsNeverStored) {
  const std::vector<std::string> lines = captureLines("corrupted-gsv");
  const auto bad = std::find(lines.begin(), lines.end(),
                             "$GPGSV,3,3,11,24,51,098,,110,50,31,60,230,46*4B");
  ASSERT_NE(bad, lines.end());
  const std::string stream = moduleStream(std::vector<std::string>(lines.begin(), bad + 1));

  const SatelliteTable firstTwoMessages{{{1, 34}, {5, 42}, {6, 50}, {7, 47},
                                         {10, 40}, {16, 48}, {21, 53}, {23, 51}}};
  for (std::size_t size : readSizes()) {
    Replay replay;
    replay.feed(stream, size);
    EXPECT_EQ(replay.worker->record().satellites, firstTwoMessages) << "reads of " << size;
    EXPECT_EQ(replay.view.charts().size(), 3u) << "reads of " << size;
  }
}

// Sentences whose checksum digits are lower case are dropped: of the 21 fixes in the capture,
// only the 9 whose checksum has no letter pass Cold Start TTFF when each is the first fix seen.
TEST(CaptureReplayLowerCase, OnlyUpperCaseChecksumsCount) {
  int fixes = 0;
  int passes = 0;
  for (const std::string& line : captureLines("lowercase-checksums")) {
    if (line.find(",A,") == std::string::npos || !line.starts_with("$GPRMC")) continue;
    ++fixes;
    Replay replay;
    replay.feed(line + "\r\n" + kNextSentence, ReadChunkMax);
    passes += replay.worker->record().results.coldStartTtff.recorded ? 1 : 0;
  }
  EXPECT_EQ(fixes, 21);
  EXPECT_EQ(passes, 9);
}

}  // namespace
}  // namespace quenby
