#include "ui/main_form.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cstdio>
#include <unistd.h>

#include "settings/ini_file.h"
#include "ui/about_form.h"
#include "ui/basic_test_dialog.h"
#include "ui/extra_test_dialog.h"
#include "ui/application.h"
#include "ui/child_form.h"
#include "ui/main_form_load_effects.h"
#include "ui/mdi_tiling.h"
#include "ui/message_box.h"
#include "ui/resources.h"
#include "ui/text.h"

namespace quenby::ui {
namespace {

constexpr int StatusFixedWidths = 80;
// While stopped runs end, the station looks this often whether they have.
constexpr int StoppingWatchMs = 100;
constexpr int EnumerationBufferPorts = 255;
// A port number's caption in the COM menu and on its window.
QString portCaption(std::uint16_t port) { return QString("COM %1").arg(port); }

// What a settings load did not take as written, in one box.
void tellLoadNotices(QWidget* parent, const QStringList& notices) {
  if (!notices.isEmpty()) showMessage(parent, notices.join('\n'));
}

QString defaultChooser(QWidget* parent, const TMainForm::FileChoice& choice) {
  return choice.save
             ? QFileDialog::getSaveFileName(parent, choice.title, choice.folder, choice.filter)
             : QFileDialog::getOpenFileName(parent, choice.title, choice.folder, choice.filter);
}

// The folder a file dialog opens at for the file in use (none: the dialog's own choice).
QString folderOf(const std::filesystem::path& file) {
  return file.empty() ? QString()
                      : QFileInfo(QString::fromStdString(file.string())).absolutePath();
}

}  // namespace

TMainForm::TMainForm(std::filesystem::path folder, DownloadLibrary* library, QWidget* parent)
    : QMainWindow(parent), control_(std::move(folder), library, bridge_) {
  registerResources();
  setWindowIcon(QIcon(":/images/logo.png"));
  setObjectName("MainForm");
  setWindowTitle("Quenby v1.0.0");
  move(317, 120);
  resize(641, 648);

  mdi_ = new QMdiArea(this);
  mdi_->setObjectName("MDIArea");
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdi_);

  createActions();
  createMenus();
  createToolBar();
  createStatusBar();
  chooseFile_ = [this](const FileChoice& choice) { return defaultChooser(this, choice); };
  control_.setLockControls([this] { lockControls(); });
  control_.setRunLoggedListener([this](const RunLogged& logged) { onRunLogged(logged); });
  stoppingWatch_ = new QTimer(this);
  stoppingWatch_->setInterval(StoppingWatchMs);
  connect(stoppingWatch_, &QTimer::timeout, this, guarded([this] { watchStoppingRuns(); }));

  // The build's suffix on the caption, appended at construction.
  setWindowTitle(windowTitle() + " [for Customer]");

  // FormCreate: the library handles exist (the control made them); the settings file is read.
  try {
    loadSettingsFile(control_.settingsFile());
  } catch (const std::exception& e) {
    showException(e);
  }
  createTimers();
}

TMainForm::~TMainForm() {
  // A window destroyed without its close (no settings save): the runs still end and are logged,
  // with the workers' hand-offs served until they have.
  if (!closed_) {
    closePortWindows();
    control_.shutdown([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); },
                      exitWait_);
  }
}

void TMainForm::setSecondaryWindows(TAboutForm* about, TFormSuggest* basicTest,
                                    TFormExtra* extraTest) {
  about_ = about;
  basicTest_ = basicTest;
  extraTest_ = extraTest;
}

QList<TChildForm*> TMainForm::portWindows() const {
  QList<TChildForm*> windows;
  for (auto* w : windowsTopFirst(*mdi_))
    if (auto* form = qobject_cast<TChildForm*>(w); form && !form->isClosing()) windows.append(form);
  return windows;
}

void TMainForm::loadSettingsFile(const std::filesystem::path& file) {
  MainFormLoadEffects effects(*this);
  try {
    control_.loadSettings(file, effects);
  } catch (const SettingsError&) {
    tellLoadNotices(this, effects.notices());
    throw;
  }
  tellLoadNotices(this, effects.notices());
}

// ---- Layout -----------------------------------------------------------------------------------

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

int TMainForm::pathPanelWidth(int windowWidth) {
  // Rounded toward zero, as the division does; never below nothing.
  return std::max(0, (windowWidth - StatusFixedWidths) / 2);
}

