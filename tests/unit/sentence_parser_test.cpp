#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/nmea_sentence.h"
#include "engine/sentence_parser.h"
#include "tests/fakes/worker_harness.h"

namespace quenby {
namespace {

using testing::WorkerHarness;

// The verdict word before a parse: a value no verdict writes, so "no verdict" shows.
constexpr std::uint32_t NoVerdict = 7;

// What a parse leaves behind: the stored results (each verdict hand-off marks its slot
// recorded), the verdict word, the test-item set and the number of memo lines written.
struct Outcome {
  ItemResults results;
  std::uint32_t verdictWord = NoVerdict;
  std::uint32_t testItems = 0;
  std::size_t memoLines = 0;
  bool operator==(const Outcome&) const = default;
};

void printSlot(std::ostream& os, const char* name, const ItemSlot& s) {
  if (s != ItemSlot{}) os << ' ' << name << (s.recorded ? "+" : "-") << '"' << s.value << '"';
}
void printSlot(std::ostream& os, const char* name, const PairSlot& s) {
  if (s != PairSlot{})
    os << ' ' << name << (s.recorded ? "+" : "-") << '"' << s.first << "\",\"" << s.second << '"';
}

void PrintTo(const Outcome& o, std::ostream* os) {
  const ItemResults& r = o.results;
  *os << "{word " << o.verdictWord << ", items 0x" << std::hex << o.testItems << std::dec
      << ", memo " << o.memoLines << ',';
  printSlot(*os, "version", r.firmwareVersion);
  printSlot(*os, "nmea", r.nmeaType);
  printSlot(*os, "acq", r.acquisitionTime);
  printSlot(*os, "bitsync", r.bitSyncTime);
  printSlot(*os, "phase", r.phase);
  printSlot(*os, "tcxo", r.tcxo);
  printSlot(*os, "cnr", r.cnr);
  printSlot(*os, "ttff", r.coldStartTtff);
  printSlot(*os, "bt", r.bluetoothMac);
  if (r.updateHz != UpdateHzSlot{})
    *os << " hz" << (r.updateHz.recorded ? "+" : "-") << r.updateHz.rate;
  *os << '}';
}

// "$" + body + "*" + checksum + CR LF.
std::string sentence(std::string_view body) { return frameSentence(body); }

// The same sentence with its checksum digits in lower case.
std::string lowerCaseSum(std::string framed) {
  const std::size_t star = framed.find('*');
  bool changed = false;
  for (std::size_t i = star + 1; i < star + 3; ++i) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(framed[i])));
    changed |= lower != framed[i];
    framed[i] = lower;
  }
  EXPECT_TRUE(changed) << framed;
  return framed;
}

SatelliteTable tableOf(std::initializer_list<Satellite> entries) {
  SatelliteTable table{};
  std::copy(entries.begin(), entries.end(), table.begin());
  return table;
}

class SentenceParser : public ::testing::Test {
 protected:
  SentenceParser() {
    TestSettings& s = h.settings;
    s.enableTest = item::FirmwareVersion;
    s.updateHz = 5.0f;
    s.svId = 12;
    s.acqTimeTimeout = 60;
    s.signalPhaseRatio = 0.85f;
    s.signalTcxoOffset = 40.92f;
    s.signalTcxoDrift = 0.8184f;
    s.signalCnrThreshold = 40.0f;
    s.signalCnrDev = 1.0f;
    s.versionMtk = "AXN_1.30";
    s.versionCustomer = "0000";
    s.versionProductModel = "QB-01";
    s.versionSdkVer = "SDK2";
    s.nmeaFreqGll = s.nmeaFreqRmc = s.nmeaFreqVtg = s.nmeaFreqGga = s.nmeaFreqGsa =
        s.nmeaFreqGsv = 1;
    s.nmeaFreqZda = s.nmeaFreqMchn = 0;
    restart();
  }

  // A new run with the current settings, then the chosen items still to do (by default one that
  // no GSV or RMC rule looks at: the run is open, nothing is current).
  void restart(std::uint32_t items = item::BluetoothMac, bool ttffArmed = false) {
    h.worker->startRun();
    h.view.memo.clear();
    h.view.chartRefreshes = 0;
    record().testItems.store(items);
    record().ttffArmed = ttffArmed;
    record().verdictWord.store(NoVerdict);
  }

