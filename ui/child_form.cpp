#include "ui/child_form.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "ui/cnr_chart.h"
#include "ui/resources.h"
#include "ui/text.h"

namespace quenby::ui {
namespace {

// The frame strip at the top that holds the entries and labels.
constexpr int GroupHeight = 81;
// What the layout leaves below the chart for the caption, the frame and the gauge.
constexpr int BottomReserve = 70;
constexpr int GaugeHeight = 33;
constexpr int ImageLeft = 25;
constexpr int SerialEntryOffset = 110;
constexpr int SerialEntryMargin = 160;
constexpr int SerialEntryMinWidth = 5;
// Design client size of a port window.
constexpr int DesignClientWidth = 526;
constexpr int DesignClientHeight = 475;
constexpr int MemoFontPixels = 13;
// The memo keeps this many lines (several hundred runs); the test log is the record.
constexpr int MemoMaxLines = 100000;
// The chart refreshes at most twice a second: as often as an operator can read it.
constexpr int ChartRefreshMs = 500;

QColor fromBgr(std::uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry,
                  bool visible) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setVisible(visible);
  return label;
}

}  // namespace

TChildForm::TChildForm(StationControl& station, QWidget* parent)
    : QMdiSubWindow(parent), station_(station) {
  registerResources();
  setWindowIcon(QIcon(":/images/logo.png"));
  setAttribute(Qt::WA_DeleteOnClose);
  buildControls();
  showLineEntries();
  resize(DesignClientWidth + 8, DesignClientHeight + 30);
}

TChildForm::~TChildForm() = default;

void TChildForm::buildControls() {
  client_ = new QWidget;
  client_->setObjectName("client");
  setWidget(client_);

  GroupBox1 = new QGroupBox(client_);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setGeometry(0, 0, DesignClientWidth, GroupHeight);

  // The design's entries and captions: present, hidden, and shown by nothing in this station.
  Label3 = makeLabel(GroupBox1, "Label3", "Serial No.", {8, 20, 60, 16}, false);
  socketLabel_ = makeLabel(GroupBox1, "LabeledEditSocketLabel", "Socket", {8, 20, 40, 16}, false);
  LabeledEditSocket = new QLineEdit(GroupBox1);
  LabeledEditSocket->setObjectName("LabeledEditSocket");
  LabeledEditSocket->setGeometry(50, 16, 33, 21);
  LabeledEditSocket->setFocusPolicy(Qt::ClickFocus);
  LabeledEditSocket->hide();
  serialLabel_ =
      makeLabel(GroupBox1, "LabeledEditSerialLabel", "Serial No.", {96, 20, 60, 16}, false);
  LabeledEditSerial = new QLineEdit(GroupBox1);
  LabeledEditSerial->setObjectName("LabeledEditSerial");
  LabeledEditSerial->setGeometry(LabeledEditSocket->x() + SerialEntryOffset, 16, 97, 21);
  LabeledEditSerial->setMaxLength(60);
  LabeledEditSerial->hide();
  LabeledEditSerial->installEventFilter(this);

  Label1 = makeLabel(GroupBox1, "Label1", QString::fromUtf8("Serial Number\uFF1A"),
                     {8, 44, 100, 16}, false);
  LabelSerialNo = makeLabel(GroupBox1, "LabelSerialNo", {}, {110, 44, 200, 16}, true);
  Label2 = makeLabel(GroupBox1, "Label2", QString::fromUtf8("BT Mac Addr\uFF1A"),
                     {8, 60, 100, 16}, false);
  LabelBTMac = makeLabel(GroupBox1, "LabelBTMac", {}, {8, 58, 120, 18}, true);
  MTKVersion = makeLabel(GroupBox1, "MTKVersion", {}, {130, 58, 390, 18}, true);
  QFont versionFont = MTKVersion->font();
  versionFont.setBold(true);
  MTKVersion->setFont(versionFont);

  ImgResult = new QLabel(client_);
  ImgResult->setObjectName("ImgResult");
  ImgResult->setScaledContents(true);
  ImgResult->setAlignment(Qt::AlignCenter);
  ImgResult->setGeometry(ImageLeft, GroupHeight, 192, 164);

  MemoShow = new QPlainTextEdit(client_);
  MemoShow->setObjectName("MemoShow");
  MemoShow->setReadOnly(true);
  MemoShow->setFocusPolicy(Qt::NoFocus);
  MemoShow->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoShow->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoShow->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoShow->setMaximumBlockCount(MemoMaxLines);
  QFont memoFont = MemoShow->font();
  memoFont.setPixelSize(MemoFontPixels);
  MemoShow->setFont(memoFont);

  ChartCNR = new CnrChart(client_);

  CGauge1 = new QProgressBar(client_);
  CGauge1->setObjectName("CGauge1");
  CGauge1->setRange(0, 100);
  CGauge1->setValue(0);
  CGauge1->setTextVisible(true);
  CGauge1->setFormat("%p%");
  CGauge1->setAlignment(Qt::AlignCenter);

  chartRefresh_.setSingleShot(true);
  connect(&chartRefresh_, &QTimer::timeout, this, [this] { showPendingSatellites(); });
}

// A line that scans serial numbers (Serial_Entry=1) or labels its sockets (Socket_Entry=1) sees
// the entries; the operator's station of the design keeps them hidden.
void TChildForm::showLineEntries() {
  const bool serial = station_.settings().serialEntry == 1;
  const bool socket = station_.settings().socketEntry == 1;
  for (QWidget* w : {static_cast<QWidget*>(serialLabel_), static_cast<QWidget*>(LabeledEditSerial),
                     static_cast<QWidget*>(Label1)})
    w->setVisible(serial);
  for (QWidget* w : {static_cast<QWidget*>(socketLabel_), static_cast<QWidget*>(LabeledEditSocket)})
    w->setVisible(socket);
}

