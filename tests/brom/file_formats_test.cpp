// The Download Agent file, the layout file and the ROM image: good and damaged files, the load
// results the station tests, and the checks behind "DA Error!" and "Image Error!".
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "brom/brom_library.h"
#include "brom/da_file.h"
#include "brom/result_codes.h"
#include "brom/rom_image.h"
#include "brom/scatter_file.h"
#include "fakes/temp_folder.h"

namespace quenby::brom {
namespace {

using Bytes = std::vector<std::uint8_t>;
using quenby::testing::TempFolder;

constexpr std::uint32_t Mt3329 = 3072;
constexpr std::uint32_t Mt3318 = 0x100800;

Bytes agentPayload() {
  Bytes p(5000);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  return p;
}

Bytes goodAgentFile() {
  const std::uint32_t chips[] = {Mt3329, Mt3318};
  return buildDaFile(chips, agentPayload());
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(DaFile, LoadResultsForGoodAndDamagedFiles) {
  // Each case changes one byte of a good file (or none), then cuts or extends it.
  constexpr std::size_t NoByte = SIZE_MAX;
  const std::size_t goodSize = goodAgentFile().size();
  struct Case {
    const char* name;
    std::size_t offset;
    std::uint8_t value;
    std::size_t size;
    std::uint32_t result;
  };
  const Case cases[] = {
      {"good", NoByte, 0, goodSize, LoadDone},
      {"empty file", NoByte, 0, 0, LoadWrongKind},
      {"shorter than a header", NoByte, 0, 10, LoadWrongKind},
      {"wrong magic", 3, '2', goodSize, LoadWrongKind},
      {"no chips", 6, 0, goodSize, LoadCorrupt},
      {"17 chips", 6, 17, goodSize, LoadCorrupt},
      {"header length off", 4, 28, goodSize, LoadCorrupt},
      {"payload cut short", NoByte, 0, goodSize - 1, LoadCorrupt},
      {"bytes after the payload", NoByte, 0, goodSize + 1, LoadCorrupt},
      {"payload changed", 40, 0xEE, goodSize, LoadCorrupt},
      {"crc changed", 12, 0xEE, goodSize, LoadCorrupt},
      {"payload length 2 MiB", 10, 0x20, goodSize, LoadCorrupt},
  };
  for (const Case& c : cases) {
    Bytes file = goodAgentFile();
    if (c.offset != NoByte) file[c.offset] = c.value;
    file.resize(c.size);
    const DaParse parsed = parseDaFile(file);
    EXPECT_EQ(parsed.result, c.result) << c.name;
    EXPECT_EQ(parsed.file != nullptr, c.result == LoadDone) << c.name;
  }
  const std::uint32_t oneChip[] = {Mt3329};
  EXPECT_EQ(parseDaFile(buildDaFile(oneChip, {})).result, LoadCorrupt) << "an agent without code";

  const DaParse good = parseDaFile(goodAgentFile());
  ASSERT_TRUE(good.file);
  EXPECT_EQ(good.file->chips, (std::vector<std::uint32_t>{Mt3329, Mt3318}));
  EXPECT_EQ(good.file->payload, agentPayload());
}

TEST(DaFile, UnreadablePathsAndFilesOnDisk) {
  TempFolder folder;
  folder.write("agent.da", text(goodAgentFile()));
  EXPECT_EQ(readDaFile(folder / "agent.da").result, LoadDone);
  EXPECT_EQ(readDaFile(folder / "missing.da").result, LoadUnreadable);
  EXPECT_EQ(readDaFile(folder.path()).result, LoadUnreadable);  // a folder
  EXPECT_EQ(readDaFile("").result, LoadUnreadable);
  EXPECT_EQ(readDaFile("/dev/zero").result, LoadUnreadable);  // a device, not a file
}

TEST(Layout, ParsesRegionsInFileOrder) {
  const LayoutParse parsed = parseLayout(
      "# demo layout\r\n"
      "\r\n"
      "ROM 0x00000000 0x00040000\r\n"
      "   # indented comment\n"
      "\tCONFIG   0X000FF000\t0x1000\n"
      "LAST 0xFFFFF000 0x00001000");  // ends at the top of the address space, no newline
  ASSERT_EQ(parsed.result, LoadDone) << parsed.badLine;
  ASSERT_TRUE(parsed.layout);
  const std::vector<Region> expected = {
      {"ROM", 0, 0x40000}, {"CONFIG", 0xFF000, 0x1000}, {"LAST", 0xFFFFF000, 0x1000}};
  EXPECT_EQ(parsed.layout->regions, expected);
  EXPECT_EQ(parsed.layout->totalBytes(), 0x40000u + 0x2000u);

  // What the demo tool writes reads back the same.
  const LayoutParse again = parseLayout(formatLayout(*parsed.layout));
  ASSERT_TRUE(again.layout);
  EXPECT_EQ(again.layout->regions, expected);
}

TEST(Layout, RefusesBadLines) {
  struct Case {
    const char* text;
    std::uint32_t result;
    std::size_t badLine;
  };
  const std::string longName(32, 'N');
  const std::string tooMany = [] {
    std::string t;
    for (int i = 0; i <= 32; ++i)
      t += "R" + std::to_string(i) + " 0x" + std::to_string(i) + "000 0x10\n";
    return t;
  }();
  const Case cases[] = {
      {"", LoadWrongKind, 0},
      {"# only a comment\n\n", LoadWrongKind, 0},
      {"ROM 0x0 0x100\nBAD\n", LoadCorrupt, 2},
      {"ROM 0x0\n", LoadCorrupt, 1},
      {"ROM 0 0x100\n", LoadCorrupt, 1},
      {"ROM 0x 0x100\n", LoadCorrupt, 1},
      {"ROM 0x0 0x123456789\n", LoadCorrupt, 1},
      {"ROM 0x0 0x10G\n", LoadCorrupt, 1},
      {"ROM 0x0 0x100 extra\n", LoadCorrupt, 1},
      {"ROM 0xFFFFFF00 0x101\n", LoadCorrupt, 1},        // past the 32-bit address space
      {"A 0x0 0x100\nB 0x80 0x100\n", LoadCorrupt, 2},   // overlap
      {"A 0x100 0x100\nB 0x0 0x101\n", LoadCorrupt, 2},  // overlap from below
      {"R\x01 0x0 0x100\n", LoadCorrupt, 1},             // not a printable name
  };
  for (const Case& c : cases) {
    const LayoutParse parsed = parseLayout(c.text);
    EXPECT_EQ(parsed.result, c.result) << c.text;
    EXPECT_EQ(parsed.badLine, c.badLine) << c.text;
    EXPECT_FALSE(parsed.layout) << c.text;
  }
  EXPECT_EQ(parseLayout(longName + " 0x0 0x100\n").result, LoadCorrupt);
  EXPECT_EQ(parseLayout(longName.substr(1) + " 0x0 0x100\n").result, LoadDone);
  EXPECT_EQ(parseLayout(tooMany).badLine, 33u);
  // Adjacent regions and empty regions do not overlap (an empty one fails the image check).
  EXPECT_EQ(parseLayout("A 0x0 0x100\nB 0x100 0x100\nC 0x80 0x0\n").result, LoadDone);
}

TEST(RomImage, LoadResults) {
  TempFolder folder;
  folder.write("good.bin", std::string(1000, 'x'));
  folder.write("empty.bin", "");
  EXPECT_EQ(readRomImage(folder / "good.bin").result, LoadDone);
  EXPECT_EQ(readRomImage(folder / "good.bin").bytes->size(), 1000u);
  EXPECT_EQ(readRomImage(folder / "empty.bin").result, LoadWrongKind);
  EXPECT_EQ(readRomImage(folder / "missing.bin").result, LoadUnreadable);
  // Over the limit: refused without reading it in.
  { std::filesystem::resize_file(folder / "good.bin", RomMaxImageBytes + 1); }
  EXPECT_EQ(readRomImage(folder / "good.bin").result, LoadCorrupt);
}

// The checks as the station makes them, through the library.
class LibraryChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    library.createDaHandle(&da);
    library.createImageHandle(&image);
    folder.write("agent.da", text(goodAgentFile()));
    folder.write("scat.txt", "ROM 0x0 0x800\nCFG 0x1000 0x100\n");
    folder.write("image.bin", std::string(0x900, 'i'));
    folder.write("short.bin", std::string(0x8FF, 'i'));
  }
  void loadRom(const std::string& layoutText, const std::string& imageName, bool enable) {
    folder.write("layout.txt", layoutText);
    library.loadLayoutFile(image, (folder / "layout.txt").string());
    library.setImageOption(image, 256);
    library.loadImageFile(image, 0, (folder / imageName).string());
    library.enableImageEntry(image, 0, enable);
  }

