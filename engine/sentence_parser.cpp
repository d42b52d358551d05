#include "engine/sentence_parser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "engine/expected_texts.h"
#include "engine/nmea_fields.h"
#include "engine/number_format.h"
#include "engine/port_worker.h"
#include "engine/verdicts.h"

namespace quenby {
namespace {

// ---- Sentence layout ------------------------------------------------------------------------

// "$GP" sentences up to this long carry no type worth reading.
constexpr std::size_t GpSentenceMin = 11;
// Satellites per GSV message, and the fields of each (id, elevation, azimuth, SNR).
constexpr int GsvSatellitesPerMessage = 4;
constexpr int GsvFieldsPerSatellite = 4;
constexpr int GsvFirstSatelliteField = 4;
// Characters of the address in a $PMTK592 reply, and the text made of them ("AA:BB:...").
constexpr std::size_t MacDigits = 12;
constexpr std::size_t MacTextLength = 17;
constexpr std::string_view UnsetMac = "FFFFFFFFFFFF";
// Decimals of the Signal Quality texts.
constexpr int PhaseDecimals = 2;
constexpr int TcxoDecimals = 3;
constexpr int CnrDecimals = 1;
// Scale of the integer fields of $PMTK815.
constexpr double HundredthsScale = 0.01;
constexpr double ThousandthsScale = 0.001;
// Milliseconds in a second: the fix interval of $PMTK500 gives the update rate.
constexpr double MsPerSecond = 1000.0;
// Items of the Cold Start TTFF test: it runs only when every earlier item has passed.
constexpr std::uint32_t TtffStageMask = 0x7F;
// Items below Bit Sync Time: Acquisition Time is the current item when it is the only one left.
constexpr std::uint32_t AcquisitionStageMask = 0x7;

// The position just after the n-th ",", or npos when the sentence has fewer commas.
std::size_t afterComma(std::string_view sentence, int n) {
  std::size_t pos = 0;
  for (int i = 0; i < n; ++i) {
    const std::size_t comma = sentence.find(',', pos);
    if (comma == std::string_view::npos) return std::string_view::npos;
    pos = comma + 1;
  }
  return pos;
}

bool hasComma(std::string_view sentence, int n) {
  return afterComma(sentence, n) != std::string_view::npos;
}

int commaCount(std::string_view sentence) {
  return static_cast<int>(std::count(sentence.begin(), sentence.end(), ','));
}

// The reply's text after its first "," up to its first "*" (with the "*" when withStar), whole:
// it is compared and logged as the module sent it. False when there is no "," or no "*" after it.
bool replyText(std::string_view sentence, bool withStar, std::string& out) {
  const std::size_t comma = sentence.find(',');
  const std::size_t star = sentence.find('*');
  if (comma == std::string_view::npos || star == std::string_view::npos || star < comma)
    return false;
  const std::size_t end = withStar ? star + 1 : star;
  out.assign(sentence.substr(comma + 1, end - (comma + 1)));
  return true;
}

// A measured value as the module's integer field scaled, held as a single-precision value.
float scaledField(std::string_view sentence, int n, double scale) {
  return static_cast<float>(sentenceFieldNumber(sentence, n) * scale);
}

// A failure, a time-out, Stop, the window's close or the last pass has emptied the set: nothing
// the module sends afterwards is judged or stored, so the log shows one reply's values only.
bool runDecided(const PortWorker& w) { return w.record().testItems.load() == 0; }

// Hands a verdict over. The verdict word is written on the user-interface thread just before the
// verdict runs, and only while the run is undecided: once a failure or Stop has emptied the set,
// a reply still queued behind it must not turn the run into a pass.
void handOffVerdict(PortWorker& w, std::optional<bool> passed, void (*verdict)(PortWorker&)) {
  w.handOff([&] {
    WorkerRecord& r = w.record();
    if (r.testItems.load() == 0) return;
    if (passed) r.verdictWord.store(*passed ? 1u : 0u);
    verdict(w);
  });
}

// ---- Handlers (the checksum has passed, the fields the table asks for are there) -------------

// $GPRMC,hhmmss.sss,status,lat,N/S,lon,E/W,speed,course,ddmmyy,mag,E/W,mode*CS
// A first fix (status "A") ends Cold Start TTFF while it is the only item left among the early
// ones and its measurement is running.
void handleRmc(PortWorker& w, std::string_view s) {
  const WorkerRecord& r = w.record();
  if ((r.testItems.load() & TtffStageMask) != item::ColdStartTtff || !r.ttffArmed) return;
  const auto status = sentenceField(s, 2);
  if (!status || status->front() != 'A') return;
  handOffVerdict(w, std::nullopt, verdictTtff);
}

// While Acquisition Time is the current item, the chosen satellite heard with a signal between
// the item's first second and its time-out ends the message: the acquisition is the module's to
// report, and the chart does not show the satellite before it does.
bool acquisitionHoldsBack(PortWorker& w, std::int32_t id, std::int32_t snr) {
  const WorkerRecord& r = w.record();
  if ((r.testItems.load() & AcquisitionStageMask) != item::AcquisitionTime) return false;
  const std::int64_t now = w.clock().counter();
  const std::int64_t start = r.itemStartTick;
  return now > start + 1 && now < start + w.settings().acqTimeTimeout && snr > 0 &&
         id == static_cast<std::int32_t>(w.settings().svId);
}

// $GPGSV,messages,message,in view,{id,elevation,azimuth,SNR} x up to 4*CS
// Fills the satellite table one cycle at a time; the last satellite of the cycle refreshes the
// chart. Entries that fall outside the table (a fourth message, a message number below 1) are
// dropped.
void handleGsv(PortWorker& w, std::string_view s) {
  if (!sentenceField(s, 2)) return;
  const std::int64_t message = sentenceFieldNumber(s, 2);
  const std::int64_t base = (message - 1) * GsvSatellitesPerMessage;
  SatelliteTable& table = w.record().satellites;
  if (message == 1) table = {};

  if (!sentenceField(s, 3)) return;
  const std::int64_t inView = sentenceFieldNumber(s, 3);
  if (inView == 0) return;

  for (int k = 0; k < GsvSatellitesPerMessage; ++k) {
    const int idField = GsvFirstSatelliteField + k * GsvFieldsPerSatellite;
    const int snrField = idField + GsvFieldsPerSatellite - 1;
    if (!hasComma(s, snrField)) return;  // message cut short
    const std::int32_t id = sentenceFieldNumber(s, idField);
    const std::int32_t snr = sentenceFieldNumber(s, snrField);

    if (acquisitionHoldsBack(w, id, snr)) return;

    const std::int64_t entry = base + k;
    if (entry >= 0 && entry < static_cast<std::int64_t>(table.size()))
      table[static_cast<std::size_t>(entry)] = Satellite{id, snr};
    if (entry + 1 == inView) {
      w.handOff([&] { w.view().showSatellites(w.record().satellites); });
      return;
    }
  }
}

// The fix interval that an update rate asks for, in whole milliseconds (3 Hz: 333 ms); 0 when
// the rate asks for none the module could send.
std::int64_t requestedIntervalMs(float updateHz) {
  if (!(updateHz > 0.0f)) return 0;
  const double ms = std::round(MsPerSecond / updateHz);
  return ms <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int64_t>(ms) : 0;
}

// $PMTK500,interval ms,...*CS — the fix interval, for UpdateHZ. An absent interval is 0.
void handleFixInterval(PortWorker& w, std::string_view s) {
  const std::int32_t interval = sentenceFieldNumber(s, 1);
  WorkerRecord& r = w.record();
  if (!r.hasItem(item::UpdateHz)) return;
  // An interval of 0 (or none) has no rate: it is measured as 0 and fails.
  const float rate = interval == 0 ? 0.0f : static_cast<float>(MsPerSecond / interval);
  r.results.updateHz.rate = rate;
  // The module runs at the asked rate when it keeps the asked interval: 1000 / 333 is no whole
  // 3 Hz, yet 333 ms is what 3 Hz asks for. A rate that equals the setting exactly passes too.
  const float asked = w.settings().updateHz;
  const bool passed = interval != 0 && (interval == requestedIntervalMs(asked) || rate == asked);
  handOffVerdict(w, passed, verdictUpdateHz);
}

// $PMTK514,GLL,RMC,VTG,GGA,GSA,GSV,GRS,...,ZDA,MCHN*CS — the output rates, for NMEA Type.
void handleOutputRates(PortWorker& w, std::string_view s) {
  std::string text;
  if (!replyText(s, true, text)) return;
  WorkerRecord& r = w.record();
  if (!r.hasItem(item::NmeaType)) return;
  r.results.nmeaType.value = text;
  handOffVerdict(w, text == expectedOutputText(w.settings()), verdictNmeaType);
}

// $PMTK592,AABBCCDDEEFF*CS — the Bluetooth address written to flash; all "F" means none.
void handleBluetoothMac(PortWorker& w, std::string_view s) {
  const std::size_t from = afterComma(s, 1);
  if (s.size() - from < MacDigits) return;
  const std::string_view digits = s.substr(from, MacDigits);
  std::string address;
  address.reserve(MacTextLength);
  for (std::size_t i = 0; i < MacDigits; i += 2) {
    if (i > 0) address += ':';
    address += digits.substr(i, 2);
  }
  w.record().results.bluetoothMac.value = address;
  handOffVerdict(w, digits != UnsetMac, verdictBluetooth);
}

// $PMTK705,MTK version,customer,product model,SDK version*CS — for Firmware Version.
void handleFirmwareVersion(PortWorker& w, std::string_view s) {
  std::string text;
  if (!replyText(s, false, text)) return;
  WorkerRecord& r = w.record();
  if (!r.hasItem(item::FirmwareVersion)) return;
  r.results.firmwareVersion.value = text;
  handOffVerdict(w, text == expectedVersionText(w.settings()), verdictFirmwareVersion);
}

// $PMTK813*CS — the chosen satellite is acquired.
void handleAcquired(PortWorker& w, std::string_view) {
  handOffVerdict(w, true, verdictAcquisition);
}

// $PMTK814*CS — bit synchronisation reached.
void handleBitSync(PortWorker& w, std::string_view) {
  handOffVerdict(w, std::nullopt, verdictBitSync);
}

// $PMTK815,_,_,phase x100,offset x1000,drift x1000,CNR mean x100,CNR sigma x100*CS
// Signal Quality: phase, then TCXO, then CNR; each sub-result is judged only when the one
// before it passed and the run is still open. Absent fields are 0.
void handleSignalQuality(PortWorker& w, std::string_view s) {
  WorkerRecord& r = w.record();
  const TestSettings& settings = w.settings();
  const auto goesOn = [&] { return r.verdictWord.load() != 0 && !runDecided(w); };

  const float phase = scaledField(s, 3, HundredthsScale);
  r.results.phase.value = formatFixed(phase, PhaseDecimals);
  handOffVerdict(w, phase >= settings.signalPhaseRatio, verdictPhase);
  if (!goesOn()) return;

  const float offset = scaledField(s, 4, ThousandthsScale);
  const float drift = scaledField(s, 5, ThousandthsScale);
  r.results.tcxo.first = formatFixed(offset, TcxoDecimals);
  r.results.tcxo.second = formatFixed(drift, TcxoDecimals);
  handOffVerdict(w, !(std::fabs(offset) > settings.signalTcxoOffset ||
                  std::fabs(drift) > settings.signalTcxoDrift), verdictTcxo);
  if (!goesOn()) return;

  const float mean = scaledField(s, 6, HundredthsScale);
  const float sigma = scaledField(s, 7, HundredthsScale);
  r.results.cnr.first = formatFixed(mean, CnrDecimals);
  r.results.cnr.second = formatFixed(sigma, CnrDecimals);
  r.results.cnr.recorded = true;
  handOffVerdict(w, mean >= settings.signalCnrThreshold && sigma <= settings.signalCnrDev, verdictCnr);
}

// ---- Dispatch -----------------------------------------------------------------------------

using Handler = void (*)(PortWorker&, std::string_view);

struct SentenceKind {
  std::string_view tag;    // the sentence begins with it
  std::size_t minLength;   // shorter sentences are not this kind
  int minFields;           // commas the handler cannot do without (it would read outside the
                           // sentence); a reply with fewer is dropped. Other absent fields are 0.
  Handler handle;
};

constexpr std::size_t PmtkTagLength = 8;

constexpr std::array<SentenceKind, 9> SentenceKinds{{
    {"$GPRMC", GpSentenceMin, 0, handleRmc},
    {"$GPGSV", GpSentenceMin, 0, handleGsv},
    {"$PMTK500", PmtkTagLength, 0, handleFixInterval},
    {"$PMTK514", PmtkTagLength, 1, handleOutputRates},
    {"$PMTK592", PmtkTagLength, 1, handleBluetoothMac},
    {"$PMTK705", PmtkTagLength, 1, handleFirmwareVersion},
    {"$PMTK813", PmtkTagLength, 0, handleAcquired},
    {"$PMTK814", PmtkTagLength, 0, handleBitSync},
    {"$PMTK815", PmtkTagLength, 0, handleSignalQuality},
}};

// Unknown sentences, sentences too short for their kind, bad checksums and replies missing a
// field all end here, silently.
void dispatchSentence(PortWorker& w, std::string_view sentence) {
  for (const SentenceKind& kind : SentenceKinds) {
    if (!sentence.starts_with(kind.tag)) continue;
    if (sentence.size() < kind.minLength) return;
    if (!sentenceChecksumOk(sentence)) return;
    if (commaCount(sentence) < kind.minFields) return;
    kind.handle(w, sentence);
    return;
  }
}

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// A candidate sentence ends at a line end, or where a "$" starts the next one: a noise byte or a
// sentence cut short without its line end does not swallow the reply behind it.
constexpr std::string_view CandidateEnds = "\r\n$";

}  // namespace

void parseWorkText(PortWorker& worker) {
  const std::string_view text = worker.record().workText.view();
  std::size_t pos = 0;
  while (pos < text.size() && !runDecided(worker)) {
    if (isLineEnd(text[pos])) {
      ++pos;
      continue;
    }
    const std::size_t end = std::min(text.find_first_of(CandidateEnds, pos + 1), text.size());
    dispatchSentence(worker, text.substr(pos, end - pos));
    pos = end;
  }
}

}  // namespace quenby
