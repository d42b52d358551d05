// quenby-mkdemo: writes the demo Download Agent (demo.da), layout (scat.txt) and ROM image
// (demo.bin) into a folder; the build runs it into build/bin/demo/.
//
//   quenby-mkdemo [--out DIR] [--image-size BYTES] [--version TEXT]
//
// Exit status: 0 written, 1 a file could not be written, 2 usage errors.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "brom/file_bytes.h"
#include "brom/rom_image.h"
#include "brom/scatter_file.h"
#include "tools/demo/demo_files.h"

namespace {

constexpr int ExitWritten = 0;
constexpr int ExitWriteFailed = 1;
constexpr int ExitUsage = 2;
// The version text sits in the first region with its tag and zero byte.
constexpr std::size_t MaxVersionChars = 64;

int usage(const std::string& problem) {
  std::fprintf(stderr, "quenby-mkdemo: %s\n", problem.c_str());
  std::fprintf(stderr, "usage: quenby-mkdemo [--out DIR] [--image-size BYTES] [--version TEXT]\n");
  return ExitUsage;
}

// Decimal, or hexadecimal with 0x.
std::optional<std::size_t> parseSize(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::size_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    if (value > (quenby::brom::RomMaxImageBytes * 16)) return std::nullopt;
    value = value * static_cast<std::size_t>(base) + static_cast<std::size_t>(digit);
  }
  return value;
}

bool write(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  if (quenby::brom::writeFileBytes(path, bytes)) return true;
  std::fprintf(stderr, "quenby-mkdemo: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path out = ".";
  std::size_t imageBytes = quenby::demo::DefaultImageBytes;
  std::string version = quenby::demo::DefaultVersion;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--out" && hasValue) {
      out = argv[++i];
    } else if (arg == "--image-size" && hasValue) {
      const auto size = parseSize(argv[++i]);
      if (!size || *size < quenby::demo::MinImageBytes || *size > quenby::brom::RomMaxImageBytes)
        return usage("--image-size takes " + std::to_string(quenby::demo::MinImageBytes) + " to " +
                     std::to_string(quenby::brom::RomMaxImageBytes) + " bytes");
      imageBytes = *size;
    } else if (arg == "--version" && hasValue) {
      version = argv[++i];
      if (version.empty() || version.size() > MaxVersionChars ||
          version.find('\0') != std::string::npos)
        return usage("--version takes 1 to " + std::to_string(MaxVersionChars) + " characters");
    } else if (arg == "--help" || arg == "-h") {
      usage("writes the demo Download Agent, layout and ROM image");
      return ExitWritten;
    } else {
      return usage("unknown or incomplete argument '" + std::string(arg) + "'");
    }
  }

  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  const std::string layout = quenby::brom::formatLayout(quenby::demo::demoLayout(imageBytes));
  const bool written =
      write(out / "demo.da", quenby::demo::demoAgentFile()) &&
      write(out / "scat.txt", std::vector<std::uint8_t>(layout.begin(), layout.end())) &&
      write(out / "demo.bin", quenby::demo::demoImage(imageBytes, version));
  return written ? ExitWritten : ExitWriteFailed;
}