  WorkerRecord& record() { return h.worker->record(); }

  // The parser over this work text (as the assembler leaves it: whole sentences).
  void parse(std::string_view text) {
    auto& work = record().workText;
    ASSERT_LT(text.size(), work.bytes.size());
    std::memcpy(work.bytes.data(), text.data(), text.size());
    work.bytes[text.size()] = '\0';
    work.length = text.size();
    parseWorkText(*h.worker);
  }

  Outcome outcome() {
    return {record().results, record().verdictWord.load(), record().testItems.load(),
            h.view.memo.size()};
  }

  WorkerHarness h;
};

// ---- Checksum gate and cutting ------------------------------------------------------------

TEST_F(SentenceParser, SentencesFailingTheChecksumChangeNothing) {
  const std::uint32_t items =
      item::NmeaType | item::UpdateHz | item::SignalQuality | item::AcquisitionTime;
  const std::string rejected[] = {
      lowerCaseSum(sentence("PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0")),
      "$PMTK813*39\r\n",  // wrong sum
      "$PMTK813\r\n",     // no sum
      "$PMTK592,0A1B2C3D4E5F*17\r\n",
      "$PMTK500,200,0,0,0,0*28\r\n",
      "$GPGSV,1,1,01,05,40,100,40*4D\r\n",
      lowerCaseSum(sentence("PMTK815,1,2,85,100,100,4100,50")),
  };
  for (const std::string& text : rejected) {
    restart(items);
    record().satellites[3] = {99, 99};
    parse(text);
    EXPECT_EQ(outcome(), (Outcome{{}, NoVerdict, items, 0})) << text;
    EXPECT_EQ(record().satellites, tableOf({{}, {}, {}, {99, 99}})) << text;
    EXPECT_EQ(h.view.chartRefreshes, 0) << text;
  }
}

TEST_F(SentenceParser, UnknownSentencesAreIgnored) {
  const std::string ignored[] = {
      sentence("PMTK001,604,3"),  // acknowledgement
      sentence("PMTK010,001"),    // start-up message
      sentence("PMTK81"),         // shorter than any reply name
      sentence("GPGGA,145243.000,3401.9764,N"),
      sentence("GPRMC"),
      sentence("GLGSV,1,1,01,05,40,100,40"),
      sentence("GLRMC,071736.000,A,4404.1316,N"),
      sentence("XPMTK813"),
  };
  for (const std::string& text : ignored) {
    restart(item::ColdStartTtff, true);
    parse(text);
    EXPECT_EQ(outcome(), (Outcome{{}, NoVerdict, item::ColdStartTtff, 0})) << text;
    EXPECT_EQ(record().satellites, SatelliteTable{}) << text;
  }
}

TEST_F(SentenceParser, CutsAtEveryLineEndAndHandlesSentencesInOrder) {
  restart(item::AcquisitionTime | item::BitSyncTime | item::BluetoothMac);
  // CR alone, LF alone and runs of both all end a sentence.
  parse("\r\n$PMTK813*38\r$PMTK814*3F\n\n\r\r$PMTK592,0A1B2C3D4E5F*16");
  ItemResults expected;
  expected.acquisitionTime = {true, "0"};
  expected.bitSyncTime = {true, "0"};
  expected.bluetoothMac = {true, "0A:1B:2C:3D:4E:5F"};
  EXPECT_EQ(outcome(), (Outcome{expected, 1, 0, 3}));
  ASSERT_EQ(h.view.memo.size(), 3u);
  EXPECT_NE(h.view.memo[0].find("Acq SV"), std::string::npos);
  EXPECT_NE(h.view.memo[1].find("Bit Sync"), std::string::npos);
  EXPECT_NE(h.view.memo[2].find("BT Mac"), std::string::npos);
}

// ---- RMC: Cold Start TTFF -------------------------------------------------------------------

