// The station's windows as an adapter over the engine: menus and messages of the main window,
// port windows created by Connect, runs on simulated modules driven through Download, Stop, the
// close of a port window and of the station, profiles, the About box. What the operator sees is
// compared whole; the engine's own texts are left to the engine's tests.
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QCheckBox>
#include <QMdiArea>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <unistd.h>

#include "brom/brom_library.h"
#include "fakes/fake_download_library.h"
#include "fakes/temp_folder.h"
#include "modsim/simulator_process.h"
#include "ui/about_form.h"
#include "ui/basic_test_dialog.h"
#include "ui/child_form.h"
#include "ui/cnr_chart.h"
#include "ui/extra_test_dialog.h"
#include "ui/main_form.h"
#include "ui/message_box.h"
#include "ui/signal_close.h"

using namespace quenby;
using namespace quenby::ui;
using quenby::modsim::testing::SimulatorProcess;
using quenby::testing::FakeDownloadLibrary;
using quenby::testing::TempFolder;
namespace fs = std::filesystem;

namespace {

// A station in a folder of its own: settings file, optional simulated modules, the windows in
// their start order, messages and file choices intercepted.
struct GuiStation {
  TempFolder folder;
  std::unique_ptr<SimulatorProcess> simulator;
  std::unique_ptr<DownloadLibrary> library;
  FakeDownloadLibrary* fake = nullptr;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TAboutForm> about;
  std::unique_ptr<TFormSuggest> basic;
  std::unique_ptr<TFormExtra> extra;
  QStringList messages;
  QStringList choices;  // what the file dialogs answer, in turn
  QList<TMainForm::FileChoice> asked;  // what the file dialogs were opened with

  // settings: Torvane.ini's text (none when empty). modules: the simulator's ports ("1-4") and
  // its scenario; no simulator and a fake library when ports is empty.
  explicit GuiStation(const std::string& settings, const std::string& ports = {},
                   const std::string& scenario = "[default]\n") {
    setMessageSink([this](const QString& text) { messages << text; });
    if (!settings.empty()) folder.write("Torvane.ini", settings);
    if (ports.empty()) {
      auto f = std::make_unique<FakeDownloadLibrary>();
      fake = f.get();
      library = std::move(f);
    } else {
      folder.write("scenario.ini", scenario);
      simulator = std::make_unique<SimulatorProcess>(std::vector<std::string>{
          "--ports-dir", (folder / "ports").string(), "--com", ports, "--scenario",
          (folder / "scenario.ini").string()});
      if (simulator->waitForReady().find("ready") == std::string::npos) qFatal("no simulator");
      library = std::make_unique<brom::BromLibrary>(folder / "ports");
    }
    open();
  }
  ~GuiStation() {
    closeWindows();
    setMessageSink({});
  }

  void open() {
    form = std::make_unique<TMainForm>(folder.path(), library.get());
    about = std::make_unique<TAboutForm>(form.get());
    basic = std::make_unique<TFormSuggest>(form->control().settings(), form->control().state(),
                                           form.get());
    extra = std::make_unique<TFormExtra>(form->control().settings(), form->control().state(),
                                         form.get());
    form->setSecondaryWindows(about.get(), basic.get(), extra.get());
    form->setFileChooser([this](const TMainForm::FileChoice& choice) {
      asked << choice;
      return choices.isEmpty() ? QString() : choices.takeFirst();
    });
    form->show();
  }
  void closeWindows() {
    if (!form) return;
    form->close();
    extra.reset();
    basic.reset();
    about.reset();
    form.reset();
  }

  template <class T = QAction>
  T* find(const char* name) const {
    T* found = form->findChild<T*>(name);
    if (!found) qFatal("no control %s", name);
    return found;
  }
  QList<TChildForm*> windows() const { return form->portWindows(); }
  bool allIdle() const {
    for (auto* w : windows())
      if (!w->idle()) return false;
    return true;
  }
  // The day's CSV test log, header first; empty when none was written.
  QStringList logLines() const {
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("Test_Log_", 0) == 0) {
        QStringList lines = QString::fromStdString(folder.read(name)).split("\r\n");
        lines.removeAll(QString());
        return lines;
      }
    }
    return {};
  }
};

QString memoOf(TChildForm* w) { return w->findChild<QPlainTextEdit*>("MemoShow")->toPlainText(); }
QProgressBar* gaugeOf(TChildForm* w) { return w->findChild<QProgressBar*>("CGauge1"); }
QVector<CnrChart::Bar> barsOf(TChildForm* w) { return w->findChild<CnrChart*>("ChartCNR")->bars(); }
bool showsPicture(TChildForm* w) {
  return !w->findChild<QLabel*>("ImgResult")->pixmap().isNull();
}

QVector<CnrChart::Bar> placeholderBars() {
  QVector<CnrChart::Bar> bars;
  for (int i = 1; i <= 14; ++i) bars.append({QString::number(i), 55.0});
  return bars;
}

