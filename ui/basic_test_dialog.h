// The "GPS Basic Test" dialog: the operator switches the basic test items on and off and edits
// their time-outs, thresholds, expected texts and fail codes, straight in the station's settings
// record (it keeps no copy). One instance lives from start to exit and is only shown and hidden.
//
// Opening: the main window calls present(), which refills every control from the settings
// (FormShow) and then shows the dialog without blocking the main window. A plain show() does not
// refill, so a dialog restored by the window system keeps what the operator typed.
//
// OK writes every control back in a fixed order (a field the operator left as shown keeps the
// stored value exactly, see field_text.h); a field that does not convert throws
// quenby::SettingsError with the conversion message, leaving the fields before it stored, the
// fields after it untouched and the dialog open. Cancel and the close box only hide.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QScrollArea;

namespace quenby {
struct TestSettings;
struct RunState;
}  // namespace quenby

class TFormSuggest : public QDialog {
  Q_OBJECT

 public:
  TFormSuggest(quenby::TestSettings& settings, quenby::RunState& state, QWidget* parent = nullptr);

  // "Download Enable" as it stands now: what the main window's Download looks at. Unchecked until
  // the dialog is first opened; Cancel keeps what the operator ticked.
  bool downloadEnabled() const;

  // Refills every control from the settings, then shows the dialog (not modal) and raises it.
  void present();

  // The scrolled column of groups (the window is smaller than the column).
  QScrollArea* scrollArea() const { return scroll_; }

 public slots:
  void FormShow();
  void BtnOKClick();
  void BtnCancelClick();
  void ChkAcqClick();
  void ChkBitSyncClick();

 private:
  QWidget* buildColumn();
  QWidget* buildTopFrame();
  QWidget* buildButtons();
  QWidget* buildSingleChannel();
  QWidget* buildMultiChannel();
  QWidget* buildProductTesting();
  QWidget* buildUpdateHz();

  quenby::TestSettings& settings_;
  QScrollArea* scroll_ = nullptr;

  QCheckBox* ChkDownload = nullptr;
  QLineEdit* EditDownload_FailCode = nullptr;

  QCheckBox* ChkVersion = nullptr;
  QLineEdit* EditMTKVersion = nullptr;
  QLineEdit* EditSDKver = nullptr;
  QLineEdit* EditCustomerVersion = nullptr;
  QLineEdit* EditTimeout_Version = nullptr;
  QLineEdit* EditProductModelrVersion = nullptr;
  QLineEdit* EditVersion_FailCode = nullptr;

  QComboBox* CmbSV = nullptr;
  QCheckBox* ChkAcq = nullptr;
  QLineEdit* EditAcqTime = nullptr;
  QLineEdit* EditFailCode_Acq = nullptr;
  QCheckBox* ChkBitSync = nullptr;
  QLineEdit* EditBitSync = nullptr;
  QLineEdit* EditFailCode_BitSync = nullptr;
  QCheckBox* ChkSignal = nullptr;
  QLineEdit* EditTimeout_Signal = nullptr;
  QLineEdit* EditPhaseError = nullptr;
  QLineEdit* EditPhaseFailCode = nullptr;
  QLineEdit* EditClockOffset = nullptr;
  QLineEdit* EditClockDrift = nullptr;
  QLineEdit* EditTCXOFailCode = nullptr;
  QLineEdit* EditCNR = nullptr;
  QLineEdit* EditCNRDev = nullptr;
  QLineEdit* EditCNRFailCode = nullptr;

  QCheckBox* ChkCTTFF = nullptr;
  QLineEdit* EditColdStart = nullptr;
  QLineEdit* EditFailCode_CTTFF = nullptr;

  QCheckBox* ChkReset = nullptr;
  QLineEdit* EditTimeout_Reset = nullptr;
  QLineEdit* EditFailCode_Reset = nullptr;

  QCheckBox* ChkNMEA = nullptr;
  QLineEdit* EditTimeout_NMEA = nullptr;
  QLineEdit* EditFailCode_NMEA = nullptr;
  QComboBox* CmbGLL = nullptr;
  QComboBox* CmbRMC = nullptr;
  QComboBox* CmbVTG = nullptr;
  QComboBox* CmbGGA = nullptr;
  QComboBox* CmbGSA = nullptr;
  QComboBox* CmbGSV = nullptr;
  QComboBox* CmbZDA = nullptr;
  QComboBox* CmbMCHN = nullptr;

  QCheckBox* ChkUpdateHz = nullptr;
  QComboBox* CmbHz = nullptr;
  QLineEdit* EditTimeout_Hz = nullptr;
  QLineEdit* EditFailCode_UpdateHz = nullptr;
};