TEST_F(SentenceParser, RmcFixPassesTtffOnlyWhenItIsTheItemLeftAndArmed) {
  const std::string fix =
      sentence("GPRMC,071736.000,A,4404.1316,N,12118.8445,W,0.20,0.00,111111,,,A");
  const std::string noFix =
      sentence("GPRMC,071733.929,V,8960.0000,N,00000.0000,E,0.00,0.00,111111,,,N");
  struct Case {
    const char* name;
    std::uint32_t items;
    bool armed;
    std::string text;
    bool passes;
  };
  const Case cases[] = {
      {"first fix", item::ColdStartTtff, true, fix, true},
      {"later items do not count", item::ColdStartTtff | item::NmeaType | item::UpdateHz, true,
       fix, true},
      {"Acquisition Time still to do", item::ColdStartTtff | item::AcquisitionTime, true, fix,
       false},
      {"Flash Download still to do", item::ColdStartTtff | item::FlashDownload, true, fix, false},
      {"not armed", item::ColdStartTtff, false, fix, false},
      {"status V", item::ColdStartTtff, true, noFix + noFix + noFix, false},
      {"no status", item::ColdStartTtff, true, sentence("GPRMC,071736.000,,4404.1316"), false},
      {"lower-case checksum", item::ColdStartTtff, true, lowerCaseSum(fix), false},
  };
  for (const Case& c : cases) {
    restart(c.items, c.armed);
    parse(c.text);
    ItemResults expected;
    if (c.passes) expected.coldStartTtff = {true, "0"};
    const std::uint32_t items = c.passes ? c.items & ~item::ColdStartTtff : c.items;
    EXPECT_EQ(outcome(), (Outcome{expected, c.passes ? 1 : NoVerdict, items, c.passes ? 1u : 0u}))
        << c.name;
  }
}

// ---- GSV: satellite table and chart ---------------------------------------------------------

TEST_F(SentenceParser, GsvCycleRefreshesTheChartAfterItsLastSatellite) {
  restart();
  parse(sentence("GPGSV,3,1,09,14,86,335,41,22,54,049,36,24,54,134,38,51,48,161,31") +
        sentence("GPGSV,3,2,09,19,36,273,30,06,28,224,27,03,27,237,25,18,25,076,36"));
  EXPECT_EQ(h.view.chartRefreshes, 0);
  // The ninth satellite ends the cycle; a satellite listed after it is not read.
  parse(sentence("GPGSV,3,3,09,31,19,169,29,21,16,136,28"));
  const SatelliteTable expected = tableOf(
      {{14, 41}, {22, 36}, {24, 38}, {51, 31}, {19, 30}, {6, 27}, {3, 25}, {18, 36}, {31, 29}});
  EXPECT_EQ(h.view.chartRefreshes, 1);
  EXPECT_EQ(h.view.lastSatellites, expected);
  EXPECT_EQ(record().satellites, expected);
}

TEST_F(SentenceParser, GsvCycleWithoutItsLastMessageNeverRefreshes) {
  restart();
  parse(sentence("GPGSV,3,1,09,14,86,335,41,22,54,049,36,24,54,134,38,51,48,161,31") +
        sentence("GPGSV,3,2,09,19,36,273,30,06,28,224,27,03,27,237,25,18,25,076,36") +
        sentence("GPGSV,2,1,05,23,,,36,13,,,34,32,,,43,31,,,31"));
  EXPECT_EQ(h.view.chartRefreshes, 0);
  // Message 1 of the next cycle cleared what the lost cycle left.
  EXPECT_EQ(record().satellites, tableOf({{23, 36}, {13, 34}, {32, 43}, {31, 31}}));
}

TEST_F(SentenceParser, GsvEntriesOutsideTheTableAreDropped) {
  restart();
  parse(sentence("GPGSV,4,1,16,01,0,0,11,02,0,0,12,03,0,0,13,04,0,0,14") +
        sentence("GPGSV,4,2,16,05,0,0,15,06,0,0,16,07,0,0,17,08,0,0,18") +
        sentence("GPGSV,4,3,16,09,0,0,19,10,0,0,20,11,0,0,21,12,0,0,22") +
        sentence("GPGSV,4,4,16,13,0,0,23,14,0,0,24,15,0,0,25,16,0,0,26"));
  const SatelliteTable full = tableOf({{1, 11}, {2, 12}, {3, 13}, {4, 14}, {5, 15}, {6, 16},
                                       {7, 17}, {8, 18}, {9, 19}, {10, 20}, {11, 21}, {12, 22},
                                       {13, 23}, {14, 24}});
  EXPECT_EQ(record().satellites, full);
  EXPECT_EQ(h.view.chartRefreshes, 1);  // the cycle still ends at its sixteenth satellite
  EXPECT_EQ(h.view.lastSatellites, full);

  // Message numbers that point before the table, or far beyond it, write nothing.
  parse(sentence("GPGSV,4,0,03,40,0,0,40,41,0,0,41,42,0,0,42") +
        sentence("GPGSV,4,-7,16,40,0,0,40") + sentence("GPGSV,4,99999999999,16,40,0,0,40") +
        sentence("GPGSV,9,5,20,40,0,0,40,41,0,0,41,42,0,0,42,43,0,0,43"));
  EXPECT_EQ(record().satellites, full);
}

