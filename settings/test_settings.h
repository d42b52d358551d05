// The test settings record: every value that shapes a run on a port. One record lives in the
// station from start to exit; the settings file fills it, the menus and dialogs change single
// fields, and each worker takes a copy at the start of its run.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quenby {

// Bits of the test-item set (Enable_Test and each worker's working copy).
namespace item {
inline constexpr std::uint32_t FlashDownload = 0x00001;
inline constexpr std::uint32_t FirmwareVersion = 0x00002;
inline constexpr std::uint32_t AcquisitionTime = 0x00004;
inline constexpr std::uint32_t BitSyncTime = 0x00008;
inline constexpr std::uint32_t SignalQuality = 0x00010;
inline constexpr std::uint32_t ColdStartTtff = 0x00040;
inline constexpr std::uint32_t BluetoothMac = 0x00400;
inline constexpr std::uint32_t FactoryReset = 0x01000;
inline constexpr std::uint32_t NmeaType = 0x02000;
inline constexpr std::uint32_t UpdateHz = 0x80000;
// Firmware Version, NMEA Type and UpdateHZ are answered by the same replies.
inline constexpr std::uint32_t VersionGroup = FirmwareVersion | NmeaType | UpdateHz;
// The items this station offers (Bluetooth Mac Address is not among them).
inline constexpr std::uint32_t OfferedItems = 0x305F;
// Every item a run has a step or a reply for; a run takes only these bits of Enable_Test.
inline constexpr std::uint32_t RunItems = FlashDownload | FirmwareVersion | AcquisitionTime |
                                          BitSyncTime | SignalQuality | ColdStartTtff |
                                          BluetoothMac | FactoryReset | NmeaType | UpdateHz;
}  // namespace item

using MacAddress = std::array<std::uint8_t, 6>;

// Download speed for an index of Baudrate_Update (1 = 921600 ... 10 = 4800); 0 when out of range.
int downloadBaudForIndex(int index);

// Field initialisers are the values before any settings load (every field zero or empty, except
// the two baud rates). The defaults a load falls back to live with the keys in settings_file.cpp.
struct TestSettings {
  // [System] (ComSelect lives in the run state's chosen-port list)
  std::int32_t baudrateNmea = 38400;  // Baudrate_NMEA
  std::int32_t baudrateUpdate = 6;    // Baudrate_Update
  std::int32_t enableTest = 0;        // Enable_Test

  // [Basic]
  std::string flashDownloadDaPath;   // FlashDownload_DA_Path
  std::string flashDownloadRomPath;  // FlashDownload_ROM_Path
  std::string flashDownloadFailCode;
  float updateHz = 0.0f;
  std::int32_t hzTimeout = 0;
  std::string versionMtk;
  std::string versionCustomer;
  std::string versionProductModel;
  std::string versionSdkVer;
  std::int32_t versionTimeout = 0;
  std::string versionFailCode;
  std::int32_t versionSeries = 0;
  std::uint8_t svId = 0;
  std::int32_t acqTimeTimeout = 0;
  std::string acqTimeFailCode;
  std::int32_t bitSyncTimeout = 0;
  std::string bitSyncFailCode;
  float signalPhaseRatio = 0.0f;
  std::string signalPhaseFailCode;
  float signalTcxoOffset = 0.0f;
  float signalTcxoDrift = 0.0f;
  std::string signalTcxoFailCode;
  float signalCnrThreshold = 0.0f;
  float signalCnrDev = 0.0f;
  std::string signalCnrFailCode;
  std::int32_t signalTimeout = 0;
  std::int32_t coldStartTimeout = 0;
  std::string coldStartFailCode;
  std::int32_t resetTimeout = 0;
  std::string resetFailCode;
  std::int32_t nmeaFreqGll = 0;
  std::int32_t nmeaFreqRmc = 0;
  std::int32_t nmeaFreqVtg = 0;
  std::int32_t nmeaFreqGsa = 0;
  std::int32_t nmeaFreqGsv = 0;
  std::int32_t nmeaFreqGga = 0;
  std::int32_t nmeaFreqZda = 0;
  std::int32_t nmeaFreqMchn = 0;
  std::int32_t nmeaTimeout = 0;
  std::string nmeaFailCode;

  // [Extra]
  MacAddress btMac{};   // BT_Mac
  MacAddress btMacE{};  // BT_MacE
  std::string btFailCode;
  std::int32_t btTimeout = 0;

  // [Line]: what a production line adds to the station's windows.
  std::int32_t serialEntry = 0;  // Serial_Entry: 1 shows the serial-number entry on every port
  std::int32_t socketEntry = 0;  // Socket_Entry: 1 shows the socket entry

  // Not in the settings file: set only by the Basic Test dialog. It starts as the text that the
  // dialog's field shows, so a failed UpdateHZ never goes to the log as "Fail()".
  std::string updateHzFailCode = "UpdateHz";

  bool operator==(const TestSettings&) const = default;
};

}  // namespace quenby
