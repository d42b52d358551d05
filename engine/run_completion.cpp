#include "engine/run_completion.h"

#include <string>
#include <string_view>

#include "engine/csv_field.h"
#include "engine/number_format.h"
#include "engine/port_worker.h"
#include "engine/test_log.h"

namespace quenby {
namespace {

constexpr std::string_view NotAvailable = "N/A";
const std::string Separator(48, '*');
// Added to the caption of a run whose line could not be written to the test log.
constexpr std::string_view NotRecordedCaption = "     Not recorded!!";

std::string passFailText(const WorkerRecord& r) {
  return r.verdictWord.load() == 1 ? std::string("Pass") : "Fail(" + r.runFailCode + ")";
}

// One run line, column by column. Every text goes through the field rules of the log, so that
// nothing a module or the operator sends can shift a column or start a row; texts the station
// writes itself come out unchanged.
class RunLine {
 public:
  void add(std::string_view text, FieldSource source = FieldSource::Station) {
    line_ += csvField(text, source);
    line_ += ',';
  }
  void add(const ItemSlot& slot, FieldSource source = FieldSource::Station) {
    add(slot.recorded ? std::string_view(slot.value) : NotAvailable, source);
  }
  // The version and output texts contain commas: in double quotes when recorded.
  void addQuoted(const ItemSlot& slot) {
    if (!slot.recorded) return add(NotAvailable);
    line_ += quotedCsvField(slot.value, FieldSource::Outside);
    line_ += ',';
  }
  void add(const PairSlot& slot) {
    add(slot.recorded ? std::string_view(slot.first) : NotAvailable);
    add(slot.recorded ? std::string_view(slot.second) : NotAvailable);
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
  line.add(w.view().serialNumberText(), FieldSource::Outside);
  line.add(passFailText(r), FieldSource::Outside);
  // A timed-out UpdateHZ measured no rate: its column shows 0, not the time-out text.
  line.add(s.updateHz.recorded ? formatGeneral(s.updateHz.rate) : std::string(NotAvailable));
  line.add(w.view().socketText(), FieldSource::Outside);
  line.add(w.port() != 0 ? "COM" + std::to_string(w.port()) : std::string(NotAvailable));
  line.add(TestLog::dateText(when));
  line.add(TestLog::timeText(when));
  line.add(s.flashDownload, FieldSource::Outside);
  line.addQuoted(s.firmwareVersion);
  line.add(std::to_string(static_cast<unsigned>(w.settings().svId)));
  line.add(s.acquisitionTime);
  line.add(s.bitSyncTime);
  line.add(s.phase);
  line.add(s.tcxo);
  line.add(s.cnr);
  line.add(s.coldStartTtff);
  if (w.station().state.offeredItems & item::BluetoothMac)
    line.add(s.bluetoothMac, FieldSource::Outside);
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
  const TestLog::Appended appended =
      log.appendRunLine(when, w.station().state.offeredItems, runLine);
  showLines(w, appended.logProblems);
  // On a line that scans serial numbers a number belongs to one run: the next module on this
  // port is another one and must not be logged under it.
  if (w.settings().serialEntry == 1) w.view().clearSerialNumber();

  showVerdict(w);
  // A run whose line is not in the log never shows as a bare verdict: the module must be
  // tested again once the log can be written.
  if (!appended.recorded) w.view().setCaption(w.view().caption() + std::string(NotRecordedCaption));
  if (w.station().runLogged)
    w.station().runLogged(RunLogged{appended.recorded, appended.file, appended.reason});
  w.view().appendLine("[Finish]");
  w.view().appendLine("     Take(" + std::to_string(totalSeconds) + ") secs to test.");
  w.view().appendLine(Separator);

  showLines(w, appended.backupProblems);
}

}  // namespace quenby
