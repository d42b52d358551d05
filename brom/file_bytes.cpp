#include "brom/file_bytes.h"

#include <fstream>
#include <system_error>

namespace quenby::brom {

FileRead readFileBytes(const std::filesystem::path& path, std::size_t maxBytes,
                       std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return FileRead::Unreadable;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return FileRead::Unreadable;
  if (size > maxBytes) return FileRead::TooLarge;

  std::ifstream in(path, std::ios::binary);
  if (!in) return FileRead::Unreadable;
  bytes.resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::size_t>(in.gcount()) != bytes.size()) {
    bytes.clear();
    return FileRead::Unreadable;
  }
  // A file that grew since its size was taken is not read half: it is refused whole.
  if (in.peek() != std::char_traits<char>::eof()) {
    bytes.clear();
    return FileRead::TooLarge;
  }
  return FileRead::Read;
}

bool writeFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace quenby::brom
