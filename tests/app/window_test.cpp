// The main window: layout, Open, About and the default error handler.
#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <memory>

#include "FakeDialogs.h"
#include "PeWriter.h"
#include "TempDir.h"
#include "uApplication.h"
#include "uMain.h"

using kestrove::testing::BuildPe;
using kestrove::testing::PeModule;
using kestrove::testing::TempDir;
using kestrove::testing::WriteBytes;

class WindowTest : public QObject {
  Q_OBJECT

 private:
  FakeDialogs dialogs_;
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<TKestrove> window_;

  QString Module(const char* name, std::vector<std::string> names) {
    PeModule m;
    m.names = std::move(names);
    const std::string path = dir_->File(name);
    WriteBytes(path, BuildPe(m).bytes);
    return QString::fromStdString(path);
  }

  QStringList Rows(int column) const {
    QStringList rows;
    const auto* model = window_->ListView->model();
    for (int r = 0; r < model->rowCount(); ++r) rows << model->index(r, column).data().toString();
    return rows;
  }

  static long ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
      if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
  }

  void Open(const std::optional<QString>& answer) {
    dialogs_.openAnswer = answer;
    window_->tbOpen->click();
  }

 private slots:
  void init() {
    dialogs_ = FakeDialogs();
    SetDialogs(&dialogs_);
    ExportNames.Clear();
    CompleteReading = false;
    dir_ = std::make_unique<TempDir>();
    qputenv("XDG_CONFIG_HOME", dir_->Path().c_str());
    window_ = std::make_unique<TKestrove>();
  }

  void cleanup() {
    window_.reset();
    dir_.reset();
    SetDialogs(nullptr);
  }

  void layoutHasTheNamedComponentsInOrder() {
    QCOMPARE(window_->objectName(), QStringLiteral("Kestrove"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Kestrove"));
    QCOMPARE(window_->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(window_->font().pixelSize(), 10);
    QCOMPARE(window_->pos(), QPoint(240, 170));
    QCOMPARE(window_->size(), QSize(574, 367));
    QVERIFY(!window_->windowIcon().isNull());

    QStringList names;
    for (QAction* a : window_->ToolBar->actions()) {
      QWidget* w = window_->ToolBar->widgetForAction(a);
      names << (w != nullptr && !w->objectName().isEmpty() ? w->objectName() : a->objectName());
    }
    QCOMPARE(names, (QStringList{"ToolButton1", "tbOpen", "ToolButton3", "tbSave", "ToolButton5",
                                 "tbAbout"}));
    QCOMPARE(window_->tbSettings->parentWidget(), window_->ToolBar);
    QCOMPARE(window_->tbOpen->text(), QStringLiteral("&Open"));
    QCOMPARE(window_->tbSave->text(), QStringLiteral("&Save"));
    QCOMPARE(window_->tbAbout->text(), QStringLiteral("&About"));
    QCOMPARE(window_->tbSettings->text(), QStringLiteral("&Settings"));
    QCOMPARE(window_->tbOpen->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(window_->tbSave->width(), 49);
    QCOMPARE(window_->ToolBar->height(), 49);
    QVERIFY(!window_->ToolBar->isMovable());
    for (QToolButton* b : {window_->tbOpen, window_->tbSave, window_->tbAbout}) {
      QVERIFY(!b->icon().isNull());
      QVERIFY(b->isEnabled());
    }
    QCOMPARE(window_->findChild<QObject*>("ImageList"), window_->ImageList);
    for (int i = 0; i < 4; ++i) QVERIFY(!window_->ImageList->Image(i).isNull());

    QCOMPARE(window_->findChild<QTableView*>("ListView"), window_->ListView);
    QHeaderView* header = window_->ListView->horizontalHeader();
    QCOMPARE(window_->ListView->model()->columnCount(), 2);
    QCOMPARE(window_->ListView->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Name:"));
    QCOMPARE(window_->ListView->model()->headerData(1, Qt::Horizontal).toString(),
             QStringLiteral("Ordinal:"));
    QCOMPARE(header->sectionSize(0), 263);
    QCOMPARE(header->sectionSize(1), 188);
    QVERIFY(!header->sectionsClickable());
    QVERIFY(!window_->ListView->isSortingEnabled());
    QCOMPARE(window_->ListView->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(window_->ListView->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    QVERIFY(!window_->ListView->showGrid());

    QCOMPARE(window_->findChild<QMenu*>("PopupMenu"), window_->PopupMenu);
    QStringList items;
    for (QAction* a : window_->PopupMenu->actions()) {
      items << a->objectName() + "=" + (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    QCOMPARE(items, (QStringList{"menuCopy=Copy", "N1=-", "menuFont=Font..."}));
    QCOMPARE(window_->ListView->contextMenuPolicy(), Qt::CustomContextMenu);
  }

  void settingsButtonIsHiddenAndUnreachable() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(!window_->tbSettings->isVisible());
    QVERIFY(window_->tbSettings->isEnabled());
    QVERIFY(window_->tbSettings->shortcut().isEmpty());
    // It takes no room: About is the last thing on the bar.
    const int aboutRight = window_->tbAbout->geometry().right();
    for (QWidget* w : window_->ToolBar->findChildren<QWidget*>()) {
      if (w->isVisible() && w != window_->tbAbout && w->parentWidget() == window_->ToolBar) {
        QVERIFY2(w->geometry().left() < aboutRight, qPrintable(w->objectName()));
      }
    }
  }

  void accessKeysClickTheVisibleButtons() {
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(window_.get(), Qt::Key_O, Qt::AltModifier);
    QTRY_COMPARE(dialogs_.opens, 1);
    QTest::keyClick(window_.get(), Qt::Key_S, Qt::AltModifier);  // Save, never Settings
    QTRY_COMPARE(dialogs_.saves, 1);
    QTest::keyClick(window_.get(), Qt::Key_A, Qt::AltModifier);
    QTRY_COMPARE(dialogs_.boxes.size(), 1);
    QCOMPARE(dialogs_.boxes[0].title, QStringLiteral("Information"));
  }

  void openListsNamesNumberedFromOne() {
    const QString path = Module("three.dll", {"Zulu", "Alpha", "Zulu"});
    int rowsWhileDialogShowed = -1;
    Open(QString());  // first a cancelled Open at start: empty list
    QCOMPARE(Rows(0), QStringList());
    dialogs_.whileOpenShows = [&] {
      rowsWhileDialogShowed = window_->ListView->model()->rowCount();
    };
    Open(path);
    QCOMPARE(dialogs_.openFilter,
             QStringLiteral("All supported files (*.dll,*.exe,*.ocx,*.vdx,*.bpl)|"
                            "*.dll;*.exe;*.ocx;*.vdx;*.bpl|All files (*.*)|*.*"));
    QCOMPARE(Rows(0), (QStringList{"Zulu", "Alpha", "Zulu"}));
    QCOMPARE(Rows(1), (QStringList{"1", "2", "3"}));
    QCOMPARE(window_->ListView->model()->index(0, 1).data(Qt::TextAlignmentRole).toInt(),
             static_cast<int>(Qt::AlignCenter));
    QVERIFY(dialogs_.boxes.isEmpty());

    // The list is cleared before the dialog shows; a cancel lists the
    // module read last again.
    Open(std::nullopt);
    QCOMPARE(rowsWhileDialogShowed, 0);
    QCOMPARE(Rows(0), (QStringList{"Zulu", "Alpha", "Zulu"}));
  }

  void openingAFirstCancelLeavesTheListEmpty() {
    Open(std::nullopt);
    QCOMPARE(window_->ListView->model()->rowCount(), 0);
    QCOMPARE(ExportNames.Count(), 0u);
  }

  void unusableFilesGiveAnEmptyListAndNoMessage() {
    const QString module = Module("m.dll", {"One"});
    WriteBytes(dir_->File("notes.txt"), std::vector<std::uint8_t>(100, 'x'));
    for (const QString& path :
         {QString::fromStdString(dir_->File("notes.txt")),
          QString::fromStdString(dir_->File("missing.dll")), module + QStringLiteral("-gone")}) {
      Open(module);
      QCOMPARE(Rows(0).size(), 1);
      Open(path);
      QCOMPARE(Rows(0), QStringList());
    }
    QVERIFY(dialogs_.boxes.isEmpty());
  }

  void editsAreDroppedByTheNextOpen() {
    const QString path = Module("m.dll", {"Original", "Second"});
    Open(path);
    auto* model = window_->ListView->model();
    QVERIFY(model->setData(model->index(0, 0), QStringLiteral("Typed over")));
    QVERIFY(!model->setData(model->index(0, 1), QStringLiteral("99")));
    QCOMPARE(Rows(0), (QStringList{"Typed over", "Second"}));
    QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
    QVERIFY(!(model->flags(model->index(0, 1)) & Qt::ItemIsEditable));
    Open(path);
    QCOMPARE(Rows(0), (QStringList{"Original", "Second"}));
  }

  // F2 on a row edits its name even from the second column, and the
  // selection is drawn only while the list has the focus.
  void theListEditsNamesInPlaceAndHidesAnInactiveSelection() {
    Open(Module("m.dll", {"First", "Second"}));
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    auto* view = window_->ListView;
    view->setFocus();
    view->setCurrentIndex(view->model()->index(1, 1));
    QTest::keyClick(view, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text(), QStringLiteral("Second"));
    editor->setText(QStringLiteral("Renamed"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(Rows(0), (QStringList{"First", "Renamed"}));  // committed when events run
    QCOMPARE(Rows(1), (QStringList{"1", "2"}));

    const QPalette p = view->palette();
    QCOMPARE(p.color(QPalette::Inactive, QPalette::Highlight),
             p.color(QPalette::Inactive, QPalette::Base));
    QVERIFY(p.color(QPalette::Active, QPalette::Highlight) !=
            p.color(QPalette::Active, QPalette::Base));
  }

  void namesAreShownInTheLocal8BitEncoding() {
    const QString path = Module("m.dll", {"plain", "", "caf\xC3\xA9"});
    Open(path);
    QCOMPARE(Rows(0), (QStringList{"plain", "", QString::fromLocal8Bit("caf\xC3\xA9")}));
    QCOMPARE(Rows(1), (QStringList{"1", "2", "3"}));
  }

  void rangeErrorShowsItsBoxAndKeepsTheNames() {
    PeModule m;
    m.names = {"N"};
    m.sharedNameCount = 1'048'577;
    const std::string path = dir_->File("huge.dll");
    WriteBytes(path, BuildPe(m).bytes);
    Open(QString::fromStdString(path));
    QCOMPARE(dialogs_.boxes.size(), 1);
    QCOMPARE(dialogs_.boxes[0].kind, QStringLiteral("error"));
    QCOMPARE(dialogs_.boxes[0].title, QStringLiteral("Kestrove"));
    QCOMPARE(dialogs_.boxes[0].text, QStringLiteral("Range check error."));
    QCOMPARE(window_->ListView->model()->rowCount(), 0);
    QCOMPARE(ExportNames.Count(), 1'048'576u);

    Open(std::nullopt);
    const auto* model = window_->ListView->model();
    QCOMPARE(model->rowCount(), 1'048'576);
    QCOMPARE(model->index(1'048'575, 1).data().toString(), QStringLiteral("1048576"));
  }

  void aboutShowsFourLinesAndChangesNothing() {
    const QString path = Module("m.dll", {"Kept"});
    Open(path);
    window_->tbAbout->click();
    QCOMPARE(dialogs_.boxes.size(), 1);
    QCOMPARE(dialogs_.boxes[0].kind, QStringLiteral("information"));
    QCOMPARE(dialogs_.boxes[0].title, QStringLiteral("Information"));
    const QStringList lines = dialogs_.boxes[0].text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1], QStringLiteral("Kestrove v 1.5"));
    QCOMPARE(Rows(0), QStringList{"Kept"});
  }

  void defaultHandlerAddsAFullStopAfterHighCharacters_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Range check error"
                            << "Range check error.";
    QTest::newRow("digit") << "Error 5"
                           << "Error 5.";
    QTest::newRow("slash (just above '.')") << "a/"
                                            << "a/.";
    QTest::newRow("full stop") << "Done."
                               << "Done.";
    QTest::newRow("hyphen (just below '.')") << "a-"
                                             << "a-";
    QTest::newRow("closing parenthesis") << "(x)"
                                         << "(x)";
    QTest::newRow("exclamation") << "Oops!"
                                 << "Oops!";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("non-ASCII letter")
        << QString::fromUtf8("caf\xC3\xA9") << QString::fromUtf8("caf\xC3\xA9.");
  }

  void defaultHandlerAddsAFullStopAfterHighCharacters() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(WithFullStop(message), shown);
    Guarded([&] { throw std::runtime_error(message.toLocal8Bit().toStdString()); });
    QCOMPARE(dialogs_.boxes.size(), 1);
    QCOMPARE(dialogs_.boxes[0].title, QStringLiteral("Kestrove"));
    QCOMPARE(dialogs_.boxes[0].text, shown);
  }

  // Opening a module again and again leaks nothing: the resident size stays
  // where the first few Opens put it. (Under AddressSanitizer its quarantine
  // grows the resident size on purpose; LeakSanitizer checks there instead.)
  void openingAThousandTimesKeepsMemoryFlat() {
    std::vector<std::string> names = kestrove::testing::BenchmarkNames(20'000);
    const QString path = Module("m.dll", names);
    const QString other = Module("n.dll", {"Other"});
    long settled = 0;
    for (int i = 0; i < 1000; ++i) {
      Open(i % 2 == 0 ? path : other);
      if (i == 20) settled = ResidentKiB();
    }
    Open(path);
    QCOMPARE(window_->ListView->model()->rowCount(), 20'000);
    QVERIFY(dialogs_.boxes.isEmpty());
#if !defined(__SANITIZE_ADDRESS__)
    const long grown = ResidentKiB() - settled;
    QVERIFY2(grown < 4096, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));
#endif
  }

  void resizingResizesTheListAndKeepsTheToolBarHeight() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    window_->resize(800, 600);
    QTRY_COMPARE(window_->ListView->width(), 800);
    QCOMPARE(window_->ToolBar->height(), 49);
    QCOMPARE(window_->ListView->height(), 600 - 49);
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