void TMainForm::FormResize() {
  if (!StatusPanels[1]) return;
  const int pathWidth = pathPanelWidth(width());
  // The path panels take up to their share; they never hold the window wider than it is.
  StatusPanels[1]->setMaximumWidth(pathWidth);
  StatusPanels[3]->setMaximumWidth(pathWidth);
  arrange();
}

void TMainForm::arrange() {
  switch (control_.state().arrangement) {
    case WindowArrangement::Cascade:
      mdi_->cascadeSubWindows();
      break;
    case WindowArrangement::TileVertical:
      tileVertically(*mdi_);
      break;
    case WindowArrangement::TileHorizontal:
      tileHorizontally(*mdi_);
      break;
  }
}

void TMainForm::MenuVerticalClick() {
  control_.state().arrangement = WindowArrangement::TileVertical;
  arrange();
}

void TMainForm::MenuHorizontalClick() {
  control_.state().arrangement = WindowArrangement::TileHorizontal;
  arrange();
}

void TMainForm::MenuCascadeClick() {
  control_.state().arrangement = WindowArrangement::Cascade;
  arrange();
}

void TMainForm::MenuWndClick() {
  const bool any = !portWindows().empty();
  for (QAction* a : {MenuVertical, MenuHorizontal, MenuCascade}) a->setEnabled(any);
}

// ---- Ports ------------------------------------------------------------------------------------

void TMainForm::MenuComportClick() {
  DownloadLibrary* library = control_.library();
  std::uint16_t found[EnumerationBufferPorts] = {};
  std::uint16_t count = EnumerationBufferPorts;
  const int result = library ? library->enumeratePorts(found, count) : -1;
  if (result == EnumerateNone) {
    showMessage(this, "No COM port detected!!");
    return;
  }
  if (result != EnumerateFound) {
    showMessage(this, "Enumerate COM port fail");
    return;
  }
  RunState& state = control_.state();
  state.ports.clear();
  for (std::uint16_t i = 0; i < count && i < EnumerationBufferPorts; ++i) state.ports.push(found[i]);

  // The entry that was clicked may be the one being replaced: it goes once its click is done.
  for (QAction* old : MenuCOM->actions()) {
    MenuCOM->removeAction(old);
    old->deleteLater();
  }
  for (std::uint16_t port : state.ports) {
    auto* entry = new QAction(portCaption(port), MenuCOM);
    entry->setCheckable(true);
    entry->setChecked(state.chosenPorts.contains(port));
    entry->setData(port);
    connect(entry, &QAction::triggered, this, guarded([this, entry](bool) { ComEntryToggle(entry); }));
    MenuCOM->addAction(entry);
  }
  auto* separator = new QAction(MenuCOM);
  separator->setSeparator(true);
  MenuCOM->addAction(separator);
  auto* selectAll = new QAction("Select All", MenuCOM);
  selectAll->setObjectName("SelectAll");
  connect(selectAll, &QAction::triggered, this, guarded([this](bool) { SelectAllClick(); }));
  MenuCOM->addAction(selectAll);
  auto* cancelAll = new QAction("Cancel All", MenuCOM);
  cancelAll->setObjectName("CancelAll");
  connect(cancelAll, &QAction::triggered, this, guarded([this](bool) { CancelAllClick(); }));
  MenuCOM->addAction(cancelAll);
}

namespace {

QList<QAction*> portEntries(QMenu* menu) {
  QList<QAction*> entries;
  for (QAction* a : menu->actions())
    if (a->isCheckable()) entries.append(a);
  return entries;
}

}  // namespace

void TMainForm::rebuildChosenPorts() {
  auto& chosen = control_.state().chosenPorts;
  chosen.clear();
  for (QAction* entry : portEntries(MenuCOM)) {
    if (chosen.full()) break;
    if (entry->isChecked()) chosen.push(static_cast<std::uint16_t>(entry->data().toUInt()));
  }
}

void TMainForm::ComEntryToggle(QAction* entry) {
  // The click has flipped the entry's check mark already (a checkable entry).
  (void)entry;
  rebuildChosenPorts();
  BtnConnect->setEnabled(!control_.state().chosenPorts.empty());
  MenuComportClick();
}

void TMainForm::SelectAllClick() {
  int checked = 0;
  for (QAction* entry : portEntries(MenuCOM)) {
    if (checked == static_cast<int>(MaxChosenPorts)) break;
    entry->setChecked(true);
    ++checked;
  }
  rebuildChosenPorts();
  BtnConnect->setEnabled(true);
}