// The controls that the main window lock disables, as far as they can be seen: a hidden entry
// (NMEA Baudrate; the Test menu until Show/Hide Setting shows it) always reads as disabled.
QList<bool> lockableEnabled(const GuiStation& s) {
  if (!s.find<QMenu>("MenuTest")->menuAction()->isVisible()) s.form->MenuVisibleTestClick();
  return {s.find("MenuDA")->isEnabled(),
          s.find("MenuROM")->isEnabled(),
          s.find("MenuStart")->isEnabled(),
          s.find<QMenu>("MenuCOM")->menuAction()->isEnabled(),
          s.find<QMenu>("MenuUpdateBaud")->menuAction()->isEnabled(),
          s.find<QMenu>("MenuTest")->menuAction()->isEnabled(),
          s.find<QToolButton>("BtnDA")->isEnabled(),
          s.find<QToolButton>("BtnROM")->isEnabled(),
          s.find<QToolButton>("BtnConnect")->isEnabled()};
}
const QList<bool> AllEnabled(9, true);
const QList<bool> AllDisabled(9, false);

// Writes a Download Agent, layout and image whose version is `version` into folder/firmware.
void writeFirmware(const TempFolder& folder, const std::string& version, int imageBytes) {
  const std::string command = std::string(QUENBY_MKDEMO_PATH) + " --out '" +
                              (folder / "firmware").string() + "' --image-size " +
                              std::to_string(imageBytes) + " --version '" + version +
                              "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) qFatal("quenby-mkdemo failed");
  fs::copy_file(folder / "firmware" / "scat.txt", folder / "scat.txt");
}

std::string firmwarePaths(const TempFolder& folder) {
  return "FlashDownload_DA_Path=" + (folder / "firmware" / "demo.da").string() + "\n" +
         "FlashDownload_ROM_Path=" + (folder / "firmware" / "demo.bin").string() + "\n";
}

constexpr int RunLimitMs = 60000;

// Every port's download has reached the image (the gauge turned blue and moved).
bool imagePhaseOnEveryPort(const GuiStation& s) {
  for (auto* w : s.windows())
    if (gaugeOf(w)->palette().color(QPalette::Highlight) != QColor(0, 0, 255) ||
        gaugeOf(w)->value() == 0)
      return false;
  return !s.windows().empty();
}

}  // namespace

class StationTest : public QObject {
  Q_OBJECT

 private slots:
  void startsAsDesigned() {
    GuiStation s("");
    QCOMPARE(s.form->windowTitle(), QString("Quenby v1.0.0 [for Customer]"));
    QCOMPARE(s.form->size(), QSize(641, 648));
    struct Entry {
      const char* name;
      bool visible;
    };
    for (const Entry& e : {Entry{"MenuDA", true}, {"MenuROM", true}, {"MenuLoadProfile", false},
                           {"MenuSaveProfile", false}, {"MenuStart", true}, {"MenuDL", true},
                           {"MenuStop", true}, {"TestSkipDL1", false}, {"MenuTestSuggest", true},
                           {"MenuTestExtra", false}, {"MenuVisibleTest", false}, {"MenuAbout", true},
                           {"MenuTestEntry", false}, {"MenuWndEntry", false},
                           {"MenuNMEABaudEntry", false}, {"MenuUpdateBaudEntry", true}})
      QVERIFY2(s.find(e.name)->isVisible() == e.visible, e.name);
    QCOMPARE(s.find("MenuDL")->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(s.find("MenuStop")->shortcut(), QKeySequence(Qt::Key_F5));
    QVERIFY(!s.find<QToolButton>("BtnClean")->isVisible());

    auto checked = [&](const char* menu) {
      QStringList on;
      for (QAction* a : s.find<QMenu>(menu)->actions())
        if (a->isChecked()) on << a->text();
      return on;
    };
    QCOMPARE(checked("MenuUpdateBaud"), QStringList{"115200"});
    QCOMPARE(checked("MenuNMEABaud"), QStringList{"38400"});
    QCOMPARE(checked("MenuSeries"), QStringList{"3329"});
    QStringList panels;
    for (QLabel* panel : s.form->StatusPanels) panels << panel->text();
    QCOMPARE(panels, (QStringList{"DA", "DA_File", "ROM", "ROM_File"}));
    QCOMPARE(lockableEnabled(s), AllEnabled);
  }

  void statusPanelsShareTheWidth() {
    for (auto [width, expected] : {std::pair{641, 280}, {80, 0}, {81, 0}, {82, 1}})
      QCOMPARE(TMainForm::pathPanelWidth(width), expected);
    GuiStation s("");
    s.form->resize(900, 600);
    QCOMPARE(s.form->StatusPanels[1]->maximumWidth(), 410);
    QCOMPARE(s.form->StatusPanels[3]->maximumWidth(), 410);
  }

  void commandsAnswerWithTheirMessages() {
    GuiStation s("[System]\nComSelect=\n");
    s.form->MenuStartClick();
    s.form->MenuDLClick();
    s.form->TestSkipDL1Click();
    s.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(s.form.get()));
    QTest::keyClick(s.form.get(), Qt::Key_F9);  // the hidden entry's shortcut still acts
    s.fake->enumerateResult = EnumerateNone;
    s.form->MenuComportClick();
    s.fake->enumerateResult = 7;
    s.form->MenuComportClick();
    QCOMPARE(s.messages, (QStringList{"Please select COM port first", "Please press \"Connect\" first",
                                      "Please press \"Connect\" first", "Please press \"Connect\" first",
                                      "No COM port detected!!", "Enumerate COM port fail"}));
  }

