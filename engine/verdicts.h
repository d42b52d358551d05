// The verdicts: each runs on the user-interface thread inside a hand-off while the worker waits;
// it records the item's result, writes its memo line and changes the test-item set.
#pragma once

#include <string>

namespace quenby {

class PortWorker;

void verdictOpenFailure(PortWorker& w);
// The port's device went away during the run (why: the port and the reason): the run fails
// "ComPort" at once instead of waiting for an item's time-out that would blame the module.
void verdictPortLost(PortWorker& w, const std::string& why);
void verdictItemTimeout(PortWorker& w);
void verdictUpdateHz(PortWorker& w);
void verdictFirmwareVersion(PortWorker& w);
void verdictNmeaType(PortWorker& w);
void verdictAcquisition(PortWorker& w);
void verdictBitSync(PortWorker& w);
void verdictPhase(PortWorker& w);
void verdictTcxo(PortWorker& w);
void verdictCnr(PortWorker& w);
void verdictTtff(PortWorker& w);
void verdictBluetooth(PortWorker& w);
void verdictResetDone(PortWorker& w);

}  // namespace quenby
