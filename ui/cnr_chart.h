// ChartCNR: the carrier-to-noise bar chart of a port window. One bar series (Series1) with one
// bar set; a refresh replaces the bars' values and labels in place, so a satellite update every
// second creates no chart objects.
#pragma once

#include <QString>
#include <QVector>
#include <QtCharts/QChartView>

QT_BEGIN_NAMESPACE
class QBarSet;
class QBarSeries;
class QBarCategoryAxis;
class QValueAxis;
QT_END_NAMESPACE

namespace quenby::ui {

class CnrChart final : public QChartView {
  Q_OBJECT
 public:
  struct Bar {
    QString label;  // the satellite id
    double value;   // its CNR in dB-Hz
    bool operator==(const Bar&) const = default;
  };

  explicit CnrChart(QWidget* parent = nullptr);

  // The bars from left to right (position 1, 2, ...), all in blue.
  void setBars(const QVector<Bar>& bars);
  QVector<Bar> bars() const;
  void clearBars() { setBars({}); }

 private:
  QBarSet* set_;
  QBarSeries* series_;
  QBarCategoryAxis* categories_;
  QValueAxis* values_;
  QStringList shownLabels_;  // the satellite ids as given, one per bar
};

}  // namespace quenby::ui
