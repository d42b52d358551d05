#include "tools/report/rejected_lines.h"

namespace quenby::report {

std::string_view describe(LineProblem problem) {
  switch (problem) {
    case LineProblem::ForeignHeader: return "foreign header";
    case LineProblem::TornLine: return "torn line (no line end)";
    case LineProblem::Overlong: return "overlong line";
    case LineProblem::FieldCount: return "wrong number of fields";
    case LineProblem::NotARun: return "no Pass/Fail verdict";
    case LineProblem::BadDateTime: return "bad date or time";
    case LineProblem::Unreadable: return "file not readable";
  }
  return "?";
}

void RejectedLines::add(std::string_view file, std::uint64_t line, LineProblem problem,
                        std::string_view text) {
  ++total_;
  ++byProblem_[static_cast<std::size_t>(problem)];
  if (listed_.size() >= MaxListed) return;
  RejectedLine r{std::string(file), line, problem, {}};
  const std::string_view kept = text.substr(0, MaxTextBytes);
  r.text.reserve(kept.size() + 3);
  for (unsigned char c : kept) r.text += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  if (text.size() > MaxTextBytes) r.text += "...";
  listed_.push_back(std::move(r));
}

}  // namespace quenby::report
