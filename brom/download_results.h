// The download results this library returns: the error class in the low byte, and for class 7
// the boot-ROM sub-code in bits 16 to 23.
#pragma once

#include <cstdint>

#include "engine/download_library.h"

namespace quenby::brom::result {

inline constexpr std::uint32_t Success = 0;
inline constexpr std::uint32_t InvalidArguments = makeDownloadResult(2);
inline constexpr std::uint32_t CannotOpenPort = makeDownloadResult(3);
inline constexpr std::uint32_t DaHandleError = makeDownloadResult(4);
inline constexpr std::uint32_t ImageHandleError = makeDownloadResult(5);
inline constexpr std::uint32_t LineSettingsRefused = makeDownloadResult(8);
inline constexpr std::uint32_t AgentSilent = makeDownloadResult(9);
inline constexpr std::uint32_t AgentWrongAlive = makeDownloadResult(10);
inline constexpr std::uint32_t ChipRejected = makeDownloadResult(14);
inline constexpr std::uint32_t SpeedChangeFailed = makeDownloadResult(15);
inline constexpr std::uint32_t RegionRefused = makeDownloadResult(16);
inline constexpr std::uint32_t DownloadFailed = makeDownloadResult(17);
inline constexpr std::uint32_t ReadbackFailed = makeDownloadResult(18);
inline constexpr std::uint32_t ShutdownFailed = makeDownloadResult(20);

// Class 7 with the boot-ROM sub-codes.
inline constexpr std::uint32_t AgentDownloadFailed = makeDownloadResult(BromErrorClass, 0x0A);
inline constexpr std::uint32_t BootRomSilent = makeDownloadResult(BromErrorClass, 0x0B);
inline constexpr std::uint32_t UnknownBootRom = makeDownloadResult(BromErrorClass, 0x20);

}  // namespace quenby::brom::result
