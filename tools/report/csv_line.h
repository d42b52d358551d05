// Splits one CSV line into its fields with libcsv: fields in double quotes may hold commas, and a
// doubled double quote in them stands for one. Blanks around unquoted fields are dropped.
#pragma once

#include <csv.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenby::report {

class CsvLine {
 public:
  // Fields beyond this are counted but not kept: no log line of the station comes near it.
  static constexpr std::size_t MaxKeptFields = 64;

  CsvLine();
  ~CsvLine();
  CsvLine(const CsvLine&) = delete;
  CsvLine& operator=(const CsvLine&) = delete;

  // Splits a line given without its line end. The fields stay valid until the next split; a
  // blank line has none. fieldCount() tells how many the line had, kept or not.
  std::span<const std::string> split(std::string_view line);
  std::size_t fieldCount() const { return count_; }

 private:
  static void onField(void* text, std::size_t length, void* self);
  static void onLineEnd(int terminator, void* self);

  csv_parser parser_{};
  std::vector<std::string> fields_;
  std::size_t count_ = 0;
};

}  // namespace quenby::report
