// A module's history across the whole line: every run of one serial number, oldest first.
#pragma once

#include <ostream>
#include <string>

#include "tools/sync/pg_connection.h"

namespace quenby::sync {

// Prints one line per run (station, port, time, verdict, fail code; tab-separated under a header
// line) and returns the number of runs. Control bytes in the texts are shown as '?'.
long long printSerialHistory(PgConnection& db, const std::string& serial, std::ostream& out);

}  // namespace quenby::sync
