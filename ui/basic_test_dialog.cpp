#include "ui/basic_test_dialog.h"

#include "ui/application.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "settings/run_state.h"
#include "settings/test_settings.h"
#include "ui/dialog_widgets.h"
#include "ui/field_text.h"

using namespace quenby;

namespace {

constexpr int ClientWidth = 468;
constexpr int ClientHeight = 177;
constexpr int ColumnSpacing = 4;
constexpr int HighestSvId = 32;
constexpr int HighestNmeaRate = 10;
constexpr int HighestUpdateHz = 5;

// Shown decimals of the real settings.
constexpr int PhaseDecimals = 2;
constexpr int OffsetDecimals = 3;
constexpr int DriftDecimals = 4;
constexpr int CnrDecimals = 1;

QStringList numberItems(int first, int last) {
  QStringList items;
  for (int n = first; n <= last; ++n) items << QString::number(n);
  return items;
}

QHBoxLayout* tightRow(QWidget* owner = nullptr) {
  auto* row = new QHBoxLayout(owner);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(ColumnSpacing);
  return row;
}

QVBoxLayout* tightColumn(QWidget* owner = nullptr) {
  auto* column = new QVBoxLayout(owner);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(ColumnSpacing);
  return column;
}

}  // namespace

TFormSuggest::TFormSuggest(TestSettings& settings, RunState& /*state*/, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("FormSuggest"));
  setWindowTitle(QStringLiteral("GPS Basic Test"));
  setFixedSize(ClientWidth, ClientHeight);

  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("ScrollColumn"));
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  scroll_->setWidgetResizable(true);
  scroll_->setWidget(buildColumn());
  auto* layout = tightColumn(this);
  layout->addWidget(scroll_);

  // The single-channel chain holds from the start: Bit Sync and Signal wait for the box above.
  connect(ChkAcq, &QCheckBox::toggled, this, &TFormSuggest::ChkAcqClick);
  connect(ChkBitSync, &QCheckBox::toggled, this, &TFormSuggest::ChkBitSyncClick);
  ChkAcqClick();
  ChkBitSyncClick();
}

bool TFormSuggest::downloadEnabled() const { return ChkDownload->isChecked(); }

void TFormSuggest::present() {
  FormShow();
  show();
  raise();
  activateWindow();
}

QWidget* TFormSuggest::buildColumn() {
  auto* column = new QWidget;
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(ColumnSpacing, ColumnSpacing, ColumnSpacing, ColumnSpacing);
  layout->setSpacing(ColumnSpacing);
  layout->addWidget(buildTopFrame());
  layout->addWidget(buildButtons());
  layout->addWidget(buildSingleChannel());
  layout->addWidget(buildMultiChannel());
  layout->addWidget(buildProductTesting());
  layout->addWidget(buildUpdateHz());
  return column;
}

// The uncaptioned frame: "Flash Download" on the left, "Version" on the right.
QWidget* TFormSuggest::buildTopFrame() {
  auto* frame = new QFrame;
  frame->setFrameShape(QFrame::StyledPanel);
  auto* row = tightRow(frame);
  row->setContentsMargins(ColumnSpacing, ColumnSpacing, ColumnSpacing, ColumnSpacing);

  QFormLayout* form = nullptr;
  auto* download = formGroup(QStringLiteral("Flash Download"), form);
  ChkDownload = namedCheck("ChkDownload", QStringLiteral("Download Enable"));
  EditDownload_FailCode = namedEdit("EditDownload_FailCode", QStringLiteral("Download"));
  form->addRow(ChkDownload);
  form->addRow(QStringLiteral("Fail Code"), EditDownload_FailCode);
  row->addWidget(download, 2);

  auto* version = formGroup(QStringLiteral("Version"), form);
  ChkVersion = namedCheck("ChkVersion", QStringLiteral("Test Enable"));
  EditMTKVersion = namedEdit("EditMTKVersion", QStringLiteral("M-core_1.8"));
  EditSDKver = namedEdit("EditSDKver", QString());
  EditCustomerVersion = namedEdit("EditCustomerVersion", QStringLiteral("0000"));
  EditTimeout_Version = namedEdit("EditTimeout_Version", QStringLiteral("5"));
  EditProductModelrVersion = namedEdit("EditProductModelrVersion", QString());
  EditVersion_FailCode = namedEdit("EditVersion_FailCode", QStringLiteral("Version"));
  form->addRow(ChkVersion);
  form->addRow(QStringLiteral("MTK Version : "), EditMTKVersion);
  form->addRow(QStringLiteral("SDK version:"), EditSDKver);
  form->addRow(QStringLiteral("Customer Version : "), EditCustomerVersion);
  form->addRow(QStringLiteral("Time Out (sec)"), EditTimeout_Version);
  form->addRow(QStringLiteral("Product Model:"), EditProductModelrVersion);
  form->addRow(QStringLiteral("Fail Code"), EditVersion_FailCode);
  row->addWidget(version, 3);
  return frame;
}

