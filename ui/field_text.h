// Texts of the settings dialogs' fields. Numbers are read and shown as the settings file does:
// integers with optional leading blanks and sign, decimal or hexadecimal after "$" or "0x"; reals
// with "." as decimal separator whatever the locale, so a value survives the dialog and the file
// alike.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

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

}  // namespace quenby