void TMainForm::CancelAllClick() {
  control_.state().chosenPorts.clear();
  for (QAction* entry : portEntries(MenuCOM)) entry->setChecked(false);
  BtnConnect->setEnabled(false);
}

// ---- Connect, Download, Stop ------------------------------------------------------------------

void TMainForm::closePortWindows() {
  for (TChildForm* w : portWindows()) w->close();
}

void TMainForm::MenuStartClick() {
  // After Stop, new windows wait until the stopped runs have ended (the status bar says so).
  if (closed_ || stoppingWatch_->isActive()) return;
  const auto& chosen = control_.state().chosenPorts;
  if (chosen.empty()) {
    showMessage(this, "Please select COM port first");
    return;
  }
  closePortWindows();
  for (int i = chosen.size() - 1; i >= 0; --i) {
    const std::uint16_t port = chosen[static_cast<std::size_t>(i)];
    auto* w = new TChildForm(control_);
    w->setWindowTitle(portCaption(port));
    w->setPortNumber(port);
    w->seedChart();
    mdi_->addSubWindow(w);
    connect(w, &TChildForm::serialNumberConfirmed, this, [this] { onSerialNumberConfirmed(); });
    // FormDestroy: the rest re-arranged once the window is gone.
    connect(w, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, [this] { FormResize(); }); });
    w->show();
    if (i == 0) firstPortWindow_ = w;
  }
  FormResize();
}

void TMainForm::startRuns(bool skipDownload) {
  if (closed_) return;
  // Until every stopped run has ended (its download aborted, its port closed, its line written)
  // a new run would find the port held and fail a good module: the command waits, and says so.
  if (control_.stillStopping() > 0) {
    watchStoppingRuns();
    stoppingWatch_->start();
    return;
  }
  const QList<TChildForm*> windows = portWindows();
  if (windows.empty()) {
    showMessage(this, "Please press \"Connect\" first");
    return;
  }
  control_.setSkipDownload(skipDownload);
  // Download checks the files only when the Basic Test dialog's "Download Enable" is ticked.
  if (!skipDownload && basicTest_ && basicTest_->downloadEnabled()) {
    if (const char* problem = control_.downloadFilesProblem()) {
      showMessage(this, problem);
      return;
    }
  }
  for (TChildForm* w : windows) w->WorkerStart();
  for (TChildForm* w : windows) w->resetForRun();
}

void TMainForm::MenuDLClick() { startRuns(false); }

void TMainForm::TestSkipDL1Click() { startRuns(true); }

void TMainForm::MenuStopClick() {
  if (closed_) return;
  control_.stopAll();
  watchStoppingRuns();
  if (control_.stillStopping() > 0) stoppingWatch_->start();
}

void TMainForm::watchStoppingRuns() {
  const bool stopping = control_.stillStopping() > 0;
  if (stopping) {
    lockControls();
  } else {
    stoppingWatch_->stop();
    unlockControls();
  }
  for (QAction* a : {MenuDL, TestSkipDL1}) a->setEnabled(!stopping);
  BtnDL->setEnabled(!stopping);
  showStationStatus();
}

void TMainForm::TimerTimeOutTimer() { control_.tick(); }

void TMainForm::TimerDLTimer() {
  const QList<TChildForm*> windows = portWindows();
  if (windows.empty()) return;
  const bool allIdle =
      std::all_of(windows.begin(), windows.end(), [](TChildForm* w) { return w->idle(); });
  if (allIdle && !focusGiven_) {
    // The next round's scanning starts at the first port, wherever the last one ended.
    TChildForm* first = firstPortWindow_ && !firstPortWindow_->isClosing() ? firstPortWindow_.data()
                                                                            : windows.front();
    QLineEdit* entry = first->serialEntry();
    if (entry->isVisible()) {
      mdi_->setActiveSubWindow(first);
      entry->setEnabled(true);
      entry->setFocus();
    }
    focusGiven_ = true;
    if (!scanRefused_.isEmpty()) {
      scanRefused_.clear();
      showStationStatus();
    }
  } else if (!allIdle) {
    focusGiven_ = false;
  }
  if (allIdle && control_.stillStopping() == 0) unlockControls();
}

namespace {

void setControlsEnabled(TMainForm& f, bool enabled) {
  for (QAction* a : {f.MenuDA, f.MenuROM, f.MenuStart, f.MenuCOM->menuAction(),
                     f.MenuNMEABaud->menuAction(), f.MenuUpdateBaud->menuAction(),
                     f.MenuTest->menuAction()})
    a->setEnabled(enabled);
  for (QToolButton* b : {f.BtnDA, f.BtnROM, f.BtnConnect}) b->setEnabled(enabled);
}

}  // namespace

