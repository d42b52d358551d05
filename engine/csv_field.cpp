#include "engine/csv_field.h"

namespace quenby {
namespace {

constexpr std::string_view FormulaStarts = "=+-@";
constexpr std::string_view NeedsQuotes = ",\"";

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

std::string blanked(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (isControl(c)) c = ' ';
  return out;
}

bool looksLikeFormula(std::string_view text, FieldSource source) {
  return source == FieldSource::Outside && !text.empty() &&
         FormulaStarts.find(text.front()) != std::string_view::npos;
}

std::string inQuotes(std::string_view text, bool apostrophe) {
  std::string out = "\"";
  if (apostrophe) out += '\'';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

std::string csvField(std::string_view text, FieldSource source) {
  std::string clean = blanked(text);
  const bool formula = looksLikeFormula(clean, source);
  if (formula || clean.find_first_of(NeedsQuotes) != std::string::npos)
    return inQuotes(clean, formula);
  return clean;
}

std::string quotedCsvField(std::string_view text, FieldSource source) {
  const std::string clean = blanked(text);
  return inQuotes(clean, looksLikeFormula(clean, source));
}

}  // namespace quenby
