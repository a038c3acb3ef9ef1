// Start-up: the application object, the main window (created first, so it
// is the main window), the hidden settings dialog, then the message loop.
#include <QApplication>
#include <QIcon>

#include "uMain.h"
#include "uSettings.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrove"));
  QApplication::setApplicationVersion(QStringLiteral("1.5"));
  QIcon icon;
  for (int size : {16, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/icons/kestrove-%1.png").arg(size), QSize(size, size));
  }
  QApplication::setWindowIcon(icon);

  Kestrove = new TKestrove;
  Settings = new TSettings;
  Kestrove->show();
  const int status = QApplication::exec();
  delete Settings;
  delete Kestrove;
  return status;
}
