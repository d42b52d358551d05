// What an operator reads in a port window at the sizes a station tiles it to on a 1280 x 1024
// screen: the memo's view after each line, the CNR chart's bars with their ids and values.
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

// A port window alone in a frame, at the size of one tile.
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

struct Tiling {
  const char* name;
  QSize window;
  QString title;  // the chart's, where there is room for it
};
const Tiling Tilings[] = {{"4 windows", {620, 445}, "CNR"}, {"8 windows", {310, 445}, "CNR"},
                          {"16 windows", {310, 223}, ""}};

QVector<CnrChart::Bar> bars(const QList<int>& ids, const QList<double>& values) {
  QVector<CnrChart::Bar> b;
  for (int i = 0; i < ids.size(); ++i) b.append({QString::number(ids[i]), values[i]});
  return b;
}
// A full table: fourteen satellites, ids of one to three digits, the weakest and strongest values.
const auto FullSky = bars({14, 22, 24, 19, 6, 3, 18, 31, 21, 9, 1, 12, 193, 28},
                          {45, 0, 49, 51, 55, 60, 99, 38, 12, 47, 53, 50, 44, 46});
const auto ConnectPlaceholder = bars({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14},
                                     QList<double>(14, 55));

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

// Empty when every bar shows whole within `shown`: its value above it and clear of the title,
// its id under it, one base line, no label running into its neighbour's, heights on a scale that
// ends at 55. Otherwise what is wrong, and where.
QString legibility(const CnrChart& chart, const QRect& shown) {
  const CnrChart::Picture p = chart.picture();
  int full = -1;  // the height of 55, when a bar shows it
  for (const auto& b : p.bars)
    if (b.value.toDouble() >= 55) full = b.bar.height();
  for (int i = 0; i < p.bars.size(); ++i) {
    const auto& b = p.bars[i];
    const QString bar = "bar " + b.id + ": ";
    const double value = b.value.toDouble();
    if (!shown.contains(b.idRect) || !shown.contains(b.valueRect)) return bar + "cut off";
    if (b.valueRect.bottom() >= b.bar.top()) return bar + "value not above the bar";
    if (p.titleRect.intersects(b.valueRect)) return bar + "value on the title";
    if (b.bar.y() + b.bar.height() != p.axis) return bar + "off the base line";
    if (full >= 0 && qAbs(b.bar.height() - full * std::min(value, 55.0) / 55) > 1)
      return bar + "off the scale";
    if (b.idRect.top() <= p.axis || qAbs(b.idRect.center().x() - b.bar.center().x()) > 1)
      return bar + "id not under the bar";
    if (i == 0) continue;
    const auto& left = p.bars[i - 1];
    if (left.idRect.intersects(b.idRect) || left.valueRect.intersects(b.valueRect) ||
        left.bar.right() >= b.bar.left())
      return bar + "runs into the one before";
  }
  return {};
}

}  // namespace

class PortWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void memoShowsTheNewestLineFromItsStart() {
    const QStringList run = {"[Flash Download]", "    Pass!!", "    Take(28) secs to test.",
                             QString(120, '*'), "    " + QString(90, 'v')};
    for (const Tiling& t : Tilings) {
      PortWindow w(t.window);
      for (const QString& line : run) {
        // The operator may have scrolled sideways to read the end of a long line.
        w.memo()->horizontalScrollBar()->setValue(w.memo()->horizontalScrollBar()->maximum());
        w.window->appendLine(line.toStdString());
        const QRect view = w.memo()->viewport()->rect();
        const QTextCursor topLeft = w.memo()->cursorForPosition(view.topLeft());
        const QTextCursor bottom = w.memo()->cursorForPosition(QPoint(0, view.bottom()));
        QCOMPARE((QStringList{t.name, QString::number(topLeft.positionInBlock()),
                              bottom.block().text()}),
                 (QStringList{t.name, "0", line}));
      }
    }
  }

  void chartKeepsEveryIdAndValueReadable() {
    for (const Tiling& t : Tilings) {
      for (const auto& sky : {FullSky, ConnectPlaceholder, bars({7}, {41})}) {
        PortWindow w(t.window);
        w.chart()->setBars(sky);
        QCOMPARE(readable(w.chart()->picture()), readable(sky));
        QCOMPARE(w.chart()->picture().title, t.title);
        QVERIFY(QFontInfo(w.chart()->idFont()).pixelSize() >= 9);
        QVERIFY(QFontInfo(w.chart()->valueFont()).pixelSize() >= 9);
        const QString problem = legibility(*w.chart(), w.chart()->visibleRegion().boundingRect());
        QVERIFY2(problem.isEmpty(), qPrintable(QString(t.name) + ", " + problem));
      }
    }
    // Narrower than any station window, with the longest ids: smaller labels, still whole.
    CnrChart narrow;
    narrow.resize(220, 90);
    const auto longIds = bars({193, 194, 195, 196, 197, 198, 199, 200, 201, 202, 203, 204, 205, 206},
                              {33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46});
    narrow.setBars(longIds);
    QCOMPARE(readable(narrow.picture()), readable(longIds));
    QCOMPARE(legibility(narrow, narrow.rect()), QString());
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
    QTRY_COMPARE_WITH_TIMEOUT(shown(), (QStringList{"8:20", "9:21", "10:22"}), 10000);
  }
};

QTEST_MAIN(PortWindowTest)
#include "port_window_test.moc"
