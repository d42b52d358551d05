// The Flash Download item: one call of the download library before the port is opened for the
// tests, with the gauge showing its progress and the result turned into a verdict.
#pragma once

namespace quenby {

class PortWorker;

// Worker thread: item header, records, stop word 0, the download, its result and flash type
// hand-offs, and the 2000 ms wait before the port is opened when items remain.
void runFirmwareDownload(PortWorker& w);

// User-interface thread: the download result and the flash type hand-offs.
void showDownloadResult(PortWorker& w);
void showFlashType(PortWorker& w);

}  // namespace quenby
