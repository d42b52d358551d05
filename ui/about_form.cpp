#include "ui/about_form.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>

#include "ui/resources.h"

namespace quenby::ui {

TAboutForm::TAboutForm(QWidget* mainWindow) : QDialog(mainWindow) {
  registerResources();
  setObjectName("AboutForm");
  setWindowTitle("About");
  setModal(false);
  // A dialog frame: no minimize or maximize box, not resizable.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  auto* frame = new QFrame(this);
  frame->setFrameShape(QFrame::StyledPanel);

  Image2 = new QLabel(frame);
  Image2->setObjectName("Image2");
  Image2->setPixmap(QPixmap(":/images/logo.png"));
  Image2->setScaledContents(true);
  Image2->setFixedSize(105, 89);

  Label19 = new QLabel("Quenby", frame);
  Label19->setObjectName("Label19");
  QFont title = Label19->font();
  title.setBold(true);
  title.setPixelSize(29);
  Label19->setFont(title);
  Label19->setFixedSize(216, 42);

  Label22 = new QLabel("Version 1.0.0", frame);
  Label22->setObjectName("Label22");

  Label2 = new QLabel("Quenby Test Systems", frame);
  Label2->setObjectName("Label2");
  Label2->setToolTip("Double-click to visit the Quenby Test Systems web site");
  Label2->setCursor(Qt::PointingHandCursor);
  Label2->installEventFilter(this);

  Label1 = new QLabel("Copyright \u00A9 2026 Quenby Test Systems. All rights reserved.", frame);
  Label1->setObjectName("Label1");
  Label1->setWordWrap(true);

  auto* grid = new QGridLayout(frame);
  grid->addWidget(Image2, 0, 0, 3, 1, Qt::AlignTop);
  grid->addWidget(Label19, 0, 1);
  grid->addWidget(Label22, 1, 1);
  grid->addWidget(Label2, 2, 1);
  grid->addWidget(Label1, 3, 0, 1, 2);

  auto* outer = new QGridLayout(this);
  outer->setContentsMargins(6, 6, 6, 6);
  outer->addWidget(frame, 0, 0);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  // Creation: the build's suffix, once.
  Label22->setText(Label22->text() + " [Beta Version]");
}

void TAboutForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (auto* main = parentWidget()) move(main->geometry().center() - rect().center());
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label2 && event->type() == QEvent::MouseButtonDblClick) {
    Label2DblClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TAboutForm::Label2DblClick() { QDesktopServices::openUrl(QUrl(MakerWebAddress)); }

}  // namespace quenby::ui
