#include "engine/firmware_download.h"

#include <string>

#include "engine/item_steps.h"
#include "engine/port_worker.h"

namespace quenby {
namespace {

// Values the download library expects in fields the station does not otherwise use.
constexpr std::uint32_t UnusedPortWord = 0x0FFFFFFF;
constexpr std::uint32_t DaReserved52 = 0x0FFFFFFF;
constexpr std::uint32_t ImageReserved432 = 0x100000;

// Result used when the station has no download library at all.
constexpr std::uint32_t NoLibraryResult = 5;  // "DL_HANDLE error code"

// Once flashed, the module needs a moment before it talks NMEA on the port.
constexpr int AfterDownloadSettleMs = 2000;

constexpr const char* MemoIndent = "     ";

// The error text of a transfer into a flash that the Download Agent did not identify: nothing
// says the image landed in a flash the module can run from.
constexpr const char* FlashNotIdentifiedText = "Flash device not identified";

PortWorker& workerOf(void* user) { return *static_cast<PortWorker*>(user); }

void showGaugeColorAndPosition(PortWorker& w) {
  w.handOff([&w] {
    w.view().setGaugeColorAndProgress(w.record().gaugeColor, w.record().gaugePosition);
  });
}

// The gauge runs red while the Download Agent goes to the module ...
int onDaStart(void* user) {
  PortWorker& w = workerOf(user);
  w.record().gaugeColor = GaugeRed;
  w.record().gaugePosition = 0;
  showGaugeColorAndPosition(w);
  return 0;
}

// ... then blue while the image is written.
int onImageStart(void* user) {
  PortWorker& w = workerOf(user);
  w.record().gaugeColor = GaugeBlue;
  w.record().gaugePosition = 0;
  showGaugeColorAndPosition(w);
  return 0;
}

// The memo line of a notice, once the boot ROM has kept silent for most of its power-up window.
constexpr const char* PowerUpWindowEndingText =
    "No answer from the boot ROM yet: power the module now, the download gives up in 1 s";

int onProgress(std::uint8_t percent, std::uint32_t sent, std::uint32_t total, void* user) {
  PortWorker& w = workerOf(user);
  if (total == DownloadNoticeTotal) {
    if (sent == PowerUpWindowEnding)
      w.handOff([&w] { w.view().appendLine(std::string(MemoIndent) + PowerUpWindowEndingText); });
    return 0;
  }
  w.record().gaugePosition = percent;
  w.handOff([&w] { w.view().setGaugeProgress(w.record().gaugePosition); });
  return 0;
}

PortRecord portRecord(const PortWorker& w) {
  PortRecord port{};
  port.comPort = w.port();
  port.baudIndex = static_cast<std::uint32_t>(w.settings().baudrateUpdate);
  port.reserved8 = UnusedPortWord;
  port.reserved12 = UnusedPortWord;
  return port;
}

void fillDaRecord(DaRecord& da, PortWorker& w) {
  da.daHandle = w.station().state.daHandle;
  da.onStart = onDaStart;
  da.startUser = &w;
  da.onProgress = onProgress;
  da.progressUser = &w;
  da.reserved52 = DaReserved52;
  da.reserved56 = 1;
  da.self = &da;
  da.reserved340 = 1;
  da.reserved344 = 1;
}

ImageRecord imageRecord(PortWorker& w) {
  ImageRecord image{};
  image.imageHandle = w.station().state.imageHandle;
  image.onStart = onImageStart;
  image.startUser = &w;
  image.onProgress = onProgress;
  image.progressUser = &w;
  image.reserved392 = 1;
  image.reserved416 = 1;
  image.reserved432 = ImageReserved432;
  return image;
}

// The Flash Download slot takes the flash type, and the item is done.
void endFlashDownloadItem(WorkerRecord& r, const std::string& flashType) {
  if (!r.hasItem(item::FlashDownload) || !r.results.flashDownload.recorded ||
      r.verdictWord.load() != 1)
    return;
  r.results.flashDownload.value = flashType;
  r.clearItem(item::FlashDownload);
}

}  // namespace

void runFirmwareDownload(PortWorker& w) {
  handOffItemHeader(w);

  WorkerRecord& r = w.record();
  r.downloadReport = {};
  // The run's stop word was cleared at its start; a Stop made since stays in it.

  const PortRecord port = portRecord(w);
  DaRecord da{};
  fillDaRecord(da, w);
  const ImageRecord image = imageRecord(w);

  DownloadLibrary* library = w.station().library;
  const std::uint32_t result =
      library ? library->download(port, da, image, &r.downloadStopWord, &r.downloadReport)
              : NoLibraryResult;
  r.verdictWord.store(result);

  w.handOff([&w] { showDownloadResult(w); });
  w.handOff([&w] { showFlashType(w); });

  if (r.verdictWord.load() == 1 && r.testItems.load() != 0) w.clock().sleepMs(AfterDownloadSettleMs);
}

void showDownloadResult(PortWorker& w) {
  WorkerRecord& r = w.record();
  ItemSlot& slot = r.results.flashDownload;
  slot.recorded = true;

  const std::uint32_t result = r.verdictWord.load();
  const bool transferred = downloadErrorClass(result) == 0;
  std::string message;
  if (transferred && r.downloadReport.flashIdentified()) {
    message = "Pass!!";
    r.itemStartTick = w.clock().counter();
    // A run that Stop or the window's close emptied during the download tested nothing: its
    // download passing must not make the whole run a pass.
    r.verdictWord.store(r.testItems.load() != 0 ? 1 : 0);
  } else {
    const std::string text = transferred ? FlashNotIdentifiedText : downloadErrorText(result);
    r.verdictWord.store(0);
    slot.value = text;
    // A download that the operator's Stop ended says nothing about the module: the run stays
    // aborted instead of counting the module as defective.
    const bool stopped = r.downloadStopWord.load() == DownloadStopRequest;
    if (!stopped) r.runFailCode = w.settings().flashDownloadFailCode;
    message = "Fail!!(" + r.runFailCode + ")   " + text;
    r.clearAllItems();
  }
  w.view().appendLine(MemoIndent + message);
}

void showFlashType(PortWorker& w) {
  WorkerRecord& r = w.record();
  // Without an identified flash the download result has failed the item already.
  if (!r.downloadReport.flashIdentified()) return;
  DownloadLibrary* library = w.station().library;
  const std::string name =
      library ? library->flashDeviceName(r.downloadReport.flashDevice()) : std::string();
  w.view().appendLine(std::string(MemoIndent) + "Flash Type:" + name);
  endFlashDownloadItem(r, name);
}

}  // namespace quenby
