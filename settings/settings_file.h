// Load and save of the test settings record to a settings file (Torvane.ini or a profile).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "settings/run_state.h"
#include "settings/test_settings.h"

namespace quenby {

// What a settings load does outside the record, called at the right step of the load: hand the
// saved Download Agent and ROM files to the download library, and show the loaded values in the
// main window (menu check marks, status bar). The main window and the headless runner each
// provide one.
class SettingsLoadEffects {
 public:
  virtual ~SettingsLoadEffects() = default;

  // After Baudrate_NMEA, Baudrate_Update and Version_Series are read: check the menu entries
  // whose tag equals the value, uncheck the others.
  virtual void showNmeaBaudrate(std::int32_t /*baud*/) {}
  virtual void showUpdateBaudrate(std::int32_t /*index*/) {}
  virtual void showSeries(std::int32_t /*series*/) {}

  // A non-empty FlashDownload_DA_Path: set the chip value (always 3072 on a load), load the file.
  // Returns the library's load result; bits 8 to 15 all zero mean loaded.
  virtual std::uint32_t loadDownloadAgent(const std::string& path, std::uint32_t chipValue) = 0;
  // A non-empty FlashDownload_ROM_Path: load scat.txt from the program folder, set image option
  // 256, load the image as entry 0, enable entry 0. Returns the image load's result.
  virtual std::uint32_t loadRom(const std::string& path) = 0;
  // The status bar's Download Agent and ROM file panels.
  virtual void showDownloadAgentPath(const std::string& /*path*/) {}
  virtual void showRomPath(const std::string& /*path*/) {}

  // Something the load did not take as written, for the operator: a settings file that is there
  // but cannot be read, ComSelect entries left out, a number out of its range (the default used
  // instead). One text each, naming the key and the value.
  virtual void notice(const std::string& /*text*/) {}
};

// Chip value handed to the library for a Download Agent named in a settings file (MT3329).
inline constexpr std::uint32_t DaChipValueOnLoad = 3072;
// Chip values for the Download Agent chosen from the menu, by series.
inline constexpr std::uint32_t DaChipValueMt3329 = 3072;
inline constexpr std::uint32_t DaChipValueMt3318 = 0x100800;

// True when a load result of the library (Download Agent or image) means "loaded".
inline bool libraryLoadSucceeded(std::uint32_t result) { return ((result >> 8) & 0xFF) == 0; }

// Fills the record from the file, in the fixed order of the keys; missing keys, empty numbers and
// numbers that do not convert or lie outside their key's range give their defaults (all but empty
// ones with a notice). ComSelect gives each port from 1 to 65535 once, at most 16. A
// BT_Mac/BT_MacE value with a non-hexadecimal pair stops the load there with
// SettingsError("'0x<pair>' is not a valid integer value"); later keys keep their values.
void loadSettings(const std::filesystem::path& file, TestSettings& settings, RunState& state,
                  SettingsLoadEffects& effects);

// Writes the record to the file. The Extra section is written only when the offered-items mask
// holds the Bluetooth bit. A refused write stops the save with SettingsError("Unable to write to
// <path>"); the keys before it are written.
void saveSettings(const std::filesystem::path& file, const TestSettings& settings,
                  const RunState& state);

}  // namespace quenby
