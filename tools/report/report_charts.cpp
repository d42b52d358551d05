#include "tools/report/report_charts.h"

#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QStackedBarSeries>
#include <QTimeZone>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "tools/report/chart_svg.h"
#include "tools/report/civil_date.h"

namespace quenby::report {
namespace {

const QSize WideChart(1000, 360);
const QSize HalfChart(490, 300);
// Up to this many days the per-day charts show a bar per day; beyond it a line over the dates.
constexpr std::size_t MaxDayBars = 31;
// The Pareto chart shows the most frequent codes and sums up the rest.
constexpr std::size_t MaxParetoBars = 12;
// Up to this many days the throughput chart draws one line per day, beyond it their mean.
constexpr std::size_t MaxThroughputLines = 7;

const QColor PassColour(0x3a, 0x9d, 0x5d);
const QColor FailColour(0xd9, 0x48, 0x3b);
const QColor StoppedColour(0xb0, 0xb0, 0xb0);
const QColor YieldColour(0x1f, 0x4e, 0x9c);
const QColor BarColour(0x4a, 0x7f, 0xc1);
const QColor FlagColour(0xe0, 0x7b, 0x00);
const QColor LimitColour(0xc6, 0x28, 0x28);

QChart* newChart(const QString& title) {
  auto* chart = new QChart;
  chart->setTitle(title);
  QFont font = chart->titleFont();
  font.setPointSizeF(11);
  font.setBold(true);
  chart->setTitleFont(font);
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(6, 4, 6, 4));
  chart->setBackgroundRoundness(0);
  return chart;
}

QPen linePen(const QColor& colour, qreal width = 2, Qt::PenStyle style = Qt::SolidLine) {
  QPen pen(colour, width, style);
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

QValueAxis* valueAxis(const QString& title, double min, double max, const char* format = "%.0f") {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setRange(min, max);
  axis->setLabelFormat(format);
  axis->applyNiceNumbers();  // ticks on round numbers
  return axis;
}

// A range that starts at a round number below the lowest yield and ends at 100.
double yieldAxisMin(const std::vector<double>& yields) {
  double low = 100;
  for (double y : yields) low = std::min(low, y);
  return std::max(0.0, std::floor((low - 5) / 10) * 10);
}

qint64 msecsOfDay(std::int32_t day) {
  return static_cast<qint64>(day) * 86400 * 1000;
}

QDateTimeAxis* dateAxis(std::int32_t firstDay, std::int32_t lastDay) {
  auto* axis = new QDateTimeAxis;
  axis->setFormat("yyyy-MM-dd");
  axis->setRange(QDateTime::fromMSecsSinceEpoch(msecsOfDay(firstDay), QTimeZone::utc()),
                 QDateTime::fromMSecsSinceEpoch(msecsOfDay(std::max(lastDay, firstDay + 1)),
                                                QTimeZone::utc()));
  axis->setTickCount(8);
  return axis;
}

QString shortDate(std::int32_t day) { return QString::fromStdString(dateText(day)).mid(5); }

// Runs per day as stacked bars of passes, fails and stopped runs, and the yield as a line over
// them; or, for a long period, yield and runs as lines over the dates.
struct DayCounts {
  std::int32_t day;
  std::uint64_t good, bad, stopped;
  std::optional<double> percent;
};

QChart* dayChart(const QString& title, const std::vector<DayCounts>& days, const QString& goodName,
                 const QString& badName, const QString& percentName) {
  QChart* chart = newChart(title);
  std::vector<double> yields;
  for (const auto& d : days)
    if (d.percent) yields.push_back(*d.percent);
  auto* percentAxis = valueAxis(percentName + " (%)", yieldAxisMin(yields), 100);
  auto* percent = new QLineSeries;
  percent->setName(percentName);
  percent->setPen(linePen(YieldColour, 2.5));
  percent->setPointsVisible(true);
  std::uint64_t most = 1;
  for (const auto& d : days) most = std::max(most, d.good + d.bad + d.stopped);
  auto* runsAxis = valueAxis("runs", 0, static_cast<double>(most) * 1.1);

  if (days.size() <= MaxDayBars) {
    auto* bars = new QStackedBarSeries;
    auto* good = new QBarSet(goodName);
    auto* bad = new QBarSet(badName);
    auto* stopped = new QBarSet("Stopped");
    good->setColor(PassColour);
    bad->setColor(FailColour);
    stopped->setColor(StoppedColour);
    QStringList labels;
    bool anyStopped = false;
    for (std::size_t i = 0; i < days.size(); ++i) {
      good->append(static_cast<qreal>(days[i].good));
      bad->append(static_cast<qreal>(days[i].bad));
      stopped->append(static_cast<qreal>(days[i].stopped));
      anyStopped = anyStopped || days[i].stopped;
      if (days[i].percent) percent->append(static_cast<qreal>(i), *days[i].percent);
      labels << shortDate(days[i].day);
    }
    bars->append(good);
    bars->append(bad);
    if (anyStopped) bars->append(stopped); else delete stopped;
    bars->setBarWidth(0.6);
    chart->addSeries(bars);
    chart->addSeries(percent);
    auto* dayAxis = new QBarCategoryAxis;
    dayAxis->append(labels);
    chart->addAxis(dayAxis, Qt::AlignBottom);
    chart->addAxis(runsAxis, Qt::AlignLeft);
    chart->addAxis(percentAxis, Qt::AlignRight);
    bars->attachAxis(dayAxis);
    bars->attachAxis(runsAxis);
    percent->attachAxis(dayAxis);
    percent->attachAxis(percentAxis);
    return chart;
  }

  // The runs keep to the lower half of the chart, below the yield line.
  runsAxis->setRange(0, static_cast<double>(most) * 2.2);
  runsAxis->applyNiceNumbers();
  auto* runs = new QLineSeries;
  runs->setName("Runs");
  runs->setPen(linePen(StoppedColour, 1.5));
  for (const auto& d : days) {
    runs->append(static_cast<qreal>(msecsOfDay(d.day)), static_cast<qreal>(d.good + d.bad + d.stopped));
    if (d.percent) percent->append(static_cast<qreal>(msecsOfDay(d.day)), *d.percent);
  }
  percent->setPointsVisible(false);
  percent->setPen(linePen(YieldColour, 1.5));
  chart->addSeries(runs);
  chart->addSeries(percent);
  auto* axis = dateAxis(days.front().day, days.back().day);
  chart->addAxis(axis, Qt::AlignBottom);
  chart->addAxis(percentAxis, Qt::AlignLeft);
  chart->addAxis(runsAxis, Qt::AlignRight);
  runs->attachAxis(axis);
  runs->attachAxis(runsAxis);
  percent->attachAxis(axis);
  percent->attachAxis(percentAxis);
  return chart;
}

std::string yieldByDayChart(const Figures& f) {
  if (f.days.empty()) return {};
  std::vector<DayCounts> days;
  for (const auto& d : f.days)
    days.push_back({d.day, d.counts.passes, d.counts.fails(), d.counts.aborted, d.counts.yieldPercent()});
  return chartSvg(dayChart("Yield per day", days, "Passes", "Fails", "Yield"), WideChart,
                  "Runs per day and the yield of each day");
}

std::string firstPassChart(const Figures& f) {
  if (!f.serials || f.serials->days.empty()) return {};
  std::vector<DayCounts> days;
  for (const auto& d : f.serials->days) {
    std::optional<double> fpy;
    if (d.serials) fpy = 100.0 * static_cast<double>(d.firstPass) / static_cast<double>(d.serials);
    days.push_back({d.day, d.firstPass, d.serials - d.firstPass, 0, fpy});
  }
  return chartSvg(dayChart("First-pass yield per day (by the day a serial number was first tested)",
                           days, "Passed first time", "Failed first time", "First-pass yield"),
                  WideChart, "Serial numbers per day and their first-pass yield");
}

QString portName(std::uint16_t port) { return port ? "COM" + QString::number(port) : "N/A"; }

std::string portsChart(const Figures& f) {
  if (f.ports.empty()) return {};
  QChart* chart = newChart("Ports: yield and mean CNR");
  auto* bars = new QStackedBarSeries;
  auto* normal = new QBarSet("Yield");
  auto* flagged = new QBarSet("Yield of a flagged port");
  normal->setColor(BarColour);
  flagged->setColor(FlagColour);
  auto* cnr = new QLineSeries;
  cnr->setName("CNR mean");
  cnr->setPen(linePen(QColor(0x22, 0x22, 0x22), 2));
  cnr->setPointsVisible(true);
  QStringList labels;
  double cnrLow = 1e9, cnrHigh = -1e9;
  for (std::size_t i = 0; i < f.ports.size(); ++i) {
    const PortFigures& p = f.ports[i];
    const double yield = p.counts.yieldPercent().value_or(0);
    const bool flag = p.lowCnr || p.lowYield;
    normal->append(flag ? 0 : yield);
    flagged->append(flag ? yield : 0);
    if (p.cnrCount) {
      cnr->append(static_cast<qreal>(i), p.cnrMean);
      cnrLow = std::min(cnrLow, p.cnrMean);
      cnrHigh = std::max(cnrHigh, p.cnrMean);
    }
    labels << portName(p.port);
  }
  bars->append(normal);
  bars->append(flagged);
  bars->setBarWidth(0.6);
  chart->addSeries(bars);
  auto* portAxis = new QBarCategoryAxis;
  portAxis->append(labels);
  // Bars start at 0: an axis that starts higher would cut them.
  auto* yieldAxis = valueAxis("yield (%)", 0, 100);
  chart->addAxis(portAxis, Qt::AlignBottom);
  chart->addAxis(yieldAxis, Qt::AlignLeft);
  bars->attachAxis(portAxis);
  bars->attachAxis(yieldAxis);

  auto addLevel = [&](const QString& name, double level, QValueAxis* axis, const QColor& colour) {
    auto* line = new QLineSeries;
    line->setName(name);
    line->setPen(linePen(colour, 1.5, Qt::DashLine));
    line->append(-0.5, level);
    line->append(static_cast<qreal>(f.ports.size()) - 0.5, level);
    chart->addSeries(line);
    line->attachAxis(portAxis);
    line->attachAxis(axis);
  };
  if (f.portYieldMedian)
    addLevel(QString("Flag below %1 % yield").arg(*f.portYieldMedian - LowYieldMarginPoints, 0, 'f', 1),
             *f.portYieldMedian - LowYieldMarginPoints, yieldAxis, FlagColour);
  if (cnr->count()) {
    const double flagLevel = f.portCnrMedian.value_or(cnrLow) - LowCnrMarginDb;
    auto* cnrAxis = valueAxis("CNR mean (dB-Hz)", std::floor(std::min(cnrLow, flagLevel) - 1),
                              std::ceil(cnrHigh + 1), "%.1f");
    chart->addAxis(cnrAxis, Qt::AlignRight);
    chart->addSeries(cnr);
    cnr->attachAxis(portAxis);
    cnr->attachAxis(cnrAxis);
    if (f.portCnrMedian)
      addLevel(QString("Flag below %1 dB-Hz CNR").arg(flagLevel, 0, 'f', 1), flagLevel, cnrAxis,
               QColor(0x22, 0x22, 0x22));
  } else {
    delete cnr;
  }
  return chartSvg(chart, WideChart, "Yield and mean CNR of each port; flagged ports in orange");
}

std::string failCodesChart(const Figures& f) {
  if (f.failCodes.empty()) return {};
  QChart* chart = newChart("Fail codes (Pareto)");
  std::uint64_t total = 0;
  for (const auto& c : f.failCodes) total += c.count;
  auto* bars = new QStackedBarSeries;
  auto* set = new QBarSet("Fails");
  set->setColor(FailColour);
  auto* cumulative = new QLineSeries;
  cumulative->setName("Cumulative share");
  cumulative->setPen(linePen(YieldColour, 2));
  cumulative->setPointsVisible(true);
  QStringList labels;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < f.failCodes.size(); ++i) {
    const bool rest = i + 1 == MaxParetoBars && f.failCodes.size() > MaxParetoBars;
    std::uint64_t count = f.failCodes[i].count;
    if (rest)
      for (std::size_t j = i + 1; j < f.failCodes.size(); ++j) count += f.failCodes[j].count;
    sum += count;
    set->append(static_cast<qreal>(count));
    cumulative->append(static_cast<qreal>(i), 100.0 * static_cast<double>(sum) / static_cast<double>(total));
    labels << (rest ? QString("%1 others").arg(f.failCodes.size() - i)
                    : QString::fromStdString(f.failCodes[i].code.empty() ? "(empty)" : f.failCodes[i].code));
    if (rest) break;
  }
  bars->append(set);
  bars->setBarWidth(0.6);
  chart->addSeries(bars);
  chart->addSeries(cumulative);
  auto* codeAxis = new QBarCategoryAxis;
  codeAxis->append(labels);
  auto* countAxis = valueAxis("fails", 0, static_cast<double>(f.failCodes.front().count) * 1.1);
  auto* shareAxis = valueAxis("cumulative share (%)", 0, 100);
  chart->addAxis(codeAxis, Qt::AlignBottom);
  chart->addAxis(countAxis, Qt::AlignLeft);
  chart->addAxis(shareAxis, Qt::AlignRight);
  bars->attachAxis(codeAxis);
  bars->attachAxis(countAxis);
  cumulative->attachAxis(codeAxis);
  cumulative->attachAxis(shareAxis);
  return chartSvg(chart, WideChart, "Fails per fail code, most frequent first, with the cumulative share");
}

QString measureTitle(Measure m) {
  const MeasureInfo& i = info(m);
  QString title = QString::fromUtf8(i.title.data(), static_cast<int>(i.title.size()));
  if (!i.unit.empty()) title += " (" + QString::fromUtf8(i.unit.data(), static_cast<int>(i.unit.size())) + ")";
  return title;
}

std::vector<double> limitValues(const Limit& l) {
  std::vector<double> v;
  if (l.low) v.push_back(*l.low);
  if (l.high) v.push_back(*l.high);
  return v;
}

QString limitName(const Limit& l) {
  if (l.low && l.high) return QString("Limits ±%1").arg(*l.high, 0, 'g', 6);
  return QString("Limit %1").arg(l.low ? *l.low : *l.high, 0, 'g', 6);
}

// A dashed red line from one point to the other; a second limit of the same value (the lower of
// "within plus or minus") shares the first one's legend entry.
void addLimitLine(QChart* chart, QAbstractAxis* x, QAbstractAxis* y, const Limit& limit,
                  const QList<QPointF>& points) {
  auto* line = new QLineSeries;
  line->append(points);
  line->setPen(linePen(LimitColour, 2, Qt::DashLine));
  line->setName(limitName(limit));
  const bool second = chart->series().size() > 1;
  chart->addSeries(line);
  line->attachAxis(x);
  line->attachAxis(y);
  if (second) chart->legend()->markers(line).front()->setVisible(false);
}

std::string distributionChart(const MeasureFigures& m) {
  if (m.count == 0) return {};
  const Histogram& h = m.histogram;
  QChart* chart = newChart(measureTitle(m.measure));
  auto* upper = new QLineSeries;
  std::uint64_t most = 1;
  upper->append(h.start, 0);
  for (std::size_t k = 0; k < h.bins.size(); ++k) {
    const double x0 = h.start + static_cast<double>(k) * h.width;
    upper->append(x0, static_cast<qreal>(h.bins[k]));
    upper->append(x0 + h.width, static_cast<qreal>(h.bins[k]));
    most = std::max(most, h.bins[k]);
  }
  upper->append(h.start + static_cast<double>(h.bins.size()) * h.width, 0);
  auto* area = new QAreaSeries(upper);
  area->setName("Runs");
  area->setColor(QColor(0x4a, 0x7f, 0xc1, 0xc0));
  area->setBorderColor(BarColour.darker(130));
  chart->addSeries(area);

  double low = h.start, high = h.start + static_cast<double>(h.bins.size()) * h.width;
  const auto limits = limitValues(m.limit);
  for (double v : limits) {
    low = std::min(low, v);
    high = std::max(high, v);
  }
  const double pad = (high - low) * 0.04;
  auto* x = valueAxis("", low - pad, high + pad, "%g");
  auto* y = valueAxis("runs", 0, static_cast<double>(most) * 1.1);
  const double top = y->max();
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  area->attachAxis(x);
  area->attachAxis(y);
  for (double v : limits) addLimitLine(chart, x, y, m.limit, {QPointF(v, 0), QPointF(v, top)});
  return chartSvg(chart, HalfChart, "Distribution of " + measureTitle(m.measure));
}

std::string dailyMeanChart(const MeasureFigures& m) {
  if (m.dailyMean.size() < 2) return {};
  QChart* chart = newChart(measureTitle(m.measure) + ": mean per day");
  auto* mean = new QLineSeries;
  mean->setName("Mean of the day");
  mean->setPen(linePen(YieldColour, 2));
  mean->setPointsVisible(m.dailyMean.size() <= MaxDayBars);
  double low = 1e300, high = -1e300;
  for (const auto& [day, value] : m.dailyMean) {
    mean->append(static_cast<qreal>(msecsOfDay(day)), value);
    low = std::min(low, value);
    high = std::max(high, value);
  }
  chart->addSeries(mean);
  const std::int32_t first = m.dailyMean.front().first, last = m.dailyMean.back().first;
  auto* x = dateAxis(first, last);
  x->setFormat("MM-dd");
  x->setTickCount(static_cast<int>(std::min<std::size_t>(m.dailyMean.size(), 7)));
  const auto limits = limitValues(m.limit);
  for (double v : limits) {
    low = std::min(low, v);
    high = std::max(high, v);
  }
  const double pad = std::max((high - low) * 0.08, 0.01);
  auto* y = valueAxis("", low - pad, high + pad, "%g");
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  mean->attachAxis(x);
  mean->attachAxis(y);
  for (double v : limits)
    addLimitLine(chart, x, y, m.limit,
                 {QPointF(static_cast<qreal>(msecsOfDay(first)), v), QPointF(static_cast<qreal>(msecsOfDay(last)), v)});
  return chartSvg(chart, HalfChart, "Mean per day of " + measureTitle(m.measure));
}

std::string throughputChart(const Figures& f) {
  if (f.days.empty()) return {};
  std::size_t firstHour = 23, lastHour = 0;
  for (const auto& d : f.days)
    for (std::size_t h = 0; h < 24; ++h)
      if (d.runsPerHour[h]) {
        firstHour = std::min(firstHour, h);
        lastHour = std::max(lastHour, h);
      }
  if (firstHour > lastHour) return {};
  QChart* chart = newChart("Throughput: runs per hour of the day");
  auto* hourAxis = new QBarCategoryAxis;
  for (std::size_t h = firstHour; h <= lastHour; ++h) hourAxis->append(QString("%1:00").arg(h, 2, 10, QChar('0')));
  double most = 1;
  std::vector<QLineSeries*> lines;
  if (f.days.size() <= MaxThroughputLines) {
    const QColor colours[] = {YieldColour, PassColour, FailColour, FlagColour, QColor(0x6a, 0x3d, 0x9a),
                              QColor(0x22, 0x22, 0x22), StoppedColour};
    for (std::size_t i = 0; i < f.days.size(); ++i) {
      auto* line = new QLineSeries;
      line->setName(QString::fromStdString(dateText(f.days[i].day)));
      line->setPen(linePen(colours[i % std::size(colours)], 2));
      line->setPointsVisible(true);
      for (std::size_t h = firstHour; h <= lastHour; ++h) {
        line->append(static_cast<qreal>(h - firstHour), f.days[i].runsPerHour[h]);
        most = std::max(most, static_cast<double>(f.days[i].runsPerHour[h]));
      }
      lines.push_back(line);
    }
  } else {
    auto* mean = new QLineSeries;
    auto* busiest = new QLineSeries;
    mean->setName(QString("Mean over %1 days").arg(f.days.size()));
    busiest->setName("Most in that hour on any day");
    mean->setPen(linePen(YieldColour, 2.5));
    busiest->setPen(linePen(StoppedColour, 1.5, Qt::DashLine));
    for (std::size_t h = firstHour; h <= lastHour; ++h) {
      double sum = 0, top = 0;
      for (const auto& d : f.days) {
        sum += d.runsPerHour[h];
        top = std::max(top, static_cast<double>(d.runsPerHour[h]));
      }
      mean->append(static_cast<qreal>(h - firstHour), sum / static_cast<double>(f.days.size()));
      busiest->append(static_cast<qreal>(h - firstHour), top);
      most = std::max(most, top);
    }
    lines = {mean, busiest};
  }
  auto* y = valueAxis("runs per hour", 0, most * 1.1);
  chart->addAxis(hourAxis, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (auto* line : lines) {
    chart->addSeries(line);
    line->attachAxis(hourAxis);
    line->attachAxis(y);
  }
  return chartSvg(chart, WideChart, "Runs in each hour of the day");
}

}  // namespace

ReportCharts drawCharts(const Figures& f) {
  ReportCharts c;
  c.yieldByDay = yieldByDayChart(f);
  c.ports = portsChart(f);
  c.failCodes = failCodesChart(f);
  c.firstPass = firstPassChart(f);
  c.throughput = throughputChart(f);
  for (const auto& m : f.measures) {
    c.distribution[index(m.measure)] = distributionChart(m);
    c.dailyMean[index(m.measure)] = dailyMeanChart(m);
  }
  return c;
}

}  // namespace quenby::report
