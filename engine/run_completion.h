// The run completion: the last hand-off of a run. Writes the run's line to the day's CSV test
// log, shows the verdict in the port window, closes the run in the memo, refreshes the backup.
#pragma once

namespace quenby {

class PortWorker;

// User-interface thread.
void completeRun(PortWorker& w);

}  // namespace quenby
