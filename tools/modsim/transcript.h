// What the station sent to one module, byte for byte, in a file that grows as it arrives.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>

namespace quenby::modsim {

class Transcript {
 public:
  Transcript() = default;  // records nothing
  // Starts an empty file at path; records nothing when it cannot be written (reported on stderr).
  explicit Transcript(const std::filesystem::path& path);
  ~Transcript();

  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  void record(std::string_view bytes);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace quenby::modsim
