// The boot-ROM download library as the station uses it: port enumeration, the Download Agent and
// image objects, the checks, and the firmware download through the module's boot ROM with its
// progress callbacks. brom/ implements it; tests use a fake.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "settings/library_handles.h"

namespace quenby {

// ---- Result codes -------------------------------------------------------------------------

// Download result: low 8 bits the error class (0 = success); for class 7 bits 16 to 23 hold the
// boot-ROM sub-code.
inline constexpr std::uint32_t downloadErrorClass(std::uint32_t result) { return result & 0xFF; }
inline constexpr std::uint32_t bromSubCode(std::uint32_t result) { return (result >> 16) & 0xFF; }
inline constexpr std::uint32_t makeDownloadResult(std::uint32_t errorClass, std::uint32_t sub = 0) {
  return (errorClass & 0xFF) | ((sub & 0xFF) << 16);
}
inline constexpr std::uint32_t BromErrorClass = 7;

// Load result (Download Agent file, image file): bits 8 to 15 zero mean loaded.
inline constexpr bool loadResultOk(std::uint32_t result) { return ((result >> 8) & 0xFF) == 0; }

// Port enumeration results.
inline constexpr int EnumerateFound = 0;
inline constexpr int EnumerateNone = 2;

// ---- Records of the download call ------------------------------------------------------------

// Callbacks the library calls on the downloading thread; each returns 0.
using PhaseStartCallback = int (*)(void* user);
using PhaseProgressCallback = int (*)(std::uint8_t percent, std::uint32_t sent,
                                      std::uint32_t total, void* user);

// A notice the library gives the station while a download runs, through the Download Agent
// phase's progress callback: percent 0, `sent` the notice's number, `total` DownloadNoticeTotal
// (a progress call proper always has a total above 0). The gauge stays as it is.
inline constexpr std::uint32_t DownloadNoticeTotal = 0;
enum DownloadNotice : std::uint32_t {
  // The boot ROM has not answered and the power-up window is about to run out.
  PowerUpWindowEnding = 1,
};

// Which port, and how fast to download.
struct PortRecord {
  std::uint16_t comPort = 0;        // the whole port number: the download reaches no other port
  std::uint32_t baudIndex = 0;      // Baudrate_Update: 1 = 921600 ... 10 = 4800
  std::uint32_t reserved8 = 0;      // the station always passes 0x0FFFFFFF
  std::uint32_t reserved12 = 0;     // the station always passes 0x0FFFFFFF
};

// The Download Agent phase.
struct DaRecord {
  DaHandle daHandle = nullptr;
  PhaseStartCallback onStart = nullptr;
  void* startUser = nullptr;
  PhaseProgressCallback onProgress = nullptr;
  void* progressUser = nullptr;
  std::uint32_t reserved52 = 0;            // the station always passes 0x0FFFFFFF
  std::uint32_t reserved56 = 0;            // the station always passes 1
  const DaRecord* self = nullptr;          // the address of this record
  std::uint8_t reserved340 = 0;            // the station always passes 1
  std::uint32_t reserved344 = 0;           // the station always passes 1
};

// The image phase.
struct ImageRecord {
  DlHandle imageHandle = nullptr;
  PhaseStartCallback onStart = nullptr;
  void* startUser = nullptr;
  PhaseProgressCallback onProgress = nullptr;
  void* progressUser = nullptr;
  std::uint32_t reserved392 = 0;           // the station always passes 1
  std::uint32_t reserved416 = 0;           // the station always passes 1
  std::uint32_t reserved432 = 0;           // the station always passes 0x100000
};

// Filled by the download: six words; the station reads word 1 (flash device number) and word 4
// (non-zero when a flash device was identified).
struct DownloadReport {
  std::uint32_t words[6] = {};
  std::uint32_t flashDevice() const { return words[1]; }
  bool flashIdentified() const { return words[4] != 0; }
};

// What the Download Agent and image checks fill in.
struct DaCheckInfo {
  std::uint32_t words[8] = {};
};
struct ImageCheckInfo {
  std::uint32_t words[8] = {};
};

// ---- The library ------------------------------------------------------------------------------

class DownloadLibrary {
 public:
  virtual ~DownloadLibrary() = default;

  // Fills ports with up to count port numbers and sets count to the number found.
  // EnumerateFound, EnumerateNone, or another value on failure.
  virtual int enumeratePorts(std::uint16_t* ports, std::uint16_t& count) = 0;

  virtual int createDaHandle(DaHandle* handle) = 0;
  virtual int createImageHandle(DlHandle* handle) = 0;

  virtual int setDaChipValue(DaHandle da, std::uint32_t chipValue) = 0;
  virtual std::uint32_t loadDaFile(DaHandle da, const std::string& path) = 0;

  virtual int loadLayoutFile(DlHandle image, const std::string& scatPath) = 0;
  virtual int setImageOption(DlHandle image, std::uint32_t option) = 0;
  virtual std::uint32_t loadImageFile(DlHandle image, int entry, const std::string& path) = 0;
  virtual int enableImageEntry(DlHandle image, int entry, bool enable) = 0;

  // 0 when usable.
  virtual int checkDa(DaHandle da, DaCheckInfo* info, int flag) = 0;
  virtual int checkImage(DlHandle image, ImageCheckInfo* info, int flag) = 0;

  // Downloads the Download Agent and the image to the module on port.comPort; blocks until done,
  // calling the callbacks of each phase on this thread. Aborts once *stopWord reads 9876.
  virtual std::uint32_t download(const PortRecord& port, const DaRecord& da,
                                 const ImageRecord& image,
                                 const std::atomic<std::uint32_t>* stopWord,
                                 DownloadReport* report) = 0;

  virtual std::string flashDeviceName(std::uint32_t flashDevice) = 0;

  virtual int unloadDa(DaHandle da) = 0;
  virtual int unloadImageEntry(DlHandle image, int entry) = 0;
  virtual int destroyDaHandle(DaHandle* handle) = 0;
  virtual int destroyImageHandle(DlHandle* handle) = 0;
};

// The memo text for a failed download result (error class and boot-ROM sub-code).
std::string downloadErrorText(std::uint32_t result);

}  // namespace quenby
