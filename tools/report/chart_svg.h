// Renders a Qt chart into SVG text with QSvgGenerator, ready to be placed inline in a page.
#pragma once

#include <QSize>
#include <QString>
#include <string>

QT_BEGIN_NAMESPACE
class QChart;
QT_END_NAMESPACE

namespace quenby::report {

// Lays the chart out at `size` pixels and draws it. The chart is deleted afterwards. Needs a
// QApplication (the offscreen platform will do).
std::string chartSvg(QChart* chart, QSize size, const QString& description);

}  // namespace quenby::report
