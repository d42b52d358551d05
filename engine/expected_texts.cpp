#include "engine/expected_texts.h"

namespace quenby {

std::string expectedVersionText(const TestSettings& s) {
  return s.versionMtk + "," + s.versionCustomer + "," + s.versionProductModel + "," +
         s.versionSdkVer;
}

std::string expectedOutputText(const TestSettings& s) {
  std::string text;
  for (int rate : {s.nmeaFreqGll, s.nmeaFreqRmc, s.nmeaFreqVtg, s.nmeaFreqGga, s.nmeaFreqGsa,
                   s.nmeaFreqGsv})
    text += std::to_string(rate) + ",";
  text += "0,0,0,0,0,0,0,0,0,0,0,";  // GRS GST PLT PLP PLS PLI PLH MALM MEPH MDGP MDBG: off
  text += std::to_string(s.nmeaFreqZda) + ",";
  text += std::to_string(s.nmeaFreqMchn) + "*";
  return text;
}

}  // namespace quenby