TEST_F(SentenceParser, GsvReadsWhatTheMessageHolds) {
  // Before each message the table holds one entry of an earlier cycle: {99, 99} at entry 10.
  const Satellite earlier{99, 99};
  struct Case {
    const char* name;
    std::string text;
    SatelliteTable table;
    int refreshes;
  };
  SatelliteTable untouched{};
  untouched[10] = earlier;
  const Case cases[] = {
      {"SNR missing before the checksum",
       sentence("GPGSV,2,1,06,20,73,204,41,23,56,298,37,32,54,148,43,48,37,196,"),
       tableOf({{20, 41}, {23, 37}, {32, 43}, {48, 0}}), 0},
      {"message cut short keeps the satellites read",
       sentence("GPGSV,2,1,08,23,,,36,13,,,34,32,,"), tableOf({{23, 36}, {13, 34}}), 0},
      {"message 1 with no satellites in view still clears", sentence("GPGSV,1,1,00"), {}, 0},
      {"no message number", sentence("GPGSV,1,,01,05,40,100,40"), untouched, 0},
      {"message 2 adds to the cycle", sentence("GPGSV,3,2,09,05,40,100,40"),
       [&] {
         SatelliteTable t = untouched;
         t[4] = {5, 40};
         return t;
       }(),
       0},
      {"empty fields of the last satellite", sentence("GPGSV,1,1,02,05,,,40,,,,"),
       tableOf({{5, 40}}), 1},
  };
  for (const Case& c : cases) {
    restart();
    record().satellites[10] = earlier;
    parse(c.text);
    EXPECT_EQ(record().satellites, c.table) << c.name;
    EXPECT_EQ(h.view.chartRefreshes, c.refreshes) << c.name;
  }
}

TEST_F(SentenceParser, AcquisitionHoldsBackTheChosenSatellite) {
  // SVid is 12 and AcqTime_Timeout 60; satellite 12 is the second of the message.
  const std::string heard = sentence("GPGSV,1,1,03,05,40,100,40,12,30,200,12,07,20,300,33");
  const std::string silent = sentence("GPGSV,1,1,03,05,40,100,40,12,30,200,00,07,20,300,33");
  const SatelliteTable whole = tableOf({{5, 40}, {12, 12}, {7, 33}});
  const SatelliteTable heldBack = tableOf({{5, 40}});
  struct Case {
    const char* name;
    std::uint32_t items;
    int secondsIntoItem;
    std::string text;
    SatelliteTable table;
  };
  const Case cases[] = {
      {"heard three seconds in", item::AcquisitionTime | item::SignalQuality, 3, heard, heldBack},
      {"later items do not count", item::AcquisitionTime | item::NmeaType, 3, heard, heldBack},
      {"last second before the time-out", item::AcquisitionTime, 59, heard, heldBack},
      {"first second of the item", item::AcquisitionTime, 1, heard, whole},
      {"at the time-out", item::AcquisitionTime, 60, heard, whole},
      {"no signal", item::AcquisitionTime, 3, silent, tableOf({{5, 40}, {12, 0}, {7, 33}})},
      {"Firmware Version still to do", item::AcquisitionTime | item::FirmwareVersion, 3, heard,
       whole},
      {"Acquisition Time done", item::BitSyncTime, 3, heard, whole},
  };
  for (const Case& c : cases) {
    restart(c.items);
    record().itemStartTick = h.clock.counter() - c.secondsIntoItem;
    parse(c.text);
    EXPECT_EQ(record().satellites, c.table) << c.name;
    EXPECT_EQ(h.view.chartRefreshes, c.table == heldBack ? 0 : 1) << c.name;
  }
}

