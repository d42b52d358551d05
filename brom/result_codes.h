// What the library's operations return besides the download result.
#pragma once

#include <cstdint>

namespace quenby::brom {

// ---- Loads (Download Agent file, layout file, image file): bits 8 to 15 zero = loaded --------
inline constexpr std::uint32_t LoadDone = 0;
inline constexpr std::uint32_t LoadUnreadable = 0x0100;  // missing or unreadable
inline constexpr std::uint32_t LoadWrongKind = 0x0200;   // not that kind of file (or empty)
inline constexpr std::uint32_t LoadCorrupt = 0x0300;     // damaged, or larger than its kind can be
inline constexpr std::uint32_t LoadUnknownHandle = 0x0400;
inline constexpr std::uint32_t LoadInvalidArgument = 0x0500;  // an image entry other than 0

// ---- Handle operations and checks: 0 = done / usable -----------------------------------------
inline constexpr int OpDone = 0;
inline constexpr int OpUnknownHandle = 1;
inline constexpr int OpInvalidArgument = 2;
inline constexpr int OpNotLoaded = 3;         // no Download Agent / no layout / no image
inline constexpr int OpChipNotSupported = 4;  // the chip value is not in the Download Agent
inline constexpr int OpEntryDisabled = 5;
inline constexpr int OpImageTooShort = 6;  // shorter than the layout's regions together
inline constexpr int OpEmptyRegion = 7;

// ---- Port enumeration (besides EnumerateFound and EnumerateNone) ------------------------------
inline constexpr int EnumerateFailed = 1;  // the ports folder cannot be read

}  // namespace quenby::brom
