// quenby-screenshots DIR: the station as an operator sees it, captured into PNG files for review.
// Runs the real windows in the program's folder (its Torvane.ini and ports/, e.g. the simulated
// modules of scripts/screenshots.sh): Connect (DIR/station-connect.png), Download, waits for the
// round to end on every port, then writes DIR/station.png, DIR/about.png and the settings
// dialogs' pictures.
#include <QDeadlineTimer>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QProgressBar>
#include <cstdio>

#include "brom/brom_library.h"
#include "engine/program_folder.h"
#include "tools/screenshots/dialog_shots.h"
#include "ui/about_form.h"
#include "ui/basic_test_dialog.h"
#include "ui/extra_test_dialog.h"
#include "ui/application.h"
#include "ui/child_form.h"
#include "ui/main_form.h"
#include "ui/message_box.h"

namespace {

bool waitFor(const std::function<bool()>& done, int seconds) {
  QDeadlineTimer deadline(seconds * 1000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

bool save(QWidget& w, const QString& file) {
  if (w.grab().save(file)) return true;
  std::fprintf(stderr, "quenby-screenshots: cannot write %s\n", qPrintable(file));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  quenby::ui::QuenbyApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: quenby-screenshots DIR\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(dir);
  quenby::ui::setMessageSink([](const QString& text) {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  });

  quenby::brom::BromLibrary library(quenby::defaultPortsFolder());
  quenby::ui::TMainForm form(quenby::programFolder(), &library);
  quenby::ui::TAboutForm about(&form);
  TFormSuggest basicTest(form.control().settings(), form.control().state(), &form);
  TFormExtra extraTest(form.control().settings(), form.control().state(), &form);
  form.setSecondaryWindows(&about, &basicTest, &extraTest);
  form.resize(1240, 980);
  form.show();

  form.MenuStartClick();
  // The port windows as Connect leaves them: the placeholder chart.
  waitFor([] { return false; }, 1);
  bool ok = save(form, dir + "/station-connect.png");
  form.MenuDLClick();
  auto windows = form.portWindows();
  const bool ended = waitFor(
      [&] {
        form.TimerDLTimer();
        for (auto* w : windows)
          if (w->hasWorker() && !w->idle()) return false;
        return !windows.empty();
      },
      180);
  if (!ended) std::fprintf(stderr, "quenby-screenshots: the round did not end in time\n");
  // Let the last hand-offs and repaints land.
  waitFor([] { return false; }, 1);

  ok = save(form, dir + "/station.png") && ok;
  form.MenuAboutClick();
  waitFor([] { return false; }, 1);
  ok = save(about, dir + "/about.png") && ok;
  about.hide();
  try {
    saveDialogShots(basicTest, extraTest, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quenby-screenshots: %s\n", e.what());
    ok = false;
  }
  form.close();
  return ok && ended ? 0 : 1;
}