// ---- $PMTK500: UpdateHZ ---------------------------------------------------------------------

TEST_F(SentenceParser, FixIntervalGivesTheUpdateRate) {
  struct Case {
    const char* name;
    std::string body;
    float updateHz;
    std::uint32_t items;
    float rate;
    std::uint32_t word;  // NoVerdict: no hand-off
  };
  const float thirdOf1000 = static_cast<float>(1000.0 / 300);
  const Case cases[] = {
      {"200 ms is 5 Hz", "PMTK500,200,0,0,0,0", 5.0f, item::UpdateHz, 5.0f, 1},
      {"3.33 Hz asks for 300 ms", "PMTK500,300,0,0,0,0", 3.33f, item::UpdateHz, thirdOf1000, 1},
      {"3 Hz asks for 333 ms", "PMTK500,333,0,0,0,0", 3.0f, item::UpdateHz,
       static_cast<float>(1000.0 / 333), 1},
      {"334 ms is not 3 Hz", "PMTK500,334,0,0,0,0", 3.0f, item::UpdateHz,
       static_cast<float>(1000.0 / 334), 0},
      {"2.5 Hz asks for 400 ms", "PMTK500,400,0,0,0,0", 2.5f, item::UpdateHz, 2.5f, 1},
      {"300 ms is 1000/300 in single precision", "PMTK500,300,0,0,0,0", thirdOf1000,
       item::UpdateHz, thirdOf1000, 1},
      {"interval 0 has no rate", "PMTK500,0,0,0,0,0", 5.0f, item::UpdateHz, 0.0f, 0},
      {"no interval", "PMTK500,,0,0,0,0", 5.0f, item::UpdateHz, 0.0f, 0},
      {"rate 0 never matches a zero setting", "PMTK500,0", 0.0f, item::UpdateHz, 0.0f, 0},
      {"UpdateHZ not to do", "PMTK500,200,0,0,0,0", 5.0f, item::NmeaType, 0.0f, NoVerdict},
      {"no field at all: an absent interval", "PMTK500", 5.0f, item::UpdateHz, 0.0f, 0},
  };
  for (const Case& c : cases) {
    h.settings.updateHz = c.updateHz;
    restart(c.items);
    parse(sentence(c.body));
    ItemResults expected;
    expected.updateHz.rate = c.rate;
    expected.updateHz.recorded = c.word != NoVerdict;
    const std::uint32_t items =
        c.word == NoVerdict ? c.items : (c.word == 1 ? c.items & ~item::UpdateHz : 0);
    EXPECT_EQ(outcome(), (Outcome{expected, c.word, items, c.word == NoVerdict ? 0u : 1u}))
        << c.name;
  }
}

// ---- $PMTK514: NMEA Type --------------------------------------------------------------------

TEST_F(SentenceParser, OutputRatesAreComparedWithTheSettings) {
  const std::string expectedText = "1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*";
  const std::string longText(60, '1');
  struct Case {
    const char* name;
    std::string text;
    std::uint32_t items;
    std::string stored;  // "" when not stored
    std::uint32_t word;
    std::size_t memoLines;
  };
  const Case cases[] = {
      {"equal", sentence("PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0"), item::NmeaType,
       expectedText, 1, 1},
      {"different rates: fail line, table header and 19 rows",
       sentence("PMTK514,1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0"), item::NmeaType,
       "1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0*", 0, 21},
      {"lower-case checksum",
       lowerCaseSum(sentence("PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0")), item::NmeaType,
       "", NoVerdict, 0},
      {"long text compared whole", sentence("PMTK514," + longText), item::NmeaType,
       longText + "*", 0, 21},
      {"NMEA Type not to do", sentence("PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0"),
       item::FirmwareVersion, "", NoVerdict, 0},
      {"no comma before the star", "$PMTK514*" + nmeaChecksum("$PMTK514") + ",1,1\r\n",
       item::NmeaType, "", NoVerdict, 0},
  };
  for (const Case& c : cases) {
    restart(c.items);
    parse(c.text);
    ItemResults expected;
    if (c.word != NoVerdict) expected.nmeaType = {true, c.stored};
    const std::uint32_t items =
        c.word == NoVerdict ? c.items : (c.word == 1 ? c.items & ~item::NmeaType : 0);
    EXPECT_EQ(outcome(), (Outcome{expected, c.word, items, c.memoLines})) << c.name;
  }
}