  TempFolder folder;
  BromLibrary library{folder.path() / "ports"};
  DaHandle da = nullptr;
  DlHandle image = nullptr;
};

TEST_F(LibraryChecks, DownloadAgentCheckFollowsTheChipValue) {
  DaCheckInfo info;
  EXPECT_EQ(library.checkDa(da, &info, 1), OpNotLoaded);

  struct Case {
    std::uint32_t chip;
    int check;
  };
  const Case cases[] = {
      {Mt3329, OpDone}, {Mt3318, OpDone}, {0x1234, OpChipNotSupported}, {0, OpChipNotSupported}};
  for (const Case& c : cases) {
    library.setDaChipValue(da, c.chip);
    EXPECT_EQ(library.loadDaFile(da, (folder / "agent.da").string()), LoadDone);
    EXPECT_EQ(library.checkDa(da, &info, 1), c.check) << c.chip;
    EXPECT_EQ(info.words[0], c.chip);
    EXPECT_EQ(info.words[1], 2u);
    EXPECT_EQ(info.words[2], agentPayload().size());
  }

  // A failed load leaves no agent behind; so does an unload.
  library.setDaChipValue(da, Mt3329);
  EXPECT_EQ(library.loadDaFile(da, (folder / "missing.da").string()), LoadUnreadable);
  EXPECT_EQ(library.checkDa(da, &info, 1), OpNotLoaded);
  library.loadDaFile(da, (folder / "agent.da").string());
  EXPECT_EQ(library.checkDa(da, nullptr, 1), OpDone);
  library.unloadDa(da);
  EXPECT_EQ(library.checkDa(da, nullptr, 1), OpNotLoaded);
}

TEST_F(LibraryChecks, ImageCheckNeedsLayoutImageEntryAndEnoughBytes) {
  struct Case {
    const char* name;
    std::string layout;
    std::string image;
    bool enable;
    int check;
  };
  const Case cases[] = {
      {"good", "ROM 0x0 0x800\nCFG 0x1000 0x100\n", "image.bin", true, OpDone},
      {"longer image is fine", "ROM 0x0 0x800\n", "image.bin", true, OpDone},
      {"entry not enabled", "ROM 0x0 0x800\n", "image.bin", false, OpEntryDisabled},
      {"image too short", "ROM 0x0 0x800\nCFG 0x1000 0x100\n", "short.bin", true, OpImageTooShort},
      {"empty region", "ROM 0x0 0x800\nCFG 0x1000 0x0\n", "image.bin", true, OpEmptyRegion},
      {"bad layout", "ROM 0x0\n", "image.bin", true, OpNotLoaded},
      {"no image", "ROM 0x0 0x800\n", "missing.bin", true, OpNotLoaded},
  };
  for (const Case& c : cases) {
    loadRom(c.layout, c.image, c.enable);
    ImageCheckInfo info;
    EXPECT_EQ(library.checkImage(image, &info, 1), c.check) << c.name;
  }

  loadRom("ROM 0x0 0x800\nCFG 0x1000 0x100\n", "image.bin", true);
  ImageCheckInfo info;
  ASSERT_EQ(library.checkImage(image, &info, 1), OpDone);
  EXPECT_EQ(info.words[0], 2u);
  EXPECT_EQ(info.words[1], 0x900u);
  EXPECT_EQ(info.words[2], 0x900u);
  EXPECT_EQ(info.words[3], 256u);
  library.unloadImageEntry(image, 0);
  EXPECT_EQ(library.checkImage(image, &info, 1), OpNotLoaded);
}

}  // namespace
}  // namespace quenby::brom
