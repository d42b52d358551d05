// The sentence parser: cuts the work text into sentences, drops those with a bad checksum, and
// turns RMC, GSV and the module's $PMTK replies into stored values and verdict hand-offs.
#pragma once

namespace quenby {

class PortWorker;

// Parses the worker's work text (whole sentences); may write zero bytes into it.
void parseWorkText(PortWorker& worker);

}  // namespace quenby
