#include "ui/resources.h"

#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initQuenbyResources() { Q_INIT_RESOURCE(resources); }

namespace quenby::ui {

void registerResources() {
  static std::once_flag once;
  std::call_once(once, initQuenbyResources);
}

}  // namespace quenby::ui
