#include "tools/modsim/nmea_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "engine/nmea_sentence.h"

namespace quenby::modsim {
namespace {

// Room for the longest sentence body built here (NMEA allows 82 characters in all).
constexpr std::size_t kBodyCapacity = 160;
// The receiver is standing still on the line.
constexpr std::string_view kSpeedAndCourse = "0.00,0.00";
// Height of the geoid above the ellipsoid written in GGA, metres.
constexpr double kGeoidSeparation = 47.0;
// Dilution of precision: HDOP falls as more satellites are used, never below this.
constexpr double kBestHdop = 0.7;
constexpr double kHdopScale = 5.0;
constexpr double kVdopPerHdop = 1.5;
constexpr int kMinutesPerDegree = 60;

std::string formatted(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* pattern, ...) {
  char buffer[kBodyCapacity];
  va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  if (n < 0) return {};
  return std::string(buffer, std::min(static_cast<std::size_t>(n), sizeof buffer - 1));
}

std::string timeText(const UtcTime& t) {
  return formatted("%02d%02d%02d.%03d", t.hour, t.minute, t.second, t.millisecond);
}

std::string dateText(const UtcTime& t) { return formatted("%02d%02d%02d", t.day, t.month, t.year % 100); }

// "ddmm.mmmm,N" or "dddmm.mmmm,E".
std::string coordinateText(double degrees, int degreeDigits, char positive, char negative) {
  const char hemisphere = degrees < 0 ? negative : positive;
  // Work in ten-thousandths of a minute so that rounding never gives 60 minutes.
  const long long units = std::llround(std::fabs(degrees) * kMinutesPerDegree * 10000.0);
  const long long whole = units / (kMinutesPerDegree * 10000LL);
  const long long minuteUnits = units % (kMinutesPerDegree * 10000LL);
  return formatted("%0*lld%02lld.%04lld,%c", degreeDigits, whole, minuteUnits / 10000, minuteUnits % 10000,
                hemisphere);
}

std::string latitudeText(const FixEpoch& e) { return coordinateText(e.latitude, 2, 'N', 'S'); }
std::string longitudeText(const FixEpoch& e) { return coordinateText(e.longitude, 3, 'E', 'W'); }

// The satellites used in the fix: the tracked ones, at most twelve.
std::vector<int> usedSatellites(const FixEpoch& e) {
  std::vector<int> used;
  if (!e.fixed) return used;
  for (const SatelliteView& s : e.satellites)
    if (s.snr && *s.snr > 0 && used.size() < MaxSatellitesUsed) used.push_back(s.id);
  return used;
}

double hdopFor(std::size_t used) {
  return used == 0 ? 99.99 : std::max(kBestHdop, kHdopScale / static_cast<double>(used));
}

}  // namespace

UtcTime utcOf(std::chrono::system_clock::time_point time) {
  const auto sinceEpoch = time.time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm parts{};
  gmtime_r(&whole, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
          static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count())};
}

std::string ggaSentence(const FixEpoch& e) {
  // GGA,time,lat,N/S,lon,E/W,quality,used,HDOP,altitude,M,geoid,M,DGPS age,DGPS station
  if (!e.fixed) return frameSentence("GPGGA," + timeText(e.utc) + ",,,,,0,0,,,M,,M,,");
  const std::size_t used = usedSatellites(e).size();
  return frameSentence(formatted("GPGGA,%s,%s,%s,1,%02zu,%.2f,%.1f,M,%.1f,M,,", timeText(e.utc).c_str(),
                              latitudeText(e).c_str(), longitudeText(e).c_str(), used, hdopFor(used),
                              e.altitude, kGeoidSeparation));
}

std::string gllSentence(const FixEpoch& e) {
  // GLL,lat,N/S,lon,E/W,time,status,mode
  if (!e.fixed) return frameSentence("GPGLL,,,,," + timeText(e.utc) + ",V,N");
  return frameSentence("GPGLL," + latitudeText(e) + "," + longitudeText(e) + "," + timeText(e.utc) + ",A,A");
}

