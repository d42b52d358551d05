// Dates and times of day as the test log writes them ("YYYY-MM-DD", "HH:MM:SS").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenby::report {

// Days since 1970-01-01 of a "YYYY-MM-DD" text naming a real date; nullopt otherwise.
std::optional<std::int32_t> parseDate(std::string_view text);
// Seconds of the day of an "HH:MM:SS" text (00:00:00 to 23:59:59); nullopt otherwise.
std::optional<std::int32_t> parseTimeOfDay(std::string_view text);
// The day of a log file name "Test_Log_<Y>.<M>.<D>.csv" (no leading zeros needed).
std::optional<std::int32_t> dayOfLogFileName(std::string_view name);

std::string dateText(std::int32_t day);            // "YYYY-MM-DD"
std::string timeText(std::int32_t secondOfDay);    // "HH:MM"

}  // namespace quenby::report
