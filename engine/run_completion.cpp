#include "engine/run_completion.h"

#include <string>

#include "engine/number_format.h"
#include "engine/port_worker.h"
#include "engine/test_log.h"

namespace quenby {
namespace {

constexpr const char* NotAvailable = "N/A";
const std::string Separator(48, '*');

std::string passFailText(const WorkerRecord& r) {
  return r.verdictWord.load() == 1 ? std::string("Pass") : "Fail(" + r.runFailCode + ")";
}

// The version and output texts contain commas: they go in double quotes, and a double quote in
// them is doubled so that the column stays one field.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

class RunLine {
 public:
  void add(const std::string& text) { line_ += text + ","; }
  void add(const ItemSlot& slot) { add(slot.recorded ? slot.value : NotAvailable); }
  void addQuoted(const ItemSlot& slot) { add(slot.recorded ? quoted(slot.value) : NotAvailable); }
  void add(const PairSlot& slot) {
    add(slot.recorded ? slot.first : NotAvailable);
    add(slot.recorded ? slot.second : NotAvailable);
  }
  std::string finish(std::int32_t totalSeconds) {
    return line_ + std::to_string(totalSeconds) + "\r\n";
  }

 private:
  std::string line_;
};

std::string buildRunLine(PortWorker& w, const LogTime& when, std::int32_t totalSeconds) {
  const WorkerRecord& r = w.record();
  const ItemResults& s = r.results;
  RunLine line;
  line.add(w.view().serialNumberText());
  line.add(passFailText(r));
  // A timed-out UpdateHZ measured no rate: its column shows 0, not the time-out text.
  line.add(s.updateHz.recorded ? formatGeneral(s.updateHz.rate) : NotAvailable);
  line.add(w.view().socketText());
  line.add(w.port() != 0 ? "COM" + std::to_string(w.port()) : NotAvailable);
  line.add(TestLog::dateText(when));
  line.add(TestLog::timeText(when));
  line.add(s.flashDownload);
  line.addQuoted(s.firmwareVersion);
  line.add(std::to_string(static_cast<unsigned>(w.settings().svId)));
  line.add(s.acquisitionTime);
  line.add(s.bitSyncTime);
  line.add(s.phase);
  line.add(s.tcxo);
  line.add(s.cnr);
  line.add(s.coldStartTtff);
  if (w.station().state.offeredItems & item::BluetoothMac) line.add(s.bluetoothMac);
  line.add(s.factoryReset);
  line.addQuoted(s.nmeaType);
  return line.finish(totalSeconds);
}

void showVerdict(PortWorker& w) {
  WorkerRecord& r = w.record();
  if (r.verdictWord.load() == 1) {
    w.view().showVerdict(true);
    return;
  }
  w.view().setCaption(w.view().caption() + "     Fail(" + r.runFailCode + ")");
  w.view().showVerdict(false);
}

void showLines(PortWorker& w, const std::vector<std::string>& lines) {
  for (const auto& line : lines) w.view().appendLine(line);
}

}  // namespace

void completeRun(PortWorker& w) {
  TestLog& log = w.station().log;
  const LogTime when = log.now();
  const std::int32_t totalSeconds = w.clock().counter() - w.record().runStartTick;

  const std::string runLine = buildRunLine(w, when, totalSeconds);
  showLines(w, log.appendRunLine(when, w.station().state.offeredItems, runLine));

  showVerdict(w);
  w.view().appendLine("[Finish]");
  w.view().appendLine("     Take(" + std::to_string(totalSeconds) + ") secs to test.");
  w.view().appendLine(Separator);

  showLines(w, log.refreshBackup(when));
}

}  // namespace quenby
