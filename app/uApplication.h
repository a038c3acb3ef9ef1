// The application-wide default handler: every command handler's error ends
// here and is shown in an error box, after which the program goes on in the
// state the failed command left it.
#pragma once

#include <QString>
#include <exception>
#include <utility>

class IDialogs;

inline const QString kApplicationTitle = QStringLiteral("Kestrove");

// The dialogs every window uses; the system's unless a test set others.
IDialogs& Dialogs();
void SetDialogs(IDialogs* dialogs);

// The message as the error box shows it: a full stop is added when its last
// character's code is above that of the full stop.
QString WithFullStop(const QString& message);

void HandleException(const std::exception& error);
void HandleException(const QString& message);

// Runs a command handler, handing whatever it throws to the default handler.
// Returns false when it threw.
template <class F>
bool Guarded(F&& handler) {
  try {
    std::forward<F>(handler)();
    return true;
  } catch (const std::exception& e) {
    HandleException(e);
  } catch (...) {
    HandleException(QStringLiteral("Unknown error"));
  }
  return false;
}
