// The main window's menus, toolbar, status bar and timers, as the window design lays them out.
#include <QActionGroup>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "ui/application.h"
#include "ui/main_form.h"

namespace quenby::ui {
namespace {

constexpr int TimerPeriodMs = 1000;
constexpr QSize ToolButtonSize(86, 36);

struct BaudEntry {
  const char* caption;
  int tag;
};

// Update Baudrate: the tag is the download speed's index.
constexpr BaudEntry UpdateBaudEntries[] = {
    {"921600", 1}, {"460800", 2}, {"230400", 3}, {"115200", 4}, {"57600", 5},
    {"38400", 6},  {"19200", 7},  {"14400", 8},  {"9600", 9},   {"4800", 10},
};
constexpr int UpdateBaudInitiallyChecked = 4;

// NMEA Baudrate: the tag is the baud rate itself.
constexpr int NmeaBaudEntries[] = {115200, 57600, 38400, 19200, 14400, 9600, 4800};
constexpr int NmeaBaudInitiallyChecked = 38400;

QAction* makeAction(QObject* parent, const char* name, const QString& caption) {
  auto* action = new QAction(caption, parent);
  action->setObjectName(name);
  return action;
}

QMenu* makeMenu(QWidget* parent, const char* name, const QString& caption) {
  auto* menu = new QMenu(caption, parent);
  menu->setObjectName(name);
  menu->menuAction()->setObjectName(QString(name) + "Entry");
  return menu;
}

}  // namespace

void TMainForm::createActions() {
  MenuDA = makeAction(this, "MenuDA", "Download Agent");
  MenuROM = makeAction(this, "MenuROM", "ROM");
  MenuLoadProfile = makeAction(this, "MenuLoadProfile", "Load Profile");
  MenuSaveProfile = makeAction(this, "MenuSaveProfile", "Save Profile");
  MenuStart = makeAction(this, "MenuStart", "Connect");
  MenuDL = makeAction(this, "MenuDL", "Download");
  MenuStop = makeAction(this, "MenuStop", "Stop");
  TestSkipDL1 = makeAction(this, "TestSkipDL1", "Test (Skip DL)");
  MenuTestSuggest = makeAction(this, "MenuTestSuggest", "Basic Test");
  MenuTestExtra = makeAction(this, "MenuTestExtra", "Extra Test");
  MenuVertical = makeAction(this, "MenuVertical", "Vertical");
  MenuHorizontal = makeAction(this, "MenuHorizontal", "Horizontal");
  MenuCascade = makeAction(this, "MenuCascade", "Cascade");
  MenuVisibleTest = makeAction(this, "MenuVisibleTest", "Show/Hide Setting");
  MenuAbout = makeAction(this, "MenuAbout", "About");

  MenuDL->setShortcut(Qt::Key_F1);
  MenuStop->setShortcut(Qt::Key_F5);
  MenuLoadProfile->setVisible(false);
  MenuSaveProfile->setVisible(false);
  TestSkipDL1->setVisible(false);
  MenuTestExtra->setVisible(false);
  MenuVisibleTest->setVisible(false);

  // A hidden entry's shortcut is inactive in Qt, so the window itself carries F9 for the hidden
  // "Test (Skip DL)" (F1 and F5 belong to entries that are always shown).
  auto* skipKey = new QShortcut(QKeySequence(Qt::Key_F9), this);
  skipKey->setObjectName("TestSkipDL1Shortcut");
  connect(skipKey, &QShortcut::activated, this, guarded([this] { TestSkipDL1Click(); }));

  const std::pair<QAction*, void (TMainForm::*)()> handlers[] = {
      {MenuDA, &TMainForm::MenuDAClick},
      {MenuROM, &TMainForm::MenuROMClick},
      {MenuLoadProfile, &TMainForm::MenuLoadProfileClick},
      {MenuSaveProfile, &TMainForm::MenuSaveProfileClick},
      {MenuStart, &TMainForm::MenuStartClick},
      {MenuDL, &TMainForm::MenuDLClick},
      {MenuStop, &TMainForm::MenuStopClick},
      {TestSkipDL1, &TMainForm::TestSkipDL1Click},
      {MenuTestSuggest, &TMainForm::MenuTestSuggestClick},
      {MenuTestExtra, &TMainForm::MenuTestExtraClick},
      {MenuVertical, &TMainForm::MenuVerticalClick},
      {MenuHorizontal, &TMainForm::MenuHorizontalClick},
      {MenuCascade, &TMainForm::MenuCascadeClick},
      {MenuVisibleTest, &TMainForm::MenuVisibleTestClick},
      {MenuAbout, &TMainForm::MenuAboutClick},
  };
  for (const auto& [action, handler] : handlers)
    connect(action, &QAction::triggered, this, guarded([this, handler](bool) { (this->*handler)(); }));
}

void TMainForm::createMenus() {
  QMenuBar* bar = menuBar();

  MenuFile = makeMenu(this, "MenuFile", "File");
  MenuFile->addAction(MenuDA);
  MenuFile->addAction(MenuROM);
  MenuFile->addSeparator();
  MenuFile->addAction(MenuLoadProfile);
  MenuFile->addAction(MenuSaveProfile);
  bar->addMenu(MenuFile);

  MenuAction = makeMenu(this, "MenuAction", "Action");
  MenuAction->addAction(MenuStart);
  MenuAction->addAction(MenuDL);
  MenuAction->addAction(MenuStop);
  MenuAction->addAction(TestSkipDL1);
  bar->addMenu(MenuAction);

  MenuTest = makeMenu(this, "MenuTest", "Test");
  MenuTest->addAction(MenuTestSuggest);
  MenuTest->addAction(MenuTestExtra);
  bar->addMenu(MenuTest);
  MenuTest->menuAction()->setVisible(false);

  MenuComport = makeMenu(this, "MenuComport", "ComPort");
  MenuCOM = makeMenu(MenuComport, "MenuCOM", "COM");
  MenuComport->addMenu(MenuCOM);
  MenuUpdateBaud = makeMenu(MenuComport, "MenuUpdateBaud", "Update Baudrate");
  MenuComport->addMenu(MenuUpdateBaud);
  MenuNMEABaud = makeMenu(MenuComport, "MenuNMEABaud", "NMEA Baudrate");
  MenuComport->addMenu(MenuNMEABaud);
  MenuNMEABaud->menuAction()->setVisible(false);
  bar->addMenu(MenuComport);
  connect(MenuComport, &QMenu::aboutToShow, this, guarded([this] { MenuComportClick(); }));

  for (const auto& entry : UpdateBaudEntries) {
    QAction* action = MenuUpdateBaud->addAction(entry.caption);
    action->setData(entry.tag);
    action->setCheckable(true);
    action->setChecked(entry.tag == UpdateBaudInitiallyChecked);
  }
  connect(MenuUpdateBaud, &QMenu::triggered, this,
          guarded([this](QAction* a) { ChangeUpdateBaudrate(a); }));
  for (int baud : NmeaBaudEntries) {
    QAction* action = MenuNMEABaud->addAction(QString::number(baud));
    action->setData(baud);
    action->setCheckable(true);
    action->setChecked(baud == NmeaBaudInitiallyChecked);
  }
  connect(MenuNMEABaud, &QMenu::triggered, this,
          guarded([this](QAction* a) { ChangeNMEABaudrate(a); }));

  MenuWnd = makeMenu(this, "MenuWnd", "Window");
  MenuWnd->addAction(MenuVertical);
  MenuWnd->addAction(MenuHorizontal);
  MenuWnd->addAction(MenuCascade);
  bar->addMenu(MenuWnd);
  MenuWnd->menuAction()->setVisible(false);
  connect(MenuWnd, &QMenu::aboutToShow, this, guarded([this] { MenuWndClick(); }));

  MenuOption = makeMenu(this, "MenuOption", "Option");
  MenuOption->addAction(MenuVisibleTest);
  MenuSeries = makeMenu(MenuOption, "MenuSeries", "Series");
  MenuOption->addMenu(MenuSeries);
  MT3329 = makeAction(MenuSeries, "MT3329", "3329");
  MT3329->setData(3329);
  MT3318 = makeAction(MenuSeries, "MT3318", "3318");
  MT3318->setData(3318);
  for (QAction* a : {MT3329, MT3318}) {
    a->setCheckable(true);
    MenuSeries->addAction(a);
  }
  MT3329->setChecked(true);
  connect(MenuSeries, &QMenu::triggered, this, guarded([this](QAction* a) { ChangeSeries(a); }));
  bar->addMenu(MenuOption);

  bar->addAction(MenuAbout);
}

void TMainForm::createToolBar() {
  auto* toolbar = addToolBar("Toolbar");
  toolbar->setObjectName("ToolBar1");
  toolbar->setMovable(false);
  toolbar->setFloatable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolbar->setIconSize(QSize(20, 20));
  // "Download Agent" fits the 86-pixel button in a slightly smaller face.
  QFont buttonFont = toolbar->font();
  buttonFont.setPixelSize(10);

  auto button = [&](const char* name, const QString& caption, const char* picture,
                    void (TMainForm::*handler)()) {
    auto* b = new QToolButton(toolbar);
    b->setObjectName(name);
    b->setText(caption);
    b->setIcon(QIcon(QString(":/images/") + picture));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);  // flat
    b->setFont(buttonFont);
    b->setFixedSize(ToolButtonSize);
    connect(b, &QToolButton::clicked, this, guarded([this, handler](bool) { (this->*handler)(); }));
    return b;
  };
  BtnDA = button("BtnDA", "Download Agent", "da.png", &TMainForm::MenuDAClick);
  BtnROM = button("BtnROM", "ROM", "rom.png", &TMainForm::MenuROMClick);
  BtnConnect = button("BtnConnect", "Connect", "connect.png", &TMainForm::MenuStartClick);
  BtnDL = button("BtnDL", "Download", "download.png", &TMainForm::MenuDLClick);
  BtnStop = button("BtnStop", "Stop", "stop.png", &TMainForm::MenuStopClick);
  BtnClean = button("BtnClean", "Clean", "clean.png", &TMainForm::BtnCleanClick);
  BtnAbout = button("BtnAbout", "About", "about.png", &TMainForm::MenuAboutClick);

