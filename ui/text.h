// Texts between the engine (8-bit strings: settings, fail codes, a module's bytes) and the
// widgets. One rule for the whole station: the bytes are UTF-8 where they are valid UTF-8; any
// other byte shows as its Latin-1 character, so a module's stray bytes and a settings file in an
// 8-bit code page show as they came instead of vanishing or turning into replacement marks.
#pragma once

#include <QString>
#include <string>

namespace quenby::ui {

// An engine text for a widget, by the rule above.
QString fromEngine(const std::string& text);
// An operator's or a widget's text for the engine and the files (UTF-8). A text shown with
// fromEngine that held invalid bytes does not come back byte for byte: where bytes matter, keep
// the original for a text the operator did not change (see field_text.h).
std::string toEngine(const QString& text);

}  // namespace quenby::ui
