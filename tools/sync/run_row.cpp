#include "tools/sync/run_row.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "tools/report/civil_date.h"

namespace quenby::sync {
namespace {

using report::LoggedRun;
using report::MeasureValue;

constexpr std::string_view NotAvailable = "N/A";
constexpr std::string_view Null = "\\N";

bool isUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    static constexpr std::uint32_t Least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < Least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

void appendEscaped(std::string& out, char c) {
  switch (c) {
    case '\\': out += "\\\\"; break;
    case '\t': out += "\\t"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    default: out += c;
  }
}

void field(std::string& out, std::string_view text) {
  appendCopyText(out, text);
  out += '\t';
}
void nullable(std::string& out, std::string_view text) {
  if (text == NotAvailable)
    out.append(Null);
  else
    appendCopyText(out, text);
  out += '\t';
}
void nullField(std::string& out) {
  out.append(Null);
  out += '\t';
}

template <typename T>
bool parseWhole(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// A real column's value as the server reads it back; NULL for what no real holds (beyond the
// range, or so small that the server refuses it as an underflow).
void realValue(std::string& out, float value) {
  if (!std::isfinite(value) || (value != 0.0f && !std::isnormal(value))) return nullField(out);
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  field(out, {text, static_cast<std::size_t>(end - text)});
}

void realField(std::string& out, std::string_view text) {
  float value = 0;
  if (parseWhole(text, value))
    realValue(out, value);
  else
    nullField(out);
}

void measureField(std::string& out, const MeasureValue& v) {
  if (v.kind != MeasureValue::Kind::Number) return nullField(out);
  realValue(out, v.value);
}

}  // namespace

const char* const RunsCopy =
    "COPY runs (station, log_file, line_number, csv_line, serial_number, verdict, fail_code, "
    "update_hz, socket, port, log_date, log_time, tested_at, flash, firmware, sv_id, acq_time, "
    "bit_sync_time, phase_error, tcxo_offset, tcxo_drift, cnr_mean, cnr_sigma, cold_ttff, "
    "reset_time, total_time, bt_mac, nmea, timeouts) FROM STDIN";

void appendCopyText(std::string& out, std::string_view text) {
  if (isUtf8(text)) {
    for (char c : text) appendEscaped(out, c);
    return;
  }
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      appendEscaped(out, c);
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
}

std::string stationInstant(std::int32_t day, std::int32_t secondOfDay) {
  std::tm local{};
  const std::time_t midnightUtc = static_cast<std::time_t>(day) * 86400 + secondOfDay;
  gmtime_r(&midnightUtc, &local);  // the wall-clock fields, as written in the log
  const std::tm wall = local;
  local.tm_isdst = -1;
  const std::time_t instant = std::mktime(&local);
  const long offset = static_cast<long>(midnightUtc - instant);  // seconds east of UTC
  const long a = offset < 0 ? -offset : offset;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%c%02ld:%02ld",
                wall.tm_year + 1900, wall.tm_mon + 1, wall.tm_mday, wall.tm_hour, wall.tm_min,
                wall.tm_sec, offset < 0 ? '-' : '+', a / 3600, a % 3600 / 60);
  return text;
}

bool appendRunRow(std::string& rows, std::string_view station, std::string_view logFile,
                  const LoggedRun& run) {
  if (run.text.find('\0') != std::string_view::npos) return false;
  const auto& l = *run.layout;
  const auto& f = run.fields;
  const auto column = [&](std::size_t i) { return i < f.size() ? std::string_view(f[i]) : NotAvailable; };

  std::string& out = rows;
  field(out, station);
  field(out, logFile);
  out += std::to_string(run.lineNumber);
  out += '\t';
  field(out, run.text);
  field(out, run.serial);
  field(out, run.verdict == report::Verdict::Pass   ? "Pass"
             : run.verdict == report::Verdict::Fail ? "Fail"
                                                    : "Abort");
  field(out, run.failCode);
  realField(out, column(l.updateHz));
  field(out, column(l.socket));
  if (run.port == 0)
    nullField(out);
  else
    field(out, std::to_string(run.port));
  field(out, report::dateText(run.day));
  field(out, run.fields[l.time]);
  field(out, stationInstant(run.day, run.second));
  nullable(out, column(l.flash));
  nullable(out, column(l.firmware));
  int svid = 0;
  if (parseWhole(column(l.svid), svid))
    field(out, column(l.svid));
  else
    nullField(out);
  int timeouts = 0;
  for (std::size_t m = 0; m < report::MeasureCount; ++m) {
    measureField(out, run.values[m]);
    if (run.values[m].kind == MeasureValue::Kind::Timeout) timeouts |= 1 << m;
  }
  if (l.btMac < f.size())
    nullable(out, column(l.btMac));
  else
    nullField(out);
  nullable(out, column(l.nmea));
  out += std::to_string(timeouts);
  out += '\n';
  return true;
}

}  // namespace quenby::sync