  toolbar->addWidget(BtnDA);
  toolbar->addWidget(BtnROM);
  toolbar->addSeparator();
  toolbar->addWidget(BtnConnect);
  toolbar->addWidget(BtnDL);
  toolbar->addWidget(BtnStop);
  toolbar->addSeparator();
  BtnCleanAction = toolbar->addWidget(BtnClean);
  BtnCleanAction->setVisible(false);
  toolbar->addWidget(BtnAbout);
}

void TMainForm::createStatusBar() {
  auto* bar = new QStatusBar(this);
  bar->setObjectName("StatusBar1");
  bar->setSizeGripEnabled(false);
  setStatusBar(bar);
  const struct {
    const char* text;
    int width;  // 0: set by FormResize
    bool centred;
  } panels[] = {{"DA", 35, true}, {"DA_File", 0, false}, {"ROM", 45, true}, {"ROM_File", 0, false}};
  for (int i = 0; i < 4; ++i) {
    auto* label = new QLabel(panels[i].text, bar);
    label->setObjectName(QString("StatusPanel%1").arg(i));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    if (panels[i].centred) label->setAlignment(Qt::AlignCenter);
    if (panels[i].width > 0) {
      label->setFixedWidth(panels[i].width);
      bar->addWidget(label);
    } else {
      label->setMinimumWidth(0);
      label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
      bar->addWidget(label, 1);
    }
    StatusPanels[i] = label;
  }
  StatusStation = new QLabel(bar);
  StatusStation->setObjectName("StatusStation");
  QFont bold = StatusStation->font();
  bold.setBold(true);
  StatusStation->setFont(bold);
  StatusStation->setStyleSheet("color: #c00000");
  StatusStation->hide();
  bar->addPermanentWidget(StatusStation);
}

void TMainForm::createTimers() {
  TimerTimeOut = new QTimer(this);
  TimerTimeOut->setObjectName("TimerTimeOut");
  TimerTimeOut->setInterval(TimerPeriodMs);
  connect(TimerTimeOut, &QTimer::timeout, this, guarded([this] { TimerTimeOutTimer(); }));
  TimerDL = new QTimer(this);
  TimerDL->setObjectName("TimerDL");
  TimerDL->setInterval(TimerPeriodMs);
  connect(TimerDL, &QTimer::timeout, this, guarded([this] { TimerDLTimer(); }));
  TimerTimeOut->start();
  TimerDL->start();
}

}  // namespace quenby::ui
