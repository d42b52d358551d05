// ChartCNR: the carrier-to-noise bar chart of a port window. One bar per satellite on a fixed
// scale of 0 to 55 dB-Hz, all in blue, the satellite id under its bar and the value above it.
// Painted by the widget itself, so that every label stays whole and above its bar at any window
// size, down to the sixteen small windows of a full station; a refresh only repaints.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>
#include <optional>

namespace quenby::ui {

class CnrChart final : public QWidget {
  Q_OBJECT
 public:
  struct Bar {
    QString label;  // the satellite id
    double value;   // its CNR in dB-Hz
    bool operator==(const Bar&) const = default;
  };

  // One bar as it is drawn: the bar, its id under it and its value above it, in the chart's
  // coordinates.
  struct DrawnBar {
    QRect bar;
    QString id;
    QRect idRect;
    QString value;
    QRect valueRect;
  };
  // The whole picture: the title (empty when there is no room for it), the line the bars stand
  // on, and the bars.
  struct Picture {
    QString title;
    QRect titleRect;
    int axis = 0;
    QVector<DrawnBar> bars;
  };

  explicit CnrChart(QWidget* parent = nullptr);

  // The bars from left to right (position 1, 2, ...).
  void setBars(const QVector<Bar>& bars);
  QVector<Bar> bars() const { return bars_; }
  void clearBars() { setBars({}); }

  // What paintEvent draws at the chart's present size.
  const Picture& picture() const { return layout().picture; }
  // The fonts of the ids and of the values at the present size.
  QFont idFont() const { return layout().id; }
  QFont valueFont() const { return layout().value; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The picture and its fonts for one size of the chart, kept until the bars or the size change.
  struct Layout {
    QSize size;
    Picture picture;
    QFont title, id, value;
    int titleAscent = 0, idAscent = 0, valueAscent = 0;
  };
  int shownWidth() const;
  const Layout& layout() const;
  Layout layOut(QSize size) const;

  QVector<Bar> bars_;
  mutable std::optional<Layout> layout_;
};

}  // namespace quenby::ui
