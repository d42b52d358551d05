#include "tools/sync/serial_history.h"

namespace quenby::sync {
namespace {

void printText(std::ostream& out, std::string_view text) {
  for (unsigned char c : text) out << ((c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c));
}

}  // namespace

long long printSerialHistory(PgConnection& db, const std::string& serial, std::ostream& out) {
  const PgResult r = db.exec(
      "SELECT station, coalesce('COM' || port, 'N/A'), "
      "to_char(tested_at, 'YYYY-MM-DD HH24:MI:SSOF'), verdict, fail_code FROM runs "
      "WHERE serial_number = $1 ORDER BY tested_at, station, log_file, line_number",
      {serial});
  out << "station\tport\ttime\tverdict\tfail code\n";
  for (int i = 0; i < r.rows(); ++i) {
    for (int c = 0; c < 5; ++c) {
      if (c > 0) out << '\t';
      printText(out, r.text(i, c));
    }
    out << '\n';
  }
  return r.rows();
}

}  // namespace quenby::sync
