// What a port window shows of its port's runs. The worker reaches it only inside hand-offs, on
// the user-interface thread; the Qt port window implements it, tests record it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/satellite_table.h"

namespace quenby {

// Gauge colours, as blue-green-red values.
inline constexpr std::uint32_t GaugeRed = 0x0000FF;
inline constexpr std::uint32_t GaugeBlue = 0xFF0000;

class PortView {
 public:
  virtual ~PortView() = default;

  // A new run on this port: caption back to "COM <n>", version, Bluetooth address, verdict
  // picture and chart cleared, gauge at 0. The memo, the serial number and the gauge colour stay.
  virtual void resetForRun() = 0;
  // One new line at the end of the memo.
  virtual void appendLine(const std::string& line) = 0;
  virtual void setGaugeColorAndProgress(std::uint32_t bgrColor, int percent) = 0;
  virtual void setGaugeProgress(int percent) = 0;
  virtual void showFirmwareVersion(const std::string& text) = 0;
  virtual void showBluetoothMac(const std::string& text) = 0;
  // Rebuild the chart: one bar per entry with id > 0, in table order.
  virtual void showSatellites(const SatelliteTable& table) = 0;
  // The verdict picture: pass or fail.
  virtual void showVerdict(bool passed) = 0;
  virtual std::string caption() const = 0;
  virtual void setCaption(const std::string& caption) = 0;
  // The texts the log line takes from the window.
  virtual std::string serialNumberText() const = 0;
  virtual std::string socketText() const = 0;
  // The serial number has gone into its run's log line; the next module brings its own.
  virtual void clearSerialNumber() = 0;
  // The Socket and Serial No. entries: disabled while a run is in progress.
  virtual void setEntriesEnabled(bool enabled) = 0;
};

// The view of a port whose window has closed: the run goes on and reaches the log, nothing is
// shown. It keeps the caption, serial number and socket texts the window had when it closed.
class DetachedPortView final : public PortView {
 public:
  DetachedPortView(std::string caption, std::string serialNumber, std::string socket)
      : caption_(std::move(caption)), serial_(std::move(serialNumber)), socket_(std::move(socket)) {}
  void resetForRun() override {}
  void appendLine(const std::string&) override {}
  void setGaugeColorAndProgress(std::uint32_t, int) override {}
  void setGaugeProgress(int) override {}
  void showFirmwareVersion(const std::string&) override {}
  void showBluetoothMac(const std::string&) override {}
  void showSatellites(const SatelliteTable&) override {}
  void showVerdict(bool) override {}
  std::string caption() const override { return caption_; }
  void setCaption(const std::string& caption) override { caption_ = caption; }
  std::string serialNumberText() const override { return serial_; }
  std::string socketText() const override { return socket_; }
  void clearSerialNumber() override { serial_.clear(); }
  void setEntriesEnabled(bool) override {}

 private:
  std::string caption_;
  std::string serial_;
  std::string socket_;
};

}  // namespace quenby
