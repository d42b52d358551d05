// quenby: the station. Takes no argument but --engineer (the engineer's view); its settings,
// ports, logs and layout file live in the program's folder.
#include <csignal>
#include <cstdio>
#include <string_view>

#include "brom/brom_library.h"
#include "engine/program_folder.h"
#include "engine/station_folder_lock.h"
#include "ui/about_form.h"
#include "ui/application.h"
#include "ui/basic_test_dialog.h"
#include "ui/extra_test_dialog.h"
#include "ui/main_form.h"
#include "ui/message_box.h"
#include "ui/signal_close.h"

int main(int argc, char** argv) {
  // The operator's station takes no argument; --engineer opens the engineer's view. Read before
  // any window exists, so that a wrong word is answered also where there is no display.
  const bool engineer = argc == 2 && std::string_view(argv[1]) == "--engineer";
  if (argc > 1 && !engineer) {
    std::fprintf(stderr, "quenby: unknown argument '%s'\nusage: quenby [--engineer]\n", argv[1]);
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  quenby::ui::QuenbyApplication app(argc, argv);

  // One station per folder: a second one would open the same modules' ports.
  const quenby::StationFolderLock folderLock(quenby::programFolder());
  if (folderLock.heldElsewhere()) {
    const QString refusal = QString::fromStdString(folderLock.refusal());
    std::fprintf(stderr, "quenby: %s\n", refusal.toLocal8Bit().constData());
    quenby::ui::showMessage(nullptr, refusal, "Quenby");
    return 2;
  }

  // The library outlives the windows, which release its handles at close.
  quenby::brom::BromLibrary library(quenby::defaultPortsFolder());

  // Start order: main window, About box, Basic Test dialog, Extra Test dialog.
  quenby::ui::TMainForm mainForm(quenby::programFolder(), &library);
  quenby::ui::TAboutForm about(&mainForm);
  TFormSuggest basicTest(mainForm.control().settings(), mainForm.control().state(), &mainForm);
  TFormExtra extraTest(mainForm.control().settings(), mainForm.control().state(), &mainForm);
  mainForm.setSecondaryWindows(&about, &basicTest, &extraTest);
  if (engineer) mainForm.showEngineerView();

  quenby::ui::closeOnTerminationSignals(mainForm, [&mainForm] { mainForm.closeBySignal(); });
  mainForm.show();
  return app.exec();
}
