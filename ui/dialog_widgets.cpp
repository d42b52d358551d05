#include "ui/dialog_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

namespace quenby {

namespace {
constexpr int FormMargin = 6;
constexpr int FormSpacing = 3;
}  // namespace

QLineEdit* namedEdit(const char* name, const QString& text) {
  auto* edit = new QLineEdit(text);
  edit->setObjectName(QString::fromLatin1(name));
  // A one-line field keeps only the first line of pasted text: a line break in a setting would
  // split its line in the settings file and the run's line in the test log.
  QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& now) {
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]"));
    const qsizetype cut = now.indexOf(lineBreak);
    if (cut >= 0) edit->setText(now.left(cut));
  });
  return edit;
}

QCheckBox* namedCheck(const char* name, const QString& caption) {
  auto* box = new QCheckBox(caption);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

QComboBox* namedCombo(const char* name, const QStringList& items, const QString& text) {
  auto* combo = new QComboBox;
  combo->setObjectName(QString::fromLatin1(name));
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);  // a typed value does not join the list
  combo->addItems(items);
  combo->setCurrentText(text);
  return combo;
}

QFormLayout* compactForm(QWidget* owner) {
  auto* form = new QFormLayout(owner);
  form->setContentsMargins(FormMargin, FormMargin, FormMargin, FormMargin);
  form->setSpacing(FormSpacing);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  return form;
}

QGroupBox* formGroup(const QString& title, QFormLayout*& form) {
  auto* group = new QGroupBox(title);
  form = compactForm(group);
  return group;
}

QWidget* withUnit(QWidget* field, const QString& unit) {
  auto* holder = new QWidget;
  auto* row = new QHBoxLayout(holder);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(FormSpacing);
  row->addWidget(field, 1);
  row->addWidget(new QLabel(unit));
  return holder;
}

void setItemBit(std::int32_t& items, std::uint32_t bit, bool on) {
  auto bits = static_cast<std::uint32_t>(items);
  bits = on ? (bits | bit) : (bits & ~bit);
  items = static_cast<std::int32_t>(bits);
}

}  // namespace quenby
