// One run as a test log line records it, decoded for the report.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tools/report/log_layout.h"
#include "tools/report/measures.h"

namespace quenby::report {

enum class Verdict { Pass, Fail, Abort };

// A measure's column: a number, the time-out text of an item that timed out ("Timeout(10)"), or
// nothing (N/A, or text that is neither).
struct MeasureValue {
  enum class Kind : std::uint8_t { None, Number, Timeout };
  Kind kind = Kind::None;
  float value = 0.0f;
};

// The texts are views into the reader's buffers: valid only while the run is being handed over.
struct LoggedRun {
  std::int32_t day = 0;     // days since 1970-01-01 (the Date column)
  std::int32_t second = 0;  // of the day (the Time column)
  std::string_view serial;
  std::uint16_t port = 0;   // the ComPort column's number; 0 for N/A
  Verdict verdict = Verdict::Pass;
  std::string_view failCode;  // the text inside Fail(...), empty for a pass
  std::array<MeasureValue, MeasureCount> values{};
  // Where the line stands and what it holds, for those who keep more of it than the figures.
  std::uint64_t lineNumber = 0;          // 1 for the file's first line
  std::string_view text;                 // the line as written, without its line end
  std::span<const std::string> fields;   // as split, in the file's layout
  const LogLayout* layout = nullptr;
};

}  // namespace quenby::report
