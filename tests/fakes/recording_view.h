// A port window that records what it was told to show.
#pragma once

#include <string>
#include <vector>

#include "engine/port_view.h"

namespace quenby::testing {

class RecordingView final : public PortView {
 public:
  explicit RecordingView(std::uint16_t port = 3) : caption_("COM " + std::to_string(port)) {}

  std::vector<std::string> memo;      // memo lines, in order
  std::vector<std::string> events;    // every call but memo lines, as short texts
  std::string firmwareVersion;
  std::string bluetoothMac;
  SatelliteTable lastSatellites{};
  int chartRefreshes = 0;
  int verdict = -1;  // -1 none, 0 fail, 1 pass
  bool entriesEnabled = true;
  std::string serialNumber;
  std::string socket;

  void resetForRun() override {
    events.push_back("reset");
    firmwareVersion.clear();
    bluetoothMac.clear();
    verdict = -1;
  }
  void appendLine(const std::string& line) override { memo.push_back(line); }
  void setGaugeColorAndProgress(std::uint32_t color, int percent) override {
    events.push_back("gauge " + std::string(color == GaugeBlue ? "blue" : color == GaugeRed ? "red" : "other") +
                     " " + std::to_string(percent));
  }
  void setGaugeProgress(int percent) override {
    events.push_back("progress " + std::to_string(percent));
  }
  void showFirmwareVersion(const std::string& text) override { firmwareVersion = text; }
  void showBluetoothMac(const std::string& text) override { bluetoothMac = text; }
  void showSatellites(const SatelliteTable& table) override {
    lastSatellites = table;
    ++chartRefreshes;
  }
  void showVerdict(bool passed) override { verdict = passed ? 1 : 0; }
  std::string caption() const override { return caption_; }
  void setCaption(const std::string& caption) override { caption_ = caption; }
  std::string serialNumberText() const override { return serialNumber; }
  std::string socketText() const override { return socket; }
  void clearSerialNumber() override { serialNumber.clear(); }
  void setEntriesEnabled(bool enabled) override {
    entriesEnabled = enabled;
    events.push_back(enabled ? "entries on" : "entries off");
  }

 private:
  std::string caption_;
};

}  // namespace quenby::testing
