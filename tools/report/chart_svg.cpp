#include "tools/report/chart_svg.h"

#include <QBuffer>
#include <QChart>
#include <QGraphicsScene>
#include <QPainter>
#include <QSvgGenerator>
#include <regex>

namespace quenby::report {
namespace {

// The generator writes a group for every change of pen or brush, most of them empty: dropping
// those shrinks a chart to about a third. Its gradient ids restart in every chart, so they get
// the chart's number to stay unique on a page that holds many charts.
std::string tidySvg(std::string svg, int chartNumber) {
  static const std::regex emptyGroup(R"(<g [^>]*>\s*</g>\s*)");
  static const std::regex gradientId(R"((id="|url\(#)gradient)");
  static const std::regex fontFamily(R"(font-family="[^"]*")");
  svg = std::regex_replace(svg, emptyGroup, "");
  // The generator names the font Qt chose; a browser without it needs the generic family.
  svg = std::regex_replace(svg, fontFamily, R"(font-family="DejaVu Sans, Arial, Helvetica, sans-serif")");
  return std::regex_replace(svg, gradientId, "$1c" + std::to_string(chartNumber) + "gradient");
}

}  // namespace

std::string chartSvg(QChart* chart, QSize size, const QString& description) {
  QGraphicsScene scene;
  scene.addItem(chart);  // the scene owns the chart from here on
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->setGeometry(QRectF(QPointF(0, 0), size));
  scene.setSceneRect(QRectF(QPointF(0, 0), size));

  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(size);
  generator.setViewBox(QRect(QPoint(0, 0), size));
  generator.setResolution(96);  // so that the chart's size in the page is `size` CSS pixels
  generator.setTitle(chart->title().isEmpty() ? description : chart->title());
  generator.setDescription(description);
  QPainter painter(&generator);
  painter.setRenderHint(QPainter::Antialiasing);
  scene.render(&painter, QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size));
  painter.end();

  std::string svg = buffer.data().toStdString();
  // Inline in the page the XML declaration has no place.
  if (const auto start = svg.find("<svg"); start != std::string::npos) svg.erase(0, start);
  static int charts = 0;
  return tidySvg(std::move(svg), ++charts);
}

}  // namespace quenby::report
