// Small builders shared by the settings dialogs: controls that carry their design names (so the
// main window and the tests find them by objectName) and compact labelled layouts.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLineEdit;
class QWidget;

namespace quenby {

// A one-line text field; a pasted line break and what follows it are dropped.
QLineEdit* namedEdit(const char* name, const QString& text);
QCheckBox* namedCheck(const char* name, const QString& caption);
// An editable drop-down: the items are suggestions, the operator may type any text.
QComboBox* namedCombo(const char* name, const QStringList& items, const QString& text);

// A group box holding a label/field form with tight spacing (the dialogs are small).
QGroupBox* formGroup(const QString& title, QFormLayout*& form);
QFormLayout* compactForm(QWidget* owner);

// A field followed by a unit label ("sec(s)").
QWidget* withUnit(QWidget* field, const QString& unit);

// Sets or clears `bit` of a test-item set.
void setItemBit(std::int32_t& items, std::uint32_t bit, bool on);

}  // namespace quenby
