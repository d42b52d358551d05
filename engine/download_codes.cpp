// Texts of the download library's error classes and boot-ROM sub-codes.
#include <array>
#include <string_view>

#include "engine/download_library.h"

namespace quenby {
namespace {

constexpr std::array<std::string_view, 33> kClassTexts = {
    "",  // 0: success, no text
    "FT_ERROR",
    "Invalid input arguments",
    "Failed to open the COM port",
    "DA_HANDLE error code",
    "DL_HANDLE error code",
    "RB_HANDLE error code",
    "",  // 7: the boot-ROM sub-code's text
    "Failed to set the COM port timeout",
    "DA returns no response to the tool's request",
    "DA responded with an incorrect sync character",
    "DA version is inconsistent with the brom.dll version",
    "Unsupported flash device type",
    "Failed to set the external clock",
    "Failed to set the baseband chip type",
    "Failed to change the baud rate",
    "Failed to set the download region",
    "An error occurred during the download process",
    "An error occurred during the readback process",
    "An error occurred during the format process",
    "Failed to shut down the target",
    "The DA SOC is different from the SOC in the target flash",
    "The ROM DSP version id doesn't match the target DSP version id",
    "Format operation was omitted",
    "FT_DA_HW_ERROR",
    "FT_DA_ENABLE_WATCHDOG_FAIL",
    "", "", "", "", "", "",  // 26 to 31: unknown
    "FT_CALLBACK_ERROR",
};

constexpr std::array<std::string_view, 0x25> kBromTexts = {
    "BROM_OK",
    "BROM_ERROR",
    "BROM_NO_MEMORY",
    "BROM_INVALID_ARGUMENTS",
    "BROM_SET_COM_STATE_FAIL",
    "BROM_PURGE_COM_FAIL",
    "BROM_SET_META_REG_FAIL",
    "BROM_SET_QUENBY_REG_FAIL",
    "BROM_SET_REMAP_REG_FAIL",
    "BROM_SET_MEM_WAIT_STATE_FAIL",
    "BROM_DOWNLOAD_DA_FAIL",
    "BROM_CMD_START_FAIL",
    "BROM_CMD_JUMP_FAIL",
    "BROM_CMD_WRITE16_MEM_FAIL",
    "BROM_CMD_READ16_MEM_FAIL",
    "BROM_CMD_WRITE16_REG_FAIL",
    "BROM_CMD_READ16_REG_FAIL",
    "BROM_CMD_CHKSUM16_MEM_FAIL",
    "BROM_CMD_WRITE32_MEM_FAIL",
    "BROM_CMD_READ32_MEM_FAIL",
    "BROM_CMD_WRITE32_REG_FAIL",
    "BROM_CMD_READ32_REG_FAIL",
    "BROM_CMD_CHKSUM32_MEM_FAIL",
    "BROM_WR16_RD16_MEM_RESULT_DIFF",
    "BROM_WR16_RD16_REG_RESULT_DIFF",
    "BROM_WR32_RD32_MEM_RESULT_DIFF",
    "BROM_WR32_RD32_REG_RESULT_DIFF",
    "BROM_CHKSUM16_MEM_RESULT_DIFF",
    "BROM_CHKSUM32_MEM_RESULT_DIFF",
    "BROM_BBCHIP_HW_VER_INCORRECT",
    "BROM_FAIL_TO_GET_BBCHIP_HW_VER",
    "BROM_SKIP_BBCHIP_HW_VER_CHECK",
    "BROM_UNKNOWN_BBCHIP",
    "BROM_UNKNOWN_TGT_BBCHIP",
    "BROM_BBCHIP_DSP_VER_INCORRECT",
    "BROM_MULTIPLE_BAUDRATE_FAIL",
    "BROM_JUMP_TO_NFB_DETECTION_FAIL",
};

}  // namespace

std::string downloadErrorText(std::uint32_t result) {
  const std::uint32_t errorClass = downloadErrorClass(result);
  if (errorClass == BromErrorClass) {
    const std::uint32_t sub = bromSubCode(result);
    return sub < kBromTexts.size() ? std::string(kBromTexts[sub]) : std::string();
  }
  if (errorClass >= 1 && errorClass < kClassTexts.size() && !kClassTexts[errorClass].empty())
    return std::string(kClassTexts[errorClass]);
  return "Unknown Error Code";
}

}  // namespace quenby
