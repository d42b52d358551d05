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
  if (bars == bars_) return;
  bars_ = bars;
  layout_.reset();
  update();
}

int CnrChart::shownWidth() const {
  // The window's layout runs the chart past the right edge of its parent (under the window's
  // frame): the bars and their labels keep to the part that shows.
  const QWidget* parent = parentWidget();
  return parent ? std::clamp(parent->width() - x(), 1, width()) : width();
}

const CnrChart::Layout& CnrChart::layout() const {
  const QSize size(shownWidth(), height());
  if (!layout_ || layout_->size != size) layout_ = layOut(size);
  return *layout_;
}

CnrChart::Layout CnrChart::layOut(QSize size) const {
  Layout l;
  l.size = size;
  const int n = static_cast<int>(bars_.size());
  const double column = double(size.width() - 2 * Margin) / std::max(n, 1);
  QStringList ids, values;
  for (const auto& b : bars_) {
    ids << b.label;
    values << valueText(b.value);
  }
  l.title = pixelFont(font(), TitlePixels);
  l.id = fittingFont(font(), IdPixels, ids, column);
  l.value = fittingFont(font(), ValuePixels, values, column);
  const QFontMetrics titleMetrics(l.title), idMetrics(l.id), valueMetrics(l.value);
  l.titleAscent = titleMetrics.ascent();
  l.idAscent = idMetrics.ascent();
  l.valueAscent = valueMetrics.ascent();

  // From the bottom: the ids, the axis line, the bars, the values of the tallest bars, and the
  // title when the bars keep at least its height.
  Picture& p = l.picture;
  const int idTop = size.height() - Margin - idMetrics.height();
  p.axis = idTop - LabelGap;
  int barsTop = Margin + valueMetrics.height() + LabelGap;
  if (p.axis - barsTop - titleMetrics.height() >= titleMetrics.height()) {
    p.title = "CNR";
    p.titleRect = labelRect(titleMetrics, p.title, size.width() / 2, Margin);
    barsTop += titleMetrics.height();
  }
  const int scale = std::max(0, p.axis - barsTop);

  const int barWidth = std::max(1, static_cast<int>(std::lround(column * BarShare)));
  for (int i = 0; i < n; ++i) {
    const int centre = Margin + static_cast<int>(std::lround(column * (i + 0.5)));
    const double shown = std::clamp(bars_[i].value, 0.0, CnrAxisMax);
    const int height = static_cast<int>(std::lround(scale * shown / CnrAxisMax));
    DrawnBar d;
    d.bar = QRect(centre - barWidth / 2, p.axis - height, barWidth, height);
    d.id = ids[i];
    d.idRect = labelRect(idMetrics, d.id, centre, idTop);
    d.value = values[i];
    d.valueRect =
        labelRect(valueMetrics, d.value, centre, d.bar.top() - LabelGap - valueMetrics.height());
    p.bars.append(d);
  }
  return l;
}

void CnrChart::paintEvent(QPaintEvent*) {
  // Sixteen charts refresh every second: plain rendering, the labels drawn at their baselines.
  const Layout& l = layout();
  const Picture& p = l.picture;
  QPainter painter(this);
  if (!p.title.isEmpty()) {
    painter.setFont(l.title);
    painter.setPen(TitleGrey);
    painter.drawText(p.titleRect.left(), p.titleRect.top() + l.titleAscent, p.title);
  }
  painter.setPen(AxisGrey);
  painter.drawLine(Margin, p.axis, l.size.width() - Margin - 1, p.axis);
  for (const auto& d : p.bars)
    if (!d.bar.isEmpty()) painter.fillRect(d.bar, BarBlue);
  painter.setPen(Qt::black);
  painter.setFont(l.value);
  for (const auto& d : p.bars)
    painter.drawText(d.valueRect.left(), d.valueRect.top() + l.valueAscent, d.value);
  painter.setPen(TitleGrey);
  painter.setFont(l.id);
  for (const auto& d : p.bars) painter.drawText(d.idRect.left(), d.idRect.top() + l.idAscent, d.id);
}

}  // namespace quenby::ui