  void downloadChecksTheFilesOnlyWhenEnabled() {
    GuiStation s("[System]\nComSelect=1,\nEnable_Test=1\n");
    s.form->MenuStartClick();
    s.fake->daCheckResult = 1;
    s.basic->present();  // fills "Download Enable" from Flash Download
    s.basic->BtnCancelClick();
    s.form->MenuDLClick();
    s.fake->daCheckResult = 0;
    s.fake->imageCheckResult = 1;
    s.form->MenuDLClick();
    QCOMPARE(s.messages, (QStringList{"DA Error!", "Image Error!"}));
    QVERIFY(!s.windows().front()->hasWorker());

    s.basic->present();
    s.basic->findChild<QCheckBox*>("ChkDownload")->setChecked(false);
    s.basic->BtnCancelClick();
    s.form->MenuDLClick();  // unticked: no check, the run starts
    QCOMPARE(s.messages.size(), 2);
    QVERIFY(s.windows().front()->hasWorker());
  }

  void testSkipDownloadLeavesTheDownloadFilesAlone() {
    GuiStation s("[System]\nComSelect=1,\nEnable_Test=1\n");
    s.form->MenuStartClick();
    s.basic->present();  // "Download Enable" ticked from Flash Download
    s.basic->BtnCancelClick();
    s.fake->daCheckResult = 1;
    s.fake->imageCheckResult = 1;
    s.form->TestSkipDL1Click();
    QCOMPARE(s.messages, QStringList());
    QVERIFY(s.windows().front()->hasWorker());
  }

  void connectCreatesWindowsLastChosenFirst() {
    GuiStation s("[System]\nComSelect=5,3,\n");
    s.form->MenuStartClick();
    const auto windows = s.windows();
    QCOMPARE(windows.size(), 2);
    QCOMPARE(windows[0]->windowTitle(), QString("COM 5"));  // on top and active
    QCOMPARE(s.form->mdiArea()->activeSubWindow(), windows[0]);
    QCOMPARE(windows[1]->windowTitle(), QString("COM 3"));
    for (auto* w : windows) {
      QCOMPARE(barsOf(w), placeholderBars());
      QVERIFY(!w->hasWorker());
    }
    // Connect again: fresh windows in place of the old ones.
    s.form->MenuStartClick();
    QCOMPARE(s.windows().size(), 2);
    QVERIFY(!s.windows().contains(windows[0]));
  }

  void atMostSixteenPortsAreChosen() {
    GuiStation s("[System]\nComSelect=\n");
    s.fake->ports.clear();
    for (std::uint16_t p = 1; p <= 20; ++p) s.fake->ports.push_back(p);
    auto entries = [&] {
      s.form->MenuComportClick();
      QList<QAction*> ports;
      for (QAction* a : s.find<QMenu>("MenuCOM")->actions())
        if (a->isCheckable()) ports << a;
      return ports;
    };
    auto chosen = [&] {
      QList<int> ports;
      for (auto p : s.form->control().state().chosenPorts) ports << p;
      return ports;
    };
    auto range = [](int from, int to) {
      QList<int> r;
      for (int p = from; p <= to; ++p) r << p;
      return r;
    };
    for (int p = 2; p <= 18; ++p) entries()[p - 1]->trigger();  // the 17th (port 18) is dropped
    QCOMPARE(chosen(), range(2, 17));
    QVERIFY(!entries()[17]->isChecked());
    entries()[0]->trigger();  // an earlier entry pushes the last chosen port out
    QCOMPARE(chosen(), range(1, 16));
    entries()[0]->trigger();
    s.find<QAction>("CancelAll")->trigger();
    QVERIFY(chosen().isEmpty());
    QVERIFY(!s.find<QToolButton>("BtnConnect")->isEnabled());
    s.find<QAction>("SelectAll")->trigger();
    QCOMPARE(chosen(), range(1, 16));
    QVERIFY(s.find<QToolButton>("BtnConnect")->isEnabled());
  }

