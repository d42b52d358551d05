#include "tools/report/civil_date.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace quenby::report {
namespace {

namespace chr = std::chrono;

// A run of exactly `digits` decimal digits at text[pos].
std::optional<int> fixedNumber(std::string_view text, std::size_t pos, std::size_t digits) {
  if (pos + digits > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = pos; i < pos + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::optional<std::int32_t> dayOf(int year, int month, int day) {
  const chr::year_month_day date{chr::year{year}, chr::month{static_cast<unsigned>(month)},
                                 chr::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;
  return static_cast<std::int32_t>(chr::sys_days{date}.time_since_epoch().count());
}

// A decimal number of 1 to `maxDigits` digits, advancing text past it.
std::optional<int> leadingNumber(std::string_view& text, std::size_t maxDigits) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  const auto used = static_cast<std::size_t>(end - text.data());
  if (ec != std::errc() || used == 0 || used > maxDigits || text[0] == '-') return std::nullopt;
  text.remove_prefix(used);
  return value;
}

bool skip(std::string_view& text, std::string_view expected) {
  if (!text.starts_with(expected)) return false;
  text.remove_prefix(expected.size());
  return true;
}

}  // namespace

std::optional<std::int32_t> parseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto y = fixedNumber(text, 0, 4), m = fixedNumber(text, 5, 2), d = fixedNumber(text, 8, 2);
  if (!y || !m || !d) return std::nullopt;
  return dayOf(*y, *m, *d);
}

std::optional<std::int32_t> parseTimeOfDay(std::string_view text) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
  const auto h = fixedNumber(text, 0, 2), m = fixedNumber(text, 3, 2), s = fixedNumber(text, 6, 2);
  if (!h || !m || !s || *h > 23 || *m > 59 || *s > 59) return std::nullopt;
  return *h * 3600 + *m * 60 + *s;
}

std::optional<std::int32_t> dayOfLogFileName(std::string_view name) {
  if (!skip(name, "Test_Log_")) return std::nullopt;
  const auto y = leadingNumber(name, 4);
  if (!y || !skip(name, ".")) return std::nullopt;
  const auto m = leadingNumber(name, 2);
  if (!m || !skip(name, ".")) return std::nullopt;
  const auto d = leadingNumber(name, 2);
  if (!d || name != ".csv") return std::nullopt;
  return dayOf(*y, *m, *d);
}

std::string dateText(std::int32_t day) {
  const chr::year_month_day date{chr::sys_days{chr::days{day}}};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

std::string timeText(std::int32_t secondOfDay) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", (secondOfDay / 3600) % 24, secondOfDay / 60 % 60);
  return text;
}

}  // namespace quenby::report
