// Framing of the sentences the station sends: the NMEA checksum and the start sentence.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenby {

// The exclusive-or of every character after the leading "$" of body (which ends before "*"),
// as two upper-case hexadecimal digits. "$PMTK811" gives "3A".
std::string nmeaChecksum(std::string_view body);

// "$" + command + "*" + checksum + CR LF, for a command without the leading "$".
std::string frameSentence(std::string_view command);

// The item-flags word of the start sentence for a test-item set: bit 0 for the version group,
// bit 1 Acquisition Time, bit 2 Bit Sync Time, bit 3 Signal Quality.
std::uint16_t handshakeItemFlags(std::uint32_t testItems);

// "$PMTK810,<flags as 4 hex digits>,<svId as 2 hex digits>*<checksum>" + CR LF.
std::string startSentence(std::uint16_t itemFlags, std::uint8_t svId);

// The fixed sentences (13 characters with CR LF; written with a zero byte after them).
inline constexpr std::string_view EndTestModeSentence = "$PMTK811*3A\r\n";
inline constexpr std::string_view FactoryResetSentence = "$PMTK104*37\r\n";
// The text sentences of Cold Start TTFF.
inline constexpr std::string_view ColdRestartSentence = "$PMTK103*30\r\n";
inline constexpr std::string_view FixInterval1000Sentence = "$PMTK220,1000*1F\r\n";
inline constexpr std::string_view RmcGsvOutputSentence =
    "$PMTK314,0,1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0*28\r\n";
// The module's start-up message, seen after a restart.
inline constexpr std::string_view StartupMessage = "PMTK010,001*2E";

}  // namespace quenby
