// Small pieces of HTML: escaped text and tables of figures.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quenby::report {

std::string escapeHtml(std::string_view text);

// A table built row by row; number cells are right-aligned. Tables longer than FoldRows fold
// into a <details> element that opens on a click, so that a year of days does not bury the page.
class HtmlTable {
 public:
  static constexpr std::size_t FoldRows = 31;

  explicit HtmlTable(std::vector<std::string> headings);
  // A row of class "total" sums up the others.
  HtmlTable& row(const std::string& rowClass = "");
  HtmlTable& text(std::string_view cell);     // escaped
  HtmlTable& number(std::string_view cell);   // escaped, right-aligned
  HtmlTable& number(unsigned long long n);
  // The table; `what` names the rows for the fold's summary ("days").
  std::string html(std::string_view what = "rows") const;

 private:
  std::vector<std::string> headings_;
  std::vector<std::string> rows_;
  std::size_t dataRows_ = 0;
};

}  // namespace quenby::report
