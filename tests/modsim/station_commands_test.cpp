#include "tools/modsim/station_commands.h"

#include <gtest/gtest.h>

#include "engine/nmea_sentence.h"

namespace quenby::modsim {
namespace {

using Fields = std::vector<std::string>;

TEST(ParseCommand, RecognisedLinesAndTheirFields) {
  struct Case {
    std::string line;
    std::optional<StationCommand> command;
  };
  const Case cases[] = {
      {"$PMTK811*3A", StationCommand{811, {}}},
      {"$PMTK810,000A,01*4B", StationCommand{810, {"000A", "01"}}},
      {"$PMTK810,000E,0C*3D", StationCommand{810, {"000E", "0C"}}},
      {"$PMTK220,1000*1F", StationCommand{220, {"1000"}}},
      {"$PMTK314,0,1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0*28",
       StationCommand{314, {"0", "1", "0", "0", "0", "1", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0",
                            "0", "0"}}},
      {"$PMTK314,-1*04", StationCommand{314, {"-1"}}},
      {"$PMTK103*30", StationCommand{103, {}}},
      {"$PMTK104*37", StationCommand{104, {}}},
      {"$PMTK810,000a,01*6b", StationCommand{810, {"000a", "01"}}},  // lower-case digits are taken
      {"$PMTK810,,*3B", StationCommand{810, {"", ""}}},              // empty fields are fields
      {"$PMTK811*3B", std::nullopt},                                 // wrong checksum
      {"$PMTK811", std::nullopt},                                    // no checksum
      {"$PMTK811*3", std::nullopt},
      {"$PMTK811*3A0", std::nullopt},
      {"$PMTK811*G0", std::nullopt},
      {"$PMTK81*0B", std::nullopt},      // name too short
      {"$PMTK8110*0A", std::nullopt},    // a fourth digit where the comma belongs
      {"$PMTKABC*42", std::nullopt},
      {"$GPRMC,1*56", std::nullopt},     // not a command
      {"PMTK811*3A", std::nullopt},
      {"", std::nullopt},
      {"$PMTK*02", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parseCommand(c.line), c.command) << c.line;
}

TEST(ParseCommand, TooManyFieldsOrTooLongIsDropped) {
  std::string body = "PMTK314";
  for (std::size_t i = 0; i <= MaxCommandFields; ++i) body += ",0";
  const std::string framed = frameSentence(body);
  EXPECT_EQ(parseCommand(framed.substr(0, framed.size() - 2)), std::nullopt);

  const std::string longOne = frameSentence("PMTK605," + std::string(MaxCommandLine, 'x'));
  EXPECT_EQ(parseCommand(longOne.substr(0, longOne.size() - 2)), std::nullopt);
}

TEST(ParseStartRequest, FlagsAndSatelliteInHex) {
  struct Case {
    Fields fields;
    std::optional<StartRequest> request;
  };
  const Case cases[] = {
      {{"000A", "01"}, StartRequest{0x000A, 1}},
      {{"000E", "0C"}, StartRequest{0x000E, 12}},
      {{"F", "1d"}, StartRequest{0xF, 29}},
      {{"0000", "FF"}, StartRequest{0, 255}},
      {{"00000", "01"}, std::nullopt},  // five flag digits
      {{"000A", "100"}, std::nullopt},  // three satellite digits
      {{"000A", ""}, std::nullopt},
      {{"00G0", "01"}, std::nullopt},
      {{"000A"}, std::nullopt},
      {{"000A", "01", "0"}, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseStartRequest(StationCommand{StartTestCommand, c.fields}), c.request)
        << c.fields.size() << " fields";
  EXPECT_EQ(parseStartRequest(StationCommand{EndTestCommand, {"000A", "01"}}), std::nullopt);
}

std::vector<int> numbersOf(const std::vector<StationCommand>& commands) {
  std::vector<int> numbers;
  for (const StationCommand& c : commands) numbers.push_back(c.number);
  return numbers;
}

TEST(CommandReader, TheStationsWholeRunInEveryChunking) {
  // What a run sends: handshake, Cold Start TTFF, Factory Reset, and the end sentences with
  // their zero bytes.
  const std::string run = std::string("$PMTK811*3A\r\n$PMTK810,000F,1D*38\r\n$PMTK103*30\r\n$PMTK220,1000*1F\r\n") +
                          "$PMTK314,0,1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0*28\r\n" + "$PMTK104*37\r\n" + '\0' +
                          "$PMTK811*3A\r\n" + '\0' + "$PMTK104*37\r\n" + '\0';
  const std::vector<int> expected = {811, 810, 103, 220, 314, 104, 811, 104};
  for (std::size_t chunk = 1; chunk <= run.size(); ++chunk) {
    CommandReader reader;
    std::vector<int> seen;
    for (std::size_t at = 0; at < run.size(); at += chunk)
      for (int n : numbersOf(reader.feed(std::string_view(run).substr(at, chunk)))) seen.push_back(n);
    EXPECT_EQ(seen, expected) << "chunks of " << chunk;
  }
}

TEST(CommandReader, RecoversFromNoiseBrokenLinesAndOverlongLines) {
  CommandReader reader;
  EXPECT_TRUE(reader.feed("\xff\x13garbage\r\n$PMTK81").empty());
  // A new "$" abandons the unfinished line.
  EXPECT_EQ(numbersOf(reader.feed("$PMTK811*3A\r\n")), std::vector<int>{811});
  EXPECT_TRUE(reader.feed(std::string(MaxCommandLine * 3, 'x')).empty());
  EXPECT_TRUE(reader.feed("$PMTK811*3A" + std::string(MaxCommandLine, 'x') + "\r\n").empty());
  EXPECT_EQ(numbersOf(reader.feed(std::string("$PMTK8") + '\0' + "11*3A\n")), std::vector<int>{811});

  reader.feed("$PMTK81");
  reader.reset();
  EXPECT_TRUE(reader.feed("1*3A\r\n").empty());
}

}  // namespace
}  // namespace quenby::modsim
