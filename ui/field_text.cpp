#include "ui/field_text.h"

#include <QComboBox>
#include <QLineEdit>
#include <QVariant>

#include "engine/number_format.h"
#include "settings/ini_file.h"
#include "settings/number_text.h"
#include "ui/text.h"

namespace quenby {

namespace {

// The property that holds the text a field was filled with.
constexpr const char* ShownText = "quenbyShownText";

QString textOf(const QLineEdit* field) { return field->text(); }
QString textOf(const QComboBox* field) { return field->currentText(); }

template <typename Field>
bool changed(const Field* field) {
  const QVariant shown = field->property(ShownText);
  return !shown.isValid() || shown.toString() != textOf(field);
}

template <typename Field>
void storeIntegerOf(const Field* field, std::int32_t& setting) {
  if (changed(field)) setting = integerField(textOf(field));
}

template <typename Field>
void storeRealOf(const Field* field, float& setting) {
  if (changed(field)) setting = realField(textOf(field));
}

}  // namespace

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

std::string stdText(const QString& text) { return ui::toEngine(text); }

QString fieldText(const std::string& text) { return ui::fromEngine(text); }

QString integerText(std::int32_t value) { return QString::number(value); }

QString fixedText(float value, int decimals) {
  return QString::fromStdString(formatFixed(value, decimals));
}

QString generalText(float value) { return QString::fromStdString(formatGeneral(value)); }

void showValue(QLineEdit* field, const QString& text) {
  field->setText(text);
  field->setProperty(ShownText, field->text());
}

void showValue(QComboBox* field, const QString& text) {
  field->setCurrentText(text);
  rememberShown(field);
}

void rememberShown(QComboBox* field) { field->setProperty(ShownText, field->currentText()); }

void forgetShown(QWidget* field) { field->setProperty(ShownText, QVariant()); }

void storeText(const QLineEdit* field, std::string& setting) {
  if (changed(field)) setting = stdText(field->text());
}

void storeInteger(const QLineEdit* field, std::int32_t& setting) { storeIntegerOf(field, setting); }
void storeInteger(const QComboBox* field, std::int32_t& setting) { storeIntegerOf(field, setting); }
void storeReal(const QLineEdit* field, float& setting) { storeRealOf(field, setting); }
void storeReal(const QComboBox* field, float& setting) { storeRealOf(field, setting); }

}  // namespace quenby
