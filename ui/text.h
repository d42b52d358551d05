// Texts between the engine (8-bit strings, a module's bytes among them) and the widgets.
#pragma once

#include <QString>
#include <string>

namespace quenby::ui {

// An engine text for a widget: one character per byte, so a module's stray bytes show as they
// came instead of vanishing.
QString fromEngine(const std::string& text);
// An operator's or a widget's text for the engine and the files (UTF-8).
std::string toEngine(const QString& text);

}  // namespace quenby::ui
