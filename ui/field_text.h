// Texts of the settings dialogs' fields. Numbers are read and shown as the settings file does:
// integers with optional leading blanks and sign, decimal or hexadecimal after "$" or "0x"; reals
// with "." as decimal separator whatever the locale, so a value survives the dialog and the file
// alike. Texts follow the station's one rule (ui/text.h): UTF-8 where valid, other bytes as their
// Latin-1 characters.
//
// A field filled from the settings remembers the text it was given, and OK stores a field back
// only when the operator changed that text: an untouched text keeps its very bytes (also bytes
// that are no UTF-8), an untouched number its exact value (not the rounded one the field shows).
#pragma once

#include <QString>
#include <cstdint>
#include <string>

class QComboBox;
class QLineEdit;
class QWidget;

namespace quenby {

// The field's integer; throws SettingsError("'<text>' is not a valid integer value").
std::int32_t integerField(const QString& text);

// The field's real number; throws SettingsError("'<text>' is not a valid floating point value").
float realField(const QString& text);

std::string stdText(const QString& text);
QString fieldText(const std::string& text);

QString integerText(std::int32_t value);
// Fixed point with exactly `decimals` decimals (40.92 with 3 -> "40.920").
QString fixedText(float value, int decimals);
// General form, no trailing zeros (1.0 -> "1", 2.5 -> "2.5").
QString generalText(float value);

// Fills a field from the settings and remembers the text it then shows.
void showValue(QLineEdit* field, const QString& text);
void showValue(QComboBox* field, const QString& text);
// Remembers what the field shows now (filled some other way).
void rememberShown(QComboBox* field);
// A field that shows no stored value (an SVid outside the list): OK converts whatever it holds.
void forgetShown(QWidget* field);

// OK's stores: the field's text into the setting, unless the operator left it as shown. A number
// that does not convert throws as integerField and realField do.
void storeText(const QLineEdit* field, std::string& setting);
void storeInteger(const QLineEdit* field, std::int32_t& setting);
void storeInteger(const QComboBox* field, std::int32_t& setting);
void storeReal(const QLineEdit* field, float& setting);
void storeReal(const QComboBox* field, float& setting);

}  // namespace quenby
