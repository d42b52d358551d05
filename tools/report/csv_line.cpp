#include "tools/report/csv_line.h"

#include <new>

namespace quenby::report {

CsvLine::CsvLine() {
  if (csv_init(&parser_, 0) != 0) throw std::bad_alloc();
}

CsvLine::~CsvLine() { csv_free(&parser_); }

void CsvLine::onField(void* text, std::size_t length, void* self) {
  auto& me = *static_cast<CsvLine*>(self);
  if (me.count_ < MaxKeptFields) {
    if (me.fields_.size() <= me.count_) me.fields_.emplace_back();
    std::string& field = me.fields_[me.count_];
    if (length == 0)
      field.clear();
    else
      field.assign(static_cast<const char*>(text), length);
  }
  ++me.count_;
}

void CsvLine::onLineEnd(int, void*) {}

std::span<const std::string> CsvLine::split(std::string_view line) {
  count_ = 0;
  // csv_fini ends the record even inside an unclosed quote, so a stray quote spoils only its
  // own line, and leaves the parser ready for the next one.
  csv_parse(&parser_, line.data(), line.size(), onField, onLineEnd, this);
  csv_fini(&parser_, onField, onLineEnd, this);
  return {fields_.data(), count_ < MaxKeptFields ? count_ : MaxKeptFields};
}

}  // namespace quenby::report