void TMainForm::lockControls() { setControlsEnabled(*this, false); }

void TMainForm::unlockControls() { setControlsEnabled(*this, true); }

void TMainForm::onRunLogged(const RunLogged& logged) {
  if (logged.recorded) {
    // The log takes lines again: the episode is over.
    if (notRecorded_ > 0) {
      notRecorded_ = 0;
      showStationStatus();
    }
    return;
  }
  if (notRecorded_++ == 0) {
    // Once per episode, however many ports find the log closed to them.
    showMessageLater(this, QString("Results not recorded: the test log %1 cannot be written (%2).\n"
                                   "Each run that ended meanwhile shows \"Not recorded!!\" in its "
                                   "caption and its line in its memo: test those modules again "
                                   "once the log can be written.")
                               .arg(QString::fromStdString(logged.file),
                                    QString::fromStdString(logged.reason)));
  }
  showStationStatus();
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
  // With every entry disabled while its port runs, a scanner's number lands here: it is not
  // taken, and the operator is told so instead of losing it without a word.
  auto* active = qobject_cast<TChildForm*>(mdi_->activeSubWindow());
  if (control_.settings().serialEntry == 1 && active && !active->idle() &&
      !event->text().trimmed().isEmpty()) {
    scanRefused_ = QString("COM %1 is testing: the serial number scanned was not taken; scan it "
                           "again when the run has ended")
                       .arg(active->portNumber());
    showStationStatus();
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void TMainForm::showStationStatus() {
  QString text;
  if (closed_) {
    text = QString("Closing: %1 run(s) still ending").arg(control_.liveWorkers());
  } else if (const int stopping = control_.stillStopping(); stopping > 0) {
    text = QString("Stopping: %1 run(s) still ending").arg(stopping);
  } else if (notRecorded_ > 0) {
    text = QString("%1 run(s) not recorded in the test log").arg(notRecorded_);
  } else if (!scanRefused_.isEmpty()) {
    text = scanRefused_;
  }
  StatusStation->setText(text);
  StatusStation->setVisible(!text.isEmpty());
}

void TMainForm::onSerialNumberConfirmed() {
  if (portWindows().empty()) return;
  activateNext(*mdi_);
  if (auto* active = qobject_cast<TChildForm*>(mdi_->activeSubWindow()))
    active->serialEntry()->clear();
}

void TMainForm::BtnCleanClick() {
  for (TChildForm* w : portWindows()) w->clearMemo();
}

// ---- Files, settings, options -----------------------------------------------------------------

void TMainForm::MenuDAClick() {
  // A Download Agent may have no extension at all.
  const QString path = chooseFile_(
      {"Download Agent", "DA File (*)", false, folderOf(control_.settings().flashDownloadDaPath)});
  if (path.isEmpty()) return;
  const std::uint32_t chip = MT3329->isChecked() ? DaChipValueMt3329 : DaChipValueMt3318;
  control_.chooseDownloadAgent(path.toStdString(), chip);
  showDownloadAgentPath(path);
}

void TMainForm::MenuROMClick() {
  const QString path = chooseFile_(
      {"ROM", "ROM File (*.bin)", false, folderOf(control_.settings().flashDownloadRomPath)});
  if (path.isEmpty()) return;
  control_.chooseRom(path.toStdString());
  showRomPath(path);
}

void TMainForm::showDownloadAgentPath(const QString& path) { StatusPanels[1]->setText(path); }

void TMainForm::showRomPath(const QString& path) { StatusPanels[3]->setText(path); }

namespace {

void checkByTag(QMenu* menu, std::int32_t value) {
  for (QAction* a : menu->actions()) a->setChecked(a->data().toInt() == value);
}

}  // namespace

void TMainForm::showNmeaBaudrate(std::int32_t baud) { checkByTag(MenuNMEABaud, baud); }

void TMainForm::showUpdateBaudrate(std::int32_t index) { checkByTag(MenuUpdateBaud, index); }

void TMainForm::showSeries(std::int32_t series) { checkByTag(MenuSeries, series); }

void TMainForm::ChangeUpdateBaudrate(QAction* entry) {
  for (QAction* a : MenuUpdateBaud->actions()) a->setChecked(false);
  const int tag = entry->data().toInt();
  if (tag >= 1 && tag <= 10) control_.settings().baudrateUpdate = tag;
  entry->setChecked(true);
}

void TMainForm::ChangeNMEABaudrate(QAction* entry) {
  for (QAction* a : MenuNMEABaud->actions()) a->setChecked(false);
  const int tag = entry->data().toInt();
  for (int baud : {4800, 9600, 14400, 19200, 38400, 57600, 115200})
    if (tag == baud) control_.settings().baudrateNmea = tag;
  entry->setChecked(true);
}

void TMainForm::ChangeSeries(QAction* entry) {
  MT3329->setChecked(false);
  MT3318->setChecked(false);
  const int tag = entry->data().toInt();
  if (tag == 3318) {
    control_.settings().versionSeries = 3318;
    MT3318->setChecked(true);
  } else if (tag == 3329) {
    control_.settings().versionSeries = 3329;
    MT3329->setChecked(true);
  }
}

void TMainForm::showEngineerView() {
  for (QAction* entry : {MenuLoadProfile, MenuSaveProfile, TestSkipDL1, MenuTestSuggest,
                         MenuTestExtra, MenuTest->menuAction(), MenuWnd->menuAction(),
                         MenuNMEABaud->menuAction(), MenuVisibleTest})
    entry->setVisible(true);
  QString title = windowTitle();
  title.replace(" [for Customer]", " [Engineer]");
  setWindowTitle(title);
}

void TMainForm::MenuVisibleTestClick() {
  MenuTest->menuAction()->setVisible(!MenuTest->menuAction()->isVisible());
}

namespace {

void showWindow(QWidget* w) {
  if (!w) return;
  w->show();
  w->raise();
  w->activateWindow();
}

}  // namespace

void TMainForm::MenuAboutClick() { showWindow(about_); }

void TMainForm::MenuTestSuggestClick() {
  if (basicTest_) basicTest_->present();
}

void TMainForm::MenuTestExtraClick() {
  if (extraTest_) extraTest_->present();
}

void TMainForm::MenuLoadProfileClick() {
  const QString path = chooseFile_(
      {"Load Profile", "ini Files (*.ini);;All Files (*)", false, folderOf(profileFile())});
  if (path.isEmpty()) return;
  profile_ = path.toStdString();
  loadSettingsFile(path.toStdString());
  showMessage(this, QFileInfo(path).absoluteFilePath() + " Load!!");
}

void TMainForm::MenuSaveProfileClick() {
  const QString path = chooseFile_(
      {"Save Profile", "ini Files (*.ini);;All Files (*)", true, folderOf(profileFile())});
  if (path.isEmpty()) return;
  profile_ = path.toStdString();
  control_.saveSettings(path.toStdString());
  showMessage(this, QFileInfo(path).absoluteFilePath() + " Save!!");
}

// ---- Close ------------------------------------------------------------------------------------

void TMainForm::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TMainForm::closeBySignal() {
  closeBySignal_ = true;
  close();
}

void TMainForm::tell(const QString& text) {
  if (closeBySignal_) {
    std::fprintf(stderr, "quenby: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
  } else {
    showMessage(this, text);
  }
}

void TMainForm::FormClose() {
  if (closed_) return;
  closed_ = true;
  // During the wait the window takes no command; it says what it is waiting for.
  stoppingWatch_->stop();
  menuBar()->setEnabled(false);
  for (QAction* a : findChildren<QAction*>()) a->setEnabled(false);
  for (QWidget* w : findChildren<QToolBar*>()) w->setEnabled(false);
  for (QShortcut* key : findChildren<QShortcut*>()) key->setEnabled(false);
  // Every run ends (a download is aborted) and still reaches the log; the workers' hand-offs
  // are served while the window waits for them, so none can hold the close up beyond the wait.
  closePortWindows();
  showStationStatus();
  const bool allEnded = control_.shutdown(
      [this] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        showStationStatus();
      },
      exitWait_);
  // The settings are saved last; the program exits even when the save fails.
  try {
    control_.saveSettings(control_.settingsFile());
  } catch (const std::exception& e) {
    exitStatus_ = EXIT_FAILURE;
    tell(fromEngine(e.what()));
  }
  if (!allEnded) {
    // A worker that did not end still uses the station's objects: leave at once rather than
    // tear them down under it.
    std::fprintf(stderr, "quenby: %d port worker(s) did not end; exiting\n",
                 control_.liveWorkers());
    std::fflush(nullptr);
    _exit(EXIT_FAILURE);
  }
  QCoreApplication::exit(exitStatus_);
}

}  // namespace quenby::ui
