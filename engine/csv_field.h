// How a text becomes one field of the CSV test log: whatever a module or the operator typed, any
// CSV reader gets the same columns and rows back, and no spreadsheet runs it as a formula.
#pragma once

#include <string>
#include <string_view>

namespace quenby {

enum class FieldSource {
  Station,  // written by the station itself: numbers (a negative offset too), dates, "N/A"
  Outside,  // from a module or the operator: version and output texts, addresses, fail codes,
            // serial number, socket
};

// Control characters (below 0x20, and 0x7F) become blanks. A field holding a comma or a double
// quote is put in double quotes with its quotes doubled. An outside text that would begin its
// field with "=", "+", "-" or "@" gets a leading apostrophe inside double quotes, so that a
// spreadsheet shows it as text. Any other text is written exactly as it is.
std::string csvField(std::string_view text, FieldSource source);

// The same, but always in double quotes (the version and output texts, which hold commas).
std::string quotedCsvField(std::string_view text, FieldSource source);

}  // namespace quenby
