#include "engine/port_worker.h"

#include "engine/firmware_download.h"
#include "engine/item_steps.h"
#include "engine/nmea_sentence.h"
#include "engine/run_completion.h"
#include "engine/sentence_parser.h"
#include "engine/text_assembler.h"
#include "engine/verdicts.h"

namespace quenby {
namespace {

// Items below the version group's high bits: when Factory Reset is the only one of them left,
// the module's start-up message passes it.
constexpr std::uint32_t ResetDoneMask = 0x1FFF;

// End of a run: the module leaves its test mode, then is told to restart.
constexpr int EndSentenceGapMs = 100;
constexpr int RestartSettleMs = 1000;

constexpr std::string_view OpenProblemIndent = "     ";

}  // namespace

PortWorker::PortWorker(Station& station, std::uint16_t port, std::unique_ptr<SerialPort> serial,
                       PortView& view, UiBridge& bridge, RunClock& clock)
    : station_(station), serial_(std::move(serial)), view_(&view), bridge_(bridge), clock_(clock) {
  record_.port = port;
}

void PortWorker::run() {
  startRun();

  if (record_.hasItem(item::FlashDownload) && !skipDownload_)
    runFirmwareDownload(*this);
  else if (skipDownload_)
    record_.clearItem(item::FlashDownload);

  if (openPortAndHandshake()) {
    while (record_.testItems.load() != 0) readLoopPass();
  }
  endRun();
}

void PortWorker::startRun() {
  {
    std::lock_guard lock(stopping_);
    ending_ = false;
  }
  record_.pendingText.clear();
  record_.workText.clear();
  record_.satellites = {};
  record_.downloadReport = {};
  record_.results = {};
  record_.startupCarry.clear();

  record_.runFailCode = AbortFailCode;
  record_.ttffArmed = false;
  record_.commandSent = false;
  record_.verdictWord.store(0);
  record_.resetWait = false;

  // The settings and the operator's item choice are taken on the user-interface thread, which
  // is the only one writing them; the run then works on its own copy. A bit that no item answers
  // to would never leave the set and hold the run open: the run takes the items' bits only.
  handOff([this] {
    settings_ = station_.settings;
    const auto chosen = static_cast<std::uint32_t>(settings_.enableTest) & item::RunItems;
    record_.testItems.store(cancelled_ ? 0u : chosen);
    record_.downloadStopWord.store(cancelled_ ? DownloadStopRequest : 0u);
    skipDownload_ = station_.state.skipDownload.load();
    view().setEntriesEnabled(false);
  });
  itemFlags_ = handshakeItemFlags(record_.testItems.load());

  record_.itemStartTick = clock_.counter();
  record_.runStartTick = record_.itemStartTick;

  handOff([this] { view().resetForRun(); });
  handOff([this] {
    if (station_.lockControls) station_.lockControls();
  });
}

bool PortWorker::openPortAndHandshake() {
  // The open is made under the stop lock: a close that comes meanwhile finds the port open and
  // closes it, and a run whose window has closed (during its download) opens nothing more.
  std::unique_lock lock(stopping_);
  if (windowClosed_) return false;
  if (!serial_->open(record_.port, settings_.baudrateNmea)) {
    lock.unlock();
    // The verdict line is followed by the reason, so that the operator knows what to fix.
    const std::string why = serial_->openProblem();
    handOff([this, &why] {
      verdictOpenFailure(*this);
      if (!why.empty()) view().appendLine(std::string(OpenProblemIndent) + why);
    });
    return false;
  }
  lock.unlock();
  serial_->writeText(EndTestModeSentence);
  serial_->writeText(startSentence(itemFlags_, settings_.svId));
  return true;
}

void PortWorker::readLoopPass() {
  const std::size_t n = serial_->read(chunk_.data(), ReadChunkMax);
  chunk_[n] = '\0';
  if (n > 0) {
    const std::string_view chunk(chunk_.data(), n);
    if (chunkHasStartupMessage(record_, chunk)) {
      record_.resetWait = false;
      if ((record_.testItems.load() & ResetDoneMask) == item::FactoryReset)
        handOff([this] { verdictResetDone(*this); });
    }
    assembleWorkText(record_, chunk);
    parseWorkText(*this);
  } else if (const std::string gone = serial_->lineProblem();
             !gone.empty() && record_.testItems.load() != 0) {
    handOff([this, &gone] { verdictPortLost(*this, gone); });
    return;
  }

  // Factory Reset resend: no start-up message within about 3 seconds of the command.
  if (clock_.counter() - record_.commandTick > 2 && record_.commandSent && record_.resetWait)
    record_.commandSent = false;

  dispatchItemStep(*this);
}

void PortWorker::endRun() {
  const bool open = [this] {
    std::lock_guard lock(stopping_);
    ending_ = true;
    return serial_->isOpen();
  }();
  if (open) {
    serial_->writeFixed(EndTestModeSentence);
    clock_.sleepMs(EndSentenceGapMs);
    serial_->writeFixed(FactoryResetSentence);
    clock_.sleepMs(RestartSettleMs);
    serial_->purge(Purge::Full);
    serial_->close();
  }
  handOff([this] { completeRun(*this); });
  handOff([this] { view().setEntriesEnabled(true); });
}

void PortWorker::stopFromUi() {
  std::lock_guard lock(stopping_);
  cancelled_ = true;
  record_.downloadStopWord.store(DownloadStopRequest);
  record_.verdictWord.store(0);
  record_.testItems.store(0);
  // A worker already sending its end sentences has told the module to leave its test mode.
  if (!ending_) serial_->writeFixed(EndTestModeSentence);
  serial_->close();
}

void PortWorker::closeFromUi() {
  std::lock_guard lock(stopping_);
  cancelled_ = true;
  windowClosed_ = true;
  // A download in progress ends at once: nobody waits for a firmware that no run will test.
  record_.downloadStopWord.store(DownloadStopRequest);
  detachView();
  // The run did not finish: an item that passed before the close must not make it a pass.
  record_.verdictWord.store(0);
  record_.testItems.store(0);
  serial_->close();
}

void PortWorker::detachView() {
  if (detachedView_ && view_ == detachedView_.get()) return;
  detachedView_ = std::make_unique<DetachedPortView>(view_->caption(), view_->serialNumberText(),
                                                     view_->socketText());
  view_ = detachedView_.get();
}

}  // namespace quenby
