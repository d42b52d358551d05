// TMainForm: the station's frame window. It holds the run-control core (settings, run state,
// library handles, the workers), the port windows in its multiple-document area, the menus,
// toolbar and status bar, and the two one-second timers.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>

#include "engine/download_library.h"
#include "engine/station_control.h"
#include "ui/qt_ui_bridge.h"

class QAction;
class QActionGroup;
class QLabel;
class QMdiArea;
class QMenu;
class QTimer;
class QToolButton;
class TFormSuggest;
class TFormExtra;

namespace quenby::ui {

class TChildForm;
class TAboutForm;

class TMainForm final : public QMainWindow {
  Q_OBJECT
 public:
  // folder: the program's folder (Torvane.ini, ports/, scat.txt, the test logs). The library
  // must outlive the window. Creates the library handles and loads Torvane.ini.
  TMainForm(std::filesystem::path folder, DownloadLibrary* library, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The windows created after the main window: the About box and the two settings dialogs.
  void setSecondaryWindows(TAboutForm* about, TFormSuggest* basicTest, TFormExtra* extraTest);

  // The file dialogs' seam: returns the chosen path, or an empty text when cancelled.
  struct FileChoice {
    QString title;
    QString filter;
    bool save = false;
  };
  void setFileChooser(std::function<QString(const FileChoice&)> chooser) {
    chooseFile_ = std::move(chooser);
  }
  // Where the settings go at close (Torvane.ini beside the program).
  std::filesystem::path settingsFile() const { return control_.settingsFile(); }

  StationControl& control() { return control_; }
  // The workers' hand-off to this window's thread.
  UiBridge& bridge() { return bridge_; }
  QMdiArea* mdiArea() const { return mdi_; }
  // The port windows, topmost (active) first: the frame's child order.
  QList<TChildForm*> portWindows() const;

  // ---- Handlers (menus, toolbar, timers) --------------------------------------------------
  // Status panels 1 and 3 (the file paths) share what the two caption panels leave.
  static int pathPanelWidth(int windowWidth);
  void FormResize();
  void MenuComportClick();
  void MenuStartClick();
  void MenuDAClick();
  void MenuROMClick();
  void MenuDLClick();
  void TestSkipDL1Click();
  void MenuStopClick();
  void TimerDLTimer();
  void TimerTimeOutTimer();
  void MenuVerticalClick();
  void MenuHorizontalClick();
  void MenuCascadeClick();
  void MenuWndClick();
  void MenuAboutClick();
  void BtnCleanClick();
  void MenuVisibleTestClick();
  void MenuTestSuggestClick();
  void MenuTestExtraClick();
  void MenuLoadProfileClick();
  void MenuSaveProfileClick();
  void ChangeUpdateBaudrate(QAction* entry);
  void ChangeNMEABaudrate(QAction* entry);
  void ChangeSeries(QAction* entry);
  void SelectAllClick();
  void CancelAllClick();
  void ComEntryToggle(QAction* entry);

  // The main window lock (a worker's run start) and unlock (idle, Stop).
  void lockControls();
  void unlockControls();

  // Menu check marks and status panels that a settings load sets.
  void showNmeaBaudrate(std::int32_t baud);
  void showUpdateBaudrate(std::int32_t index);
  void showSeries(std::int32_t series);
  void showDownloadAgentPath(const QString& path);
  void showRomPath(const QString& path);

  // How long the close waits for workers that are still ending their runs.
  void setExitWait(std::chrono::milliseconds wait) { exitWait_ = wait; }

  // The engineer's view (quenby --engineer): every entry the operator's station keeps hidden is
  // shown, and the caption says which view this is.
  void showEngineerView();

  // A close asked for by a signal (a logout, a service stop, Ctrl-C): as the close box, but
  // nothing waits for a click; what the operator would have read goes to stderr.
  void closeBySignal();
  // The exit status the close leaves: 0, or 1 when the settings could not be saved.
  int exitStatus() const { return exitStatus_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Keys that reach the window itself: a scanner typing while the active port runs.
  void keyPressEvent(QKeyEvent* event) override;
  // No menu on a right-click of the tool bar: it could hide the tool bar with no way back.
  QMenu* createPopupMenu() override { return nullptr; }

 private:
  void createActions();
  void createMenus();
  void createToolBar();
  void createStatusBar();
  void createTimers();
  void loadSettingsFile(const std::filesystem::path& file);
  void startRuns(bool skipDownload);
  void rebuildChosenPorts();
  void arrange();
  void closePortWindows();
  void FormClose();
  void onSerialNumberConfirmed();
  // Stop's aftermath: the commands that start runs stay locked while stopped runs still end.
  void watchStoppingRuns();
  // A run's line reached the test log, or did not.
  void onRunLogged(const RunLogged& logged);
  // The station's own status panel: closing, stopping, runs not recorded.
  void showStationStatus();
  // Tells the operator: a box, or stderr once a signal closes the station.
  void tell(const QString& text);

  // Declared before the control: workers hand off through it until the control has waited
  // for them.
  QtUiBridge bridge_;
  StationControl control_;
  std::function<QString(const FileChoice&)> chooseFile_;
  std::chrono::milliseconds exitWait_{10000};
  bool focusGiven_ = false;
  bool closed_ = false;
  bool closeBySignal_ = false;
  int exitStatus_ = 0;
  // Runs since the last recorded line whose lines could not be written to the test log; the
  // operator is told once per such episode.
  int notRecorded_ = 0;
  QTimer* stoppingWatch_ = nullptr;
  // The window of the first chosen port: after every round its serial entry takes the focus.
  QPointer<TChildForm> firstPortWindow_;
  // A serial number scanned while its port was testing, not taken: said until the round ends.
  QString scanRefused_;

  QMdiArea* mdi_ = nullptr;
  QPointer<TAboutForm> about_;
  QPointer<TFormSuggest> basicTest_;
  QPointer<TFormExtra> extraTest_;

 public:
  // Controls under the window design's names (tests and the load effects reach them).
  QMenu* MenuFile = nullptr;
  QAction* MenuDA = nullptr;
  QAction* MenuROM = nullptr;
  QAction* MenuLoadProfile = nullptr;
  QAction* MenuSaveProfile = nullptr;
  QMenu* MenuAction = nullptr;
  QAction* MenuStart = nullptr;
  QAction* MenuDL = nullptr;
  QAction* MenuStop = nullptr;
  QAction* TestSkipDL1 = nullptr;
  QMenu* MenuTest = nullptr;
  QAction* MenuTestSuggest = nullptr;
  QAction* MenuTestExtra = nullptr;
  QMenu* MenuComport = nullptr;
  QMenu* MenuCOM = nullptr;
  QMenu* MenuUpdateBaud = nullptr;
  QMenu* MenuNMEABaud = nullptr;
  QMenu* MenuWnd = nullptr;
  QAction* MenuVertical = nullptr;
  QAction* MenuHorizontal = nullptr;
  QAction* MenuCascade = nullptr;
  QMenu* MenuOption = nullptr;
  QAction* MenuVisibleTest = nullptr;
  QMenu* MenuSeries = nullptr;
  QAction* MT3329 = nullptr;
  QAction* MT3318 = nullptr;
  QAction* MenuAbout = nullptr;
  QToolButton* BtnDA = nullptr;
  QToolButton* BtnROM = nullptr;
  QToolButton* BtnConnect = nullptr;
  QToolButton* BtnDL = nullptr;
  QToolButton* BtnStop = nullptr;
  QToolButton* BtnClean = nullptr;
  QToolButton* BtnAbout = nullptr;
  QAction* BtnCleanAction = nullptr;
  QLabel* StatusPanels[4] = {};
  // The station's own state, right of the four panels: closing, stopping, runs not recorded.
  QLabel* StatusStation = nullptr;
  QTimer* TimerTimeOut = nullptr;
  QTimer* TimerDL = nullptr;
};

}  // namespace quenby::ui