QWidget* TFormSuggest::buildButtons() {
  auto* holder = new QWidget;
  auto* row = tightRow(holder);
  auto* ok = new QPushButton(QStringLiteral("OK"));
  ok->setObjectName(QStringLiteral("BtnOK"));
  auto* cancel = new QPushButton(QStringLiteral("Cancel"));
  cancel->setObjectName(QStringLiteral("BtnCancel"));
  // Enter in a field does not press OK: the operator confirms with the button.
  ok->setAutoDefault(false);
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, quenby::ui::guarded([this] { BtnOKClick(); }));
  connect(cancel, &QPushButton::clicked, this, &TFormSuggest::BtnCancelClick);
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  row->addStretch();
  return holder;
}

// "SV id : " at the top; "Acquisition" above "Bit Sync" on the left, "Signal" on the right.
QWidget* TFormSuggest::buildSingleChannel() {
  auto* group = new QGroupBox(QStringLiteral("Single Channel Testing"));
  auto* layout = new QVBoxLayout(group);
  layout->setSpacing(ColumnSpacing);

  CmbSV = namedCombo("CmbSV", numberItems(1, HighestSvId), QStringLiteral("1"));
  auto* svRow = tightRow();
  svRow->addWidget(new QLabel(QStringLiteral("SV id : ")));
  svRow->addWidget(CmbSV);
  svRow->addStretch();
  layout->addLayout(svRow);

  QFormLayout* form = nullptr;
  auto* acq = formGroup(QStringLiteral("Acquisition"), form);
  ChkAcq = namedCheck("ChkAcq", QStringLiteral("Test Enable"));
  EditAcqTime = namedEdit("EditAcqTime", QStringLiteral("10"));
  EditFailCode_Acq = namedEdit("EditFailCode_Acq", QStringLiteral("Acq"));
  form->addRow(ChkAcq);
  form->addRow(QStringLiteral("Acq Time : "), withUnit(EditAcqTime, QStringLiteral("sec(s)")));
  form->addRow(QStringLiteral("Fail Code"), EditFailCode_Acq);

  auto* bitSync = formGroup(QStringLiteral("Bit Sync"), form);
  ChkBitSync = namedCheck("ChkBitSync", QStringLiteral("Test Enable"));
  EditBitSync = namedEdit("EditBitSync", QStringLiteral("5"));
  EditFailCode_BitSync = namedEdit("EditFailCode_BitSync", QStringLiteral("BitSync"));
  form->addRow(ChkBitSync);
  form->addRow(QStringLiteral("Bit Sync :"), withUnit(EditBitSync, QStringLiteral("sec(s)")));
  form->addRow(QStringLiteral("Fail Code"), EditFailCode_BitSync);

  auto* left = tightColumn();
  left->addWidget(acq);
  left->addWidget(bitSync);
  left->addStretch();

  auto* signal = new QGroupBox(QStringLiteral("Signal"));
  auto* signalForm = compactForm(signal);
  ChkSignal = namedCheck("ChkSignal", QStringLiteral("Test Enable"));
  EditTimeout_Signal = namedEdit("EditTimeout_Signal", QStringLiteral("20"));
  signalForm->addRow(ChkSignal);
  signalForm->addRow(QStringLiteral("Time Out (sec)"), EditTimeout_Signal);

  auto* phase = formGroup(QStringLiteral("Phase"), form);
  EditPhaseError = namedEdit("EditPhaseError", QStringLiteral("0.85"));
  EditPhaseFailCode = namedEdit("EditPhaseFailCode", QStringLiteral("Phase"));
  form->addRow(QStringLiteral("Phase Ratio : "), EditPhaseError);
  form->addRow(QStringLiteral("Fail Code"), EditPhaseFailCode);
  signalForm->addRow(phase);

  auto* tcxo = formGroup(QStringLiteral("TCXO (16.368 MHz)"), form);
  EditClockOffset = namedEdit("EditClockOffset", QStringLiteral("40.92"));
  EditClockDrift = namedEdit("EditClockDrift", QStringLiteral("0.05"));
  EditTCXOFailCode = namedEdit("EditTCXOFailCode", QStringLiteral("TCXO"));
  form->addRow(QStringLiteral("Clock Offset (Hz)"), EditClockOffset);
  form->addRow(QStringLiteral("Clock Drift (Hz)"), EditClockDrift);
  form->addRow(QStringLiteral("Fail Code"), EditTCXOFailCode);
  signalForm->addRow(tcxo);

  auto* cnr = formGroup(QStringLiteral("CNR"), form);
  EditCNR = namedEdit("EditCNR", QStringLiteral("40.0"));
  EditCNRDev = namedEdit("EditCNRDev", QStringLiteral("1.0"));
  EditCNRFailCode = namedEdit("EditCNRFailCode", QStringLiteral("CNR"));
  form->addRow(QStringLiteral("CNR threshold"), EditCNR);
  form->addRow(QStringLiteral("CNR Deviation"), EditCNRDev);
  form->addRow(QStringLiteral("Fail Code"), EditCNRFailCode);
  signalForm->addRow(cnr);

  auto* columns = tightRow();
  columns->addLayout(left, 1);
  columns->addWidget(signal, 1);
  layout->addLayout(columns);
  return group;
}

