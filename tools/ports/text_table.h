// Rows of text in aligned columns, as quenby-ports prints its tables.
#pragma once

#include <string>
#include <vector>

namespace quenby::ports {

using TextRow = std::vector<std::string>;

// Each column as wide as its widest cell, two blanks between columns, no blanks at line ends.
std::string alignedTable(const std::vector<TextRow>& rows);

}  // namespace quenby::ports