std::string gsaSentence(const FixEpoch& e) {
  // GSA,mode,fix type,12 satellite slots,PDOP,HDOP,VDOP
  const std::vector<int> used = usedSatellites(e);
  std::string body = used.empty() ? "GPGSA,A,1" : "GPGSA,A,3";
  for (std::size_t slot = 0; slot < MaxSatellitesUsed; ++slot)
    body += slot < used.size() ? formatted(",%02d", used[slot]) : std::string(",");
  if (used.empty()) return frameSentence(body + ",,,");
  const double hdop = hdopFor(used.size());
  const double vdop = hdop * kVdopPerHdop;
  return frameSentence(body + formatted(",%.2f,%.2f,%.2f", std::hypot(hdop, vdop), hdop, vdop));
}

std::vector<std::string> gsvCycle(const std::vector<SatelliteView>& satellites) {
  // GSV,messages,message number,in view,{id,elevation,azimuth,SNR} x up to 4
  const std::size_t inView = std::min(satellites.size(), SatellitesPerGsv * MaxGsvMessages);
  const std::size_t messages = std::max<std::size_t>(1, (inView + SatellitesPerGsv - 1) / SatellitesPerGsv);
  std::vector<std::string> cycle;
  for (std::size_t m = 0; m < messages; ++m) {
    std::string body = formatted("GPGSV,%zu,%zu,%02zu", messages, m + 1, inView);
    for (std::size_t i = m * SatellitesPerGsv; i < std::min(inView, (m + 1) * SatellitesPerGsv); ++i) {
      const SatelliteView& s = satellites[i];
      body += formatted(",%02d,%02d,%03d,", s.id, s.elevation, s.azimuth);
      if (s.snr) body += formatted("%02d", *s.snr);
    }
    cycle.push_back(frameSentence(body));
  }
  return cycle;
}

std::string rmcSentence(const FixEpoch& e) {
  // RMC,time,status,lat,N/S,lon,E/W,speed (knots),course,date,magnetic variation,E/W,mode
  if (!e.fixed)
    return frameSentence("GPRMC," + timeText(e.utc) + ",V,,,,," + std::string(kSpeedAndCourse) + "," +
                         dateText(e.utc) + ",,,N");
  return frameSentence("GPRMC," + timeText(e.utc) + ",A," + latitudeText(e) + "," + longitudeText(e) + "," +
                       std::string(kSpeedAndCourse) + "," + dateText(e.utc) + ",,,A");
}

std::string vtgSentence(const FixEpoch& e) {
  // VTG,course true,T,course magnetic,M,speed knots,N,speed km/h,K,mode
  return frameSentence(std::string("GPVTG,0.00,T,,M,0.00,N,0.00,K,") + (e.fixed ? "A" : "N"));
}

std::string zdaSentence(const FixEpoch& e) {
  // ZDA,time,day,month,year,zone hours,zone minutes
  return frameSentence(formatted("GPZDA,%s,%02d,%02d,%04d,,", timeText(e.utc).c_str(), e.utc.day, e.utc.month,
                              e.utc.year));
}

std::vector<std::string> epochSentences(const FixEpoch& epoch, const OutputRates& rates, std::uint64_t fix) {
  const auto due = [&](OutputRateIndex kind) {
    const int rate = rates[kind];
    return rate > 0 && fix % static_cast<std::uint64_t>(rate) == 0;
  };
  std::vector<std::string> out;
  if (due(RateGga)) out.push_back(ggaSentence(epoch));
  if (due(RateGll)) out.push_back(gllSentence(epoch));
  if (due(RateGsa)) out.push_back(gsaSentence(epoch));
  if (due(RateGsv))
    for (std::string& s : gsvCycle(epoch.satellites)) out.push_back(std::move(s));
  if (due(RateRmc)) out.push_back(rmcSentence(epoch));
  if (due(RateVtg)) out.push_back(vtgSentence(epoch));
  if (due(RateZda)) out.push_back(zdaSentence(epoch));
  return out;
}

}  // namespace quenby::modsim
