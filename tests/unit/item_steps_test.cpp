#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/item_steps.h"
#include "engine/nmea_sentence.h"
#include "tests/fakes/worker_harness.h"

namespace quenby {
namespace {

using testing::WorkerHarness;
using Lines = std::vector<std::string>;

// A run started at counter 100 with `items`; the port is open.
void start(WorkerHarness& h, std::uint32_t items) {
  h.settings.enableTest = static_cast<std::int32_t>(items);
  h.worker->startRun();
  h.module->open(3, 38400);
}

TEST(ItemStep, PlainWatchFiresWhenItsTimeIsReached) {
  struct Case {
    std::uint32_t items;
    std::int32_t TestSettings::*timeout;
    std::string failCode;
    std::function<void(ItemResults&)> slot;
  };
  const Case cases[] = {
      {0x2, &TestSettings::versionTimeout, "Version",
       [](ItemResults& r) { r.firmwareVersion = {true, "Timeout(7)"}; }},
      {0x2000, &TestSettings::nmeaTimeout, "NMEA",
       [](ItemResults& r) { r.nmeaType = {true, "Timeout(7)"}; }},
      {0x80000, &TestSettings::hzTimeout, "UpdateHz",
       [](ItemResults& r) { r.updateHz = {0.0f, "Timeout(7)", true}; }},
      {0x4, &TestSettings::acqTimeTimeout, "Acq",
       [](ItemResults& r) { r.acquisitionTime = {true, "Timeout(7)"}; }},
      {0x8, &TestSettings::bitSyncTimeout, "BitSync",
       [](ItemResults& r) { r.bitSyncTime = {true, "Timeout(7)"}; }},
      {0x400, &TestSettings::btTimeout, "BT_Mac",
       [](ItemResults& r) { r.bluetoothMac = {true, "Timeout(7)"}; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failCode);
    WorkerHarness h;
    h.settings.*c.timeout = 7;
    start(h, c.items);
    h.clock.advanceMs(6999);
    dispatchItemStep(*h.worker);
    EXPECT_TRUE(h.view.memo.empty());
    EXPECT_EQ(h.worker->record().testItems.load(), c.items);

    h.clock.advanceMs(1);
    dispatchItemStep(*h.worker);
    ItemResults expected;
    c.slot(expected);
    EXPECT_EQ(h.view.memo, Lines{"     Fail(" + c.failCode + ")!!   TimeOut!! [7]"});
    EXPECT_EQ(h.worker->record().results, expected);
    EXPECT_EQ(h.worker->record().runFailCode, c.failCode);
    EXPECT_EQ(h.worker->record().testItems.load(), 0u);
  }
}

TEST(ItemStep, ZeroTimeOutFiresAtOnceExceptSignalQualityOneTickLater) {
  WorkerHarness h;
  h.settings.acqTimeTimeout = 0;
  start(h, item::AcquisitionTime);
  dispatchItemStep(*h.worker);
  EXPECT_EQ(h.view.memo, Lines{"     Fail(Acq)!!   TimeOut!! [0]"});

  WorkerHarness sq;
  sq.settings.signalTimeout = 0;
  start(sq, item::SignalQuality);
  sq.clock.advanceMs(999);
  dispatchItemStep(*sq.worker);
  EXPECT_TRUE(sq.view.memo.empty());
  sq.clock.advanceMs(1);
  dispatchItemStep(*sq.worker);
  EXPECT_EQ(sq.view.memo, Lines{"     Fail(CNR)!!   TimeOut!! [1]"});
}

TEST(ItemStep, SignalQualityTimeOutMarksEachMissingResult) {
  const std::string t = "Timeout(20)";
  struct Case {
    const char* name;
    std::function<void(ItemResults&)> given;
    std::function<void(ItemResults&)> after;
    std::string failCode;
  };
  const Case cases[] = {
      {"no reply", [](ItemResults&) {},
       [&](ItemResults& r) { r.phase = {true, t}, r.tcxo = {true, t, t}, r.cnr = {true, t, t}; },
       "CNR"},
      {"phase only", [](ItemResults& r) { r.phase = {true, "0.92"}; },
       [&](ItemResults& r) { r.tcxo = {true, t, t}, r.cnr = {true, t, t}; }, "CNR"},
      {"phase missing only",
       [](ItemResults& r) { r.tcxo = {true, "1.000", "0.010"}, r.cnr = {true, "40.5", "1.2"}; },
       [&](ItemResults& r) { r.phase = {true, t}; }, "Phase"},
      {"all recorded",
       [](ItemResults& r) { r.phase.recorded = r.tcxo.recorded = r.cnr.recorded = true; },
       [](ItemResults&) {}, AbortFailCode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkerHarness h;
    start(h, item::SignalQuality);
    c.given(h.worker->record().results);
    ItemResults expected = h.worker->record().results;
    c.after(expected);

    h.clock.advanceMs(20999);  // exactly the time-out: not yet
    dispatchItemStep(*h.worker);
    EXPECT_TRUE(h.view.memo.empty());
    h.clock.advanceMs(1);
    dispatchItemStep(*h.worker);
    EXPECT_EQ(h.view.memo, Lines{"     Fail(" + c.failCode + ")!!   TimeOut!! [21]"});
    EXPECT_EQ(h.worker->record().results, expected);
    EXPECT_EQ(h.worker->record().runFailCode, c.failCode);
    EXPECT_EQ(h.worker->record().testItems.load(), 0u);
  }
}

TEST(ItemStep, DispatchRunsTheFirstItemInOrder) {
  // Every time-out is 0, so whichever step runs fails at once and names itself by fail code.
  const std::pair<std::uint32_t, std::string> cases[] = {
      {0x82006, "Version"}, {0x82004, "NMEA"},  {0x81004, "UpdateHz"}, {0x101C, "Acq"},
      {0x1058, "BitSync"},  {0x1050, "CNR"},    {0x1440, "CTTFF"},     {0x1400, "Reset"},
      {0x400, "BT_Mac"},    {0x1, AbortFailCode},
  };
  for (const auto& [items, failCode] : cases) {
    SCOPED_TRACE(failCode);
    WorkerHarness h;
    for (auto timeout : {&TestSettings::versionTimeout, &TestSettings::nmeaTimeout,
                         &TestSettings::hzTimeout, &TestSettings::acqTimeTimeout,
                         &TestSettings::bitSyncTimeout, &TestSettings::signalTimeout,
                         &TestSettings::coldStartTimeout, &TestSettings::resetTimeout,
                         &TestSettings::btTimeout})
      h.settings.*timeout = 0;
    start(h, items);
    h.clock.advanceMs(1000);
    dispatchItemStep(*h.worker);
    EXPECT_EQ(h.worker->record().runFailCode, failCode);
    EXPECT_EQ(h.worker->record().testItems.load(), failCode == AbortFailCode ? items : 0u);
  }
}

TEST(ItemStep, HeaderIsTheFirstItemOfTheSet) {
  const std::pair<std::uint32_t, std::string_view> cases[] = {
      {0x1, "[Flash Download]"},       {0x1041, "[Flash Download]"},
      {0x82002, "[Firmware Version]"}, {0x4, "[Acquisition Time]"},
      {0x8, "[Bit Sync Time]"},        {0x10, "[Signal Quality]"},
      {0x1040, "[Cold Start TTFF]"},   {0x1400, "[Bluetooth Mac Address]"},
      {0x3000, "[Factory Reset]"},     {0x82000, "[NMEA Type]"},
      {0x80000, "[UpdateHZ]"},         {0x120, ""},  // bits no item uses
      {0, ""},
  };
  for (const auto& [items, text] : cases) EXPECT_EQ(itemHeaderText(items), text) << items;

  WorkerHarness h;
  start(h, 0x20);
  handOffItemHeader(*h.worker);
  EXPECT_TRUE(h.view.memo.empty());
}

TEST(ItemStep, ColdStartSendsTheRestartCommandsOnce) {
  WorkerHarness h;
  start(h, item::FlashDownload | item::ColdStartTtff);
  WorkerRecord& r = h.worker->record();
  r.resetWait = true;
  r.pendingText.bytes[0] = '$';
  r.pendingText.length = 1;
  std::vector<std::int64_t> writeMs;
  h.module->onWrite = [&](std::string_view) { writeMs.push_back(h.clock.elapsedMs()); };

  dispatchItemStep(*h.worker);
  dispatchItemStep(*h.worker);  // the commands are not sent again

  EXPECT_EQ(h.module->writes, (std::vector<std::string>{std::string(ColdRestartSentence),
                                                        std::string(FixInterval1000Sentence),
                                                        std::string(RmcGsvOutputSentence)}));
  EXPECT_EQ(writeMs, (std::vector<std::int64_t>{0, 1000, 1100}));
  EXPECT_EQ(h.clock.elapsedMs(), 1100);
  EXPECT_EQ(h.module->purges, std::vector<Purge>{Purge::Receive});
  EXPECT_EQ(h.view.memo, Lines{"[Flash Download]"});  // a download that named no flash type
  EXPECT_EQ(r.pendingText.length, 0u);
  EXPECT_EQ(r.pendingText.bytes[0], '\0');
  EXPECT_TRUE(r.ttffArmed && r.commandSent);
  EXPECT_FALSE(r.resetWait);
  EXPECT_EQ(r.commandTick, 101);

  h.clock.advanceMs(90000 - 1100);  // ColdStart_Timeout 90 from the item start
  dispatchItemStep(*h.worker);
  EXPECT_EQ(h.view.memo.back(), "     Fail(CTTFF)!!   TimeOut!! [90]");
  EXPECT_EQ(r.results.coldStartTtff, (ItemSlot{true, "Timeout(90)"}));
}

TEST(ItemStep, FactoryResetResendsUntilStartUpMessageOrTimeOut) {
  const std::string reset = std::string(FactoryResetSentence) + '\0';
  const std::string timedOut = "     Fail(Reset)!!   TimeOut!! [10]";
  struct Case {
    const char* name;
    std::uint32_t items;
    std::int64_t startupAtMs;  // 0: the module never sends it
    std::vector<std::int32_t> sentAt;
    Lines memo;
  };
  const Case cases[] = {
      {"never answered", 0x1000, 0, {100, 103, 106, 109},
       {"[Factory Reset]", "[Factory Reset]", "[Factory Reset]", "[Factory Reset]", timedOut}},
      {"answered", 0x1000, 4000, {100, 103},
       {"[Factory Reset]", "[Factory Reset]", "     Pass!!   Already Reset!!"}},
      {"answered, Bluetooth pending", 0x1400, 4000, {100, 103, 106, 109},
       {"[Bluetooth Mac Address]", "[Bluetooth Mac Address]", "[Bluetooth Mac Address]",
        "[Bluetooth Mac Address]", timedOut}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkerHarness h;
    h.settings.resetTimeout = 10;
    start(h, c.items);
    if (c.startupAtMs > 0) h.module->sendAtMs(c.startupAtMs, "$PMTK010,001*2E\r\n");
    std::vector<std::int32_t> sentAt;
    h.module->onWrite = [&](std::string_view bytes) {
      if (bytes == reset) sentAt.push_back(h.clock.counter());
    };
    for (int pass = 0; pass < 100 && h.worker->record().testItems.load() != 0; ++pass)
      h.worker->readLoopPass();

    EXPECT_EQ(sentAt, c.sentAt);
    EXPECT_EQ(h.view.memo, c.memo);
  }
}

}  // namespace
}  // namespace quenby