// ---- $PMTK705: Firmware Version -------------------------------------------------------------

TEST_F(SentenceParser, VersionTextIsComparedWithTheSettings) {
  struct Case {
    const char* name;
    std::string text;
    std::uint32_t items;
    std::string stored;
    std::uint32_t word;
  };
  const Case cases[] = {
      {"equal", sentence("PMTK705,AXN_1.30,0000,QB-01,SDK2"), item::FirmwareVersion,
       "AXN_1.30,0000,QB-01,SDK2", 1},
      {"three parts", sentence("PMTK705,AXN_1.30,0000,QB-01"), item::FirmwareVersion,
       "AXN_1.30,0000,QB-01", 0},
      {"long text compared whole", sentence("PMTK705," + std::string(60, 'V')),
       item::FirmwareVersion, std::string(60, 'V'), 0},
      {"Firmware Version not to do", sentence("PMTK705,AXN_1.30,0000,QB-01,SDK2"),
       item::NmeaType, "", NoVerdict},
      {"no comma at all", sentence("PMTK705"), item::FirmwareVersion, "", NoVerdict},
      {"comma only after the star", "$PMTK705*" + nmeaChecksum("$PMTK705") + ",AXN\r\n",
       item::FirmwareVersion, "", NoVerdict},
  };
  for (const Case& c : cases) {
    restart(c.items);
    parse(c.text);
    ItemResults expected;
    if (c.word != NoVerdict) expected.firmwareVersion = {true, c.stored};
    const std::uint32_t items =
        c.word == NoVerdict ? c.items : (c.word == 1 ? c.items & ~item::FirmwareVersion : 0);
    EXPECT_EQ(outcome(), (Outcome{expected, c.word, items, c.word == NoVerdict ? 0u : 1u}))
        << c.name;
  }
  restart(item::FirmwareVersion);
  parse(sentence("PMTK705,AXN_1.30,0000,QB-01,SDK2"));
  EXPECT_EQ(h.view.firmwareVersion, "AXN_1.30,0000,QB-01,SDK2");

  // A version of 56 characters passes against the same expected text.
  const std::string longVersion = "QNB-EXT_5.1.7_3333_23021500,0001,QZ3329-GLONASS,SDK1.3.2";
  h.settings.versionMtk = "QNB-EXT_5.1.7_3333_23021500";
  h.settings.versionCustomer = "0001";
  h.settings.versionProductModel = "QZ3329-GLONASS";
  h.settings.versionSdkVer = "SDK1.3.2";
  restart(item::FirmwareVersion);
  parse(sentence("PMTK705," + longVersion));
  ItemResults expected;
  expected.firmwareVersion = {true, longVersion};
  EXPECT_EQ(outcome(), (Outcome{expected, 1, 0, 1}));
  EXPECT_EQ(h.view.firmwareVersion, longVersion);
}

// ---- $PMTK592: Bluetooth address ------------------------------------------------------------

TEST_F(SentenceParser, BluetoothAddressIsShownInPairs) {
  struct Case {
    const char* name;
    std::string body;
    std::uint32_t items;
    std::string stored;
    std::uint32_t word;
  };
  const Case cases[] = {
      {"address written", "PMTK592,0A1B2C3D4E5F", item::BluetoothMac, "0A:1B:2C:3D:4E:5F", 1},
      {"no address", "PMTK592,FFFFFFFFFFFF", item::BluetoothMac, "FF:FF:FF:FF:FF:FF", 0},
      {"acted on when not to do", "PMTK592,0A1B2C3D4E5F", item::FirmwareVersion,
       "0A:1B:2C:3D:4E:5F", 1},
      {"only the first twelve characters", "PMTK592,0A1B2C3D4E5F6A", item::BluetoothMac,
       "0A:1B:2C:3D:4E:5F", 1},
      {"too short", "PMTK592,0A1B", item::BluetoothMac, "", NoVerdict},
  };
  for (const Case& c : cases) {
    restart(c.items);
    parse(sentence(c.body));
    ItemResults expected;
    if (c.word != NoVerdict) expected.bluetoothMac = {true, c.stored};
    const std::uint32_t items =
        c.word == NoVerdict ? c.items : (c.word == 1 ? c.items & ~item::BluetoothMac : 0);
    EXPECT_EQ(outcome(), (Outcome{expected, c.word, items, c.word == NoVerdict ? 0u : 1u}))
        << c.name;
  }
}

