// The layout file scat.txt: the image's regions, one a line, written in file order and taking
// the image's bytes one after another.
//
//   # comment
//   ROM 0x00000000 0x00040000
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quenby::brom {

inline constexpr std::size_t LayoutMaxFileBytes = 64 * 1024;
inline constexpr std::size_t LayoutMaxRegions = 32;

struct Region {
  std::string name;           // 1 to 31 characters, no blanks
  std::uint32_t address = 0;  // in the module's flash
  std::uint32_t length = 0;

  bool operator==(const Region&) const = default;
};

struct Layout {
  std::vector<Region> regions;

  // The image bytes the regions take together.
  std::uint64_t totalBytes() const;
};

struct LayoutParse {
  std::uint32_t result = 0;  // LoadDone or a load error (result_codes.h)
  std::size_t badLine = 0;   // 1-based line of the first problem; 0 when none
  std::shared_ptr<const Layout> layout;
};

LayoutParse parseLayout(std::string_view text);
LayoutParse readLayoutFile(const std::filesystem::path& path);

// The file's text for a layout.
std::string formatLayout(const Layout& layout);

}  // namespace quenby::brom
