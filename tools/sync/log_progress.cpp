#include "tools/sync/log_progress.h"

namespace quenby::sync {

std::int64_t lineChecksum(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return static_cast<std::int64_t>(h);
}

}  // namespace quenby::sync
