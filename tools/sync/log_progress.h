// How far one log file has been sent, and how to know the file again: its read offset and line
// count, a checksum of its first line, and where the last line sent starts with its checksum. A
// file replaced, cut short or edited before the offset no longer matches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenby::sync {

struct LogProgress {
  std::int64_t offset = 0;     // bytes sent: always just after a line end
  std::int64_t lines = 0;      // lines sent (runs and skipped lines)
  std::int64_t headSum = 0;    // checksum of the first line, line end included
  std::int64_t tailStart = 0;  // where the last line sent starts
  std::int64_t tailSum = 0;    // its checksum, line end included
  std::int64_t skipped = 0;    // lines that were not runs
};

// 64-bit FNV-1a, as a signed number for a bigint column.
std::int64_t lineChecksum(std::string_view bytes);

}  // namespace quenby::sync
