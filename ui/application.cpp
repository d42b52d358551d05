#include "ui/application.h"

#include "ui/message_box.h"
#include "ui/text.h"

namespace quenby::ui {

QuenbyApplication::QuenbyApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("Quenby");
}

bool QuenbyApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    showException(std::current_exception());
    return true;
  }
}

void showException(const std::exception& error) {
  const bool untitled = dynamic_cast<const UntitledMessage*>(&error) != nullptr;
  showMessage(QApplication::activeWindow(), fromEngine(error.what()),
              untitled ? QString() : QApplication::applicationName());
}

void showException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    showException(e);
  } catch (...) {
    showException(std::runtime_error("Unexpected error"));
  }
}

}  // namespace quenby::ui
