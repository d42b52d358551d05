#include "tools/report/report_options.h"

#include "tools/report/civil_date.h"

namespace quenby::report {

const char* const UsageText =
    "usage: quenby-report [--settings FILE] [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
    "                     [--out FILE.html] [LOG.csv ...]\n"
    "       quenby-report --db CONNINFO [--station NAME ...] [--settings FILE] [--from YYYY-MM-DD]\n"
    "                     [--to YYYY-MM-DD] [--out FILE.html]\n"
    "Writes one HTML report of the test logs (without LOG files: every Test_Log_*.csv in the\n"
    "program's folder) and prints a summary. Limits come from FILE, else from the Torvane.ini\n"
    "beside the program. With --db the report covers the whole line from its PostgreSQL\n"
    "database (a libpq connection string or URI, \"\" for the libpq environment), or the\n"
    "stations named, with a section per station and the most tested serial numbers' runs.\n";

ParsedOptions parseOptions(const std::vector<std::string>& args) {
  ReportOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      o.help = true;
      continue;
    }
    if (a == "--settings" || a == "--from" || a == "--to" || a == "--out" || a == "--db" ||
        a == "--station") {
      if (i + 1 >= args.size()) return {std::nullopt, a + " needs a value"};
      const std::string& value = args[++i];
      if (a == "--db") {
        o.db = value;
      } else if (a == "--station") {
        o.stations.push_back(value);
      } else if (a == "--settings") {
        o.settings = value;
      } else if (a == "--out") {
        o.out = value;
      } else {
        const auto day = parseDate(value);
        if (!day) return {std::nullopt, a + " takes a date YYYY-MM-DD, not '" + value + "'"};
        (a == "--from" ? o.period.from : o.period.to) = day;
      }
      continue;
    }
    if (a.size() > 1 && a[0] == '-') return {std::nullopt, "unknown option " + a};
    o.logs.emplace_back(a);
  }
  if (o.db && !o.logs.empty()) return {std::nullopt, "--db reads no log files"};
  if (!o.db && !o.stations.empty()) return {std::nullopt, "--station needs --db"};
  if (o.period.from && o.period.to && *o.period.from > *o.period.to)
    return {std::nullopt, "--from lies after --to"};
  return {o, {}};
}

}  // namespace quenby::report
