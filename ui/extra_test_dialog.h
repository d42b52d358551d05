// The "GPS Extra Test" dialog: the Bluetooth Mac Address item (its bit in the test-item set, the
// start and end address of the MAC range, time-out and fail code), edited straight in the
// station's settings record. One instance lives from start to exit and is only shown and hidden.
//
// Opening: the main window calls present(), which refills every control from the settings
// (FormShow, which also hides the "Bluetooth" page when the station does not offer the item) and
// shows the dialog without blocking the main window. A plain show() does not refill.
//
// The caption bar has no close box: OK and Cancel are the ways out. OK throws
// quenby::SettingsError for an octet or time-out that does not convert, and for a start address
// above the end address while the item is enabled ("Mac(E) must >= Mac(S)"); every value stored
// before that point stays stored and the dialog stays open.
#pragma once

#include <QDialog>
#include <array>

class QCheckBox;
class QLineEdit;
class QTabWidget;

namespace quenby {
struct TestSettings;
struct RunState;
}  // namespace quenby

class TFormExtra : public QDialog {
  Q_OBJECT

 public:
  TFormExtra(quenby::TestSettings& settings, quenby::RunState& state, QWidget* parent = nullptr);

  // Refills every control from the settings, then shows the dialog (not modal) and raises it.
  void present();

 public slots:
  void FormShow();
  void BtnOKClick();
  void BtnCancelClick();

 private:
  QWidget* buildBluetoothPage();

  quenby::TestSettings& settings_;
  quenby::RunState& state_;

  QTabWidget* PageControl1 = nullptr;
  QWidget* TabBluetooth = nullptr;
  QCheckBox* ChkBT = nullptr;
  std::array<QLineEdit*, 6> EditMac{};   // EditMac1 ... EditMac6, octet 1 first
  std::array<QLineEdit*, 6> EditMacE{};  // EditMacE1 ... EditMacE6
  QLineEdit* EditTimeout_BT = nullptr;
  QLineEdit* EditFailCode_BT = nullptr;
};
