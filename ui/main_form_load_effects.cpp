#include "ui/main_form_load_effects.h"

#include "ui/main_form.h"

namespace quenby::ui {

MainFormLoadEffects::MainFormLoadEffects(TMainForm& form)
    : LibraryLoadEffects(form.control().library(), form.control().state(),
                         form.control().scatFile()),
      form_(form) {}

void MainFormLoadEffects::showNmeaBaudrate(std::int32_t baud) { form_.showNmeaBaudrate(baud); }

void MainFormLoadEffects::showUpdateBaudrate(std::int32_t index) {
  form_.showUpdateBaudrate(index);
}

void MainFormLoadEffects::showSeries(std::int32_t series) { form_.showSeries(series); }

void MainFormLoadEffects::showDownloadAgentPath(const std::string& path) {
  form_.showDownloadAgentPath(QString::fromStdString(path));
}

void MainFormLoadEffects::showRomPath(const std::string& path) {
  form_.showRomPath(QString::fromStdString(path));
}

}  // namespace quenby::ui
