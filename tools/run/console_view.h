// A port "window" on standard output: every memo line as "[COM <n>] <line>", each chart refresh
// as the satellites with their CNR, download progress at most once per 10 %. Lines go out through
// the console writer, with control characters shown escaped.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/port_view.h"
#include "tools/run/console_writer.h"

namespace quenby::run {

class ConsoleView final : public PortView {
 public:
  ConsoleView(std::uint16_t port, ConsoleWriter& out);

  void resetForRun() override;
  void appendLine(const std::string& line) override;
  void setGaugeColorAndProgress(std::uint32_t bgrColor, int percent) override;
  void setGaugeProgress(int percent) override;
  void showFirmwareVersion(const std::string&) override {}
  void showBluetoothMac(const std::string&) override {}
  void showSatellites(const SatelliteTable& table) override;
  void showVerdict(bool passed) override;
  std::string caption() const override { return caption_; }
  void setCaption(const std::string& caption) override { caption_ = caption; }
  std::string serialNumberText() const override {
    return serials_.empty() ? std::string() : serials_.front();
  }
  std::string socketText() const override { return {}; }
  // The number that went into a run's line is used up; the next run takes the next one.
  void clearSerialNumber() override {
    if (!serials_.empty()) serials_.pop_front();
  }
  void setEntriesEnabled(bool) override {}

  // Serial numbers of the modules this port will test, one per run, in order.
  void addSerialNumbers(const std::vector<std::string>& numbers) {
    serials_.insert(serials_.end(), numbers.begin(), numbers.end());
  }

  int runs() const { return runs_; }
  int passes() const { return passes_; }

 private:
  void print(const std::string& text);
  void printProgress(int percent);

  std::uint16_t port_;
  ConsoleWriter& out_;
  std::string caption_;
  std::string phase_ = "download";
  int lastShownProgress_ = -1;
  int runs_ = 0;
  int passes_ = 0;
  std::deque<std::string> serials_;
};

}  // namespace quenby::run