// ---- $PMTK815: Signal Quality ---------------------------------------------------------------

TEST_F(SentenceParser, SignalQualityJudgesPhaseThenTcxoThenCnr) {
  // Limits: phase 0.85, offset 40.92, drift 0.8184, CNR mean 40, sigma 1.
  struct Case {
    const char* name;
    std::string body;
    ItemSlot phase;
    PairSlot tcxo;
    PairSlot cnr;
    std::uint32_t word;
    std::size_t memoLines;
  };
  const Case cases[] = {
      {"phase below the limit: TCXO and CNR not stored", "PMTK815,1,2,80,100,100,4100,50",
       {true, "0.80"}, {}, {}, 0, 1},
      {"phase 85 is 0.85", "PMTK815,1,2,85,100,100,4100,50",
       {true, "0.85"}, {true, "0.100", "0.100"}, {true, "41.0", "0.5"}, 1, 3},
      {"offset beyond the limit", "PMTK815,1,2,85,-41000,100,4100,50",
       {true, "0.85"}, {true, "-41.000", "0.100"}, {}, 0, 2},
      {"offset 40920 is 40.92", "PMTK815,1,2,85,40920,-818,4100,50",
       {true, "0.85"}, {true, "40.920", "-0.818"}, {true, "41.0", "0.5"}, 1, 3},
      {"drift beyond the limit", "PMTK815,1,2,90,0,-819,4100,50",
       {true, "0.90"}, {true, "0.000", "-0.819"}, {}, 0, 2},
      {"CNR mean below the threshold", "PMTK815,1,2,85,0,0,3990,50",
       {true, "0.85"}, {true, "0.000", "0.000"}, {true, "39.9", "0.5"}, 0, 3},
      {"CNR sigma at its limit", "PMTK815,1,2,85,0,0,4000,100",
       {true, "0.85"}, {true, "0.000", "0.000"}, {true, "40.0", "1.0"}, 1, 3},
      {"CNR sigma beyond its limit", "PMTK815,1,2,85,0,0,4000,101",
       {true, "0.85"}, {true, "0.000", "0.000"}, {true, "40.0", "1.0"}, 0, 3},
      {"fewer than seven fields: sigma absent is 0", "PMTK815,1,2,85,0,0,4000",
       {true, "0.85"}, {true, "0.000", "0.000"}, {true, "40.0", "0.0"}, 1, 3},
  };
  for (const Case& c : cases) {
    restart(item::SignalQuality | item::ColdStartTtff);
    parse(sentence(c.body));
    ItemResults expected;
    expected.phase = c.phase;
    expected.tcxo = c.tcxo;
    expected.cnr = c.cnr;
    std::uint32_t items = item::SignalQuality | item::ColdStartTtff;
    if (c.word == 1) items = item::ColdStartTtff;
    if (c.word == 0) items = 0;
    EXPECT_EQ(outcome(), (Outcome{expected, c.word, items, c.memoLines})) << c.name;
  }
}

// ---- $PMTK813 / $PMTK814 --------------------------------------------------------------------

TEST_F(SentenceParser, AcquisitionAndBitSyncRepliesPassTheirItems) {
  restart(item::AcquisitionTime | item::BitSyncTime);
  parse(sentence("PMTK813"));
  ItemResults expected;
  expected.acquisitionTime = {true, "0"};
  EXPECT_EQ(outcome(), (Outcome{expected, 1, item::BitSyncTime, 1}));

  record().verdictWord.store(NoVerdict);
  parse(sentence("PMTK814,whatever"));
  expected.bitSyncTime = {true, "0"};
  EXPECT_EQ(outcome(), (Outcome{expected, 1, 0, 2}));
}

// ---- Short and prefixed replies ------------------------------------------------------------

