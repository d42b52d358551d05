// Lines of the logs that are not the station's run lines: counted by kind, the first ones kept
// with their place and text so that the report can list them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenby::report {

enum class LineProblem : std::size_t {
  ForeignHeader,  // the first line of a file is neither the station's header nor a run
  TornLine,       // the last line of a file has no line end: cut off while being written
  Overlong,       // longer than any run line can be
  FieldCount,     // too few or too many fields for the file's header
  NotARun,        // the Pass/Fail column is neither Pass nor Fail(<code>)
  BadDateTime,    // the Date or Time column is not a real date or time of day
  Unreadable,     // a whole file that could not be read
};
inline constexpr std::size_t LineProblemCount = 7;

std::string_view describe(LineProblem problem);

struct RejectedLine {
  std::string file;        // the file's name
  std::uint64_t line = 0;  // 1 for the first line; 0 for the file as a whole
  LineProblem problem = LineProblem::NotARun;
  std::string text;        // the line as read, cut short, control bytes shown as '?'
};

class RejectedLines {
 public:
  static constexpr std::size_t MaxListed = 100;
  static constexpr std::size_t MaxTextBytes = 160;

  void add(std::string_view file, std::uint64_t line, LineProblem problem, std::string_view text);

  std::uint64_t total() const { return total_; }
  std::uint64_t count(LineProblem p) const { return byProblem_[static_cast<std::size_t>(p)]; }
  // The first MaxListed lines, in reading order.
  const std::vector<RejectedLine>& listed() const { return listed_; }

 private:
  std::uint64_t total_ = 0;
  std::array<std::uint64_t, LineProblemCount> byProblem_{};
  std::vector<RejectedLine> listed_;
};

}  // namespace quenby::report
