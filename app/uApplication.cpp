#include "uApplication.h"

#include <new>

#include "Dialogs.h"

namespace {

IDialogs* gDialogs = nullptr;

}  // namespace

IDialogs& Dialogs() {
  static TSystemDialogs system;
  return gDialogs != nullptr ? *gDialogs : system;
}

void SetDialogs(IDialogs* dialogs) { gDialogs = dialogs; }

QString WithFullStop(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

void HandleException(const QString& message) {
  Dialogs().Error(nullptr, kApplicationTitle, WithFullStop(message));
}

void HandleException(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    HandleException(QStringLiteral("Out of memory"));
    return;
  }
  HandleException(QString::fromLocal8Bit(error.what()));
}