QWidget* TFormSuggest::buildMultiChannel() {
  QFormLayout* form = nullptr;
  auto* group = formGroup(QStringLiteral("Multi Channel Testing"), form);
  ChkCTTFF = namedCheck("ChkCTTFF", QStringLiteral("Test Enable"));
  EditColdStart = namedEdit("EditColdStart", QStringLiteral("90"));
  EditFailCode_CTTFF = namedEdit("EditFailCode_CTTFF", QStringLiteral("CTTFF"));
  form->addRow(ChkCTTFF);
  form->addRow(QStringLiteral("Cold Start TTFF (secs)"), EditColdStart);
  form->addRow(QStringLiteral("Fail Code"), EditFailCode_CTTFF);
  return group;
}

// "Factory Reset" on the left, "NMEA" with its three-row "Type" grid on the right.
QWidget* TFormSuggest::buildProductTesting() {
  auto* group = new QGroupBox(QStringLiteral("Product Testing"));
  auto* row = tightRow(group);
  row->setContentsMargins(ColumnSpacing, ColumnSpacing, ColumnSpacing, ColumnSpacing);

  QFormLayout* form = nullptr;
  auto* reset = formGroup(QStringLiteral("Factory Reset"), form);
  form->setRowWrapPolicy(QFormLayout::WrapAllRows);  // labels above the fields: a narrow column
  ChkReset = namedCheck("ChkReset", QStringLiteral("Test Enable"));
  EditTimeout_Reset = namedEdit("EditTimeout_Reset", QStringLiteral("5"));
  EditFailCode_Reset = namedEdit("EditFailCode_Reset", QStringLiteral("Reset"));
  form->addRow(ChkReset);
  form->addRow(QStringLiteral("Time Out (sec)"), EditTimeout_Reset);
  form->addRow(QStringLiteral("Fail Code"), EditFailCode_Reset);
  row->addWidget(reset, 2);
  row->setAlignment(reset, Qt::AlignTop);

  auto* nmea = formGroup(QStringLiteral("NMEA"), form);
  ChkNMEA = namedCheck("ChkNMEA", QStringLiteral("Test Enable"));
  EditTimeout_NMEA = namedEdit("EditTimeout_NMEA", QStringLiteral("5"));
  EditFailCode_NMEA = namedEdit("EditFailCode_NMEA", QStringLiteral("NMEA"));
  form->addRow(ChkNMEA);
  form->addRow(QStringLiteral("Time Out (sec) "), EditTimeout_NMEA);
  form->addRow(QStringLiteral("Fail Code"), EditFailCode_NMEA);

  auto* type = new QGroupBox(QStringLiteral("Type"));
  auto* grid = new QGridLayout(type);
  grid->setContentsMargins(ColumnSpacing, ColumnSpacing, ColumnSpacing, ColumnSpacing);
  grid->setSpacing(ColumnSpacing);
  const QStringList rates = numberItems(0, HighestNmeaRate);
  struct RateBox {
    QComboBox*& combo;
    const char* name;
    const char* label;
    const char* initial;
  };
  const RateBox boxes[] = {
      {CmbGLL, "CmbGLL", "GLL(1)", "1"},  {CmbRMC, "CmbRMC", "RMC(2)", "1"},
      {CmbVTG, "CmbVTG", "VTG(3)", "1"},  {CmbGGA, "CmbGGA", "GGA(4)", "1"},
      {CmbGSA, "CmbGSA", "GSA(5)", "1"},  {CmbGSV, "CmbGSV", "GSV(6)", "1"},
      {CmbZDA, "CmbZDA", "ZDA(18)", "0"}, {CmbMCHN, "CmbMCHN", "MCHN(19)", "0"},
  };
  constexpr int PerRow = 3;
  int cell = 0;
  for (const RateBox& box : boxes) {
    box.combo = namedCombo(box.name, rates, QString::fromLatin1(box.initial));
    // Each sentence's label stands above its box, so three of them fit side by side.
    const int r = (cell / PerRow) * 2;
    const int c = cell % PerRow;
    grid->addWidget(new QLabel(QString::fromLatin1(box.label)), r, c);
    grid->addWidget(box.combo, r + 1, c);
    ++cell;
  }
  form->addRow(type);
  row->addWidget(nmea, 3);
  return group;
}

