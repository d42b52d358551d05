#include "tools/report/log_reader.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "tools/report/civil_date.h"

namespace quenby::report {
namespace {

constexpr std::size_t ReadChunkBytes = 1 << 20;
constexpr std::string_view NotAvailable = "N/A";
constexpr std::string_view TimeoutPrefix = "Timeout(";

MeasureValue measureValue(std::string_view text) {
  if (text.empty() || text == NotAvailable) return {};
  if (text.starts_with(TimeoutPrefix)) return {MeasureValue::Kind::Timeout, 0.0f};
  float value = 0.0f;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  // "nan" and "inf" read as numbers, but no measurement is one.
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return {};
  return {MeasureValue::Kind::Number, value};
}

// "COM<n>" gives n; "N/A" and anything else give 0.
std::uint16_t portNumber(std::string_view text) {
  if (!text.starts_with("COM")) return 0;
  text.remove_prefix(3);
  std::uint16_t port = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  return ec == std::errc() && end == text.data() + text.size() ? port : 0;
}

// "Pass", or "Fail(" + run fail code + ")"; a stopped run's code is "Abort".
bool decodeVerdict(std::string_view text, LoggedRun& run) {
  if (text == "Pass") {
    run.verdict = Verdict::Pass;
    run.failCode = {};
    return true;
  }
  if (!text.starts_with("Fail(") || !text.ends_with(")")) return false;
  run.failCode = text.substr(5, text.size() - 6);
  run.verdict = run.failCode == "Abort" ? Verdict::Abort : Verdict::Fail;
  return true;
}

}  // namespace

// What the reader knows about the file it is in.
class LogReader::FileState {
 public:
  explicit FileState(std::string name) : name(std::move(name)) {}
  std::string name;
  std::uint64_t lineNumber = 0;
  bool seenRecord = false;
  LogLayout layout = defaultLayout();
  // The start of a line that the end of a read cut (never more than one byte past
  // MaxLineBytes), and whether the rest of an overlong line is being skipped up to its line end.
  std::string carry;
  bool skippingOverlong = false;
};

LogReader::LogReader(RejectedLines& rejected, Sink sink)
    : rejected_(rejected), sink_(std::move(sink)) {}

void LogReader::readLine(FileState& file, std::string_view text, bool hasLineEnd) {
  ++file.lineNumber;
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  const auto fields = csv_.split(text);
  if (fields.empty()) return;  // a blank line holds nothing

  const bool first = !file.seenRecord;
  file.seenRecord = true;
  if (const auto layout = layoutOfHeader(fields)) {
    file.layout = *layout;
    return;
  }

  const LogLayout& l = file.layout;
  std::optional<LineProblem> problem;
  LoggedRun& run = run_;
  if (!hasLineEnd) {
    problem = LineProblem::TornLine;
  } else if (csv_.fieldCount() != l.fieldCount) {
    problem = LineProblem::FieldCount;
  } else if (!decodeVerdict(fields[l.verdict], run)) {
    problem = LineProblem::NotARun;
  } else {
    const auto day = parseDate(fields[l.date]);
    const auto second = parseTimeOfDay(fields[l.time]);
    if (!day || !second) {
      problem = LineProblem::BadDateTime;
    } else {
      run.day = *day;
      run.second = *second;
    }
  }
  if (problem) {
    if (first && *problem != LineProblem::TornLine) problem = LineProblem::ForeignHeader;
    rejected_.add(file.name, file.lineNumber, *problem, text);
    return;
  }

  run.lineNumber = file.lineNumber;
  run.text = text;
  run.fields = fields;
  run.layout = &file.layout;
  run.serial = fields[l.serial];
  run.port = portNumber(fields[l.port]);
  for (std::size_t m = 0; m < MeasureCount; ++m) run.values[m] = measureValue(fields[l.measures[m]]);
  sink_(run);
}

void LogReader::feed(FileState& file, std::string_view bytes) {
  std::string& carry = file.carry;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const bool lineEnds = end != std::string_view::npos;
    const std::string_view piece = bytes.substr(0, lineEnds ? end : bytes.size());
    bytes.remove_prefix(lineEnds ? end + 1 : bytes.size());
    if (file.skippingOverlong) {
      file.skippingOverlong = !lineEnds;
      continue;
    }
    if (lineEnds && carry.empty() && piece.size() <= MaxLineBytes) {
      readLine(file, piece, true);  // the usual case: a whole line inside the chunk
      continue;
    }
    // Never more than one byte past the limit is kept: that is enough to know the line is too long.
    carry.append(piece.substr(0, MaxLineBytes + 1 - carry.size()));
    if (carry.size() > MaxLineBytes) {
      ++file.lineNumber;
      rejected_.add(file.name, file.lineNumber, LineProblem::Overlong, carry);
      carry.clear();
      file.skippingOverlong = !lineEnds;
    } else if (lineEnds) {
      readLine(file, carry, true);
      carry.clear();
    }
  }
}

void LogReader::finish(FileState& file) {
  if (!file.carry.empty() && !file.skippingOverlong) readLine(file, file.carry, false);
  file.carry.clear();
}

void LogReader::readBytes(std::string_view fileName, std::string_view bytes) {
  FileState file{std::string(fileName)};
  feed(file, bytes);
  finish(file);
}

void LogReader::readLines(std::string_view fileName, std::string_view lines, Place& place) {
  const std::size_t end = lines.rfind('\n');
  if (end == std::string_view::npos) return;
  FileState file{std::string(fileName)};
  file.lineNumber = place.lineNumber;
  file.seenRecord = place.seenRecord;
  file.layout = place.layout;
  feed(file, lines.substr(0, end + 1));
  place.lineNumber = file.lineNumber;
  place.seenRecord = file.seenRecord;
  place.layout = file.layout;
}

bool LogReader::readFile(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!in) {
    rejected_.add(name, 0, LineProblem::Unreadable, path.string());
    return false;
  }
  FileState file{name};
  std::string chunk(ReadChunkBytes, '\0');
  std::size_t got = 0;
  do {
    got = std::fread(chunk.data(), 1, chunk.size(), in.get());
    feed(file, {chunk.data(), got});
  } while (got == chunk.size());
  if (std::ferror(in.get())) {
    rejected_.add(name, 0, LineProblem::Unreadable, path.string());
    return false;
  }
  finish(file);
  return true;
}

}  // namespace quenby::report
