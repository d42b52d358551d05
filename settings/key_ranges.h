// The values each number key of the settings file accepts. A value outside is refused at load
// (with a notice naming the key, the value and this range) and the key's default used instead.
#pragma once

#include <initializer_list>
#include <string_view>

namespace quenby {

struct KeyRange {
  std::string_view key;
  bool (*accepts)(double value);
  const char* range;  // how a notice names the accepted values
};

namespace range {

// A time-out: from a second to a day.
inline constexpr bool timeout(double v) { return v >= 1 && v <= 86400; }
// The NMEA Baudrate menu's rates.
inline constexpr bool nmeaBaud(double v) {
  for (const int baud : {4800, 9600, 14400, 19200, 38400, 57600, 115200})
    if (v == baud) return true;
  return false;
}
// The Update Baudrate menu's indexes (downloadBaudForIndex).
inline constexpr bool updateBaudIndex(double v) { return v >= 1 && v <= 10; }
inline constexpr bool series(double v) { return v == 3329 || v == 3318; }
// Any item set: a run takes the bits it knows and leaves the others.
inline constexpr bool itemSet(double) { return true; }
// The GPS satellites' ids.
inline constexpr bool satellite(double v) { return v >= 1 && v <= 32; }
// A fix rate from one every ten seconds to ten a second.
inline constexpr bool fixRate(double v) { return v >= 0.1f && v <= 10; }
inline constexpr bool ratio(double v) { return v >= 0 && v <= 1; }
// A TCXO offset or drift limit: up to 1000 ppm of the 16.368 MHz clock.
inline constexpr bool clockLimit(double v) { return v >= 0 && v <= 16368; }
// Carrier-to-noise in dB-Hz, as the sentences give it.
inline constexpr bool carrierToNoise(double v) { return v >= 0 && v <= 99; }
// A switch: 0 off, 1 on.
inline constexpr bool onOff(double v) { return v == 0 || v == 1; }
// An output rate of a sentence kind: 0 (off) or one in every 1 to 10 fixes.
inline constexpr bool outputRate(double v) { return v >= 0 && v <= 10; }

inline constexpr const char* Timeouts = "1 to 86400 s";
inline constexpr KeyRange kKeyRanges[] = {
    {"Baudrate_NMEA", nmeaBaud, "4800, 9600, 14400, 19200, 38400, 57600 or 115200"},
    {"Baudrate_Update", updateBaudIndex, "1 to 10"},
    {"Enable_Test", itemSet, "any bit mask"},
    {"Update_Hz", fixRate, "0.1 to 10 Hz"},
    {"Hz_Timeout", timeout, Timeouts},
    {"Version_Timeout", timeout, Timeouts},
    {"Version_Series", series, "3329 or 3318"},
    {"SVid", satellite, "1 to 32"},
    {"AcqTime_Timeout", timeout, Timeouts},
    {"BitSync_Timeout", timeout, Timeouts},
    {"Signal_Phase_Ratio", ratio, "0 to 1"},
    {"Signal_TCXO_Offset", clockLimit, "0 to 16368 Hz"},
    {"Signal_TCXO_Drift", clockLimit, "0 to 16368 Hz"},
    {"Signal_CNR_Threshold", carrierToNoise, "0 to 99"},
    {"Signal_CNR_Dev", carrierToNoise, "0 to 99"},
    {"Signal_Timeout", timeout, Timeouts},
    {"ColdStart_Timeout", timeout, Timeouts},
    {"Reset_Timeout", timeout, Timeouts},
    {"NMEA_Freq_GLL", outputRate, "0 to 10"},
    {"NMEA_Freq_RMC", outputRate, "0 to 10"},
    {"NMEA_Freq_VTG", outputRate, "0 to 10"},
    {"NMEA_Freq_GSA", outputRate, "0 to 10"},
    {"NMEA_Freq_GSV", outputRate, "0 to 10"},
    {"NMEA_Freq_GGA", outputRate, "0 to 10"},
    {"NMEA_Freq_ZDA", outputRate, "0 to 10"},
    {"NMEA_Freq_MCHN", outputRate, "0 to 10"},
    {"NMEA_Timeout", timeout, Timeouts},
    {"BT_Timeout", timeout, Timeouts},
    {"Serial_Entry", onOff, "0 or 1"},
    {"Socket_Entry", onOff, "0 or 1"},
};

}  // namespace range

// The range of a number key; nullptr for a key that has none (a text, an address, ComSelect).
constexpr const KeyRange* keyRange(std::string_view key) {
  for (const KeyRange& r : range::kKeyRanges)
    if (r.key == key) return &r;
  return nullptr;
}

}  // namespace quenby