// ---- Layout -----------------------------------------------------------------------------------

void TChildForm::resizeEvent(QResizeEvent* event) {
  QMdiSubWindow::resizeEvent(event);
  FormResize();
}

void TChildForm::FormResize() {
  // The gauge is docked: it follows the client's bottom edge whatever the rule below does.
  CGauge1->setGeometry(0, client_->height() - GaugeHeight, client_->width(), GaugeHeight);

  const int w = width();
  const int h = height();
  const int rest = h - BottomReserve - GroupHeight;
  const int b = std::min(rest, w);
  if (b <= 0) return;

  GroupBox1->setGeometry(0, 0, w, GroupHeight);
  LabeledEditSerial->setGeometry(LabeledEditSocket->x() + SerialEntryOffset,
                                 LabeledEditSerial->y(),
                                 w > SerialEntryMargin ? w - SerialEntryMargin : SerialEntryMinWidth,
                                 LabeledEditSerial->height());
  ImgResult->setGeometry(ImageLeft, GroupHeight, b / 2, b / 2);
  MemoShow->setGeometry(w / 2, GroupHeight, w / 2, rest / 2);
  ChartCNR->setGeometry(0, GroupHeight + rest / 2, w, rest / 2);
}

// ---- Run control ------------------------------------------------------------------------------

void TChildForm::WorkerStart() {
  if (!control_) control_ = std::make_unique<PortControl>(station_, port_, *this);
  control_->startWorker();
}

void TChildForm::clearMemo() { MemoShow->clear(); }

void TChildForm::seedChart() {
  QVector<CnrChart::Bar> bars;
  for (int i = 1; i <= 14; ++i) bars.append({QString::number(i), 55.0});
  ChartCNR->setBars(bars);
}

void TChildForm::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
  QMdiSubWindow::closeEvent(event);
}

void TChildForm::FormClose() {
  closing_ = true;
  // The run in progress ends without touching this window again and still reaches the log.
  if (control_) control_->close();
  control_.reset();
}

// ---- PortView ---------------------------------------------------------------------------------

void TChildForm::resetForRun() {
  setWindowTitle(QString("COM %1").arg(port_));
  LabelBTMac->clear();
  MTKVersion->clear();
  ImgResult->clear();
  chartRefresh_.stop();
  pendingSatellites_.reset();
  ChartCNR->clearBars();
  CGauge1->setValue(0);
}

void TChildForm::appendLine(const std::string& line) {
  MemoShow->appendPlainText(fromEngine(line));
}

void TChildForm::setGaugeColorAndProgress(std::uint32_t bgrColor, int percent) {
  QPalette palette = CGauge1->palette();
  palette.setColor(QPalette::Highlight, fromBgr(bgrColor));
  CGauge1->setPalette(palette);
  setGaugeProgress(percent);
}

void TChildForm::setGaugeProgress(int percent) { CGauge1->setValue(std::clamp(percent, 0, 100)); }

void TChildForm::showFirmwareVersion(const std::string& text) {
  MTKVersion->setText(fromEngine(text));
}

void TChildForm::showBluetoothMac(const std::string& text) { LabelBTMac->setText(fromEngine(text)); }

void TChildForm::showSatellites(const SatelliteTable& table) {
  pendingSatellites_ = table;
  if (chartRefresh_.isActive()) return;  // the newest table goes at the next refresh
  const qint64 since = lastChartRefresh_.isValid() ? lastChartRefresh_.elapsed() : ChartRefreshMs;
  if (since >= ChartRefreshMs)
    showPendingSatellites();
  else
    chartRefresh_.start(static_cast<int>(ChartRefreshMs - since));
}

void TChildForm::showPendingSatellites() {
  if (!pendingSatellites_) return;
  QVector<CnrChart::Bar> bars;
  for (const auto& entry : *pendingSatellites_) {
    if (entry.id <= 0) continue;
    bars.append({QString::number(entry.id), static_cast<double>(entry.snr)});
  }
  pendingSatellites_.reset();
  ChartCNR->setBars(bars);
  lastChartRefresh_.start();
}

void TChildForm::showVerdict(bool passed) {
  ImgResult->setPixmap(QPixmap(passed ? ":/images/pass.png" : ":/images/fail.png"));
}

std::string TChildForm::caption() const { return toEngine(windowTitle()); }

void TChildForm::setCaption(const std::string& caption) { setWindowTitle(fromEngine(caption)); }

std::string TChildForm::serialNumberText() const { return toEngine(LabelSerialNo->text()); }

std::string TChildForm::socketText() const { return toEngine(LabeledEditSocket->text()); }

void TChildForm::clearSerialNumber() { LabelSerialNo->clear(); }

void TChildForm::setEntriesEnabled(bool enabled) {
  LabeledEditSocket->setEnabled(enabled);
  LabeledEditSerial->setEnabled(enabled);
}

// ---- Serial-number entry ----------------------------------------------------------------------

bool TChildForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LabeledEditSerial && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      LabeledEditSerialKeyDown(key);
      return true;
    }
  }
  return QMdiSubWindow::eventFilter(watched, event);
}

void TChildForm::LabeledEditSerialKeyDown(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return;
  LabelSerialNo->setText(LabeledEditSerial->text());
  emit serialNumberConfirmed();
}

}  // namespace quenby::ui
