#include "settings/test_settings.h"

namespace quenby {

int downloadBaudForIndex(int index) {
  static constexpr int kBauds[] = {921600, 460800, 230400, 115200, 57600,
                                   38400,  19200,  14400,  9600,   4800};
  if (index < 1 || index > 10) return 0;
  return kBauds[index - 1];
}

}  // namespace quenby
