#include "ui/message_box.h"

#include <QMessageBox>

namespace quenby::ui {
namespace {

std::function<void(const QString&)>& sink() {
  static std::function<void(const QString&)> s;
  return s;
}

}  // namespace

void showMessage(QWidget* parent, const QString& text, const QString& title) {
  if (sink()) {
    sink()(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
  box.exec();
}

void showMessageLater(QWidget* parent, const QString& text, const QString& title) {
  if (sink()) {
    sink()(text);
    return;
  }
  auto* box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void setMessageSink(std::function<void(const QString& text)> s) { sink() = std::move(s); }

}  // namespace quenby::ui
