#include "ui/text.h"

namespace quenby::ui {

QString fromEngine(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toEngine(const QString& text) { return text.toStdString(); }

}  // namespace quenby::ui
