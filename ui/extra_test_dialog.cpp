#include "ui/extra_test_dialog.h"

#include "ui/application.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "settings/ini_file.h"
#include "settings/run_state.h"
#include "settings/test_settings.h"
#include "ui/dialog_widgets.h"
#include "ui/field_text.h"

using namespace quenby;

namespace {

constexpr int DesignWidth = 358;
constexpr int DesignHeight = 294;
constexpr int OctetChars = 2;
constexpr int OctetFieldWidth = 30;
constexpr int Spacing = 4;

constexpr std::array<const char*, 6> StartInitial = {"33", "01", "66", "01", "ff", "ff"};
constexpr std::array<const char*, 6> EndInitial = {"11", "12", "14", "12", "ff", "ff"};

QString octetText(std::uint8_t octet) {
  return QStringLiteral("%1").arg(octet, OctetChars, 16, QLatin1Char('0')).toUpper();
}

// The octet typed in a field, read as the hexadecimal number "0x" + text: nothing but hex digits
// may follow the prefix, and an empty field gives the message for "0x".
std::uint8_t octetField(const QLineEdit* field) {
  return static_cast<std::uint8_t>(integerField(QStringLiteral("0x") + field->text()));
}

// The address as one 48-bit number, octet 1 most significant.
std::uint64_t macNumber(const MacAddress& mac) {
  std::uint64_t number = 0;
  for (const std::uint8_t octet : mac) number = (number << 8) | octet;
  return number;
}

}  // namespace

TFormExtra::TFormExtra(TestSettings& settings, RunState& state, QWidget* parent)
    : QDialog(parent), settings_(settings), state_(state) {
  setObjectName(QStringLiteral("FormExtra"));
  setWindowTitle(QStringLiteral("GPS Extra Test"));
  // A caption bar without system menu, so without close box; the frame stays sizeable.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  resize(DesignWidth, DesignHeight);

  PageControl1 = new QTabWidget;
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  TabBluetooth = buildBluetoothPage();
  PageControl1->addTab(TabBluetooth, QStringLiteral("Bluetooth"));

  auto* ok = new QPushButton(QStringLiteral("OK"));
  ok->setObjectName(QStringLiteral("BtnOK"));
  auto* cancel = new QPushButton(QStringLiteral("Cancel"));
  cancel->setObjectName(QStringLiteral("BtnCancel"));
  ok->setAutoDefault(false);
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, quenby::ui::guarded([this] { BtnOKClick(); }));
  connect(cancel, &QPushButton::clicked, this, &TFormExtra::BtnCancelClick);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1, 1);
  layout->addLayout(buttons);
}

QWidget* TFormExtra::buildBluetoothPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabBluetooth"));
  auto* pageLayout = new QVBoxLayout(page);

  auto* group = new QGroupBox(QStringLiteral("Product Testing"));
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->setSpacing(Spacing);
  ChkBT = namedCheck("ChkBT", QStringLiteral("Test Enable"));
  groupLayout->addWidget(ChkBT);

  // One row per address, octet 1 on the left.
  auto* grid = new QGridLayout;
  grid->setSpacing(Spacing);
  const auto addRow = [grid](int row, const QString& label, std::array<QLineEdit*, 6>& fields,
                             const char* namePrefix, const std::array<const char*, 6>& initial) {
    grid->addWidget(new QLabel(label), row, 0);
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const QByteArray name = namePrefix + QByteArray::number(static_cast<int>(k) + 1);
      fields[k] = namedEdit(name.constData(), QString::fromLatin1(initial[k]));
      fields[k]->setMaxLength(OctetChars);
      fields[k]->setFixedWidth(OctetFieldWidth);
      grid->addWidget(fields[k], row, static_cast<int>(k) + 1);
    }
  };
  addRow(0, QStringLiteral("Mac(S)"), EditMac, "EditMac", StartInitial);
  addRow(1, QStringLiteral("Mac(E)"), EditMacE, "EditMacE", EndInitial);
  grid->setColumnStretch(static_cast<int>(EditMac.size()) + 1, 1);
  groupLayout->addLayout(grid);

  auto* form = new QFormLayout;
  form->setSpacing(Spacing);
  EditTimeout_BT = namedEdit("EditTimeout_BT", QStringLiteral("5"));
  EditFailCode_BT = namedEdit("EditFailCode_BT", QString());
  form->addRow(QStringLiteral("Time Out (sec)"), EditTimeout_BT);
  form->addRow(QStringLiteral("Fail Code"), EditFailCode_BT);
  groupLayout->addLayout(form);

  pageLayout->addWidget(group);
  pageLayout->addStretch();
  return page;
}

void TFormExtra::present() {
  FormShow();
  show();
  raise();
  activateWindow();
}

void TFormExtra::FormShow() {
  const auto items = static_cast<std::uint32_t>(settings_.enableTest);
  ChkBT->setChecked((items & item::BluetoothMac) != 0);
  for (std::size_t k = 0; k < EditMac.size(); ++k) EditMac[k]->setText(octetText(settings_.btMac[k]));
  showValue(EditTimeout_BT, integerText(settings_.btTimeout));
  showValue(EditFailCode_BT, fieldText(settings_.btFailCode));
  for (std::size_t k = 0; k < EditMacE.size(); ++k)
    EditMacE[k]->setText(octetText(settings_.btMacE[k]));

  // A station that does not offer the item shows no Bluetooth page, and OK then clears its bit.
  const bool offered = (state_.offeredItems & item::BluetoothMac) != 0;
  PageControl1->setTabVisible(PageControl1->indexOf(TabBluetooth), offered);
  TabBluetooth->setVisible(offered);
  if (!offered) ChkBT->setChecked(false);
}

void TFormExtra::BtnOKClick() {
  TestSettings& s = settings_;
  setItemBit(s.enableTest, item::BluetoothMac, ChkBT->isChecked());
  // Octet by octet, so a field that does not convert leaves the octets before it stored.
  for (std::size_t k = 0; k < EditMac.size(); ++k) s.btMac[k] = octetField(EditMac[k]);
  storeInteger(EditTimeout_BT, s.btTimeout);
  storeText(EditFailCode_BT, s.btFailCode);
  for (std::size_t k = 0; k < EditMacE.size(); ++k) s.btMacE[k] = octetField(EditMacE[k]);

  if (ChkBT->isChecked() && macNumber(s.btMac) > macNumber(s.btMacE))
    throw quenby::ui::UntitledMessage("Mac(E) must >= Mac(S)");
  accept();
}

void TFormExtra::BtnCancelClick() { reject(); }
