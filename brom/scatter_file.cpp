#include "brom/scatter_file.h"

#include <algorithm>
#include <cstdio>

#include "brom/file_bytes.h"
#include "brom/protocol.h"
#include "brom/result_codes.h"

namespace quenby::brom {
namespace {

constexpr std::string_view Blanks = " \t\r\v\f";
constexpr std::size_t MaxHexDigits = 8;
constexpr std::uint64_t AddressSpace = 0x100000000ull;
// Region names are printable ASCII without blanks.
constexpr char FirstNameChar = '!';
constexpr char LastNameChar = '~';

std::string_view nextToken(std::string_view& line) {
  const auto start = line.find_first_not_of(Blanks);
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(start);
  const auto end = std::min(line.find_first_of(Blanks), line.size());
  const std::string_view token = line.substr(0, end);
  line.remove_prefix(end);
  return token;
}

// "0x" (or "0X") and 1 to 8 hexadecimal digits.
bool parseHex(std::string_view text, std::uint32_t& value) {
  if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  text.remove_prefix(2);
  if (text.size() > MaxHexDigits) return false;
  std::uint32_t v = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    v = (v << 4) | static_cast<std::uint32_t>(digit);
  }
  value = v;
  return true;
}

bool parseRegionLine(std::string_view line, Region& region) {
  const std::string_view name = nextToken(line);
  const std::string_view start = nextToken(line);
  const std::string_view length = nextToken(line);
  if (name.empty() || name.size() > MaxRegionNameChars) return false;
  for (char c : name)
    if (c < FirstNameChar || c > LastNameChar) return false;
  if (!nextToken(line).empty()) return false;  // nothing may follow the length
  if (!parseHex(start, region.address) || !parseHex(length, region.length)) return false;
  // A region must lie within the 32-bit address space.
  if (std::uint64_t{region.address} + region.length > AddressSpace) return false;
  region.name = std::string(name);
  return true;
}

bool overlaps(const Region& a, const Region& b) {
  if (a.length == 0 || b.length == 0) return false;
  const std::uint64_t aEnd = std::uint64_t{a.address} + a.length;
  const std::uint64_t bEnd = std::uint64_t{b.address} + b.length;
  return a.address < bEnd && b.address < aEnd;
}

LayoutParse failed(std::uint32_t result, std::size_t line) { return {result, line, nullptr}; }

}  // namespace

std::uint64_t Layout::totalBytes() const {
  std::uint64_t total = 0;
  for (const Region& r : regions) total += r.length;
  return total;
}

LayoutParse parseLayout(std::string_view text) {
  auto layout = std::make_shared<Layout>();
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const auto end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++lineNumber;

    const auto first = line.find_first_not_of(Blanks);
    if (first == std::string_view::npos || line[first] == '#') continue;

    Region region;
    if (!parseRegionLine(line, region)) return failed(LoadCorrupt, lineNumber);
    for (const Region& other : layout->regions)
      if (overlaps(region, other)) return failed(LoadCorrupt, lineNumber);
    if (layout->regions.size() == LayoutMaxRegions) return failed(LoadCorrupt, lineNumber);
    layout->regions.push_back(std::move(region));
  }
  if (layout->regions.empty()) return failed(LoadWrongKind, 0);
  return {LoadDone, 0, std::move(layout)};
}

LayoutParse readLayoutFile(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes;
  switch (readFileBytes(path, LayoutMaxFileBytes, bytes)) {
    case FileRead::Read:
      return parseLayout(
          std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    case FileRead::TooLarge:
      return failed(LoadCorrupt, 0);
    case FileRead::Unreadable:
      break;
  }
  return failed(LoadUnreadable, 0);
}

std::string formatLayout(const Layout& layout) {
  std::string text;
  for (const Region& r : layout.regions) {
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " 0x%08X 0x%08X\n", static_cast<unsigned>(r.address),
                  static_cast<unsigned>(r.length));
    text += r.name + numbers;
  }
  return text;
}

}  // namespace quenby::brom