  void roundThroughDownloadOnSimulatedModules() {
    TempFolder firmware;
    const std::string version = "QNB-GUI_4.2,0001,QZ3329,SDK1.3";
    GuiStation s("", "1-4", "[default]\nchip_value=3072\nsatellites=6\n");
    writeFirmware(s.folder, version, 65536);
    s.closeWindows();
    s.folder.write("Torvane.ini", "[System]\nComSelect=1,2,3,4,\nBaudrate_Update=1\nEnable_Test=7\n"
                                  "[Basic]\n" + firmwarePaths(s.folder) + "Version_MTK=QNB-GUI_4.2\n"
                                  "Version_Customer=0001\nVersion_Product_Model=QZ3329\n"
                                  "Version_SDKver=SDK1.3\nAcqTime_Timeout=30\n");
    s.open();
    QCOMPARE(s.form->StatusPanels[1]->text(),
             QString::fromStdString((s.folder / "firmware" / "demo.da").string()));
    s.form->MenuStartClick();
    s.form->MenuDLClick();
    QTRY_COMPARE_WITH_TIMEOUT(lockableEnabled(s), AllDisabled, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(s.allIdle(), RunLimitMs);
    QTRY_COMPARE_WITH_TIMEOUT(lockableEnabled(s), AllEnabled, 10000);

    const QStringList log = s.logLines();
    QCOMPARE(log.size(), 1 + 4);
    for (auto* w : s.windows()) {
      QCOMPARE(w->findChild<QLabel*>("MTKVersion")->text(), QString::fromStdString(version));
      QCOMPARE(gaugeOf(w)->value(), 100);
      QCOMPARE(gaugeOf(w)->palette().color(QPalette::Highlight), QColor(0, 0, 255));
      QVERIFY(showsPicture(w));
      const auto bars = barsOf(w);
      QVERIFY(bars.size() >= 6);  // the sky, and the test satellite
      for (const auto& bar : bars) QVERIFY(bar.label.toInt() > 0 && bar.value >= 0);
      QVERIFY(memoOf(w).endsWith(QString(48, '*')));
      const QString port = w->windowTitle().remove(' ');
      const auto line = log.filter("," + port + ",");
      QCOMPARE(line.size(), 1);
      QCOMPARE(line.front().section(',', 1, 1), QString("Pass"));
    }
  }

  void stopHoldsNewRunsUntilTheStoppedRunsHaveEnded() {
    // Downloads on two ports, and a module that is slow to acquire on a third.
    GuiStation s("", "1-3", "[default]\nchip_value=3072\n[COM3]\nacq_delay=60000\n");
    writeFirmware(s.folder, "QNB-GUI_1.0", 512 << 10);
    s.closeWindows();
    s.folder.write("Torvane.ini", "[System]\nComSelect=1,2,\nBaudrate_Update=1\nEnable_Test=1\n"
                                  "[Basic]\n" + firmwarePaths(s.folder));
    s.open();
    s.form->MenuStartClick();
    s.form->MenuDLClick();
    QTRY_VERIFY_WITH_TIMEOUT(imagePhaseOnEveryPort(s), 20000);
    s.form->MenuStopClick();
    // Download at once: the stopped downloads still hold their ports, so nothing starts.
    s.form->MenuDLClick();
    QVERIFY(!s.find<QToolButton>("BtnDL")->isEnabled());
    QVERIFY(s.form->StatusStation->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(s.logLines().size(), 1 + 2, 10000);
    for (const QString& line : s.logLines().mid(1))
      QCOMPARE(line.section(',', 1, 1), QString("Fail(Abort)"));
    QTRY_COMPARE_WITH_TIMEOUT(lockableEnabled(s), AllEnabled, 10000);
    QVERIFY(s.find<QToolButton>("BtnDL")->isEnabled());
    QVERIFY(!s.form->StatusStation->isVisible());
    // The next Download is the operator's own: the same good modules pass.
    s.form->MenuDLClick();
    QTRY_VERIFY_WITH_TIMEOUT(!s.allIdle(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(s.allIdle() && s.logLines().size() == 1 + 4, RunLimitMs);
    for (const QString& line : s.logLines().mid(3)) QCOMPARE(line.section(',', 1, 1), QString("Pass"));

    s.form->control().state().chosenPorts.clear();
    s.form->control().state().chosenPorts.push(3);
    s.form->control().settings().enableTest = 4;
    QTRY_COMPARE_WITH_TIMEOUT(lockableEnabled(s), AllEnabled, 10000);  // the idle watch's unlock
    s.form->MenuStartClick();
    s.form->TestSkipDL1Click();
    QTRY_COMPARE_WITH_TIMEOUT(lockableEnabled(s), AllDisabled, 10000);
    s.form->MenuStopClick();
    QTRY_COMPARE_WITH_TIMEOUT(lockableEnabled(s), AllEnabled, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(s.logLines().size(), 1 + 5, 10000);
  }

  void closeDuringADownloadEndsEveryRunAsAborted() {
    for (const bool bySignal : {false, true}) {
      qInfo() << (bySignal ? "closed by SIGTERM" : "closed by its close box");
      GuiStation s("", "1-4", "[default]\nchip_value=3072\n");
      writeFirmware(s.folder, "QNB-GUI_1.0", 1 << 20);
      s.closeWindows();
      s.folder.write("Torvane.ini", "[System]\nComSelect=1,2,3,4,\nBaudrate_Update=4\n"
                                    "Enable_Test=3\n[Basic]\n" + firmwarePaths(s.folder));
      s.open();
      closeOnTerminationSignals(*s.form, [&s] { s.form->closeBySignal(); });
      s.form->MenuStartClick();
      s.form->MenuDLClick();
      QTRY_VERIFY_WITH_TIMEOUT(imagePhaseOnEveryPort(s), 20000);
      s.find<QMenu>("MenuNMEABaud")->actions()[5]->trigger();  // 9600, for the save
      if (bySignal) {
        ::kill(::getpid(), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!s.form->isVisible(), 15000);
      } else {
        s.form->close();
      }
      // Every worker ended within the exit wait: the downloads were aborted, not waited for.
      QCOMPARE(s.form->control().liveWorkers(), 0);
      QCOMPARE(s.form->exitStatus(), 0);
      QVERIFY(s.messages.isEmpty());
      QVERIFY(s.folder.read("Torvane.ini").find("Baudrate_NMEA=9600") != std::string::npos);
      const QStringList log = s.logLines();
      QCOMPARE(log.size(), 1 + 4);
      for (const QString& line : log.mid(1)) QCOMPARE(line.section(',', 1, 1), QString("Fail(Abort)"));
    }
  }

  void runsThatCannotBeLoggedNeverShowABarePass() {
    GuiStation s("[System]\nComSelect=1,2,\nEnable_Test=2\n", "1-2");
    const std::time_t now = std::time(nullptr);
    std::vector<fs::path> blocked;
    for (std::time_t day : {now, now + 24 * 3600}) {
      std::tm local{};
      localtime_r(&day, &local);
      blocked.push_back(s.folder / ("Test_Log_" + std::to_string(local.tm_year + 1900) + "." +
                                    std::to_string(local.tm_mon + 1) + "." +
                                    std::to_string(local.tm_mday) + ".csv"));
      fs::create_directories(blocked.back());
    }
    s.form->MenuStartClick();
    const auto bareCaptions = [&s] {
      QStringList captions;
      for (auto* w : s.windows()) captions << w->windowTitle();
      return captions;
    };
    const QStringList bare = bareCaptions();
    s.form->TestSkipDL1Click();
    QTRY_VERIFY_WITH_TIMEOUT(!s.allIdle(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(s.allIdle(), RunLimitMs);
    // Two ports, one episode: one message, naming the log; both captions say more than a pass.
    QCOMPARE(s.messages.size(), 1);
    QVERIFY(s.messages[0].contains(QString::fromStdString(blocked[0].string())));
    for (int i = 0; i < bare.size(); ++i) QVERIFY(bareCaptions()[i] != bare[i]);
    QVERIFY(s.form->StatusStation->isVisible());

    for (const auto& folder : blocked) fs::remove(folder);
    s.form->TestSkipDL1Click();
    QTRY_VERIFY_WITH_TIMEOUT(!s.allIdle(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(s.allIdle(), RunLimitMs);
    QCOMPARE(bareCaptions(), bare);
    QVERIFY(!s.form->StatusStation->isVisible());
    QCOMPARE(s.messages.size(), 1);
    QCOMPARE(s.logLines().size(), 1 + 2);
  }

  void closedWindowsStillLogTheirRuns() {
    GuiStation s("[System]\nComSelect=1,2,\nEnable_Test=4\n[Basic]\nAcqTime_Timeout=120\n", "1-2",
              "[default]\nacq_delay=60000\n");
    s.form->MenuStartClick();
    s.form->TestSkipDL1Click();
    QTRY_COMPARE_WITH_TIMEOUT(lockableEnabled(s), AllDisabled, 10000);
    s.windows()[0]->close();  // the operator closes one window mid-run
    QTRY_COMPARE_WITH_TIMEOUT(s.logLines().size(), 1 + 1, 10000);
    QCOMPARE(s.windows().size(), 1);
    s.form->MenuStartClick();  // Connect again while the other run goes on
    QTRY_COMPARE_WITH_TIMEOUT(s.logLines().size(), 1 + 2, 10000);
    QCOMPARE(s.windows().size(), 2);
    for (auto* w : s.windows()) QVERIFY(!w->hasWorker());
  }

  void dialogOkDuringARunLeavesTheRunItsItems() {
    // The run acquires (0x4); OK during the run asks for the version instead, with a text the
    // module would fail. The run keeps its own items and passes.
    GuiStation s("[System]\nComSelect=1,\nEnable_Test=4\n[Basic]\nVersion_MTK=NOT-THIS\n", "1",
              "[default]\nacq_delay=3000\n");
    s.form->MenuStartClick();
    s.basic->present();
    s.form->TestSkipDL1Click();
    QTRY_COMPARE_WITH_TIMEOUT(lockableEnabled(s), AllDisabled, 10000);  // the Test menu too
    s.basic->findChild<QCheckBox*>("ChkAcq")->setChecked(false);
    s.basic->findChild<QCheckBox*>("ChkVersion")->setChecked(true);
    s.basic->BtnOKClick();
    QCOMPARE(s.form->control().settings().enableTest & 0x6, 0x2);
    QTRY_VERIFY_WITH_TIMEOUT(s.allIdle() && s.logLines().size() == 2, RunLimitMs);
    QCOMPARE(s.logLines()[1].section(',', 1, 1), QString("Pass"));
  }

  void portWindowFollowsItsLayoutRule() {
    QMdiArea area;
    InlineBridge bridge;
    StationControl control(QDir::tempPath().toStdString(), nullptr, bridge);
    auto* w = new TChildForm(control);
    area.addSubWindow(w);
    area.resize(1200, 1000);
    area.show();
    auto geometry = [&](const char* name) { return w->findChild<QWidget*>(name)->geometry(); };
    struct Case {
      QSize size;
      QRect image, memo, chart;
      int serialWidth;
    };
    // b = min(H - 151, W); memo and chart share H - 151.
    const Case cases[] = {
        {{600, 500}, {25, 81, 174, 174}, {300, 81, 300, 174}, {0, 255, 600, 174}, 440},
        {{300, 700}, {25, 81, 150, 150}, {150, 81, 150, 274}, {0, 355, 300, 274}, 140},
        // The serial entry's edge: up to 160 wide it keeps 5, from 161 the width less 160.
        {{160, 500}, {25, 81, 80, 80}, {80, 81, 80, 174}, {0, 255, 160, 174}, 5},
        {{161, 500}, {25, 81, 80, 80}, {80, 81, 80, 174}, {0, 255, 161, 174}, 1},
    };
    for (const Case& c : cases) {
      w->resize(c.size);
      QCOMPARE(geometry("ImgResult"), c.image);
      QCOMPARE(geometry("MemoShow"), c.memo);
      QCOMPARE(geometry("ChartCNR"), c.chart);
      QCOMPARE(geometry("LabeledEditSerial").width(), c.serialWidth);
    }
    w->resize(150, 700);  // 160 wide or less: the entry keeps 5
    QCOMPARE(geometry("LabeledEditSerial").width(), 5);
    const QRect memo = geometry("MemoShow");
    w->resize(300, 140);  // nothing left under the strip: the layout stays
    QCOMPARE(geometry("MemoShow"), memo);
  }

  void portWindowShowsWhatTheWorkerHandsIt() {
    InlineBridge bridge;
    StationControl control(QDir::tempPath().toStdString(), nullptr, bridge);
    TChildForm w(control);
    w.setPortNumber(7);
    w.seedChart();
    w.appendLine("first run");
    w.setGaugeColorAndProgress(GaugeRed, 40);
    QCOMPARE(gaugeOf(&w)->palette().color(QPalette::Highlight), QColor(255, 0, 0));
    w.showFirmwareVersion("V1");
    w.showVerdict(false);
    w.resetForRun();
    QCOMPARE(w.windowTitle(), QString("COM 7"));
    QCOMPARE(gaugeOf(&w)->value(), 0);
    QCOMPARE(gaugeOf(&w)->palette().color(QPalette::Highlight), QColor(255, 0, 0));
    QVERIFY(barsOf(&w).isEmpty());
    QVERIFY(!showsPicture(&w));
    QCOMPARE(w.findChild<QLabel*>("MTKVersion")->text(), QString());
    SatelliteTable table{};
    table[0] = {12, 41};
    table[4] = {3, 38};
    table[8] = {27, 45};
    w.showSatellites(table);
    QCOMPARE(barsOf(&w), (QVector<CnrChart::Bar>{{"12", 41}, {"3", 38}, {"27", 45}}));
    // A faster module's tables arrive quicker than the chart refreshes: the newest one shows.
    table[4] = {};
    table[0].snr = 40;
    w.showSatellites(table);
    table[0].snr = 39;
    w.showSatellites(table);
    QTRY_COMPARE_WITH_TIMEOUT(barsOf(&w), (QVector<CnrChart::Bar>{{"12", 39}, {"27", 45}}), 10000);
    w.appendLine("second run");
    QCOMPARE(memoOf(&w), QString("first run\nsecond run"));
  }

  void serialNumberEnterMovesToTheNextWindow() {
    GuiStation s("[System]\nComSelect=1,2,3,\n");
    s.form->MenuStartClick();
    auto windows = s.windows();  // COM 1, COM 2, COM 3 from the top
    windows[0]->serialEntry()->setText("SN-0001");
    windows[1]->serialEntry()->setText("left over");
    windows[0]->LabeledEditSerialKeyDown(Qt::Key_Return);
    QCOMPARE(windows[0]->serialNumberText(), std::string("SN-0001"));
    QCOMPARE(s.form->mdiArea()->activeSubWindow(), windows[1]);
    QCOMPARE(windows[1]->serialEntry()->text(), QString());
    windows[1]->LabeledEditSerialKeyDown(Qt::Key_Return);
    windows[2]->LabeledEditSerialKeyDown(Qt::Key_Return);
    QCOMPARE(s.form->mdiArea()->activeSubWindow(), windows[0]);  // round the three
  }

  void serialNumbersScannedOnALineGoIntoTheirRunsLines() {
    GuiStation s("[System]\nComSelect=1,2,3,4,\nEnable_Test=2\n[Line]\nSerial_Entry=1\n", "1-4");
    s.form->MenuStartClick();
    const auto windows = s.windows();  // COM 1 to COM 4 from the top
    for (auto* w : windows) QVERIFY(w->serialEntry()->isVisible());
    // A scanner types each number and Enter into the active window's entry; COM 4's module
    // has no label, and its run is logged without a number.
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(s.form->mdiArea()->activeSubWindow(), windows[i]);
      QTest::keyClicks(windows[i]->serialEntry(), QString("SN-%1").arg(i + 1));
      QTest::keyClick(windows[i]->serialEntry(), Qt::Key_Return);
    }
    s.form->TestSkipDL1Click();
    // While the ports run, no entry takes a number.
    QTRY_VERIFY_WITH_TIMEOUT(std::none_of(windows.begin(), windows.end(),
                                          [](TChildForm* w) { return w->serialEntry()->isEnabled(); }),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(s.allIdle(), RunLimitMs);

    QStringList logged;
    for (const QString& line : s.logLines().mid(1))
      logged << line.section(',', 4, 4) + "=" + line.section(',', 0, 0);
    logged.sort();
    QCOMPARE(logged, (QStringList{"COM1=SN-1", "COM2=SN-2", "COM3=SN-3", "COM4="}));
    // Each number belonged to its run; the next round begins at the first port's entry.
    for (auto* w : windows) QCOMPARE(w->serialNumberText(), std::string());
    QTRY_VERIFY_WITH_TIMEOUT(windows[0]->serialEntry()->hasFocus(), 10000);
    QVERIFY(windows[0]->serialEntry()->isEnabled());
  }

  void engineerViewShowsEveryHiddenEntry() {
    GuiStation s("");
    const char* hidden[] = {"MenuLoadProfile", "MenuSaveProfile", "TestSkipDL1", "MenuTestExtra",
                            "MenuVisibleTest", "MenuTestEntry", "MenuWndEntry",
                            "MenuNMEABaudEntry"};
    for (const char* name : hidden) QVERIFY2(!s.find(name)->isVisible(), name);
    s.form->showEngineerView();
    for (const char* name : hidden) QVERIFY2(s.find(name)->isVisible(), name);
    QCOMPARE(s.form->windowTitle(), QString("Quenby v1.0.0 [Engineer]"));
  }

  void aboutBoxIsOneInstanceShownAgain() {
    GuiStation s("");
    s.form->MenuAboutClick();
    QVERIFY(s.about->isVisible() && !s.about->isModal());
    s.about->close();
    QVERIFY(!s.about->isVisible());
    s.form->MenuAboutClick();
    QVERIFY(s.about->isVisible());
    QCOMPARE(s.about->findChild<QLabel*>("Label22")->text(),
             QString("Version 1.0.0 [Beta Version]"));
  }

  void closeSavesTheSettingsLast() {
    GuiStation s("");
    s.find<QMenu>("MenuNMEABaud")->actions()[5]->trigger();  // 9600
    s.form->close();
    QVERIFY(s.folder.read("Torvane.ini").find("Baudrate_NMEA=9600") != std::string::npos);

    GuiStation readOnly("[System]\nBaudrate_NMEA=4800\n");
    fs::permissions(readOnly.folder / "Torvane.ini", fs::perms::owner_read);
    readOnly.form->close();
    QCOMPARE(readOnly.messages,
             QStringList{"Unable to write to " +
                         QString::fromStdString((readOnly.folder / "Torvane.ini").string())});
    QVERIFY(!readOnly.form->isVisible());
    QCOMPARE(readOnly.form->exitStatus(), 1);

    // Closed by a signal (a logout, a service stop), nobody is there to click: no box.
    GuiStation bySignal("[System]\nBaudrate_NMEA=4800\n");
    fs::permissions(bySignal.folder / "Torvane.ini", fs::perms::owner_read);
    closeOnTerminationSignals(*bySignal.form, [&bySignal] { bySignal.form->closeBySignal(); });
    ::kill(::getpid(), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!bySignal.form->isVisible(), 10000);
    QVERIFY(bySignal.messages.isEmpty());
    QCOMPARE(bySignal.form->exitStatus(), 1);
  }

  void fileDialogsOpenWhereTheFilesInUseAre() {
    TempFolder firmware, elsewhere;
    const auto folderOf = [](const fs::path& p) { return QString::fromStdString(p.string()); };
    GuiStation s("[Basic]\nFlashDownload_DA_Path=" + (firmware / "da" / "agent").string() +
                 "\nFlashDownload_ROM_Path=" + (elsewhere / "rom.bin").string() + "\n");
    const QString newAgent = folderOf(elsewhere / "agents" / "new-agent");
    const QString profile = folderOf(elsewhere / "line-b.ini");
    firmware.write("line-c.ini", "[System]\n");
    s.choices << newAgent << QString() << QString() << QString() << profile
              << folderOf(firmware / "line-c.ini") << QString();
    s.form->MenuDAClick();                      // chooses a new agent
    s.form->MenuDAClick();                      // opens where that one is
    s.form->MenuROMClick();
    s.find("MenuLoadProfile")->trigger();       // no profile yet: the station's folder
    s.find("MenuSaveProfile")->trigger();       // saves line-b.ini
    s.find("MenuLoadProfile")->trigger();       // loads line-c.ini
    s.find("MenuSaveProfile")->trigger();
    QStringList folders;
    for (const auto& choice : s.asked) folders << choice.folder;
    QCOMPARE(folders, (QStringList{folderOf(firmware / "da"), folderOf(elsewhere / "agents"),
                                   folderOf(elsewhere.path()), folderOf(s.folder.path()),
                                   folderOf(s.folder.path()), folderOf(elsewhere.path()),
                                   folderOf(firmware.path())}));
    // The Download Agent's filter lets a file without an extension through.
    const QStringList patterns = s.asked.front().filter.section('(', 1).section(')', 0, 0).split(' ');
    QVERIFY(QDir::match(patterns, "agent") && QDir::match(patterns, "demo.da"));
  }

  void profilesRoundTrip() {
    GuiStation s("");
    const QString profile = QString::fromStdString((s.folder / "line-b.ini").string());
    s.find("MT3318")->trigger();
    s.choices << profile;
    s.find("MenuSaveProfile")->trigger();
    s.find("MT3329")->trigger();
    s.choices << profile;
    s.find("MenuLoadProfile")->trigger();
    QCOMPARE(s.form->control().settings().versionSeries, 3318);
    QVERIFY(s.find("MT3318")->isChecked() && !s.find("MT3329")->isChecked());

    s.folder.write("bad.ini", "[Extra]\nBT_Mac=0011223344GG\n");
    s.choices << QString::fromStdString((s.folder / "bad.ini").string());
    s.find("MenuLoadProfile")->trigger();  // stops at the bad pair; the program goes on
    QCOMPARE(s.messages, (QStringList{profile + " Save!!", profile + " Load!!",
                                      "'0xGG' is not a valid integer value"}));
  }

  void settingsNoticesShowInOneBoxAfterTheLoad() {
    // Saved with a byte-order mark, a port named twice, a port that is none, two numbers out of
    // range: the first section is read, and one box names the rest.
    GuiStation s("\xEF\xBB\xBF[System]\nComSelect=3,3,x,\nEnable_Test=4\n"
                 "[Basic]\nSignal_Timeout=-5\nSVid=40\n");
    QCOMPARE(s.messages,
             QStringList{"ComSelect=3,3,x,: left out x (not a port number from 1 to 65535); 3 (named before)\n"
                         "SVid=40 is out of range (1 to 32); the default 29 is used\n"
                         "Signal_Timeout=-5 is out of range (1 to 86400 s); the default 20 is used"});
    QCOMPARE(std::vector<std::uint16_t>(s.form->control().state().chosenPorts.begin(),
                                        s.form->control().state().chosenPorts.end()),
             std::vector<std::uint16_t>{3});
    QCOMPARE(s.form->control().settings().enableTest, 4);

    // A profile that is there but cannot be read is named before its " Load!!"; a load stopped
    // by a bad Bluetooth address still tells what it met before.
    s.messages.clear();
    const QString folderProfile = QString::fromStdString((s.folder / "folder.ini").string());
    fs::create_directory(s.folder / "folder.ini");
    s.folder.write("bad.ini", "[Basic]\nSVid=0\n[Extra]\nBT_Mac=0011223344GG\n");
    s.choices << folderProfile << QString::fromStdString((s.folder / "bad.ini").string());
    s.find("MenuLoadProfile")->trigger();
    s.find("MenuLoadProfile")->trigger();
    QCOMPARE(s.messages,
             (QStringList{"Cannot read the settings file '" + folderProfile +
                              "': Is a directory; the defaults are used",
                          folderProfile + " Load!!",
                          "SVid=0 is out of range (1 to 32); the default 29 is used",
                          "'0xGG' is not a valid integer value"}));
  }
};

QTEST_MAIN(StationTest)
#include "station_test.moc"
