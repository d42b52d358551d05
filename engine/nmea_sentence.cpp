// Checksums and framing of the sentences the station sends to a module.
#include "engine/nmea_sentence.h"

#include <cstdio>

namespace quenby {
namespace {

// Test items that the module runs as its version group, and the single-item bits.
constexpr std::uint32_t kVersionGroupItems = 0x82002;  // Firmware Version, NMEA Type, UpdateHZ
constexpr std::uint32_t kAcquisitionItem = 0x4;
constexpr std::uint32_t kBitSyncItem = 0x8;
constexpr std::uint32_t kSignalQualityItem = 0x10;

constexpr std::uint16_t kVersionGroupFlag = 0x1;
constexpr std::uint16_t kAcquisitionFlag = 0x2;
constexpr std::uint16_t kBitSyncFlag = 0x4;
constexpr std::uint16_t kSignalQualityFlag = 0x8;

// "PMTK810," + 4 flag digits + "," + 2 SV digits, and the terminating zero of snprintf.
constexpr std::size_t kStartCommandSize = 16;
// Two hexadecimal digits and the terminating zero.
constexpr std::size_t kChecksumTextSize = 3;
// What framing adds around a command: "$", "*", two checksum digits, CR LF.
constexpr std::size_t kFrameOverhead = 6;

}  // namespace

std::string nmeaChecksum(std::string_view body) {
  if (body.starts_with('$')) body.remove_prefix(1);
  unsigned char sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char text[kChecksumTextSize];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(sum));
  return text;
}

std::string frameSentence(std::string_view command) {
  std::string sentence;
  sentence.reserve(command.size() + kFrameOverhead);
  sentence += '$';
  sentence += command;
  const std::string sum = nmeaChecksum(sentence);
  sentence += '*';
  sentence += sum;
  sentence += "\r\n";
  return sentence;
}

std::uint16_t handshakeItemFlags(std::uint32_t testItems) {
  std::uint16_t flags = 0;
  if (testItems & kVersionGroupItems) flags |= kVersionGroupFlag;
  if (testItems & kAcquisitionItem) flags |= kAcquisitionFlag;
  if (testItems & kBitSyncItem) flags |= kBitSyncFlag;
  if (testItems & kSignalQualityItem) flags |= kSignalQualityFlag;
  return flags;
}

std::string startSentence(std::uint16_t itemFlags, std::uint8_t svId) {
  char command[kStartCommandSize];
  std::snprintf(command, sizeof command, "PMTK810,%04X,%02X", static_cast<unsigned>(itemFlags),
                static_cast<unsigned>(svId));
  return frameSentence(command);
}

}  // namespace quenby