QWidget* TFormSuggest::buildUpdateHz() {
  QFormLayout* form = nullptr;
  auto* group = formGroup(QStringLiteral("UpdateHz"), form);
  ChkUpdateHz = namedCheck("ChkUpdateHz", QStringLiteral("Test Enable"));
  CmbHz = namedCombo("CmbHz", numberItems(1, HighestUpdateHz), QStringLiteral("1"));
  EditTimeout_Hz = namedEdit("EditTimeout_Hz", QStringLiteral("5"));
  EditFailCode_UpdateHz = namedEdit("EditFailCode_UpdateHz", QStringLiteral("UpdateHz"));
  form->addRow(ChkUpdateHz);
  form->addRow(QStringLiteral("HZ"), CmbHz);
  form->addRow(QStringLiteral("Time Out (sec) "), EditTimeout_Hz);
  form->addRow(QStringLiteral("Fail Code"), EditFailCode_UpdateHz);
  return group;
}

void TFormSuggest::FormShow() {
  const auto items = static_cast<std::uint32_t>(settings_.enableTest);
  const auto has = [items](std::uint32_t bit) { return (items & bit) != 0; };

  ChkDownload->setChecked(has(item::FlashDownload));
  ChkVersion->setChecked(has(item::FirmwareVersion));

  // Signal Quality needs Bit Sync Time, which needs Acquisition Time: a box whose parent item is
  // off shows unchecked (and OK then clears its bit).
  const bool acq = has(item::AcquisitionTime);
  const bool bitSync = acq && has(item::BitSyncTime);
  ChkAcq->setChecked(acq);
  ChkBitSync->setChecked(bitSync);
  ChkSignal->setChecked(bitSync && has(item::SignalQuality));
  ChkAcqClick();
  ChkBitSyncClick();

  ChkCTTFF->setChecked(has(item::ColdStartTtff));
  ChkReset->setChecked(has(item::FactoryReset));
  ChkNMEA->setChecked(has(item::NmeaType));
  ChkUpdateHz->setChecked(has(item::UpdateHz));

  const TestSettings& s = settings_;
  showValue(EditDownload_FailCode, fieldText(s.flashDownloadFailCode));
  showValue(EditMTKVersion, fieldText(s.versionMtk));
  showValue(EditSDKver, fieldText(s.versionSdkVer));
  showValue(EditCustomerVersion, fieldText(s.versionCustomer));
  showValue(EditProductModelrVersion, fieldText(s.versionProductModel));
  showValue(EditTimeout_Version, integerText(s.versionTimeout));
  showValue(EditVersion_FailCode, fieldText(s.versionFailCode));

  // An SVid outside the list selects nothing: the box shows no text, and OK reads what is
  // typed there.
  if (s.svId >= 1 && s.svId <= HighestSvId) {
    CmbSV->setCurrentIndex(s.svId - 1);
    rememberShown(CmbSV);
  } else {
    CmbSV->setCurrentIndex(-1);
    CmbSV->setEditText(QString());
    forgetShown(CmbSV);
  }

  showValue(EditAcqTime, integerText(s.acqTimeTimeout));
  showValue(EditFailCode_Acq, fieldText(s.acqTimeFailCode));
  showValue(EditBitSync, integerText(s.bitSyncTimeout));
  showValue(EditFailCode_BitSync, fieldText(s.bitSyncFailCode));
  showValue(EditTimeout_Signal, integerText(s.signalTimeout));
  showValue(EditPhaseError, fixedText(s.signalPhaseRatio, PhaseDecimals));
  showValue(EditPhaseFailCode, fieldText(s.signalPhaseFailCode));
  showValue(EditClockOffset, fixedText(s.signalTcxoOffset, OffsetDecimals));
  showValue(EditClockDrift, fixedText(s.signalTcxoDrift, DriftDecimals));
  showValue(EditTCXOFailCode, fieldText(s.signalTcxoFailCode));
  showValue(EditCNR, fixedText(s.signalCnrThreshold, CnrDecimals));
  showValue(EditCNRDev, fixedText(s.signalCnrDev, CnrDecimals));
  showValue(EditCNRFailCode, fieldText(s.signalCnrFailCode));
  showValue(EditColdStart, integerText(s.coldStartTimeout));
  showValue(EditFailCode_CTTFF, fieldText(s.coldStartFailCode));
  showValue(EditTimeout_Reset, integerText(s.resetTimeout));
  showValue(EditFailCode_Reset, fieldText(s.resetFailCode));

  showValue(CmbGLL, integerText(s.nmeaFreqGll));
  showValue(CmbRMC, integerText(s.nmeaFreqRmc));
  showValue(CmbVTG, integerText(s.nmeaFreqVtg));
  showValue(CmbGGA, integerText(s.nmeaFreqGga));
  showValue(CmbGSA, integerText(s.nmeaFreqGsa));
  showValue(CmbGSV, integerText(s.nmeaFreqGsv));
  showValue(CmbZDA, integerText(s.nmeaFreqZda));
  showValue(CmbMCHN, integerText(s.nmeaFreqMchn));
  showValue(EditTimeout_NMEA, integerText(s.nmeaTimeout));
  showValue(EditFailCode_NMEA, fieldText(s.nmeaFailCode));

  showValue(CmbHz, generalText(s.updateHz));
  showValue(EditTimeout_Hz, integerText(s.hzTimeout));
  // EditFailCode_UpdateHz keeps its text: the UpdateHZ fail code has no other home to refill from.
}

