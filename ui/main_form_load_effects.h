// What a settings load shows in the main window besides handing the saved files to the library:
// the baud-rate and Series check marks and the status bar's file panels; its notices are kept
// for the one message box after the load.
#pragma once

#include <QStringList>

#include "engine/library_load_effects.h"

namespace quenby::ui {

class TMainForm;

class MainFormLoadEffects final : public LibraryLoadEffects {
 public:
  explicit MainFormLoadEffects(TMainForm& form);

  void showNmeaBaudrate(std::int32_t baud) override;
  void showUpdateBaudrate(std::int32_t index) override;
  void showSeries(std::int32_t series) override;
  void showDownloadAgentPath(const std::string& path) override;
  void showRomPath(const std::string& path) override;
  void notice(const std::string& text) override;

  const QStringList& notices() const { return notices_; }

 private:
  TMainForm& form_;
  QStringList notices_;
};

}  // namespace quenby::ui
