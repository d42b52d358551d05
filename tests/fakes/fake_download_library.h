// A download library that returns chosen results and drives the progress callbacks like a real
// download would (Download Agent phase, then image phase).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/download_library.h"

namespace quenby::testing {

class FakeDownloadLibrary final : public DownloadLibrary {
 public:
  // ---- Chosen behaviour ---------------------------------------------------------------
  std::vector<std::uint16_t> ports = {1, 3};
  int enumerateResult = EnumerateFound;
  std::uint32_t daLoadResult = 0;
  std::uint32_t imageLoadResult = 0;
  int daCheckResult = 0;
  int imageCheckResult = 0;
  std::uint32_t downloadResult = 0;
  std::uint32_t flashDevice = 5;
  bool flashIdentified = true;
  std::vector<int> progressSteps = {0, 50, 100};
  bool powerUpNotice = false;  // the power-up window's notice before the first phase
  bool runImagePhase = true;
  // Called once per progress step; lets a test act in the middle of a download (e.g. Stop).
  std::function<void(int phase, int percent)> duringDownload;
  // Returned instead of downloadResult when the stop word reads 9876 after a progress step.
  std::uint32_t abortedResult = 0x00000001;

  // ---- What happened ------------------------------------------------------------------
  std::vector<std::string> calls;
  PortRecord lastPort;
  DaRecord lastDa;
  const DaRecord* lastDaAddress = nullptr;  // where the caller's Download Agent record lives
  ImageRecord lastImage;
  const std::atomic<std::uint32_t>* lastStopWord = nullptr;

  int enumeratePorts(std::uint16_t* out, std::uint16_t& count) override {
    calls.push_back("enumerate");
    if (enumerateResult != EnumerateFound) return enumerateResult;
    std::uint16_t n = 0;
    for (auto p : ports)
      if (n < count) out[n++] = p;
    count = n;
    return n == 0 ? EnumerateNone : EnumerateFound;
  }
  int createDaHandle(DaHandle* h) override {
    calls.push_back("createDa");
    *h = reinterpret_cast<DaHandle>(&daObject_);
    return 0;
  }
  int createImageHandle(DlHandle* h) override {
    calls.push_back("createImage");
    *h = reinterpret_cast<DlHandle>(&imageObject_);
    return 0;
  }
  int setDaChipValue(DaHandle, std::uint32_t chip) override {
    calls.push_back("chip " + std::to_string(chip));
    return 0;
  }
  std::uint32_t loadDaFile(DaHandle, const std::string& path) override {
    calls.push_back("loadDa " + path);
    return daLoadResult;
  }
  int loadLayoutFile(DlHandle, const std::string& path) override {
    calls.push_back("layout " + path);
    return 0;
  }
  int setImageOption(DlHandle, std::uint32_t option) override {
    calls.push_back("option " + std::to_string(option));
    return 0;
  }
  std::uint32_t loadImageFile(DlHandle, int entry, const std::string& path) override {
    calls.push_back("loadImage " + std::to_string(entry) + " " + path);
    return imageLoadResult;
  }
  int enableImageEntry(DlHandle, int entry, bool enable) override {
    calls.push_back("enable " + std::to_string(entry) + " " + std::to_string(enable));
    return 0;
  }
  int checkDa(DaHandle, DaCheckInfo*, int) override { return daCheckResult; }
  int checkImage(DlHandle, ImageCheckInfo*, int) override { return imageCheckResult; }

  std::uint32_t download(const PortRecord& port, const DaRecord& da, const ImageRecord& image,
                         const std::atomic<std::uint32_t>* stopWord,
                         DownloadReport* report) override {
    calls.push_back("download");
    lastPort = port;
    lastDa = da;
    lastDaAddress = &da;
    lastImage = image;
    lastStopWord = stopWord;
    auto phase = [&](int which, PhaseStartCallback start, void* su, PhaseProgressCallback prog,
                     void* pu) {
      if (start) start(su);
      for (int p : progressSteps) {
        if (prog) prog(static_cast<std::uint8_t>(p), static_cast<std::uint32_t>(p), 100, pu);
        if (duringDownload) duringDownload(which, p);
        if (stopWord && stopWord->load() == 9876) return false;
      }
      return true;
    };
    // The boot ROM answers late: the station is told before the first phase begins.
    if (powerUpNotice && da.onProgress)
      da.onProgress(0, PowerUpWindowEnding, DownloadNoticeTotal, da.progressUser);
    if (!phase(0, da.onStart, da.startUser, da.onProgress, da.progressUser)) return abortedResult;
    if (runImagePhase &&
        !phase(1, image.onStart, image.startUser, image.onProgress, image.progressUser))
      return abortedResult;
    if (report) {
      report->words[1] = flashDevice;
      report->words[4] = flashIdentified ? 1 : 0;
    }
    return downloadResult;
  }
  std::string flashDeviceName(std::uint32_t n) override {
    return "FLASH_" + std::to_string(n);
  }
  int unloadDa(DaHandle) override {
    calls.push_back("unloadDa");
    return 0;
  }
  int unloadImageEntry(DlHandle, int entry) override {
    calls.push_back("unloadImage " + std::to_string(entry));
    return 0;
  }
  int destroyDaHandle(DaHandle* h) override {
    calls.push_back("destroyDa");
    *h = nullptr;
    return 0;
  }
  int destroyImageHandle(DlHandle* h) override {
    calls.push_back("destroyImage");
    *h = nullptr;
    return 0;
  }

 private:
  int daObject_ = 0;
  int imageObject_ = 0;
};

}  // namespace quenby::testing
