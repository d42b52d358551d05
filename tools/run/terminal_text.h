// A line for the operator's terminal: nothing a module sends may reach the terminal as a control
// sequence (clearing the screen, retitling the window, colouring a fake verdict).
#pragma once

#include <string>
#include <string_view>

namespace quenby::run {

// The text with every control character shown as \xHH: bytes below 0x20 but the tab, 0x7F, the
// C1 controls (U+0080 to U+009F) and every byte that is not part of well-formed UTF-8 (which an
// 8-bit terminal could take for a C1 control). Printable ASCII and well-formed UTF-8 stay.
std::string printableText(std::string_view text);

}  // namespace quenby::run
