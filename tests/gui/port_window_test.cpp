// What an operator reads in a port window at the sizes a station gives it (four, eight and sixteen
// windows tiled on a 1280 x 1024 screen): the memo's view after each line, and the CNR chart's
// bars with their ids and values, as the chart draws them.
#include <QDir>
#include <QFontInfo>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include "engine/station_control.h"
#include "ui/child_form.h"
#include "ui/cnr_chart.h"

using namespace quenby;
using namespace quenby::ui;

namespace {

// A port window alone in a frame, as the station tiles it.
struct PortWindow {
  QMdiArea area;
  InlineBridge bridge;
  StationControl control{QDir::tempPath().toStdString(), nullptr, bridge};
  TChildForm* window = new TChildForm(control);

  explicit PortWindow(QSize size) {
    area.addSubWindow(window);
    area.resize(1280, 1024);
    area.show();
    window->resize(size);
  }
  QPlainTextEdit* memo() const { return window->findChild<QPlainTextEdit*>("MemoShow"); }
  CnrChart* chart() const { return window->findChild<CnrChart*>("ChartCNR"); }
};

// The tiled window sizes of a station on a 1280 x 1024 screen.
struct Tiling {
  const char* name;
  QSize window;
};
const Tiling Tilings[] = {{"4 windows", {620, 445}}, {"8 windows", {310, 445}},
                          {"16 windows", {310, 223}}};

// The line at the top left of the memo's view, and at its bottom left, as far as the view shows.
struct MemoView {
  int topLineStart;  // characters of the top line scrolled out to the left
  QString bottomLine;
};
MemoView viewOf(QPlainTextEdit* memo) {
  const QRect view = memo->viewport()->rect();
  const QTextCursor top = memo->cursorForPosition(view.topLeft());
  const QTextCursor bottom = memo->cursorForPosition(QPoint(0, view.bottom()));
  return {top.positionInBlock(), bottom.block().text()};
}

// A full table of fourteen satellites, ids of two and three digits, the weakest and strongest
// values a module gives.
QVector<CnrChart::Bar> fullSky() {
  QVector<CnrChart::Bar> bars;
  const int ids[] = {14, 22, 24, 19, 6, 3, 18, 31, 21, 9, 1, 12, 193, 28};
  const double values[] = {45, 0, 49, 51, 55, 60, 99, 38, 12, 47, 53, 50, 44, 46};
  for (int i = 0; i < 14; ++i) bars.append({QString::number(ids[i]), values[i]});
  return bars;
}

QVector<CnrChart::Bar> connectPlaceholder() {
  QVector<CnrChart::Bar> bars;
  for (int i = 1; i <= 14; ++i) bars.append({QString::number(i), 55});
  return bars;
}

// What the picture lets an operator read: id and value of each bar, left to right.
QStringList readable(const CnrChart::Picture& p) {
  QStringList read;
  for (const auto& b : p.bars) read << b.id + ":" + b.value;
  return read;
}
QStringList readable(const QVector<CnrChart::Bar>& bars) {
  QStringList read;
  for (const auto& b : bars) read << b.label + ":" + QString::number(b.value);
  return read;
}

// Empty when every bar shows whole within `shown`: its value above it, its id under it, one base
// line, no label running into its neighbour's. Otherwise what is wrong, and where.
QString legibility(const CnrChart& chart, const QRect& shown) {
  const CnrChart::Picture p = chart.picture();
  if (p.bars.isEmpty()) return {};
  const int base = p.bars.front().bar.y() + p.bars.front().bar.height();
  for (int i = 0; i < p.bars.size(); ++i) {
    const auto& b = p.bars[i];
    const QString bar = "bar " + b.id + ": ";
    if (!shown.contains(b.idRect) || !shown.contains(b.valueRect)) return bar + "cut off";
    if (b.valueRect.bottom() >= b.bar.top()) return bar + "value not above the bar";
    if (!p.title.isEmpty() && p.titleRect.intersects(b.valueRect)) return bar + "value on the title";
    if (b.bar.y() + b.bar.height() != base) return bar + "off the base line";
    if (b.idRect.top() < base) return bar + "id not under the bar";
    if (b.idRect.center().x() < b.bar.left() || b.idRect.center().x() > b.bar.right())
      return bar + "id beside the bar";
    if (i == 0) continue;
    const auto& left = p.bars[i - 1];
    if (left.idRect.intersects(b.idRect)) return bar + "id runs into the one before";
    if (left.valueRect.intersects(b.valueRect)) return bar + "value runs into the one before";
    if (left.bar.right() >= b.bar.left()) return bar + "touches the bar before";
  }
  return {};
}

}  // namespace

class PortWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void memoShowsTheNewestLineFromItsStart() {
    for (const Tiling& t : Tilings) {
      PortWindow w(t.window);
      const QStringList run = {"[Flash Download]", "    Pass!!", "[Finish]",
                               "    Take(28) secs to test.", QString(120, '*'), "[Version]",
                               "    " + QString(90, 'v')};
      for (const QString& line : run) {
        // The operator may have scrolled sideways to read the end of a long line.
        w.memo()->horizontalScrollBar()->setValue(w.memo()->horizontalScrollBar()->maximum());
        w.window->appendLine(line.toStdString());
        const MemoView v = viewOf(w.memo());
        QVERIFY2(v.topLineStart == 0 && v.bottomLine == line,
                 qPrintable(QString("%1, after '%2': %3 left out, bottom '%4'")
                                .arg(t.name, line.left(20))
                                .arg(v.topLineStart)
                                .arg(v.bottomLine.left(20))));
      }
    }
  }

  void chartKeepsEveryIdAndValueReadable() {
    struct Case {
      const char* name;
      QVector<CnrChart::Bar> bars;
    };
    const Case cases[] = {{"full sky", fullSky()}, {"Connect", connectPlaceholder()},
                          {"one satellite", {{"7", 41}}}};
    for (const Tiling& t : Tilings) {
      for (const Case& c : cases) {
        PortWindow w(t.window);
        w.chart()->setBars(c.bars);
        const QString where = QString("%1, %2").arg(t.name, c.name);
        QCOMPARE(readable(w.chart()->picture()), readable(c.bars));
        QVERIFY2(QFontInfo(w.chart()->idFont()).pixelSize() >= 9, qPrintable(where));
        QVERIFY2(QFontInfo(w.chart()->valueFont()).pixelSize() >= 9, qPrintable(where));
        const QString problem = legibility(*w.chart(), w.chart()->visibleRegion().boundingRect());
        QVERIFY2(problem.isEmpty(), qPrintable(where + ": " + problem));
      }
    }
    // Narrower than any station window, with the longest ids: smaller labels, still whole.
    CnrChart narrow;
    narrow.resize(220, 90);
    QVector<CnrChart::Bar> bars;
    for (int id = 193; id < 207; ++id) bars.append({QString::number(id), double(id - 160)});
    narrow.setBars(bars);
    QCOMPARE(readable(narrow.picture()), readable(bars));
    QCOMPARE(legibility(narrow, narrow.rect()), QString());
  }

  void chartScaleIsFixedFrom0To55() {
    PortWindow w(Tilings[0].window);
    w.chart()->setBars({{"1", 0}, {"2", 27.5}, {"3", 55}, {"4", 72}});
    const auto p = w.chart()->picture();
    QCOMPARE(p.title, QString("CNR"));
    QCOMPARE(p.bars[0].bar.height(), 0);
    QVERIFY(p.bars[2].bar.height() > 50);
    QVERIFY(qAbs(p.bars[1].bar.height() * 2 - p.bars[2].bar.height()) <= 1);
    QCOMPARE(p.bars[3].bar, p.bars[2].bar.translated(p.bars[3].bar.x() - p.bars[2].bar.x(), 0));
    QVERIFY(!p.titleRect.intersects(p.bars[3].valueRect));
  }

  void chartFollowsTheNewestTableAtMostTwiceASecond() {
    PortWindow w(Tilings[0].window);
    auto table = [](std::initializer_list<std::pair<int, int>> satellites) {
      SatelliteTable t{};
      int i = 0;
      for (auto [id, snr] : satellites) t[i++] = {id, snr};
      return t;
    };
    auto shown = [&] { return readable(w.chart()->picture()); };
    w.window->showSatellites(table({{12, 41}, {3, 38}, {27, 45}}));
    QCOMPARE(shown(), (QStringList{"12:41", "3:38", "27:45"}));
    // Tables quicker than the refresh: the chart waits, then shows the newest, even when it has
    // as many satellites as the one shown.
    w.window->showSatellites(table({{5, 30}, {6, 31}, {7, 32}}));
    w.window->showSatellites(table({{8, 20}, {9, 21}, {10, 22}}));
    QCOMPARE(shown(), (QStringList{"12:41", "3:38", "27:45"}));
    QTRY_COMPARE_WITH_TIMEOUT(shown(), (QStringList{"8:20", "9:21", "10:22"}), 2000);
    w.window->showSatellites(table({{8, 25}, {9, 21}, {10, 22}}));
    QCOMPARE(shown(), (QStringList{"8:20", "9:21", "10:22"}));
    QTRY_COMPARE_WITH_TIMEOUT(shown(), (QStringList{"8:25", "9:21", "10:22"}), 2000);
  }
};

QTEST_MAIN(PortWindowTest)
#include "port_window_test.moc"
