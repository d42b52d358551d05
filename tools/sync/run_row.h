// One run of a log, as a row of the runs table in COPY's text format: the exact line and every
// field typed. Texts that are not UTF-8 are taken as Latin-1, byte for byte.
#pragma once

#include <string>
#include <string_view>

#include "tools/report/logged_run.h"

namespace quenby::sync {

// The columns, in the order of the rows that appendRunRow writes.
extern const char* const RunsCopy;

// Appends the row; false (nothing appended) for a line that no database text can hold (a NUL
// byte), which is then a line skipped.
bool appendRunRow(std::string& rows, std::string_view station, std::string_view logFile,
                  const report::LoggedRun& run);

// The local date and time of the station as an instant with its UTC offset
// ("2024-03-04 10:00:00+01:00"), in the time zone the program runs in.
std::string stationInstant(std::int32_t day, std::int32_t secondOfDay);

// COPY text escaping of one value (backslash, tab, line feed, carriage return), after turning
// text that is not UTF-8 into UTF-8 from Latin-1.
void appendCopyText(std::string& out, std::string_view text);

}  // namespace quenby::sync
