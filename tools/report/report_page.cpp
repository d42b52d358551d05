#include "tools/report/report_page.h"

#include <cstdio>

#include "tools/report/civil_date.h"
#include "tools/report/html_table.h"
#include "tools/report/text_summary.h"

namespace quenby::report {
namespace {

constexpr const char* Style = R"(
body{font-family:"DejaVu Sans",Arial,Helvetica,sans-serif;color:#222;font-size:14px;line-height:1.4;
 max-width:1010px;margin:20px auto;padding:0 12px}
h1{font-size:24px;margin:0 0 2px}
h2{font-size:18px;color:#1f4e9c;border-bottom:2px solid #1f4e9c;padding-bottom:2px;margin:30px 0 8px}
h3{font-size:15px;margin:18px 0 4px}
.meta,.note{color:#555;font-size:13px;margin:4px 0}
.cards{display:flex;flex-wrap:wrap;gap:8px;margin:14px 0}
.card{border:1px solid #ccd3df;border-radius:5px;padding:6px 12px;background:#f6f8fb;min-width:92px}
.card span{font-size:12px;color:#555}
.card b{display:block;font-size:19px}
.card.warn b{color:#c62828}
nav{font-size:13px;margin:4px 0 0} nav a{margin-right:12px;color:#1f4e9c}
svg{max-width:100%;height:auto;display:block}
.pair{display:flex;flex-wrap:wrap;gap:10px;justify-content:space-between}
table{border-collapse:collapse;margin:6px 0 8px;font-size:13px}
th,td{border:1px solid #d4d9e2;padding:2px 8px;vertical-align:top}
th{background:#edf1f7;text-align:left;font-weight:600}
td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
tr.total td{font-weight:bold;background:#f3f4f6}
tr.flag td{background:#fff0dc}
td code{font-size:12px;word-break:break-all}
summary{cursor:pointer;color:#1f4e9c;font-size:13px;margin:4px 0}
@media print{body{max-width:none;margin:0;font-size:12px} nav{display:none}
 h2{break-after:avoid} svg,.pair,table{break-inside:avoid}}
)";

std::string fixed(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// Decimals that suit each measured value: as the log writes it, plus one for means.
int decimalsOf(Measure m) {
  switch (m) {
    case Measure::PhaseRatio: return 3;
    case Measure::TcxoOffset:
    case Measure::TcxoDrift: return 3;
    case Measure::CnrMean:
    case Measure::CnrSigma: return 2;
    default: return 1;
  }
}

std::string limitText(const Limit& l, int decimals) {
  if (l.low && l.high) return fixed(*l.low, decimals) + " to " + fixed(*l.high, decimals);
  if (l.low) return "at least " + fixed(*l.low, decimals);
  if (l.high) return "at most " + fixed(*l.high, decimals);
  return "-";
}

std::string figure(const std::string& svg) { return svg.empty() ? "" : "<figure style=\"margin:0\">" + svg + "</figure>\n"; }

void yieldRow(HtmlTable& t, const std::string& name, const YieldCounts& c, const std::string& rowClass = "") {
  t.row(rowClass).text(name).number(c.runs).number(c.passes).number(c.fails()).number(c.aborted)
      .number(percentText(c.yieldPercent()));
}

std::string card(const std::string& label, const std::string& value, bool warn = false) {
  return std::string("<div class=\"card") + (warn ? " warn" : "") + "\"><span>" + escapeHtml(label) +
         "</span><b>" + escapeHtml(value) + "</b></div>";
}

std::string heading(const std::string& id, const std::string& title) {
  return "<h2 id=\"" + id + "\">" + escapeHtml(title) + "</h2>\n";
}

std::string summarySection(const ReportInput& in) {
  const Figures& f = in.figures;
  std::string s = "<div class=\"cards\">";
  s += card("Runs", std::to_string(f.overall.runs));
  s += card("Passes", std::to_string(f.overall.passes));
  s += card("Fails", std::to_string(f.overall.fails()));
  s += card("Stopped", std::to_string(f.overall.aborted));
  s += card("Yield", percentText(f.overall.yieldPercent()));
  if (f.serials && f.serials->serials)
    s += card("First-pass yield", percentText(100.0 * static_cast<double>(f.serials->firstPass) /
                                              static_cast<double>(f.serials->serials)));
  std::string top;
  for (std::size_t i = 0; i < f.failCodes.size() && i < 3; ++i)
    top += (i ? ", " : "") + f.failCodes[i].code + " " + std::to_string(f.failCodes[i].count);
  s += card("Top fail codes", top.empty() ? "none" : top);
  std::size_t flagged = 0;
  for (const auto& p : f.ports) flagged += p.lowCnr || p.lowYield;
  s += card("Flagged ports", std::to_string(flagged), flagged > 0);
  const std::uint64_t notRead = in.rejected.total() + in.skippedLines;
  s += card("Lines not read", std::to_string(notRead), notRead > 0);
  s += "</div>\n<p class=\"note\">Yield is passes over the runs that were not stopped: a stopped run "
       "(Fail(Abort)) is no module fault.</p>\n";
  return s;
}

std::string daySection(const ReportInput& in, const ReportCharts& c) {
  const Figures& f = in.figures;
  std::string s = heading("days", "Yield per day") + figure(c.yieldByDay);
  HtmlTable t({"Day", "Runs", "Passes", "Fails", "Stopped", "Yield"});
  for (const auto& d : f.days) yieldRow(t, dateText(d.day), d.counts);
  yieldRow(t, "All days", f.overall, "total");
  return s + t.html("days");
}

std::string portSection(const ReportInput& in, const ReportCharts& c) {
  const Figures& f = in.figures;
  std::string s = heading("ports", "Ports") + figure(c.ports);
  HtmlTable t({"Port", "Runs", "Passes", "Fails", "Stopped", "Yield", "CNR mean (dB-Hz)", "Flag"});
  for (const auto& p : f.ports) {
    const bool flagged = p.lowCnr || p.lowYield;
    std::string flag = p.lowCnr ? "CNR low" : "";
    if (p.lowYield) flag += std::string(flag.empty() ? "" : ", ") + "yield low";
    t.row(flagged ? "flag" : "").text(p.port ? "COM" + std::to_string(p.port) : "N/A")
        .number(p.counts.runs).number(p.counts.passes).number(p.counts.fails()).number(p.counts.aborted)
        .number(percentText(p.counts.yieldPercent()))
        .number(p.cnrCount ? fixed(p.cnrMean, 2) : "-").text(flag);
  }
  s += t.html("ports");
  s += "<p class=\"note\">A port is flagged when its mean CNR lies more than " + fixed(LowCnrMarginDb, 0) +
       " dB below the median of the ports' means";
  if (f.portCnrMedian) s += " (" + fixed(*f.portCnrMedian, 2) + " dB-Hz)";
  s += ", or its yield more than " + fixed(LowYieldMarginPoints, 0) + " points below the median of their yields";
  if (f.portYieldMedian) s += " (" + percentText(f.portYieldMedian) + ")";
  s += ": look at its antenna cable and fixture.</p>\n";
  return s;
}

std::string firstPassSection(const ReportInput& in, const ReportCharts& c) {
  const auto& sf = in.figures.serials;
  if (!sf) return {};
  std::string s = heading("first-pass", "First-pass yield per serial number") + figure(c.firstPass);
  HtmlTable total({"Serial numbers", "Passed first time", "First-pass yield", "Passed on a retest",
                   "Never passed", "Tested more than once"});
  total.row().number(sf->serials).number(sf->firstPass)
      .number(percentText(100.0 * static_cast<double>(sf->firstPass) / static_cast<double>(sf->serials)))
      .number(sf->passedOnRetest).number(sf->neverPassed).number(sf->retested);
  s += total.html();
  HtmlTable days({"Day of first run", "Serial numbers", "Passed first time", "First-pass yield"});
  for (const auto& d : sf->days)
    days.row().text(dateText(d.day)).number(d.serials).number(d.firstPass)
        .number(percentText(100.0 * static_cast<double>(d.firstPass) / static_cast<double>(d.serials)));
  s += days.html("days");
  if (!sf->mostRetested.empty()) {
    s += "<h3>Most often tested serial numbers</h3>\n";
    HtmlTable r({"Serial number", "Runs", "First run", "Last run"});
    for (const auto& m : sf->mostRetested)
      r.row().text(m.serial).number(m.runs).text(m.firstPassed ? "Pass" : "Fail")
          .text(m.lastPassed ? "Pass" : "Fail");
    s += r.html();
  }
  s += "<p class=\"note\">A serial number passes first time when its first run that was not stopped "
       "passed. Runs without a serial number are left out here.</p>\n";
  return s;
}

std::string failCodeSection(const ReportInput& in, const ReportCharts& c) {
  const Figures& f = in.figures;
  std::string s = heading("fail-codes", "Fail codes");
  if (f.failCodes.empty()) {
    s += "<p>No run failed.</p>\n";
  } else {
    s += figure(c.failCodes);
    std::uint64_t total = 0, sum = 0;
    for (const auto& fc : f.failCodes) total += fc.count;
    HtmlTable t({"Fail code", "Fails", "Share", "Cumulative share"});
    for (const auto& fc : f.failCodes) {
      sum += fc.count;
      t.row().text(fc.code.empty() ? "(empty)" : fc.code).number(fc.count)
          .number(percentText(100.0 * static_cast<double>(fc.count) / static_cast<double>(total)))
          .number(percentText(100.0 * static_cast<double>(sum) / static_cast<double>(total)));
    }
    s += t.html("fail codes");
  }
  s += "<p class=\"note\">" + std::to_string(f.overall.aborted) +
       " stopped run(s) (Fail(Abort)) are left out: a stopped run is no module fault.</p>\n";
  return s;
}

std::string measureSection(const ReportInput& in, const ReportCharts& c, const PageNotes& notes) {
  const Figures& f = in.figures;
  std::string s = heading("values", "Measured values");
  s += "<p class=\"note\">" + escapeHtml(notes.limits) + "</p>\n";
  if (f.measures.empty()) return s + "<p>The logs hold no measured values.</p>\n";
  for (const auto& m : f.measures) {
    const MeasureInfo& mi = info(m.measure);
    const int dec = decimalsOf(m.measure);
    s += "<h3>" + escapeHtml(mi.title) + (mi.unit.empty() ? "" : " (" + escapeHtml(mi.unit) + ")") + "</h3>\n";
    const std::string& dist = c.distribution[index(m.measure)];
    const std::string& trend = c.dailyMean[index(m.measure)];
    if (!dist.empty() || !trend.empty()) s += "<div class=\"pair\">" + dist + trend + "</div>\n";
    HtmlTable t({"Values", "Time-outs", "Min", "5 %", "Median", "Mean", "95 %", "Max", "Std dev", "Limit",
                 "Outside the limit"});
    auto value = [&](double v) { return m.count ? fixed(v, dec) : std::string("-"); };
    t.row().number(m.count).number(m.timeouts).number(value(m.min)).number(value(m.p5))
        .number(value(m.median)).number(value(m.mean)).number(value(m.p95)).number(value(m.max))
        .number(value(m.stddev)).text(limitText(m.limit, dec))
        .number(m.limit.any() ? std::to_string(m.outside) : "-");
    s += t.html();
  }
  return s;
}

std::string throughputSection(const ReportInput& in, const ReportCharts& c) {
  const Figures& f = in.figures;
  std::string s = heading("throughput", "Throughput") + figure(c.throughput);
  HtmlTable t({"Day", "Runs", "First run", "Last run", "Busiest hour", "Runs in it", "Runs per working hour"});
  for (const auto& d : f.days) {
    std::size_t busiest = 0, working = 0;
    for (std::size_t h = 0; h < 24; ++h) {
      if (d.runsPerHour[h] > d.runsPerHour[busiest]) busiest = h;
      working += d.runsPerHour[h] > 0;
    }
    t.row().text(dateText(d.day)).number(d.counts.runs).number(timeText(d.firstSecond))
        .number(timeText(d.lastSecond)).number(timeText(static_cast<std::int32_t>(busiest) * 3600))
        .number(d.runsPerHour[busiest])
        .number(fixed(static_cast<double>(d.counts.runs) / static_cast<double>(std::max<std::size_t>(working, 1)), 1));
  }
  s += t.html("days");
  s += "<p class=\"note\">A working hour is an hour of the day with at least one run.</p>\n";
  return s;
}

std::string stationSection(const ReportInput& in) {
  if (in.stations.empty()) return {};
  std::string s = heading("stations", "Stations");
  HtmlTable t({"Station", "Runs", "Passes", "Fails", "Stopped", "Yield", "Flagged ports", "Log files",
               "Lines skipped"});
  for (const StationFigures& st : in.stations) {
    std::string flagged;
    for (const PortFigures& p : st.ports) {
      if (!p.lowCnr && !p.lowYield) continue;
      flagged += (flagged.empty() ? "" : ", ") + std::string("COM") + std::to_string(p.port) + " (" +
                 (p.lowCnr ? "CNR" : "") + (p.lowCnr && p.lowYield ? ", " : "") +
                 (p.lowYield ? "yield" : "") + ")";
    }
    t.row(flagged.empty() ? "" : "flag").text(st.station).number(st.counts.runs).number(st.counts.passes)
        .number(st.counts.fails()).number(st.counts.aborted).number(percentText(st.counts.yieldPercent()))
        .text(flagged.empty() ? "-" : flagged).number(st.logFiles).number(st.skippedLines);
  }
  yieldRow(t, "Line", in.figures.overall, "total");
  s += t.html("stations");
  s += "<p class=\"note\">Each station's ports are flagged against that station's own ports, as in "
       "the Ports section. Lines skipped: lines of the logs that were not runs.</p>\n";
  return s;
}

std::string serialLookupSection(const ReportInput& in) {
  if (in.serialHistories.empty()) return {};
  std::string s = heading("serial-lookup", "Most tested serial numbers across the line");
  for (const SerialHistory& h : in.serialHistories) {
    s += "<h3>" + escapeHtml(h.serial) + "</h3>\n";
    HtmlTable t({"Station", "Port", "Time", "Verdict", "Fail code"});
    for (const auto& r : h.runs) t.row().text(r.station).text(r.port).text(r.time).text(r.verdict).text(r.failCode);
    s += t.html("runs");
  }
  return s;
}

std::string rejectedSection(const ReportInput& in) {
  const RejectedLines& r = in.rejected;
  std::string s = heading("not-read", "Lines not read");
  if (!in.database.empty())
    return s + "<p>" + std::to_string(in.skippedLines) + " line(s) of the stations' logs were not runs; "
           "quenby-sync names each one on its station when it skips it.</p>\n";
  if (r.total() == 0) return s + "<p>Every line of the logs was read.</p>\n";
  HtmlTable counts({"Problem", "Lines"});
  for (std::size_t p = 0; p < LineProblemCount; ++p)
    if (r.count(static_cast<LineProblem>(p)))
      counts.row().text(describe(static_cast<LineProblem>(p))).number(r.count(static_cast<LineProblem>(p)));
  counts.row("total").text("All").number(r.total());
  s += counts.html();
  HtmlTable list({"File", "Line", "Problem", "Text"});
  for (const auto& line : r.listed())
    list.row().text(line.file).number(line.line ? std::to_string(line.line) : "-").text(describe(line.problem))
        .text(line.text);
  s += list.html("lines");
  if (r.total() > r.listed().size())
    s += "<p class=\"note\">The first " + std::to_string(r.listed().size()) + " of " +
         std::to_string(r.total()) + " lines are listed.</p>\n";
  return s;
}

}  // namespace

std::string reportPage(const ReportInput& in, const ReportCharts& c, const PageNotes& notes) {
  const Figures& f = in.figures;
  std::string period = "no runs";
  if (!f.days.empty()) period = "runs from " + dateText(f.days.front().day) + " to " + dateText(f.days.back().day);
  std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Quenby test report, " +
                     escapeHtml(period) + "</title>\n<style>" + Style + "</style></head><body>\n";
  const bool line = !in.database.empty();
  page += std::string("<h1>Quenby ") + (line ? "line" : "test") + " report</h1>\n<p class=\"meta\">" +
          escapeHtml(period) + " &middot; " + std::to_string(in.files.size()) + " log file(s)";
  if (line) page += " &middot; " + std::to_string(in.stations.size()) + " station(s) in " + escapeHtml(in.database);
  if (in.runsOutsidePeriod) page += " &middot; " + std::to_string(in.runsOutsidePeriod) + " run(s) outside the period left out";
  page += " &middot; made " + escapeHtml(notes.generated) + "</p>\n";
  page += "<nav>";
  if (line) page += "<a href=\"#stations\">Stations</a>";
  page += "<a href=\"#days\">Yield per day</a><a href=\"#ports\">Ports</a>";
  if (f.serials) page += "<a href=\"#first-pass\">First-pass yield</a>";
  if (!in.serialHistories.empty()) page += "<a href=\"#serial-lookup\">Serial numbers</a>";
  page += "<a href=\"#fail-codes\">Fail codes</a><a href=\"#values\">Measured values</a>"
          "<a href=\"#throughput\">Throughput</a><a href=\"#not-read\">Lines not read</a></nav>\n";
  page += summarySection(in);
  page += stationSection(in);
  page += daySection(in, c);
  page += portSection(in, c);
  page += firstPassSection(in, c);
  page += serialLookupSection(in);
  page += failCodeSection(in, c);
  page += measureSection(in, c, notes);
  page += throughputSection(in, c);
  page += rejectedSection(in);
  page += "</body></html>\n";
  return page;
}

}  // namespace quenby::report