// Absent fields read as 0, so a short reply is judged; a "$" inside a line starts a new candidate,
// so a noise byte or a sentence cut short without its line end does not hide the reply behind it.
TEST_F(SentenceParser, ShortAndPrefixedRepliesAreJudged) {
  const std::string version = sentence("PMTK705,AXN_1.30,0000,QB-01,SDK2");
  ItemResults hzFailed;
  hzFailed.updateHz.recorded = true;
  ItemResults phaseFailed;
  phaseFailed.phase = {true, "0.00"};
  ItemResults acquired;
  acquired.acquisitionTime = {true, "0"};
  ItemResults versionPassed;
  versionPassed.firmwareVersion = {true, "AXN_1.30,0000,QB-01,SDK2"};
  struct Case {
    const char* name;
    std::uint32_t items;
    std::string text;
    Outcome expected;
  };
  const Case cases[] = {
      {"$PMTK500 without a field: interval 0", item::UpdateHz, "$PMTK500*" +
       nmeaChecksum("$PMTK500") + "\r\n", {hzFailed, 0, 0, 1}},
      {"$PMTK815 without a field: phase 0", item::SignalQuality, sentence("PMTK815"),
       {phaseFailed, 0, 0, 1}},
      {"noise byte before a reply", item::AcquisitionTime | item::BitSyncTime,
       "\x7f" + sentence("PMTK813"), {acquired, 1, item::BitSyncTime, 1}},
      {"blank before a reply", item::AcquisitionTime | item::BitSyncTime, " $PMTK813*38\r\n",
       {acquired, 1, item::BitSyncTime, 1}},
      {"lone $ before a reply", item::AcquisitionTime | item::BitSyncTime,
       "$" + sentence("PMTK813"), {acquired, 1, item::BitSyncTime, 1}},
      {"GSV cut short before a reply", item::FirmwareVersion | item::AcquisitionTime,
       "$GPGSV,3,1,1" + version, {versionPassed, 1, item::AcquisitionTime, 1}},
      {"the cut-short sentence's checksum still decides", item::FirmwareVersion,
       "$GPGSV,3,1,1" + version.substr(0, version.size() - 5) + "*00\r\n",
       {{}, NoVerdict, item::FirmwareVersion, 0}},
  };
  for (const Case& c : cases) {
    restart(c.items);
    parse(c.text);
    EXPECT_EQ(outcome(), c.expected) << c.name;
  }
}

// ---- A decided run ------------------------------------------------------------------------

// Once a failure or the last pass has emptied the set, later replies in the same text store
// nothing: the log shows the values of the reply that was judged.
TEST_F(SentenceParser, DecidedRunStoresNothingMore) {
  const std::string goodSignal = sentence("PMTK815,1,2,85,100,100,4100,50");
  const std::string otherSignal = sentence("PMTK815,1,2,99,200,200,4500,20");
  ItemResults signalPassed;
  signalPassed.phase = {true, "0.85"};
  signalPassed.tcxo = {true, "0.100", "0.100"};
  signalPassed.cnr = {true, "41.0", "0.5"};
  ItemResults phaseFailed;
  phaseFailed.phase = {true, "0.80"};
  ItemResults versionFailed;
  versionFailed.firmwareVersion = {true, "AXN_1.30"};
  struct Case {
    const char* name;
    std::uint32_t items;
    std::string text;
    Outcome expected;
  };
  const Case cases[] = {
      {"Signal Quality passed last, a second $PMTK815 follows", item::SignalQuality,
       goodSignal + otherSignal, {signalPassed, 1, 0, 3}},
      {"phase failed, a good $PMTK815 follows", item::SignalQuality,
       sentence("PMTK815,1,2,80,100,100,4100,50") + otherSignal, {phaseFailed, 0, 0, 1}},
      {"version failed, an address and a GSV follow", item::FirmwareVersion | item::BluetoothMac,
       sentence("PMTK705,AXN_1.30") + sentence("PMTK592,0A1B2C3D4E5F") +
           sentence("GPGSV,1,1,01,05,40,100,40"),
       {versionFailed, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    restart(c.items);
    parse(c.text);
    EXPECT_EQ(outcome(), c.expected) << c.name;
    EXPECT_EQ(record().satellites, SatelliteTable{}) << c.name;
    EXPECT_EQ(h.view.chartRefreshes, 0) << c.name;
  }
}

}  // namespace
}  // namespace quenby
