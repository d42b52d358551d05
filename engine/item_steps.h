// The per-item steps of the run loop: time-out watches, and the commands of Cold Start TTFF and
// Factory Reset; and the item header written when an item begins.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenby {

class PortWorker;

// Runs exactly one step: the first of the version group (Firmware Version, NMEA Type, UpdateHZ),
// Acquisition Time, Bit Sync Time, Signal Quality, Cold Start TTFF, Factory Reset, Bluetooth Mac
// Address that is in the test-item set.
void dispatchItemStep(PortWorker& w);

// The header text of the first item of the set ("[Flash Download]" ...), empty when none.
std::string_view itemHeaderText(std::uint32_t testItems);
// Hands over the item header: a memo line with itemHeaderText, none when it is empty.
void handOffItemHeader(PortWorker& w);

// "Timeout(" + seconds + ")".
std::string timeoutText(std::int32_t seconds);

}  // namespace quenby
