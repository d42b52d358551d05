// The hand-off for the Qt station: a worker's function is queued to the user-interface thread's
// event loop and the worker waits until it has run. Anything that serves events (the loop itself,
// or the exit wait pumping events) runs it, so a worker can never be left waiting while the
// user-interface thread waits for the workers. An exception thrown by the function is rethrown
// in the worker, as if the call had been direct.
#pragma once

#include <QObject>

#include "engine/ui_bridge.h"

namespace quenby::ui {

class QtUiBridge final : public QObject, public UiBridge {
  Q_OBJECT
 public:
  // Lives on the thread that creates it: the user-interface thread.
  explicit QtUiBridge(QObject* parent = nullptr) : QObject(parent) {}
  void synchronize(const std::function<void()>& fn) override;
};

}  // namespace quenby::ui