void TFormSuggest::BtnOKClick() {
  TestSettings& s = settings_;
  std::int32_t& items = s.enableTest;
  setItemBit(items, item::FlashDownload, ChkDownload->isChecked());
  setItemBit(items, item::FirmwareVersion, ChkVersion->isChecked());
  setItemBit(items, item::AcquisitionTime, ChkAcq->isChecked());
  setItemBit(items, item::BitSyncTime, ChkBitSync->isChecked());
  setItemBit(items, item::SignalQuality, ChkSignal->isChecked());
  setItemBit(items, item::ColdStartTtff, ChkCTTFF->isChecked());
  setItemBit(items, item::FactoryReset, ChkReset->isChecked());
  setItemBit(items, item::NmeaType, ChkNMEA->isChecked());
  setItemBit(items, item::UpdateHz, ChkUpdateHz->isChecked());

  // Each field goes straight into the record, so a field that does not convert leaves every
  // earlier one stored and every later one as it was. A field the operator left as it was shown
  // keeps the stored value exactly: its bytes, or its number with all its decimals.
  s.updateHzFailCode = stdText(EditFailCode_UpdateHz->text());
  storeText(EditDownload_FailCode, s.flashDownloadFailCode);
  storeText(EditMTKVersion, s.versionMtk);
  storeText(EditCustomerVersion, s.versionCustomer);
  storeText(EditProductModelrVersion, s.versionProductModel);
  storeText(EditSDKver, s.versionSdkVer);
  storeInteger(EditTimeout_Version, s.versionTimeout);
  storeText(EditVersion_FailCode, s.versionFailCode);

  std::int32_t svId = s.svId;
  storeInteger(CmbSV, svId);
  s.svId = static_cast<std::uint8_t>(svId);

  storeInteger(EditAcqTime, s.acqTimeTimeout);
  storeText(EditFailCode_Acq, s.acqTimeFailCode);
  storeInteger(EditBitSync, s.bitSyncTimeout);
  storeText(EditFailCode_BitSync, s.bitSyncFailCode);

  storeInteger(EditTimeout_Signal, s.signalTimeout);
  storeReal(EditPhaseError, s.signalPhaseRatio);
  storeText(EditPhaseFailCode, s.signalPhaseFailCode);
  storeReal(EditClockOffset, s.signalTcxoOffset);
  storeReal(EditClockDrift, s.signalTcxoDrift);
  storeText(EditTCXOFailCode, s.signalTcxoFailCode);
  storeReal(EditCNR, s.signalCnrThreshold);
  storeReal(EditCNRDev, s.signalCnrDev);
  storeText(EditCNRFailCode, s.signalCnrFailCode);

  storeInteger(EditColdStart, s.coldStartTimeout);
  storeText(EditFailCode_CTTFF, s.coldStartFailCode);
  storeInteger(EditTimeout_Reset, s.resetTimeout);
  storeText(EditFailCode_Reset, s.resetFailCode);

  storeInteger(CmbGLL, s.nmeaFreqGll);
  storeInteger(CmbRMC, s.nmeaFreqRmc);
  storeInteger(CmbVTG, s.nmeaFreqVtg);
  storeInteger(CmbGGA, s.nmeaFreqGga);
  storeInteger(CmbGSA, s.nmeaFreqGsa);
  storeInteger(CmbGSV, s.nmeaFreqGsv);
  storeInteger(CmbZDA, s.nmeaFreqZda);
  storeInteger(CmbMCHN, s.nmeaFreqMchn);
  storeInteger(EditTimeout_NMEA, s.nmeaTimeout);
  storeText(EditFailCode_NMEA, s.nmeaFailCode);

  storeReal(CmbHz, s.updateHz);
  storeInteger(EditTimeout_Hz, s.hzTimeout);

  accept();
}

void TFormSuggest::BtnCancelClick() { reject(); }

void TFormSuggest::ChkAcqClick() {
  if (ChkAcq->isChecked()) {
    ChkBitSync->setEnabled(true);
    return;
  }
  ChkBitSync->setChecked(false);
  ChkBitSync->setEnabled(false);
  ChkSignal->setChecked(false);
  ChkSignal->setEnabled(false);
}

void TFormSuggest::ChkBitSyncClick() {
  if (ChkBitSync->isChecked()) {
    ChkSignal->setEnabled(true);
    return;
  }
  ChkSignal->setChecked(false);
  ChkSignal->setEnabled(false);
}
