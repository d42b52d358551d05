// TChildForm: one port's window inside the main window's multiple-document area. It owns the
// port's worker (through its PortControl) and shows, for that port, the memo of the runs, the
// download gauge, the verdict picture, the CNR chart, the firmware version and the Bluetooth
// address. Workers reach it only through hand-offs, on the user-interface thread.
#pragma once

#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QTimer>
#include <QVector>
#include <memory>
#include <optional>

#include "engine/port_view.h"
#include "engine/station_control.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

namespace quenby::ui {

class CnrChart;

class TChildForm final : public QMdiSubWindow, public PortView {
  Q_OBJECT
 public:
  // Created by Connect: port number 0, no worker, deleted when closed.
  TChildForm(StationControl& station, QWidget* parent = nullptr);
  ~TChildForm() override;

  std::uint16_t portNumber() const { return port_; }
  void setPortNumber(std::uint16_t port) { port_ = port; }
  // Connect's placeholder chart: 14 bars "1" to "14" of value 55.
  void seedChart();

  // ---- Run control (main window) ----------------------------------------------------------
  // No worker: a new one, running at once; a suspended one: resumed; a running one: left alone.
  void WorkerStart();
  bool hasWorker() const { return control_ && control_->hasWorker(); }
  // No worker, or a worker between runs.
  bool idle() const { return !control_ || control_->idle(); }
  // True from the close on: the window no longer counts among the port windows.
  bool isClosing() const { return closing_; }
  // Clean: the memo emptied.
  void clearMemo();

  // ---- PortView (hand-offs; also the main window's port window reset) ---------------------
  void resetForRun() override;
  void appendLine(const std::string& line) override;
  void setGaugeColorAndProgress(std::uint32_t bgrColor, int percent) override;
  void setGaugeProgress(int percent) override;
  void showFirmwareVersion(const std::string& text) override;
  void showBluetoothMac(const std::string& text) override;
  void showSatellites(const SatelliteTable& table) override;
  void showVerdict(bool passed) override;
  std::string caption() const override;
  void setCaption(const std::string& caption) override;
  std::string serialNumberText() const override;
  std::string socketText() const override;
  void clearSerialNumber() override;
  void setEntriesEnabled(bool enabled) override;

  // The serial-number entry: Enter takes its text as the serial number and moves on.
  QLineEdit* serialEntry() const { return LabeledEditSerial; }
  void LabeledEditSerialKeyDown(int key);

  // The layout rule, applied on every resize; public for the main window and tests.
  void FormResize();

 signals:
  // Enter in the serial-number entry: the main window activates the next port window.
  void serialNumberConfirmed();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void showLineEntries();
  void FormClose();
  void showPendingSatellites();

  StationControl& station_;
  std::uint16_t port_ = 0;
  bool closing_ = false;
  std::unique_ptr<PortControl> control_;

  QWidget* client_;
  QGroupBox* GroupBox1;
  QLabel* Label3;
  QLabel* socketLabel_;
  QLineEdit* LabeledEditSocket;
  QLabel* serialLabel_;
  QLineEdit* LabeledEditSerial;
  QLabel* Label1;
  QLabel* LabelSerialNo;
  QLabel* Label2;
  QLabel* LabelBTMac;
  QLabel* MTKVersion;
  QLabel* ImgResult;
  QPlainTextEdit* MemoShow;
  CnrChart* ChartCNR;
  QProgressBar* CGauge1;

  // A module at ten fixes a second refreshes the chart ten times a second; the chart shows the
  // newest table at most twice a second, the first one at once.
  QElapsedTimer lastChartRefresh_;
  QTimer chartRefresh_;
  std::optional<SatelliteTable> pendingSatellites_;
};

}  // namespace quenby::ui
