#include "tools/modsim/simulated_flash.h"

#include <gtest/gtest.h>

#include "tools/modsim/boot_frames.h"
#include "tools/modsim/firmware_image.h"
#include "tools/modsim/scenario.h"

namespace quenby::modsim {
namespace {

constexpr std::uint32_t kSize = 1024 * 1024;

TEST(SimulatedFlash, ErasedUntilWrittenAndWritesLandWhereAddressed) {
  SimulatedFlash flash(kSize);
  EXPECT_EQ(flash.read(0, 8), std::string(8, '\xFF'));
  // A write across a sector boundary, and one at the very end.
  const std::string across(FlashSectorSize + 100, 'a');
  ASSERT_TRUE(flash.write(FlashSectorSize - 50, across));
  ASSERT_TRUE(flash.write(kSize - 3, "end"));
  EXPECT_EQ(flash.read(FlashSectorSize - 51, 1), "\xFF");
  EXPECT_EQ(flash.read(FlashSectorSize - 50, static_cast<std::uint32_t>(across.size())), across);
  EXPECT_EQ(flash.read(FlashSectorSize * 2 + 50, 1), "\xFF");
  EXPECT_EQ(flash.read(kSize - 4, 4), "\xFF" "end");
  // An overwrite replaces the bytes.
  ASSERT_TRUE(flash.write(FlashSectorSize, "BB"));
  EXPECT_EQ(flash.read(FlashSectorSize - 1, 4), "aBBa");
  EXPECT_EQ(flash.crc32(0, kSize), crc32Of(flash.read(0, kSize)));
}

TEST(SimulatedFlash, RangesOutsideTheFlashAreRefused) {
  SimulatedFlash flash(kSize);
  struct Case {
    std::uint64_t address;
    std::uint64_t length;
    bool inside;
  };
  const Case cases[] = {
      {0, kSize, true},         {kSize, 0, true},          {kSize - 1, 1, true},
      {kSize - 1, 2, false},    {kSize, 1, false},         {0, kSize + 1ull, false},
      {0xFFFFFFFFull, 2, false}, {1, 0xFFFFFFFFull, false},
  };
  for (const Case& c : cases) EXPECT_EQ(flash.contains(c.address, c.length), c.inside) << c.address << "+" << c.length;
  EXPECT_FALSE(flash.write(kSize - 2, "abc"));
  EXPECT_EQ(flash.read(kSize - 2, 2), "\xFF\xFF");  // nothing of a refused write lands
  EXPECT_EQ(flash.read(kSize - 2, 3), "");
}

TEST(FirmwareImage, VersionTextIsTakenFromTheFlashRange) {
  constexpr std::uint32_t kPieceEdge = 65536;  // where the search reads its next piece
  struct Case {
    const char* name;
    std::uint32_t at;      // where "QVER:" + text is written
    std::string entry;     // written at `at`
    std::uint32_t length;  // of the range searched from 0
    std::optional<std::string> version;
  };
  const std::string longText(MaxVersionText + 1, 'v');
  const Case cases[] = {
      {"in the middle", 5000, std::string("QVER:QB_2.1,0001,,\0", 19), 10000, "QB_2.1,0001,,"},
      {"across a piece's edge", kPieceEdge - 3, std::string("QVER:QB_2.2\0", 12), 3 * kPieceEdge, "QB_2.2"},
      {"where two pieces overlap", kPieceEdge + 10, std::string("QVER:QB_2.3\0", 12), 3 * kPieceEdge, "QB_2.3"},
      {"cut by the end of a piece", kPieceEdge + 203, std::string("QVER:QB_2.4\0", 12), 3 * kPieceEdge, "QB_2.4"},
      {"empty text", 0, std::string("QVER:\0", 6), 100, ""},
      {"no marker", 0, "QVE:x", 100, std::nullopt},
      {"outside the range", 200, std::string("QVER:x\0", 7), 100, std::nullopt},
      {"zero byte past the range", 90, std::string("QVER:abcdefgh\0", 14), 100, std::nullopt},
      {"no zero byte: erased flash follows", 0, "QVER:abc", 1000, std::nullopt},
      {"a dollar sign", 0, std::string("QVER:a$b\0", 9), 100, std::nullopt},
      {"too long", 0, "QVER:" + longText + '\0', 1000, std::nullopt},
  };
  for (const Case& c : cases) {
    SimulatedFlash flash(kSize);
    ASSERT_TRUE(flash.write(c.at, c.entry)) << c.name;
    EXPECT_EQ(firmwareVersion(flash, 0, c.length), c.version) << c.name;
  }
}

}  // namespace
}  // namespace quenby::modsim
