// TAboutForm: the About box. One instance lives from start to exit; About shows it without
// blocking the main window, and closing it only hides it.
#pragma once

#include <QDialog>

class QLabel;

namespace quenby::ui {

// The maker's web address, opened by a double-click on the maker's name.
inline constexpr const char* MakerWebAddress = "https://quenby.example/";

class TAboutForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget* mainWindow = nullptr);

  // Double-click on the maker's name: the desktop opens the maker's web address.
  void Label2DblClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* Image2;
  QLabel* Label19;
  QLabel* Label22;
  QLabel* Label2;
  QLabel* Label1;
};

}  // namespace quenby::ui
