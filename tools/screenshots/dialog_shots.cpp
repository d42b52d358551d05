#include "tools/screenshots/dialog_shots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <stdexcept>

#include "ui/basic_test_dialog.h"
#include "ui/extra_test_dialog.h"

namespace {

void savePicture(QWidget& window, const QString& dir, const QString& name) {
  QApplication::processEvents();  // let the layouts settle and the window paint once
  const QString path = QDir(dir).filePath(name);
  if (!window.grab().save(path, "PNG"))
    throw std::runtime_error("Unable to write " + path.toStdString());
}

}  // namespace

void saveDialogShots(TFormSuggest& basic, TFormExtra& extra, const QString& dir) {
  basic.present();
  QScrollBar* bar = basic.scrollArea()->verticalScrollBar();
  bar->setValue(bar->minimum());
  savePicture(basic, dir, QStringLiteral("basic-test-top.png"));
  bar->setValue(bar->maximum());
  savePicture(basic, dir, QStringLiteral("basic-test-bottom.png"));
  bar->setValue(bar->minimum());
  basic.BtnCancelClick();

  extra.present();
  savePicture(extra, dir, QStringLiteral("extra-test.png"));
  extra.BtnCancelClick();
}
