#include "ui/cnr_chart.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace quenby::ui {
namespace {

// The CNR scale: dB-Hz, fixed so that bars of different refreshes compare by eye. A stronger
// signal fills the scale and still shows its value.
constexpr double CnrAxisMax = 55.0;
const QColor BarBlue(0, 0, 255);
const QColor AxisGrey(160, 160, 160);
const QColor TitleGrey(64, 64, 64);
constexpr int Margin = 2;
// Room between a bar's top and its value, and between the axis line and the ids.
constexpr int LabelGap = 1;
// Share of a satellite's column that its bar takes.
constexpr double BarShare = 0.6;
constexpr int TitlePixels = 12;
constexpr int IdPixels = 11;
constexpr int ValuePixels = 10;
// Smaller than this no label shrinks; it is drawn whole anyway.
constexpr int SmallestPixels = 7;

QFont pixelFont(const QFont& base, int pixels) {
  QFont f = base;
  f.setPixelSize(pixels);
  return f;
}

// The largest font from `pixels` down to the smallest whose widest text fits `width` with a
// little room to each side.
QFont fittingFont(const QFont& base, int pixels, const QStringList& texts, double width) {
  QFont f = pixelFont(base, pixels);
  for (; pixels > SmallestPixels; --pixels) {
    f = pixelFont(base, pixels);
    const QFontMetrics m(f);
    int widest = 0;
    for (const auto& t : texts) widest = std::max(widest, m.horizontalAdvance(t));
    if (widest + 2 <= width) break;
  }
  return f;
}

QString valueText(double value) { return QString::number(value); }

// A label's box: its text's width, centred on x, its top on y.
QRect labelRect(const QFontMetrics& m, const QString& text, int centreX, int top) {
  const int width = m.horizontalAdvance(text);
  return QRect(centreX - width / 2, top, width, m.height());
}

}  // namespace

CnrChart::CnrChart(QWidget* parent) : QWidget(parent) {
  setObjectName("ChartCNR");
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::white);
  setPalette(p);
}

void CnrChart::setBars(const QVector<Bar>& bars) {
  bars_ = bars;
  update();
}

int CnrChart::shownWidth() const {
  // The window's layout runs the chart past the right edge of its parent (under the window's
  // frame): the bars and their labels keep to the part that shows.
  const QWidget* parent = parentWidget();
  return parent ? std::clamp(parent->width() - x(), 1, width()) : width();
}

double CnrChart::columnWidth() const {
  const double inside = shownWidth() - 2 * Margin;
  return bars_.isEmpty() ? inside : inside / static_cast<double>(bars_.size());
}

QFont CnrChart::idFont() const {
  QStringList ids;
  for (const auto& b : bars_) ids << b.label;
  return fittingFont(font(), IdPixels, ids, columnWidth());
}

QFont CnrChart::valueFont() const {
  QStringList values;
  for (const auto& b : bars_) values << valueText(b.value);
  return fittingFont(font(), ValuePixels, values, columnWidth());
}

CnrChart::Picture CnrChart::picture() const {
  Picture p;
  const QFontMetrics idMetrics(idFont());
  const QFontMetrics valueMetrics(valueFont());
  const QFontMetrics titleMetrics(pixelFont(font(), TitlePixels));
  const int w = shownWidth();
  const int h = height();

  // From the bottom: the ids, the axis line, the bars, the values of the tallest bars, and the
  // title when the bars keep at least its height.
  const int idTop = h - Margin - idMetrics.height();
  const int axis = idTop - LabelGap;
  p.axis = axis;
  int barsTop = Margin + valueMetrics.height() + LabelGap;
  if (axis - barsTop - titleMetrics.height() >= titleMetrics.height()) {
    p.title = "CNR";
    p.titleRect = QRect(0, Margin, w, titleMetrics.height());
    barsTop += titleMetrics.height();
  }
  const int scale = std::max(0, axis - barsTop);

  const int n = static_cast<int>(bars_.size());
  const double column = columnWidth();
  const int barWidth = std::max(1, static_cast<int>(std::lround(column * BarShare)));
  for (int i = 0; i < n; ++i) {
    const Bar& b = bars_[i];
    const int centre = Margin + static_cast<int>(std::lround(column * (i + 0.5)));
    const double shown = std::clamp(b.value, 0.0, CnrAxisMax);
    const int height = static_cast<int>(std::lround(scale * shown / CnrAxisMax));
    DrawnBar d;
    d.bar = QRect(centre - barWidth / 2, axis - height, barWidth, height);
    d.id = b.label;
    d.idRect = labelRect(idMetrics, d.id, centre, idTop);
    d.value = valueText(b.value);
    d.valueRect =
        labelRect(valueMetrics, d.value, centre, axis - height - LabelGap - valueMetrics.height());
    p.bars.append(d);
  }
  return p;
}

void CnrChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const Picture p = picture();
  if (!p.title.isEmpty()) {
    painter.setFont(pixelFont(font(), TitlePixels));
    painter.setPen(TitleGrey);
    painter.drawText(p.titleRect, Qt::AlignCenter, p.title);
  }
  painter.setPen(AxisGrey);
  painter.drawLine(Margin, p.axis, shownWidth() - Margin - 1, p.axis);
  for (const auto& d : p.bars)
    if (!d.bar.isEmpty()) painter.fillRect(d.bar, BarBlue);
  painter.setPen(Qt::black);
  painter.setFont(valueFont());
  for (const auto& d : p.bars) painter.drawText(d.valueRect, Qt::AlignCenter, d.value);
  painter.setPen(TitleGrey);
  painter.setFont(idFont());
  for (const auto& d : p.bars) painter.drawText(d.idRect, Qt::AlignCenter, d.id);
}

}  // namespace quenby::ui
