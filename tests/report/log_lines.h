// Test log lines as the station writes them, for logs with known figures.
#pragma once

#include <string>

#include "engine/test_log.h"
#include "settings/test_settings.h"

namespace quenby::report::testing {

struct Line {
  std::string serial;
  std::string verdict = "Pass";
  std::string port = "COM1";
  std::string date = "2024-03-04";
  std::string time = "10:00:00";
  std::string acq = "3", bitSync = "2", phase = "0.95", offset = "1.250", drift = "-0.100";
  std::string cnr = "43.0", sigma = "0.5", ttff = "33", reset = "1";
  std::string total = "50";
};

inline std::string header() { return TestLog::headerLine(item::OfferedItems); }

// The line with its CRLF; the version and NMEA texts quoted as the station does.
inline std::string runLine(const Line& l) {
  return l.serial + "," + l.verdict + ",N/A,," + l.port + "," + l.date + "," + l.time +
         ",N/A,\"QNB-DEMO_2.1,0042\",29," + l.acq + "," + l.bitSync + "," + l.phase + "," +
         l.offset + "," + l.drift + "," + l.cnr + "," + l.sigma + "," + l.ttff + "," + l.reset +
         ",\"1,1,1,1,1,1,0,0\"," + l.total + "\r\n";
}

}  // namespace quenby::report::testing
