#include "ui/cnr_chart.h"

#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QValueAxis>

namespace quenby::ui {
namespace {

// The CNR scale: dB-Hz, fixed so that bars of different refreshes compare by eye.
constexpr double CnrAxisMax = 55.0;
const QColor BarBlue(0, 0, 255);

}  // namespace

CnrChart::CnrChart(QWidget* parent)
    : QChartView(parent),
      set_(new QBarSet("CNR")),
      series_(new QBarSeries),
      categories_(new QBarCategoryAxis),
      values_(new QValueAxis) {
  setObjectName("ChartCNR");
  // Sixteen charts refresh every second: plain rendering of plain bars keeps that cheap.
  setRenderHint(QPainter::Antialiasing, false);

  set_->setColor(BarBlue);
  set_->setBorderColor(BarBlue);
  set_->setLabelColor(Qt::black);
  QFont labelFont = set_->labelFont();
  labelFont.setPixelSize(10);
  set_->setLabelFont(labelFont);
  series_->setObjectName("Series1");
  series_->append(set_);
  series_->setLabelsVisible(true);
  series_->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
  series_->setLabelsFormat("@value");

  auto* c = new QChart;
  c->setTitle("CNR");
  c->legend()->hide();
  c->setBackgroundRoundness(0);
  c->setBackgroundBrush(Qt::white);
  c->setPlotAreaBackgroundVisible(false);
  c->setAnimationOptions(QChart::NoAnimation);
  c->setMargins(QMargins(4, 4, 4, 4));
  c->addSeries(series_);

  values_->setRange(0.0, CnrAxisMax);
  values_->setVisible(false);
  c->addAxis(values_, Qt::AlignLeft);
  series_->attachAxis(values_);
  c->addAxis(categories_, Qt::AlignBottom);
  series_->attachAxis(categories_);
  categories_->setGridLineVisible(false);

  setChart(c);
}

void CnrChart::setBars(const QVector<Bar>& bars) {
  // The usual refresh: the same satellites with new values. Only the values that changed move;
  // the axis and its labels stay, which spares the chart its relayout.
  if (bars.size() == set_->count() && bars.size() == shownLabels_.size()) {
    bool sameSatellites = true;
    for (int i = 0; i < bars.size() && sameSatellites; ++i)
      sameSatellites = bars[i].label == shownLabels_[i];
    if (sameSatellites) {
      for (int i = 0; i < bars.size(); ++i)
        if (set_->at(i) != bars[i].value) set_->replace(i, bars[i].value);
      return;
    }
  }
  QList<qreal> values;
  QStringList labels;
  values.reserve(bars.size());
  labels.reserve(bars.size());
  for (const auto& bar : bars) {
    values.append(bar.value);
    // Categories must be unique; a repeated id (a module listing a satellite twice) still
    // gets its own bar, with its label padded by an invisible difference.
    QString label = bar.label;
    while (labels.contains(label)) label += QChar(0x200B);
    labels.append(label);
  }
  if (set_->count() > 0) set_->remove(0, set_->count());
  categories_->setCategories(labels);
  shownLabels_.clear();
  for (const auto& bar : bars) shownLabels_.append(bar.label);
  set_->append(values);
  // Attaching keeps the range fixed whatever the categories did to it.
  values_->setRange(0.0, CnrAxisMax);
}

QVector<CnrChart::Bar> CnrChart::bars() const {
  QVector<Bar> result;
  const QStringList labels = categories_->categories();
  for (int i = 0; i < set_->count(); ++i) {
    QString label = i < labels.size() ? labels[i] : QString();
    label.remove(QChar(0x200B));
    result.append({label, set_->at(i)});
  }
  return result;
}

}  // namespace quenby::ui
