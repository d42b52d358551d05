// A CSV text read back the way a spreadsheet or a quality engineer's script reads it: libcsv in
// strict mode (a stray quote is an error), blanks around fields kept.
#pragma once

#include <csv.h>

#include <string>
#include <string_view>
#include <vector>

namespace quenby::testing {

struct CsvRows {
  std::vector<std::vector<std::string>> rows;
  std::string error;  // empty when the whole text parsed
};

inline CsvRows readCsv(std::string_view text) {
  struct Reading {
    CsvRows result;
    std::vector<std::string> row;
  } reading;
  const auto onField = [](void* field, std::size_t size, void* data) {
    auto* r = static_cast<Reading*>(data);
    r->row.emplace_back(size > 0 ? static_cast<const char*>(field) : "", size);
  };
  const auto onRowEnd = [](int, void* data) {
    auto* r = static_cast<Reading*>(data);
    r->result.rows.push_back(std::move(r->row));
    r->row.clear();
  };

  csv_parser parser;
  csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI);
  csv_set_space_func(&parser, [](unsigned char) { return 0; });
  if (csv_parse(&parser, text.data(), text.size(), onField, onRowEnd, &reading) != text.size() ||
      csv_fini(&parser, onField, onRowEnd, &reading) != 0)
    reading.result.error = csv_strerror(csv_error(&parser));
  csv_free(&parser);
  return reading.result;
}

}  // namespace quenby::testing
