// Whole runs of one port through the fakes: scripted module, recording view, inline hand-offs,
// virtual clock, fake download library. Memo lines, sentences sent and the CSV line are compared
// byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/nmea_sentence.h"
#include "tests/fakes/worker_harness.h"

namespace quenby::testing {
namespace {

const std::string kStars(48, '*');

// The module's next sentence: it releases the reply before it to the parser, which sees a
// sentence once the module has gone on to the next one.
const std::string kNext = frameSentence("GPGGA,1,2");

std::string fixed(std::string_view sentence) { return std::string(sentence) + '\0'; }

// The memo lines that close every run.
std::vector<std::string> finish(int seconds) {
  return {"[Finish]", "     Take(" + std::to_string(seconds) + ") secs to test.", kStars};
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The day's log without its header line.
std::string runLines(const WorkerHarness& h) {
  const std::string text = h.logText();
  const auto headerEnd = text.find('\n');
  return headerEnd == std::string::npos ? std::string() : text.substr(headerEnd + 1);
}

struct PortRun : ::testing::Test {
  WorkerHarness h;
  void enable(std::uint32_t items, bool skipDownload = true) {
    h.settings.enableTest = static_cast<std::int32_t>(items);
    h.state.skipDownload = skipDownload;
  }
};

TEST_F(PortRun, WorkedExampleLogLine) {
  enable(item::FirmwareVersion | item::AcquisitionTime | item::NmeaType);
  h.settings.versionTimeout = 20;
  h.settings.nmeaTimeout = 20;
  h.settings.acqTimeTimeout = 20;
  h.module->sendAtMs(12450, frameSentence("PMTK705,M-core_1.8,0000,,") +
                                frameSentence("PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0") +
                                kNext);
  h.module->sendAtMs(24000, frameSentence("PMTK813") + kNext);

  h.worker->run();

  EXPECT_EQ(h.view.memo, concat({"     Pass!!   [M-core_1.8,0000,,]", "     Pass!!   NMEA ",
                                 "     Pass!!   Acq SV(29) in 12 sec(s)."},
                                finish(25)));
  EXPECT_EQ(h.view.firmwareVersion, "M-core_1.8,0000,,");
  EXPECT_EQ(h.view.verdict, 1);
  EXPECT_EQ(h.module->writes,
            (std::vector<std::string>{"$PMTK811*3A\r\n", "$PMTK810,0003,1D*4D\r\n",
                                      fixed(EndTestModeSentence), fixed(FactoryResetSentence)}));
  EXPECT_EQ(h.logText(),
            "SerialNo,Pass/Fail,Hz ,Socket,ComPort,Date,Time,Flash,f/w version,SVid,Acq Time,"
            "Bit Sync,Phase Error,TCXO Offset,TCXO Drift,CNR Mean, CNR Sigma,CTTFF,Reset,NMEA,"
            "Total Time\r\n"
            ",Pass,N/A,,COM3,2009-05-07,13:05:09,N/A,\"M-core_1.8,0000,,\",29,12,N/A,N/A,N/A,N/A,"
            "N/A,N/A,N/A,N/A,\"1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*\",25\r\n");
  EXPECT_EQ(h.folder.read("backup/BTest_Log_2009.5.7.csv"), h.logText());
}

// A reply is judged when the module has gone on to its next sentence: an acquisition reported at
// 5.0 s, followed by the next sentence at 6.5 s, took 6 seconds.
TEST_F(PortRun, ReplyIsJudgedWhenTheNextSentenceArrives) {
  enable(item::AcquisitionTime);
  h.module->sendAtMs(5000, frameSentence("PMTK813"));
  h.module->sendAtMs(6500, frameSentence("GPGGA,1,2"));
  h.worker->run();
  EXPECT_EQ(h.view.memo, concat({"     Pass!!   Acq SV(29) in 6 sec(s)."}, finish(7)));
  EXPECT_NE(runLines(h).find(",29,6,N/A,"), std::string::npos) << runLines(h);
}

// The signal report right behind the bit-sync report (on the line when the next read judges the
// bit sync) is the module's next reply: it is judged, not purged with the bit-sync verdict.
TEST_F(PortRun, ReplyRightBehindAPassIsJudged) {
  enable(item::BitSyncTime | item::SignalQuality);
  h.settings.bitSyncTimeout = 20;
  h.module->sendAtMs(5000, frameSentence("PMTK814"));
  h.module->sendAtMs(6000, kNext);
  h.module->sendAtMs(6000, frameSentence("PMTK815,29,1,95,12345,123,4250,60") + kNext);
  h.worker->run();
  EXPECT_EQ(h.view.memo, concat({"     Pass!!   Bit Sync in 6 sec(s).", "     Pass!!   Phase Ratio:0.95",
                                 "     Pass!!   TCXO Offset(Hz):12.345   ,Drift(Hz/sec):0.123",
                                 "     Pass!!   SV(29) CNR:42.5   ,Dev:0.6"},
                                finish(7)));
}

// Bits that no item answers to stay in the settings but never hold a run open: 0x2002 | 0x20
// runs Firmware Version and NMEA Type and ends.
TEST_F(PortRun, BitsOfNoItemDoNotHoldTheRunOpen) {
  enable(0x2002 | 0x20);
  h.module->sendAtMs(1000, frameSentence("PMTK705,M-core_1.8,0000,,") +
                               frameSentence("PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0") +
                               kNext);
  // A run still going after a minute never ends by itself: Stop it, so that the test fails
  // instead of hanging.
  h.module->beforeRead = [&](std::int64_t ms) {
    if (ms > 60000 && h.module->isOpen()) h.worker->stopFromUi();
  };
  h.worker->run();
  EXPECT_EQ(h.view.memo, concat({"     Pass!!   [M-core_1.8,0000,,]", "     Pass!!   NMEA "},
                                finish(2)));
  EXPECT_TRUE(runLines(h).starts_with(",Pass,")) << runLines(h);
  EXPECT_EQ(h.station.settings.enableTest, 0x2022);
}

TEST_F(PortRun, StartSentenceTellsTheModuleWhichTestsOnWhichSatellite) {
  struct Case {
    std::uint32_t items;
    int svId;
    std::string sentence;
  };
  const Case cases[] = {
      {item::AcquisitionTime | item::SignalQuality, 1, "$PMTK810,000A,01*4B\r\n"},
      {item::AcquisitionTime | item::BitSyncTime | item::SignalQuality, 12,
       "$PMTK810,000E,0C*3D\r\n"},
      {item::UpdateHz, 29, "$PMTK810,0001,1D*4F\r\n"},
      {item::FlashDownload, 29, "$PMTK810,0000,1D*4E\r\n"},
  };
  for (const auto& c : cases) {
    WorkerHarness run;
    run.settings.enableTest = static_cast<std::int32_t>(c.items);
    run.settings.svId = static_cast<std::uint8_t>(c.svId);
    run.settings.acqTimeTimeout = 0;  // the run ends at once
    run.settings.hzTimeout = 0;
    run.state.skipDownload = true;
    run.worker->run();
    ASSERT_GE(run.module->writes.size(), 2u);
    EXPECT_EQ(run.module->writes[1], c.sentence) << std::hex << c.items;
  }
}

TEST_F(PortRun, OnlyFlashDownloadSkippedStillShakesHandsAndEnds) {
  enable(item::FlashDownload);
  h.worker->run();
  EXPECT_EQ(h.module->writes,
            (std::vector<std::string>{"$PMTK811*3A\r\n", "$PMTK810,0000,1D*4E\r\n",
                                      fixed(EndTestModeSentence), fixed(FactoryResetSentence)}));
  EXPECT_EQ(h.view.memo, finish(1));
  EXPECT_TRUE(h.library.calls.empty());
  // Nothing passed and nothing failed: the log calls it an aborted run.
  EXPECT_TRUE(runLines(h).starts_with(",Fail(Abort),N/A,,COM3,"));
}

TEST_F(PortRun, AcquisitionTimeOutAfter61Seconds) {
  enable(item::AcquisitionTime);
  h.settings.acqTimeTimeout = 61;
  h.worker->run();
  EXPECT_EQ(h.view.memo, concat({"     Fail(Acq)!!   TimeOut!! [61]"}, finish(62)));
  EXPECT_EQ(h.view.verdict, 0);
  EXPECT_EQ(h.view.caption(), "COM 3     Fail(Acq)");
  EXPECT_NE(runLines(h).find(",Fail(Acq),N/A,,COM3,"), std::string::npos);
  EXPECT_NE(runLines(h).find(",29,Timeout(61),N/A,"), std::string::npos);
}

TEST_F(PortRun, PortThatCannotBeOpenedFailsWithComPort) {
  enable(item::FirmwareVersion | item::AcquisitionTime);
  h.module->failOpen = true;
  h.module->openProblemText = "/station/ports/COM3: held by another station";
  h.worker->run();
  EXPECT_EQ(h.view.memo, concat({"     Fail!!   Open ComPort Fail!!",
                                 "     /station/ports/COM3: held by another station"},
                                finish(0)));
  EXPECT_TRUE(h.module->writes.empty());
  EXPECT_EQ(runLines(h),
            ",Fail(ComPort),N/A,,COM3,2009-05-07,13:05:09,N/A,N/A,29,N/A,N/A,N/A,N/A,N/A,N/A,N/A,"
            "N/A,N/A,N/A,0\r\n");
}

TEST_F(PortRun, StopDuringAReadEndsTheRunWithoutEndSentences) {
  enable(item::FirmwareVersion);
  h.settings.versionTimeout = 60;
  bool stopped = false;
  h.module->beforeRead = [&](std::int64_t ms) {
    if (ms >= 2000 && !stopped) {
      stopped = true;
      h.worker->stopFromUi();
    }
  };
  h.worker->run();
  EXPECT_TRUE(stopped);
  // The handshake, then only Stop's own sentence.
  EXPECT_EQ(h.module->writes,
            (std::vector<std::string>{"$PMTK811*3A\r\n", "$PMTK810,0001,1D*4F\r\n",
                                      fixed(EndTestModeSentence)}));
  EXPECT_EQ(h.view.memo, finish(2));
  EXPECT_TRUE(runLines(h).starts_with(",Fail(Abort),"));
}

TEST_F(PortRun, StopDuringADownloadStillShakesHandsAndLogsTheRun) {
  enable(item::FlashDownload | item::FirmwareVersion, /*skipDownload=*/false);
  h.library.duringDownload = [&](int phase, int percent) {
    if (phase == 0 && percent == 50) h.worker->stopFromUi();
  };
  h.worker->run();
  // Stop ended the download: the run stays aborted, the library's text is kept.
  EXPECT_EQ(h.view.memo, concat({"[Flash Download]", "     Fail!!(Abort)   FT_ERROR"},
                                finish(1)));
  EXPECT_EQ(h.module->writes,
            (std::vector<std::string>{"$PMTK811*3A\r\n", "$PMTK810,0001,1D*4F\r\n",
                                      fixed(EndTestModeSentence), fixed(FactoryResetSentence)}));
  EXPECT_TRUE(runLines(h).starts_with(",Fail(Abort),N/A,,COM3,2009-05-07,13:05:09,FT_ERROR,"));
}

TEST_F(PortRun, DownloadErrorsBecomeMemoTextAndFlashColumn) {
  struct Case {
    std::uint32_t result;
    std::string text;
  };
  const Case cases[] = {
      {0x000A0007, "BROM_DOWNLOAD_DA_FAIL"},
      {0x00250007, ""},
      {3, "Failed to open the COM port"},
      {26, "Unknown Error Code"},
  };
  for (const auto& c : cases) {
    WorkerHarness run;
    run.settings.enableTest = static_cast<std::int32_t>(item::FlashDownload | item::AcquisitionTime);
    run.library.downloadResult = c.result;
    run.worker->run();
    EXPECT_EQ(run.view.memo,
              concat({"[Flash Download]", "     Fail!!(Download)   " + c.text, "     Flash Type:FLASH_5"},
                     finish(1)))
        << std::hex << c.result;
    EXPECT_NE(runLines(run).find(",13:05:09," + c.text + ",N/A,29,N/A,"), std::string::npos)
        << runLines(run);
  }
}

TEST_F(PortRun, DownloadPassesThenTestsRunOnTheSamePort) {
  enable(item::FlashDownload | item::AcquisitionTime, /*skipDownload=*/false);
  h.module->sendAtMs(5000, frameSentence("PMTK813") + kNext);
  h.worker->run();
  EXPECT_EQ(h.view.memo, concat({"[Flash Download]", "     Pass!!", "     Flash Type:FLASH_5",
                                 "     Pass!!   Acq SV(29) in 5 sec(s)."},
                                finish(6)));
  EXPECT_EQ(h.library.lastPort.comPort, 3);
  EXPECT_EQ(h.library.lastPort.baudIndex, 4u);
  const std::vector<std::string> gauge = {"gauge red 0",  "progress 0", "progress 50",
                                          "progress 100", "gauge blue 0", "progress 0",
                                          "progress 50",  "progress 100"};
  std::vector<std::string> seen;
  for (const auto& e : h.view.events)
    if (e.starts_with("gauge") || e.starts_with("progress")) seen.push_back(e);
  EXPECT_EQ(seen, gauge);
  EXPECT_NE(runLines(h).find(",13:05:09,FLASH_5,N/A,29,5,"), std::string::npos) << runLines(h);
}

TEST_F(PortRun, FactoryResetResendsEveryThreeSecondsUntilItTimesOut) {
  enable(item::FactoryReset);
  h.settings.resetTimeout = 10;
  std::vector<std::int32_t> sentAt;
  h.module->onWrite = [&](std::string_view bytes) {
    if (bytes == fixed(FactoryResetSentence)) sentAt.push_back(h.clock.counter());
  };
  h.worker->run();
  // Four resets during the item, then the one that ends every run.
  EXPECT_EQ(sentAt, (std::vector<std::int32_t>{100, 103, 106, 109, 110}));
  EXPECT_EQ(h.view.memo, concat({"[Factory Reset]", "[Factory Reset]", "[Factory Reset]",
                                 "[Factory Reset]", "     Fail(Reset)!!   TimeOut!! [10]"},
                                finish(11)));
}

TEST_F(PortRun, FactoryResetPassesOnTheStartupMessageEvenSplitAcrossReads) {
  enable(item::FactoryReset | item::NmeaType);
  h.module->sendAtMs(1000,
                     frameSentence("PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0") + kNext);
  h.module->onWrite = [&](std::string_view bytes) {
    if (bytes == fixed(FactoryResetSentence) && h.clock.elapsedMs() < 5000) {
      h.module->sendAtMs(h.clock.elapsedMs() + 1500, "$GPGGA,1,2*00\r\n$PMTK01");
      h.module->sendAtMs(h.clock.elapsedMs() + 1800, "0,001*2E\r\n");
    }
  };
  h.worker->run();
  EXPECT_EQ(h.view.memo, concat({"     Pass!!   NMEA ", "[Factory Reset]", "     Pass!!   Already Reset!!"},
                                finish(4)));
  EXPECT_EQ(h.view.verdict, 1);
  EXPECT_NE(runLines(h).find(",N/A,2,\"1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*\",4\r\n"),
            std::string::npos)
      << runLines(h);
}

TEST_F(PortRun, ColdStartSendsItsThreeCommandsThenWaitsForTheFirstFix) {
  enable(item::ColdStartTtff);
  h.module->onWrite = [&](std::string_view bytes) {
    if (bytes == RmcGsvOutputSentence) {
      const auto now = h.clock.elapsedMs();
      h.module->sendAtMs(now + 1000,
                         frameSentence("GPRMC,000001.000,V,,,,,0.00,0.00,080109,,,N"));
      h.module->sendAtMs(now + 30500, frameSentence(
                                          "GPRMC,000031.000,A,3401.9764,N,11744.8274,W,0.00,"
                                          "119.27,080109,,,A") + kNext);
    }
  };
  h.worker->run();
  const auto& w = h.module->writes;
  ASSERT_GE(w.size(), 5u);
  EXPECT_EQ(w[2], ColdRestartSentence);
  EXPECT_EQ(w[3], FixInterval1000Sentence);
  EXPECT_EQ(w[4], RmcGsvOutputSentence);
  EXPECT_EQ(h.view.memo, concat({"[Cold Start TTFF]", "     Pass!!   Cold Start TTFF : 32"},
                                finish(33)));
  EXPECT_NE(runLines(h).find(",N/A,32,N/A,N/A,"), std::string::npos) << runLines(h);
}

TEST_F(PortRun, SignalQualityPassesOrFailsOnEachSubResult) {
  struct Case {
    std::string reply;
    std::vector<std::string> memo;
    std::string logColumns;  // Phase Error .. CNR Sigma
  };
  const Case cases[] = {
      {"PMTK815,29,1,90,1000,200,4500,50",
       {"     Pass!!   Phase Ratio:0.90", "     Pass!!   TCXO Offset(Hz):1.000   ,Drift(Hz/sec):0.200",
        "     Pass!!   SV(29) CNR:45.0   ,Dev:0.5"},
       "0.90,1.000,0.200,45.0,0.5"},
      {"PMTK815,29,1,84,1000,200,4500,50",
       {"     Fail(Phase)!!   Phase Ratio:0.84"},
       "0.84,N/A,N/A,N/A,N/A"},
      {"PMTK815,29,1,85,-41000,200,4500,50",
       {"     Pass!!   Phase Ratio:0.85",
        "     Fail(TCXO)!!   TCXO Offset(Hz):-41.000   ,Drift(Hz/sec):0.200"},
       "0.85,-41.000,0.200,N/A,N/A"},
      {"PMTK815,29,1,85,40920,818,3999,50",
       {"     Pass!!   Phase Ratio:0.85", "     Pass!!   TCXO Offset(Hz):40.920   ,Drift(Hz/sec):0.818",
        "     Fail(CNR)!!   SV(29) CNR40.0   ,Dev:0.5"},
       "0.85,40.920,0.818,40.0,0.5"},
  };
  for (const auto& c : cases) {
    WorkerHarness run;
    run.settings.enableTest = static_cast<std::int32_t>(item::SignalQuality);
    run.state.skipDownload = true;
    run.module->sendAtMs(4000, frameSentence(c.reply) + kNext);
    run.worker->run();
    ASSERT_GE(run.view.memo.size(), c.memo.size()) << c.reply;
    EXPECT_EQ(std::vector<std::string>(run.view.memo.begin(), run.view.memo.begin() + c.memo.size()),
              c.memo)
        << c.reply;
    EXPECT_NE(runLines(run).find(",N/A,N/A," + c.logColumns + ",N/A,N/A,N/A,"), std::string::npos)
        << runLines(run);
  }
}

TEST_F(PortRun, SignalQualityTimeOutNamesTheLastMissingSubResult) {
  enable(item::SignalQuality);
  h.worker->run();
  // One tick later than a plain watch with the same setting.
  EXPECT_EQ(h.view.memo, concat({"     Fail(CNR)!!   TimeOut!! [21]"}, finish(22)));
  EXPECT_NE(runLines(h).find(",Timeout(20),Timeout(20),Timeout(20),Timeout(20),Timeout(20),"),
            std::string::npos)
      << runLines(h);
}

TEST_F(PortRun, UpdateHzPassLeavesTheItemClockAndFailShowsBothRates) {
  struct Case {
    std::string reply;
    float expected;
    std::string memo;
    std::string hzColumn;
  };
  const Case cases[] = {
      {"PMTK500,200,0,0,0,0", 5.0f, "     Pass!!   UpdateHz:5Hz", "5"},
      {"PMTK500,1000,0,0,0,0", 5.0f, "    Fail!!   UpdateHz:1Hz,Check5Hz", "1"},
      {"PMTK500,3,0,0,0,0", 1.0f, "    Fail!!   UpdateHz:333.333343505859Hz,Check1Hz",
       "333.333343505859"},
      // The interval the setting asks for passes, though the rate is not the setting's.
      {"PMTK500,300,0,0,0,0", 3.33f, "     Pass!!   UpdateHz:3.33333325386047Hz",
       "3.33333325386047"},
      {"PMTK500,333,0,0,0,0", 3.0f, "     Pass!!   UpdateHz:3.00300312042236Hz",
       "3.00300312042236"},
  };
  for (const auto& c : cases) {
    WorkerHarness run;
    run.settings.enableTest = static_cast<std::int32_t>(item::UpdateHz);
    run.settings.updateHz = c.expected;
    run.state.skipDownload = true;
    run.module->sendAtMs(2000, frameSentence(c.reply) + kNext);
    run.worker->run();
    ASSERT_FALSE(run.view.memo.empty());
    EXPECT_EQ(run.view.memo[0], c.memo);
    EXPECT_TRUE(runLines(run).starts_with(std::string(",") + (c.memo.find("Pass!!") != std::string::npos ? "Pass" : "Fail(UpdateHz)") +
                                          "," + c.hzColumn + ",,COM3,"))
        << runLines(run);
  }
}

TEST_F(PortRun, NmeaTypeFailureListsEveryRate) {
  enable(item::NmeaType);
  h.module->sendAtMs(1000, frameSentence("PMTK514,1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0") + kNext);
  h.worker->run();
  ASSERT_EQ(h.view.memo.size(), 1u + 1u + 19u + 3u);
  EXPECT_EQ(h.view.memo[0],
            "     Fail(NMEA)!!   Device[1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0*], "
            "Check[1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*]");
  EXPECT_EQ(h.view.memo[1], "\t==== Device === Check ===");
  EXPECT_EQ(h.view.memo[2], "\tGLL :\t1\t1");
  EXPECT_EQ(h.view.memo[7], "\tGSV :\t5\t1");
  EXPECT_EQ(h.view.memo[19], "\tZDA :\t1\t0");
  EXPECT_EQ(h.view.memo[20], "\tMCHN :\t0\t0");
}

TEST_F(PortRun, ClosedWindowRunStillReachesTheLog) {
  // Acquisition passes before the close; the unfinished run must not be logged as a pass.
  enable(item::AcquisitionTime | item::BitSyncTime);
  h.view.serialNumber = "SN-0042";
  h.module->sendAtMs(500, frameSentence("PMTK813") + kNext);
  h.module->beforeRead = [&](std::int64_t ms) {
    if (ms >= 1000 && h.module->isOpen()) h.worker->closeFromUi();
  };
  h.worker->run();
  // Nothing more is shown after the close, and no sentence went to the module.
  EXPECT_EQ(h.view.memo, (std::vector<std::string>{"     Pass!!   Acq SV(29) in 0 sec(s)."}));
  EXPECT_EQ(h.module->writes.size(), 2u);
  EXPECT_TRUE(runLines(h).starts_with("SN-0042,Fail(Abort),N/A,,COM3,")) << runLines(h);
}

TEST_F(PortRun, SecondRunAppendsOnlyItsLineAndStartsClean) {
  enable(item::AcquisitionTime);
  h.module->sendAtMs(3000, frameSentence("PMTK813") + kNext);
  h.worker->run();
  h.worker->run();  // no reply this time: the acquisition times out
  const std::string lines = runLines(h);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
  EXPECT_TRUE(lines.starts_with(",Pass,"));
  EXPECT_NE(lines.find("\r\n,Fail(Acq),"), std::string::npos);
  EXPECT_EQ(h.folder.read("backup/BTest_Log_2009.5.7.csv"), h.logText());
}

}  // namespace
}  // namespace quenby::testing
