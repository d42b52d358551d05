// The chosen-port list as a ComSelect value gives it: "3,5," is ports 3 and 5.
#pragma once

#include <string>
#include <string_view>

#include "settings/run_state.h"

namespace quenby {

struct ChosenPortsReading {
  PortList<MaxChosenPorts> ports;
  // What was left out, by kind: "x, -5 (not a port number from 1 to 65535); 3 (named before);
  // 17 (more than 16 ports)". Empty when every piece was taken.
  std::string leftOut;
};

// The text split at commas, empty and blank pieces skipped. A piece that is a port number from 1
// to 65535 (decimal digits, blanks around them) is taken once, up to 16 ports, in the text's
// order; every other piece is left out and named.
ChosenPortsReading readChosenPorts(std::string_view text);

}  // namespace quenby
