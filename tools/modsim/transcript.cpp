#include "tools/modsim/transcript.h"

#include <cerrno>
#include <cstring>

namespace quenby::modsim {

Transcript::Transcript(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "wb")) {
  if (!file_) std::fprintf(stderr, "quenby-modsim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
}

Transcript::~Transcript() {
  if (file_) std::fclose(file_);
}

void Transcript::record(std::string_view bytes) {
  if (!file_ || bytes.empty()) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
  // Flushed at once: a test reads the file while the module still runs.
  std::fflush(file_);
}

}  // namespace quenby::modsim
