#include "tools/run/console_view.h"

#include "tools/run/terminal_text.h"

namespace quenby::run {

ConsoleView::ConsoleView(std::uint16_t port, ConsoleWriter& out)
    : port_(port), out_(out), caption_("COM " + std::to_string(port)) {}

void ConsoleView::print(const std::string& text) {
  out_.print("[COM " + std::to_string(port_) + "] " + printableText(text));
}

void ConsoleView::resetForRun() {
  caption_ = "COM " + std::to_string(port_);
  lastShownProgress_ = -1;
}

void ConsoleView::appendLine(const std::string& line) { print(line); }

void ConsoleView::setGaugeColorAndProgress(std::uint32_t bgrColor, int percent) {
  phase_ = bgrColor == GaugeBlue ? "image" : "download agent";
  lastShownProgress_ = -1;
  printProgress(percent);
}

void ConsoleView::setGaugeProgress(int percent) { printProgress(percent); }

void ConsoleView::printProgress(int percent) {
  // One line per 10 % step of the current phase, and always the 100 % line.
  const int step = percent / 10;
  if (lastShownProgress_ >= 0 && step <= lastShownProgress_ / 10 && percent != 100) return;
  if (percent == lastShownProgress_) return;
  lastShownProgress_ = percent;
  print(phase_ + " " + std::to_string(percent) + "%");
}

void ConsoleView::showSatellites(const SatelliteTable& table) {
  std::string text = "satellites";
  for (const auto& sat : table)
    if (sat.id > 0) text += " " + std::to_string(sat.id) + ":" + std::to_string(sat.snr);
  print(text);
}

void ConsoleView::showVerdict(bool passed) {
  ++runs_;
  if (passed) ++passes_;
}

}  // namespace quenby::run
