#include "ui/main_form_load_effects.h"

#include "ui/main_form.h"
#include "ui/text.h"

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
  form_.showDownloadAgentPath(fromEngine(path));
}

void MainFormLoadEffects::showRomPath(const std::string& path) {
  form_.showRomPath(fromEngine(path));
}

void MainFormLoadEffects::notice(const std::string& text) { notices_.append(fromEngine(text)); }

}  // namespace quenby::ui
