// SIGTERM, SIGHUP and SIGINT (a logout, a kill, Ctrl-C in the terminal that started the station)
// close the main window the way its close box does: runs ended and logged, settings saved.
#pragma once

class QWidget;

namespace quenby::ui {

// Installs the handlers; a signal then closes window from the event loop.
void closeOnTerminationSignals(QWidget& window);

}  // namespace quenby::ui
