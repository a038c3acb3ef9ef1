// Opens a module in the real window (offscreen), paints the list at its
// start and end, and prints the process's peak resident memory.
//   kestrove_window_peak MODULE
// or, with --startup, starts the window as the program does (on whatever
// display QT_QPA_PLATFORM names) and exits once it is shown on screen.
//   kestrove_window_peak --startup
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "FakeDialogs.h"
#include "uApplication.h"
#include "uMain.h"
#include "uSettings.h"

namespace {

QString Status(const char* key) {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("?");
  for (const QByteArray& line : f.readAll().split('\n')) {
    if (line.startsWith(key)) return QString::fromLatin1(line.mid(qstrlen(key)).trimmed());
  }
  return QStringLiteral("?");
}

}  // namespace

int StartUp(int argc, char** argv) {
  QElapsedTimer timer;
  timer.start();
  QApplication application(argc, argv);
  Kestrove = new TKestrove;
  Settings = new TSettings;
  Kestrove->show();
  QTimer::singleShot(0, [&] {
    if (!QTest::qWaitForWindowExposed(Kestrove)) std::fprintf(stderr, "never shown\n");
    std::printf("start-up to the main window shown: %.1f ms\n",
                static_cast<double>(timer.nsecsElapsed()) / 1e6);
    QApplication::quit();
  });
  const int status = QApplication::exec();
  delete Settings;
  delete Kestrove;
  return status;
}

int main(int argc, char** argv) {
  if (argc > 1 && qstrcmp(argv[1], "--startup") == 0) return StartUp(argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
    return 2;
  }
  FakeDialogs dialogs;
  dialogs.openAnswer = QString::fromLocal8Bit(argv[1]);
  SetDialogs(&dialogs);
  TKestrove window;
  window.show();
  QApplication::processEvents();
  std::printf("before open: VmHWM %s, VmRSS %s\n", qPrintable(Status("VmHWM:")),
              qPrintable(Status("VmRSS:")));
  QElapsedTimer timer;
  timer.start();
  window.tbOpen->click();
  const double opened = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  QImage top = window.ListView->viewport()->grab().toImage();
  const double painted = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  window.ListView->scrollToBottom();
  QImage bottom = window.ListView->viewport()->grab().toImage();
  const double end = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  std::printf("rows %d; open %.1f ms, first frame %.1f ms, frame at the end %.1f ms\n",
              window.ListView->model()->rowCount(), opened, painted, end - painted);
  std::printf("after open: VmHWM %s, VmRSS %s\n", qPrintable(Status("VmHWM:")),
              qPrintable(Status("VmRSS:")));
  for (const FakeDialogs::Box& box : dialogs.boxes) {
    std::fprintf(stderr, "%s box: %s\n", qPrintable(box.kind), qPrintable(box.text));
  }
  SetDialogs(nullptr);
  return top.isNull() || bottom.isNull() || !dialogs.boxes.isEmpty() ? 1 : 0;
}
