#include "engine/firmware_download.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fakes/worker_harness.h"

namespace quenby {
namespace {

using testing::WorkerHarness;

bool memoHas(const WorkerHarness& h, const std::string& line) {
  return std::find(h.view.memo.begin(), h.view.memo.end(), line) != h.view.memo.end();
}

// Starts a run with the given items and performs its download step alone.
void download(WorkerHarness& h, std::uint32_t items) {
  h.settings.enableTest = static_cast<std::int32_t>(items);
  h.worker->startRun();
  runFirmwareDownload(*h.worker);
}

TEST(FirmwareDownload, PassWithFlashTypeEndsTheItemAndWaitsOnlyWhenItemsRemain) {
  struct Case {
    std::uint32_t items;
    std::uint32_t result;  // a pass whatever the upper bits
    std::int64_t waitMs;
  } cases[] = {
      {item::FlashDownload | item::AcquisitionTime, 0, 2000},
      {item::FlashDownload, 0, 0},
      {item::FlashDownload | item::NmeaType, 0x00120000, 2000},
  };
  for (const auto& c : cases) {
    WorkerHarness h;
    h.library.downloadResult = c.result;
    // The module spends 3 s in the download: the next item's time starts after it.
    h.library.duringDownload = [&](int, int) { if (h.clock.elapsedMs() == 0) h.clock.advanceMs(3000); };
    download(h, c.items);
    const WorkerRecord& r = h.worker->record();
    EXPECT_EQ(h.view.memo, (std::vector<std::string>{"[Flash Download]", "     Pass!!",
                                                     "     Flash Type:FLASH_5"}));
    EXPECT_EQ(r.results.flashDownload, (ItemSlot{true, "FLASH_5"}));
    EXPECT_EQ(r.testItems.load(), c.items & ~item::FlashDownload);
    EXPECT_EQ(r.verdictWord.load(), 1u);
    EXPECT_EQ(r.itemStartTick, 103);
    EXPECT_EQ(h.clock.elapsedMs(), 3000 + c.waitMs);
  }
}

TEST(FirmwareDownload, PowerUpWindowNoticeIsOneMemoLineAndLeavesTheGauge) {
  WorkerHarness h;
  h.library.powerUpNotice = true;
  download(h, item::FlashDownload);
  EXPECT_EQ(h.view.memo,
            (std::vector<std::string>{
                "[Flash Download]",
                "     No answer from the boot ROM yet: power the module now, the download gives up in 1 s",
                "     Pass!!", "     Flash Type:FLASH_5"}));
  EXPECT_EQ(h.view.events.front(), "entries off");
  EXPECT_EQ(std::count(h.view.events.begin(), h.view.events.end(), "progress 0"), 2);
}

TEST(FirmwareDownload, RecordsCarryPortSpeedHandlesAndTheWorker) {
  WorkerHarness h;
  h.worker->record().downloadStopWord = DownloadStopRequest;  // left over from an earlier run
  download(h, item::FlashDownload);
  const auto& lib = h.library;
  EXPECT_EQ(lib.lastPort.comPort, 3);
  EXPECT_EQ(lib.lastPort.baudIndex, static_cast<std::uint32_t>(h.settings.baudrateUpdate));
  EXPECT_EQ(lib.lastPort.reserved8, 0x0FFFFFFFu);
  EXPECT_EQ(lib.lastPort.reserved12, 0x0FFFFFFFu);
  EXPECT_EQ(lib.lastDa.startUser, h.worker.get());
  EXPECT_EQ(lib.lastDa.progressUser, h.worker.get());
  EXPECT_EQ(lib.lastDa.self, lib.lastDaAddress);
  EXPECT_EQ(lib.lastDa.reserved52, 0x0FFFFFFFu);
  EXPECT_EQ(lib.lastDa.reserved56 + lib.lastDa.reserved340 + lib.lastDa.reserved344, 3u);
  EXPECT_EQ(lib.lastImage.startUser, h.worker.get());
  EXPECT_EQ(lib.lastImage.reserved392 + lib.lastImage.reserved416, 2u);
  EXPECT_EQ(lib.lastImage.reserved432, 0x100000u);
  EXPECT_EQ(lib.lastStopWord, &h.worker->record().downloadStopWord);
  // The stop word was cleared for this download, so it ran to the end.
  EXPECT_EQ(h.view.events, (std::vector<std::string>{
                               "entries off", "reset", "gauge red 0", "progress 0", "progress 50",
                               "progress 100", "gauge blue 0", "progress 0", "progress 50",
                               "progress 100"}));

  // The download goes to the run's own port, whatever its number.
  for (const std::uint16_t port : {44, 255, 256, 300, 65535}) {
    WorkerHarness other(port);
    download(other, item::FlashDownload);
    EXPECT_EQ(other.library.lastPort.comPort, port);
  }
}

TEST(FirmwareDownload, ErrorClassesFailTheRunWithTheirText) {
  struct Case {
    std::uint32_t result;
    std::string memo;
  } cases[] = {
      {3, "     Fail!!(Download)   Failed to open the COM port"},
      {0x000A0007, "     Fail!!(Download)   BROM_DOWNLOAD_DA_FAIL"},
      {0x00250007, "     Fail!!(Download)   "},
      {26, "     Fail!!(Download)   Unknown Error Code"},
      {0x00010020, "     Fail!!(Download)   FT_CALLBACK_ERROR"},
  };
  for (const auto& c : cases) {
    WorkerHarness h;
    h.library.downloadResult = c.result;
    download(h, item::FlashDownload | item::AcquisitionTime);
    const WorkerRecord& r = h.worker->record();
    // The flash was identified before the failure: its type shows, the slot keeps the error.
    EXPECT_EQ(h.view.memo, (std::vector<std::string>{"[Flash Download]", c.memo,
                                                     "     Flash Type:FLASH_5"}))
        << c.result;
    EXPECT_EQ(r.results.flashDownload,
              (ItemSlot{true, c.memo.substr(std::string("     Fail!!(Download)   ").size())}));
    EXPECT_EQ(r.runFailCode, "Download");
    EXPECT_EQ(r.testItems.load(), 0u);
    EXPECT_EQ(r.verdictWord.load(), 0u);
    EXPECT_EQ(h.clock.elapsedMs(), 0);
  }
}

TEST(FirmwareDownload, WithoutLibraryTheDownloadFails) {
  WorkerHarness h;
  h.station.library = nullptr;
  download(h, item::FlashDownload);
  EXPECT_TRUE(memoHas(h, "     Fail!!(Download)   DL_HANDLE error code"));
  EXPECT_EQ(h.worker->record().testItems.load(), 0u);
}

TEST(FirmwareDownload, TransferWithoutFlashDeviceFailsTheDownload) {
  WorkerHarness h;
  h.library.flashIdentified = false;
  download(h, item::FlashDownload | item::AcquisitionTime);
  const WorkerRecord& r = h.worker->record();
  EXPECT_EQ(h.view.memo, (std::vector<std::string>{
                             "[Flash Download]",
                             "     Fail!!(Download)   Flash device not identified"}));
  EXPECT_EQ(r.results.flashDownload, (ItemSlot{true, "Flash device not identified"}));
  EXPECT_EQ(r.runFailCode, "Download");
  EXPECT_EQ(r.testItems.load(), 0u);
  EXPECT_EQ(r.verdictWord.load(), 0u);
  EXPECT_EQ(h.clock.elapsedMs(), 0);
}

TEST(FirmwareDownload, StopDuringDownloadStillEndsTheRunAndReachesTheLog) {
  struct Case {
    std::uint32_t abortedResult;
    std::string memo;
    std::string passFail;
  } cases[] = {
      // Stop ended the download: the module is not counted as defective.
      {0x00000001, "     Fail!!(Abort)   FT_ERROR", ",Fail(Abort),N/A,,COM3,2009-05-07,13:05:09,FT_ERROR,"},
      {0x00000011, "     Fail!!(Abort)   An error occurred during the download process",
       ",Fail(Abort),N/A,,COM3,2009-05-07,13:05:09,An error occurred during the download process,"},
      {0x00000007, "     Fail!!(Abort)   BROM_OK", ",Fail(Abort),N/A,,COM3,2009-05-07,13:05:09,BROM_OK,"},
      // A library that reports success although it was stopped: the run still tested nothing.
      {0, "     Fail!!(Abort)   Flash device not identified",
       ",Fail(Abort),N/A,,COM3,2009-05-07,13:05:09,Flash device not identified,"},
  };
  for (const auto& c : cases) {
    WorkerHarness h;
    h.settings.enableTest = item::FlashDownload | item::AcquisitionTime;
    h.library.abortedResult = c.abortedResult;
    h.library.duringDownload = [&](int phase, int percent) {
      if (phase != 0 || percent != 50) return;
      h.worker->stopFromUi();  // the main window's Stop
    };
    h.worker->run();

    EXPECT_EQ(std::count(h.view.events.begin(), h.view.events.end(), "gauge blue 0"), 0);
    EXPECT_TRUE(memoHas(h, c.memo)) << c.memo;
    EXPECT_EQ(h.module->opens, 1);
    ASSERT_EQ(h.module->writes.size(), 4u);
    EXPECT_EQ(h.module->writes[0], "$PMTK811*3A\r\n");
    EXPECT_EQ(h.module->writes[1].rfind("$PMTK810,", 0), 0u);
    EXPECT_EQ(h.module->writes[3], std::string("$PMTK104*37\r\n", 14));
    const std::string log = h.logText();
    EXPECT_NE(log.find(c.passFail), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
  }
}

}  // namespace
}  // namespace quenby
