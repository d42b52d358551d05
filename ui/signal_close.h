// SIGTERM, SIGHUP and SIGINT (a logout, a kill, Ctrl-C in the terminal that started the station)
// close the main window the way its close box does: runs ended and logged, settings saved.
#pragma once

#include <functional>

class QWidget;

namespace quenby::ui {

// Installs the handlers; a signal then calls close from the event loop (of any modal box too),
// for as long as window lives.
void closeOnTerminationSignals(QWidget& window, std::function<void()> close);

}  // namespace quenby::ui
