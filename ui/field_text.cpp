#include "ui/field_text.h"

#include "engine/number_format.h"
#include "settings/ini_file.h"
#include "settings/number_text.h"

namespace quenby {

std::int32_t integerField(const QString& text) {
  const std::string typed = stdText(text);
  const std::optional<std::int32_t> value = parseInteger(typed);
  if (!value) throw SettingsError("'" + typed + "' is not a valid integer value");
  return *value;
}

float realField(const QString& text) {
  const std::string typed = stdText(text);
  const std::optional<float> value = parseReal(typed);
  if (!value) throw SettingsError("'" + typed + "' is not a valid floating point value");
  return *value;
}

std::string stdText(const QString& text) { return text.toStdString(); }

QString fieldText(const std::string& text) { return QString::fromStdString(text); }

QString integerText(std::int32_t value) { return QString::number(value); }

QString fixedText(float value, int decimals) {
  return QString::fromStdString(formatFixed(value, decimals));
}

QString generalText(float value) { return QString::fromStdString(formatGeneral(value)); }

}  // namespace quenby
