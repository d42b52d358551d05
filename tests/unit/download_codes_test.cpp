#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/download_library.h"

namespace quenby {
namespace {

TEST(DownloadErrorText, TextOfEachKindOfResult) {
  struct Case {
    std::uint32_t result;
    std::string text;
  };
  const Case cases[] = {
      {makeDownloadResult(3), "Failed to open the COM port"},
      {makeDownloadResult(7, 0x0A), "BROM_DOWNLOAD_DA_FAIL"},
      {0x000A0007, "BROM_DOWNLOAD_DA_FAIL"},
      {makeDownloadResult(7, 0x24), "BROM_JUMP_TO_NFB_DETECTION_FAIL"},
      {makeDownloadResult(7, 0x25), ""},  // past the sub-code table: no text at all
      {makeDownloadResult(7, 0xFF), ""},
      {makeDownloadResult(26), "Unknown Error Code"},
      {makeDownloadResult(31), "Unknown Error Code"},
      {makeDownloadResult(32), "FT_CALLBACK_ERROR"},
      {makeDownloadResult(33), "Unknown Error Code"},
      {makeDownloadResult(255), "Unknown Error Code"},
      // Outside class 7 the upper bits carry nothing.
      {0x12340003, "Failed to open the COM port"},
      {0xFFFF0020, "FT_CALLBACK_ERROR"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(downloadErrorText(c.result), c.text) << std::hex << "result 0x" << c.result;
}

}  // namespace
}  // namespace quenby
