// The station's application object. Its event delivery is the application's exception handler:
// an exception that escapes an event handler (a conversion error in a dialog's OK, a settings
// file that cannot be written) is shown in a one-button message box and the program goes on.
#pragma once

#include <QApplication>
#include <exception>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "settings/ini_file.h"

namespace quenby::ui {

// An operator's mistake reported by a plain, untitled message box (the Extra Test dialog's MAC
// range), rather than as the application's error.
class UntitledMessage : public SettingsError {
 public:
  using SettingsError::SettingsError;
};

class QuenbyApplication final : public QApplication {
 public:
  QuenbyApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// The exception handler's message box: the exception's text, one OK button.
void showException(const std::exception& error);
void showException(std::exception_ptr error);

// A slot body run under the exception handler. Qt's signal delivery is no place for an exception
// to travel through, so every handler that may throw is connected through this.
template <class F>
auto guarded(F f) {
  // Qt hands a functor every argument of the signal it accepts; the body takes what it names.
  return [f = std::move(f)](auto&&... args) {
    try {
      if constexpr (std::is_invocable_v<const F&, decltype(args)...>)
        f(std::forward<decltype(args)>(args)...);
      else
        f();
    } catch (...) {
      showException(std::current_exception());
    }
  };
}

}  // namespace quenby::ui
