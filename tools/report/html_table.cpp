#include "tools/report/html_table.h"

namespace quenby::report {

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

HtmlTable::HtmlTable(std::vector<std::string> headings) : headings_(std::move(headings)) {}

HtmlTable& HtmlTable::row(const std::string& rowClass) {
  if (rowClass != "total") ++dataRows_;
  rows_.push_back(rowClass.empty() ? "<tr>" : "<tr class=\"" + rowClass + "\">");
  return *this;
}

HtmlTable& HtmlTable::text(std::string_view cell) {
  rows_.back() += "<td>" + escapeHtml(cell) + "</td>";
  return *this;
}

HtmlTable& HtmlTable::number(std::string_view cell) {
  rows_.back() += "<td class=\"n\">" + escapeHtml(cell) + "</td>";
  return *this;
}

HtmlTable& HtmlTable::number(unsigned long long n) { return number(std::to_string(n)); }

std::string HtmlTable::html(std::string_view what) const {
  std::string t = "<table><thead><tr>";
  for (const auto& h : headings_) t += "<th>" + escapeHtml(h) + "</th>";
  t += "</tr></thead><tbody>\n";
  for (const auto& r : rows_) t += r + "</tr>\n";
  t += "</tbody></table>\n";
  if (rows_.size() <= FoldRows) return t;
  return "<details><summary>Table of all " + std::to_string(dataRows_) + " " +
         escapeHtml(what) + "</summary>\n" + t + "</details>\n";
}

}  // namespace quenby::report
