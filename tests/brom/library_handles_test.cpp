// The library's handles and arguments: unknown, destroyed and foreign handles are errors on
// every operation, never a crash; the download refuses bad records before it touches a port;
// port enumeration over the ports folder.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "brom/brom_library.h"
#include "brom/download_results.h"
#include "brom/result_codes.h"
#include "fakes/temp_folder.h"

namespace quenby::brom {
namespace {

using quenby::testing::TempFolder;

TEST(LibraryHandles, EveryOperationRefusesHandlesItDoesNotHold) {
  TempFolder folder;
  BromLibrary library(folder.path() / "ports");
  BromLibrary other(folder.path() / "ports");
  folder.write("file", "x");
  const std::string path = (folder / "file").string();

  DaHandle destroyedDa = nullptr;
  DlHandle destroyedImage = nullptr;
  library.createDaHandle(&destroyedDa);
  library.createImageHandle(&destroyedImage);
  DaHandle keptDa = destroyedDa;
  DlHandle keptImage = destroyedImage;
  ASSERT_EQ(library.destroyDaHandle(&destroyedDa), OpDone);
  ASSERT_EQ(library.destroyImageHandle(&destroyedImage), OpDone);
  EXPECT_EQ(destroyedDa, nullptr);
  EXPECT_EQ(destroyedImage, nullptr);
  // Handles made after the destroy never bring the destroyed ones back.
  DaHandle liveDa = nullptr;
  DlHandle liveImage = nullptr;
  library.createDaHandle(&liveDa);
  library.createImageHandle(&liveImage);
  EXPECT_NE(liveDa, keptDa);
  EXPECT_NE(liveImage, keptImage);

  DaHandle foreignDa = nullptr;
  DlHandle foreignImage = nullptr;
  other.createDaHandle(&foreignDa);
  other.createImageHandle(&foreignImage);

  struct BadHandles {
    const char* name;
    DaHandle da;
    DlHandle image;
  };
  int dummy = 0;
  const BadHandles bad[] = {
      {"null", nullptr, nullptr},
      {"destroyed", keptDa, keptImage},
      {"another library's", foreignDa, foreignImage},
      {"an address", reinterpret_cast<DaHandle>(&dummy), reinterpret_cast<DlHandle>(&dummy)},
  };
  for (const BadHandles& b : bad) {
    SCOPED_TRACE(b.name);
    DaCheckInfo daInfo;
    ImageCheckInfo imageInfo;
    EXPECT_EQ(library.setDaChipValue(b.da, 3072), OpUnknownHandle);
    EXPECT_EQ(library.loadDaFile(b.da, path), LoadUnknownHandle);
    EXPECT_FALSE(loadResultOk(library.loadDaFile(b.da, path)));
    EXPECT_EQ(library.checkDa(b.da, &daInfo, 1), OpUnknownHandle);
    EXPECT_EQ(library.unloadDa(b.da), OpUnknownHandle);
    EXPECT_EQ(library.loadLayoutFile(b.image, path), static_cast<int>(LoadUnknownHandle));
    EXPECT_EQ(library.setImageOption(b.image, 256), OpUnknownHandle);
    EXPECT_EQ(library.loadImageFile(b.image, 0, path), LoadUnknownHandle);
    EXPECT_EQ(library.enableImageEntry(b.image, 0, true), OpUnknownHandle);
    EXPECT_EQ(library.checkImage(b.image, &imageInfo, 1), OpUnknownHandle);
    EXPECT_EQ(library.unloadImageEntry(b.image, 0), OpUnknownHandle);
    DaHandle da = b.da;
    DlHandle image = b.image;
    EXPECT_EQ(library.destroyDaHandle(&da), OpUnknownHandle);
    EXPECT_EQ(library.destroyImageHandle(&image), OpUnknownHandle);
    EXPECT_EQ(da, b.da);
  }

  // The live handles still work, and bad arguments on them are refused.
  EXPECT_EQ(library.setDaChipValue(liveDa, 3072), OpDone);
  EXPECT_EQ(library.loadImageFile(liveImage, 1, path), LoadInvalidArgument);
  EXPECT_EQ(library.enableImageEntry(liveImage, 1, true), OpInvalidArgument);
  EXPECT_EQ(library.unloadImageEntry(liveImage, 1), OpInvalidArgument);
  EXPECT_EQ(library.createDaHandle(nullptr), OpInvalidArgument);
  EXPECT_EQ(library.createImageHandle(nullptr), OpInvalidArgument);
  EXPECT_EQ(library.destroyDaHandle(nullptr), OpInvalidArgument);
  EXPECT_EQ(library.destroyImageHandle(nullptr), OpInvalidArgument);
}

TEST(LibraryDownload, RefusesBadRecordsBeforeOpeningThePort) {
  TempFolder folder;
  BromLibrary library(folder.path() / "ports");
  folder.write("scat.txt", "ROM 0x0 0x100\n");
  folder.write("image.bin", std::string(0x100, 'i'));
  const std::uint32_t chips[] = {3072};
  const std::vector<std::uint8_t> payload(64, 1);
  const auto agentBytes = buildDaFile(chips, payload);
  folder.write("agent.da", std::string(agentBytes.begin(), agentBytes.end()));
  folder.write("ports/COM4", "a file, not a terminal");

  DaHandle emptyDa = nullptr, da = nullptr;
  DlHandle emptyImage = nullptr, image = nullptr;
  library.createDaHandle(&emptyDa);
  library.createDaHandle(&da);
  library.createImageHandle(&emptyImage);
  library.createImageHandle(&image);
  library.setDaChipValue(da, 3072);
  ASSERT_EQ(library.loadDaFile(da, (folder / "agent.da").string()), LoadDone);
  library.loadLayoutFile(image, (folder / "scat.txt").string());
  library.loadImageFile(image, 0, (folder / "image.bin").string());
  library.enableImageEntry(image, 0, true);
  int dummy = 0;

  struct Case {
    const char* name;
    std::uint32_t baudIndex;
    DaHandle da;
    DlHandle image;
    bool stopWord;
    bool report;
    std::uint8_t comPort;
    std::uint32_t result;
  };
  const Case cases[] = {
      {"no report", 1, da, image, true, false, 1, result::InvalidArguments},
      {"no stop word", 1, da, image, false, true, 1, result::InvalidArguments},
      {"speed index 0", 0, da, image, true, true, 1, result::InvalidArguments},
      {"speed index 11", 11, da, image, true, true, 1, result::InvalidArguments},
      {"speed index huge", 0x80000001u, da, image, true, true, 1, result::InvalidArguments},
      {"unknown agent", 1, reinterpret_cast<DaHandle>(&dummy), image, true, true, 1,
       result::DaHandleError},
      {"agent not loaded", 1, emptyDa, image, true, true, 1, result::DaHandleError},
      {"unknown image", 1, da, nullptr, true, true, 1, result::ImageHandleError},
      {"image not loaded", 1, da, emptyImage, true, true, 1, result::ImageHandleError},
      {"no such port", 1, da, image, true, true, 1, result::CannotOpenPort},
      {"port 0", 1, da, image, true, true, 0, result::CannotOpenPort},
      {"not a terminal", 1, da, image, true, true, 4, result::CannotOpenPort},
  };
  for (const Case& c : cases) {
    PortRecord port;
    port.comPort = c.comPort;
    port.baudIndex = c.baudIndex;
    DaRecord daRecord;
    daRecord.daHandle = c.da;
    ImageRecord imageRecord;
    imageRecord.imageHandle = c.image;
    std::atomic<std::uint32_t> stop{0};
    DownloadReport report;
    report.words[1] = 77;
    const std::uint32_t r = library.download(
        port, daRecord, imageRecord, c.stopWord ? &stop : nullptr, c.report ? &report : nullptr);
    EXPECT_EQ(r, c.result) << c.name;
    if (c.report) {
      EXPECT_EQ(report.words[1], 0u) << c.name << ": the report is zeroed";
    }
  }
}

TEST(LibraryPorts, EnumeratesComLinksAscendingWithinTheCallersCount) {
  TempFolder folder;
  const auto ports = folder.path() / "ports";

  // Entries are links to a character device, except those marked "file:" (a regular file),
  // "dir:" (a folder) and "dead:" (a link that leads nowhere), which are no ports.
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    std::uint16_t capacity;
    int result;
    std::vector<std::uint16_t> found;
  };
  const Case cases[] = {
      {"no folder", {}, 255, EnumerateNone, {}},
      {"empty folder", {"."}, 255, EnumerateNone, {}},
      {"only other names", {"COM0", "COM01", "com5", "COMx", "README"}, 255, EnumerateNone, {}},
      {"ascending", {"COM10", "COM3", "COM1", "COM0", "notes"}, 255, EnumerateFound, {1, 3, 10}},
      {"cut to the count", {"COM10", "COM3", "COM1"}, 2, EnumerateFound, {1, 3}},
      {"only character devices", {"file:COM99", "dir:COM8", "dead:COM7", "COM2"}, 255, EnumerateFound, {2}},
      {"no device at all", {"file:COM99", "dead:COM7"}, 255, EnumerateNone, {}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(ports);
    for (const std::string& e : c.entries) {
      std::filesystem::create_directories(ports);
      if (e == ".") continue;
      const std::string name = e.substr(e.find(':') + 1);
      if (e.starts_with("file:"))
        folder.write("ports/" + name, "");
      else if (e.starts_with("dir:"))
        std::filesystem::create_directory(ports / name);
      else if (e.starts_with("dead:"))
        std::filesystem::create_symlink(folder.path() / "unplugged", ports / name);
      else
        std::filesystem::create_symlink("/dev/null", ports / name);
    }
    BromLibrary library(ports);
    std::vector<std::uint16_t> out(256, 0xEEEE);
    std::uint16_t count = c.capacity;
    EXPECT_EQ(library.enumeratePorts(out.data(), count), c.result) << c.name;
    EXPECT_EQ(count, c.found.size()) << c.name;
    EXPECT_EQ(std::vector<std::uint16_t>(out.begin(), out.begin() + count), c.found) << c.name;
    EXPECT_EQ(out[c.capacity], 0xEEEE) << c.name << ": wrote past the caller's count";
  }

  // A ports "folder" that is a file cannot be read: a failure, not "no ports".
  folder.write("not-a-folder", "");
  BromLibrary broken(folder / "not-a-folder");
  std::uint16_t out[4];
  std::uint16_t count = 4;
  const int r = broken.enumeratePorts(out, count);
  EXPECT_NE(r, EnumerateFound);
  EXPECT_NE(r, EnumerateNone);
  EXPECT_EQ(count, 0);
  count = 4;
  EXPECT_EQ(BromLibrary(ports).enumeratePorts(nullptr, count), EnumerateFailed);
}

}  // namespace
}  // namespace quenby::brom
