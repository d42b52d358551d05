// What the station sends, as the module's UART receiver sees it: bytes cut into lines, each line
// checked as a "$PMTK" command with its checksum.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenby::modsim {

// The command numbers the module acts on.
inline constexpr int ColdRestartCommand = 103;
inline constexpr int FactoryResetCommand = 104;
inline constexpr int SetFixIntervalCommand = 220;
inline constexpr int SetOutputRatesCommand = 314;
inline constexpr int QueryFixIntervalCommand = 400;
inline constexpr int QueryOutputRatesCommand = 414;
inline constexpr int QueryVersionCommand = 605;
inline constexpr int StartTestCommand = 810;
inline constexpr int EndTestCommand = 811;

// Longest command line the module keeps; a longer one is dropped whole.
inline constexpr std::size_t MaxCommandLine = 160;
// Most fields one command may carry.
inline constexpr std::size_t MaxCommandFields = 24;

struct StationCommand {
  int number = 0;                   // 810 for "$PMTK810,..."
  std::vector<std::string> fields;  // the texts after the name, between the commas

  bool operator==(const StationCommand&) const = default;
};

// One line without its line end: "$PMTK" + three digits + optional ",fields" + "*" + two
// hexadecimal digits (either case) matching the checksum. Anything else gives nullopt.
std::optional<StationCommand> parseCommand(std::string_view line);

struct StartRequest {
  std::uint16_t flags = 0;
  int sv = 0;

  bool operator==(const StartRequest&) const = default;
};

// The start sentence's two fields: test flags (1 to 4 hexadecimal digits) and the satellite
// (1 or 2 hexadecimal digits).
std::optional<StartRequest> parseStartRequest(const StationCommand& command);

// Collects received bytes into lines. Zero bytes are ignored wherever they fall; a "$" starts a
// new line, dropping an unfinished one; CR or LF ends a line.
class CommandReader {
 public:
  std::vector<StationCommand> feed(std::string_view bytes);
  // Forgets an unfinished line (the receiver lost the thread, e.g. at a wrong baud rate).
  void reset();

 private:
  std::string line_;
  bool overflow_ = false;  // the current line grew past MaxCommandLine and is being skipped
};

}  // namespace quenby::modsim
