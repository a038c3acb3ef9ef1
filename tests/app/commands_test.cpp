// Save, the list's pop-up menu, the remembered font and the settings dialog.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <memory>

#include "AtomicFile.h"
#include "FakeDialogs.h"
#include "PeWriter.h"
#include "TempDir.h"
#include "uApplication.h"
#include "uMain.h"
#include "uSettings.h"

using kestrove::testing::BuildPe;
using kestrove::testing::PeModule;
using kestrove::testing::ReadWholeFile;
using kestrove::testing::TempDir;
using kestrove::testing::WriteBytes;

namespace {

void WriteText(const QString& path, const QByteArray& text) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(text);
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return "<missing>";
  return f.readAll();
}

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

 private:
  FakeDialogs dialogs_;
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<TKestrove> window_;

  QString Path(const char* name) const { return QString::fromStdString(dir_->File(name)); }

  QString Module(const char* name, std::vector<std::string> names) {
    PeModule m;
    m.names = std::move(names);
    WriteBytes(dir_->File(name), BuildPe(m).bytes);
    return Path(name);
  }

  void Open(const std::optional<QString>& answer) {
    dialogs_.openAnswer = answer;
    window_->tbOpen->click();
  }

  void Save(const std::optional<QString>& answer, int filterIndex = 1) {
    dialogs_.saveAnswer = answer;
    dialogs_.saveFilterIndex = filterIndex;
    window_->tbSave->click();
  }

  void SelectRow(int row) {
    window_->ListView->setCurrentIndex(window_->ListView->model()->index(row, 0));
  }

  // A fresh window over the same settings file, shown so FormShow runs.
  void Restart() {
    const QString settings = window_->settingsPath;
    window_->close();
    window_ = std::make_unique<TKestrove>();
    window_->settingsPath = settings;
    window_->show();
  }

 private slots:
  void init() {
    dialogs_ = FakeDialogs();
    SetDialogs(&dialogs_);
    ExportNames.Clear();
    CompleteReading = false;
    dir_ = std::make_unique<TempDir>();
    window_ = std::make_unique<TKestrove>();
    window_->settingsPath = Path("kestrove.ini");
  }

  void cleanup() {
    window_.reset();
    dir_.reset();
    SetDialogs(nullptr);
    kestrove::platform::AtomicFile::FailWritesAfterForTesting(-1);
  }

  // --- Save ---------------------------------------------------------------

  void changeFileExtFollowsTheFileNameRule_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("saved");
    QTest::newRow("no extension") << "names"
                                  << "names.txt";
    QTest::newRow("other extension") << "names.csv"
                                     << "names.txt";
    QTest::newRow("two dots") << "list.old.dat"
                              << "list.old.txt";
    QTest::newRow("dot in a Windows folder") << "C:\\out.d\\names"
                                             << "C:\\out.d\\names.txt";
    QTest::newRow("dot in a folder") << "/tmp/out.d/names"
                                     << "/tmp/out.d/names.txt";
    QTest::newRow("drive colon") << "C:names"
                                 << "C:names.txt";
    QTest::newRow("trailing dot") << "names."
                                  << "names.txt";
    QTest::newRow("hidden file") << "/tmp/.names"
                                 << "/tmp/.txt";
  }

  void changeFileExtFollowsTheFileNameRule() {
    QFETCH(QString, given);
    QFETCH(QString, saved);
    QCOMPARE(ChangeFileExt(given, QStringLiteral(".txt")), saved);
  }

  void saveWritesEachNameWithCrLf() {
    Open(Module("abc.dll", {"A", "B", "C"}));
    Save(Path("names"));
    QCOMPARE(dialogs_.saveFilter, QStringLiteral("Text file (*.txt)|*.txt|All files (*,.*)|*.*"));
    QCOMPARE(ReadAll(Path("names.txt")), QByteArray("A\r\nB\r\nC\r\n"));
    QCOMPARE(ReadAll(Path("names")), QByteArray("<missing>"));
    QVERIFY(dialogs_.boxes.isEmpty());
  }

  void saveWithTheSecondFilterKeepsTheName() {
    Open(Module("abc.dll", {"A"}));
    Save(Path("names.csv"), 2);
    QCOMPARE(ReadAll(Path("names.csv")), QByteArray("A\r\n"));
    Save(Path("plain"), 2);
    QCOMPARE(ReadAll(Path("plain")), QByteArray("A\r\n"));
  }

  void saveWritesTheModulesNamesNotTheRows() {
    Open(Module("m.dll", {"caf\xE9", "", "Z"}));
    auto* model = window_->ListView->model();
    model->setData(model->index(0, 0), QStringLiteral("edited"));
    Open(std::nullopt);  // a cancelled Open keeps the names read before
    model->setData(model->index(2, 0), QStringLiteral("edited too"));
    Save(Path("out.txt"));
    QCOMPARE(ReadAll(Path("out.txt")), QByteArray("caf\xE9\r\n\r\nZ\r\n"));
  }

  void saveBeforeAnyOpenWritesAnEmptyFileAndReplacesWithoutAsking() {
    WriteText(Path("out.txt"), "old content that is longer");
    Save(Path("out.txt"));
    QCOMPARE(ReadAll(Path("out.txt")), QByteArray());
    Save(std::nullopt);  // cancel: nothing written
    QVERIFY(dialogs_.boxes.isEmpty());
  }

  void saveThatCannotCreateTheFileSaysWhy() {
    WriteText(Path("file"), "x");
    struct Case {
      QString path;
      QString reason;
    };
    for (const Case& c : {Case{Path("missing/out.txt"), "No such file or directory"},
                          Case{Path("file/out.txt"), "Not a directory"}}) {
      dialogs_.boxes.clear();
      Save(c.path);
      QCOMPARE(dialogs_.boxes.size(), 1);
      QCOMPARE(dialogs_.boxes[0].title, QStringLiteral("Kestrove"));
      QCOMPARE(dialogs_.boxes[0].text,
               QStringLiteral("Cannot create file \"%1\". %2.").arg(c.path, c.reason));
    }
    QDir(Path("folder.txt")).mkpath(QStringLiteral("."));
    dialogs_.boxes.clear();
    Save(Path("folder.txt"));
    QCOMPARE(dialogs_.boxes.size(), 1);
    QVERIFY(dialogs_.boxes[0].text.endsWith(QStringLiteral("Is a directory.")));
    QVERIFY(QFileInfo(Path("folder.txt")).isDir());
  }

  void aFailedWriteKeepsTheOldFileAndLeavesNoPartOfTheNewOne() {
    std::vector<std::string> many(50'000, "SomeExportedName");
    Open(Module("many.dll", many));
    WriteText(Path("out.txt"), "precious");
    kestrove::platform::AtomicFile::FailWritesAfterForTesting(100'000);
    Save(Path("out.txt"));
    QCOMPARE(dialogs_.boxes.size(), 1);
    QCOMPARE(dialogs_.boxes[0].text, QStringLiteral("Stream write error."));
    QCOMPARE(ReadAll(Path("out.txt")), QByteArray("precious"));
    QCOMPARE(QDir(dir_->Path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // module, out
    QCOMPARE(ExportNames.Count(), 50'000u);
  }

  // --- Pop-up menu ----------------------------------------------------------

  void copyIsEnabledOnlyWithASelection() {
    window_->PopupMenuPopup();
    QVERIFY(!window_->menuCopy->isEnabled());
    QVERIFY(window_->menuFont->isEnabled());
    Open(Module("m.dll", {"First", "Second"}));
    window_->PopupMenuPopup();
    QVERIFY(!window_->menuCopy->isEnabled());
    SelectRow(1);
    emit window_->PopupMenu->aboutToShow();
    QVERIFY(window_->menuCopy->isEnabled());
  }

  void copyPutsTheRowsCaptionOnTheClipboard() {
    Open(Module("m.dll", {"First", "Second"}));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    window_->menuCopy->trigger();  // no selection: nothing happens
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    SelectRow(1);
    window_->menuCopy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Second"));
    auto* model = window_->ListView->model();
    model->setData(model->index(0, 0), QStringLiteral("Typed over"));
    SelectRow(0);
    window_->menuCopy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Typed over"));
    QVERIFY(dialogs_.boxes.isEmpty());
  }

  void fontChangesTheListAlone() {
    const QFont toolBarFont = window_->tbOpen->font();
    QFont chosen(QStringLiteral("Courier"));
    chosen.setPointSize(12);
    chosen.setBold(true);
    chosen.setUnderline(true);
    dialogs_.fontAnswer = chosen;
    window_->menuFont->trigger();
    QCOMPARE(dialogs_.fontOffered, window_->font());
    QCOMPARE(window_->ListView->font().family(), QStringLiteral("Courier"));
    QCOMPARE(window_->ListView->font().pointSize(), 12);
    QVERIFY(window_->ListView->font().bold());
    QVERIFY(window_->ListView->font().underline());
    QCOMPARE(window_->tbOpen->font(), toolBarFont);

    dialogs_.fontAnswer.reset();  // a cancelled dialog changes nothing
    window_->menuFont->trigger();
    QCOMPARE(window_->ListView->font().pointSize(), 12);
  }

  // --- The remembered font --------------------------------------------------

  void firstStartUsesTahomaEightRegular() {
    window_->show();
    const QFont f = window_->ListView->font();
    QCOMPARE(f.family(), QStringLiteral("Tahoma"));
    QCOMPARE(f.pointSize(), 8);
    QVERIFY(!f.bold() && !f.italic() && !f.underline() && !f.strikeOut());
    QVERIFY(!QFile::exists(window_->settingsPath));  // nothing written before the close
  }

  void closeWritesTheFourLinesAndAStartReadsThemBack() {
    window_->show();
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSize(10);
    f.setBold(true);
    f.setItalic(true);
    f.setUnderline(true);
    f.setStrikeOut(true);
    window_->ListView->setFont(f);
    Restart();
    QCOMPARE(
        ReadAll(Path("kestrove.ini")),
        QByteArray("[Settings]\nFont.Name=Tahoma\nFont.Size=10\nFont.Style=fsBold,fsItalic\n"));
    const QFont back = window_->ListView->font();
    QCOMPARE(back.family(), QStringLiteral("Tahoma"));
    QCOMPARE(back.pointSize(), 10);
    QVERIFY(back.bold() && back.italic());
    QVERIFY(!back.underline() && !back.strikeOut());  // never remembered
  }

  void italicAloneIsWrittenWithItsLeadingComma() {
    window_->show();
    QFont f(QStringLiteral("Serif"));
    f.setPointSize(9);
    f.setItalic(true);
    window_->ListView->setFont(f);
    Restart();
    QVERIFY(ReadAll(Path("kestrove.ini")).contains("Font.Style=,fsItalic\n"));
    QVERIFY(window_->ListView->font().italic());
    QVERIFY(!window_->ListView->font().bold());
    QCOMPARE(window_->ListView->font().family(), QStringLiteral("Serif"));
  }

  void storedValuesAreReadAsTheyWereMeant_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::newRow("Bold") << QByteArray("[Settings]\nFont.Style=Bold\n") << 8 << true << false;
    QTest::newRow("BOLD ITALIC") << QByteArray("[settings]\nfont.style=BOLD ITALIC\n") << 8 << true
                                 << true;
    QTest::newRow("fsUnderline ignored")
        << QByteArray("[Settings]\nFont.Style=fsUnderline\n") << 8 << false << false;
    QTest::newRow("size abc") << QByteArray("[Settings]\nFont.Size=abc\n") << 8 << false << false;
    QTest::newRow("size $0C") << QByteArray("[Settings]\nFont.Size=$0C\n") << 12 << false << false;
    QTest::newRow("size 0x0C") << QByteArray("[Settings]\nFont.Size=0x0C\n") << 12 << false
                               << false;
    QTest::newRow("size 0") << QByteArray("[Settings]\nFont.Size=0\n") << 8 << false << false;
    QTest::newRow("garbage") << QByteArray("\x01\x02[Set\xFFtings\n\0\0=", 16) << 8 << false
                             << false;
  }

  void storedValuesAreReadAsTheyWereMeant() {
    QFETCH(QByteArray, file);
    QFETCH(int, size);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    WriteText(Path("kestrove.ini"), file);
    window_->show();
    const QFont f = window_->ListView->font();
    QCOMPARE(f.pointSize(), size);
    QCOMPARE(f.bold(), bold);
    QCOMPARE(f.italic(), italic);
    QCOMPARE(f.family(), QStringLiteral("Tahoma"));
  }

  void aCloseWritesTheFontAndKeepsOtherSections() {
    WriteText(Path("kestrove.ini"), "[Mine]\r\nkeep=1\r\n[Settings]\r\nFont.Size=11\r\n");
    window_->show();
    QCOMPARE(window_->ListView->font().pointSize(), 11);
    window_->close();
    QCOMPARE(ReadAll(Path("kestrove.ini")),
             QByteArray("[Mine]\r\nkeep=1\r\n[Settings]\r\nFont.Size=11\r\nFont.Name=Tahoma\r\n"
                        "Font.Style=\r\n"));
  }

  void aRefusedWriteKeepsTheWindowOpenUntilAClosingWorks() {
    WriteText(Path("blocker"), "a file, not a folder");
    window_->settingsPath = Path("blocker/kestrove.ini");
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(!window_->close());
    QVERIFY(window_->isVisible());
    QCOMPARE(dialogs_.boxes.size(), 1);
    QCOMPARE(dialogs_.boxes[0].title, QStringLiteral("Kestrove"));
    QCOMPARE(dialogs_.boxes[0].text, QStringLiteral("Unable to write to kestrove.ini."));
    window_->settingsPath = Path("kestrove.ini");
    QVERIFY(window_->close());
    QVERIFY(!window_->isVisible());
  }

  void settingsFileIsNamedAfterTheExecutable_data() {
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("settings");
    QTest::newRow("Windows") << "C:\\Tools\\viewer.exe"
                             << "viewer.ini";
    QTest::newRow("drive only") << "C:viewer.exe"
                                << "viewer.ini";
    QTest::newRow("Linux") << "/usr/bin/kestrove"
                           << "kestrove.ini";
    QTest::newRow("two dots") << "/opt/k/my.tool.bin"
                              << "my.tool.ini";
    QTest::newRow("dotted folder") << "/opt/k.d/kestrove"
                                   << "kestrove.ini";
  }

  void settingsFileIsNamedAfterTheExecutable() {
    QFETCH(QString, executable);
    QFETCH(QString, settings);
    QCOMPARE(SettingsFileName(executable), settings);
  }

  void settingsFileLivesInTheConfigFolder() {
    qputenv("XDG_CONFIG_HOME", dir_->Path().c_str());
    TKestrove other;
    QCOMPARE(other.settingsPath,
             QString::fromStdString(dir_->File(
                 SettingsFileName(QCoreApplication::applicationFilePath()).toStdString())));
  }

  // --- The settings dialog --------------------------------------------------

  void settingsDialogLayout() {
    TSettings dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("Settings"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(dialog.cbComplete->text(), QStringLiteral("&Complete reading"));
    QCOMPARE(dialog.btnOK->text(), QStringLiteral("&OK"));
    QCOMPARE(dialog.btnCancel->text(), QStringLiteral("&Cancel"));
    QVERIFY(!dialog.cbComplete->isChecked());
    QVERIFY(dialog.btnCancel->isDefault());
    QCOMPARE(dialog.size(), QSize(304, 98));  // 380 x 122 at 120 pixels per inch
    QCOMPARE(dialog.btnOK->geometry(), QRect(221, 38, 60, 20));
    QCOMPARE(dialog.btnCancel->geometry(), QRect(154, 38, 60, 20));
    QCOMPARE(dialog.cbComplete->nextInFocusChain(), dialog.btnOK);
    QCOMPARE(dialog.btnOK->nextInFocusChain(), dialog.btnCancel);
    QVERIFY(!dialog.isVisible());
  }

  // Runs `steps` once the modal dialog is up, then waits for it to close.
  void RunDialog(TSettings& dialog, const std::function<void()>& steps) {
    bool ran = false;
    QTimer::singleShot(0, &dialog, [&] {
      QVERIFY(QTest::qWaitForWindowActive(&dialog));
      steps();
      ran = true;
    });
    dialog.exec();
    QVERIFY(ran);
  }

  void okStoresTheBoxAndOtherWaysOutDoNot_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("flag");
    QTest::newRow("OK") << "ok" << true;
    QTest::newRow("Alt+O") << "alt+o" << true;
    QTest::newRow("Cancel") << "cancel" << false;
    QTest::newRow("Enter on the check box") << "enter" << false;
    QTest::newRow("close box") << "close" << false;
  }

  void okStoresTheBoxAndOtherWaysOutDoNot() {
    QFETCH(QString, how);
    QFETCH(bool, flag);
    TSettings dialog;
    RunDialog(dialog, [&] {
      QCOMPARE(QApplication::focusWidget(), dialog.cbComplete);
      QTest::keyClick(dialog.cbComplete, Qt::Key_Space);
      QVERIFY(dialog.cbComplete->isChecked());
      if (how == "ok") dialog.btnOK->click();
      if (how == "alt+o") QTest::keyClick(&dialog, Qt::Key_O, Qt::AltModifier);
      if (how == "cancel") dialog.btnCancel->click();
      if (how == "enter") QTest::keyClick(dialog.cbComplete, Qt::Key_Return);
      if (how == "close") dialog.close();
    });
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(CompleteReading, flag);
    QVERIFY(dialog.cbComplete->isChecked());  // the box keeps its state either way
  }

  void enterPressesOkWhileOkHasTheFocus() {
    TSettings dialog;
    RunDialog(dialog, [&] {
      dialog.cbComplete->setChecked(true);
      dialog.btnOK->setFocus();
      QTest::keyClick(dialog.btnOK, Qt::Key_Return);
    });
    QTRY_VERIFY(!dialog.isVisible());
    QVERIFY(CompleteReading);
  }

  void escapeDoesNotCloseAndCTogglesTheBoxNeverCancel() {
    TSettings dialog;
    RunDialog(dialog, [&] {
      QTest::keyClick(dialog.cbComplete, Qt::Key_Escape);
      QVERIFY(dialog.isVisible());
      QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
      QTRY_VERIFY(dialog.cbComplete->isChecked());
      QVERIFY(dialog.isVisible());
      dialog.btnOK->setFocus();
      QTest::keyClick(dialog.btnOK, Qt::Key_C);  // C alone on a button
      QTRY_VERIFY(!dialog.cbComplete->isChecked());
      QCOMPARE(QApplication::focusWidget(), dialog.cbComplete);
      QVERIFY(dialog.isVisible());
      dialog.btnCancel->click();
    });
    QVERIFY(!CompleteReading);
  }

  void settingsButtonShowsTheDialogAndTheFlagChangesNoNames() {
    Settings = new TSettings;
    const QString path = Module("m.dll", {"b", "a"});
    Open(path);
    QTimer::singleShot(0, Settings, [] {
      Settings->cbComplete->setChecked(true);
      Settings->btnOK->click();
    });
    QVERIFY(window_->tbSettings->isEnabled());
    window_->tbSettings->click();
    QVERIFY(CompleteReading);
    Open(path);
    QCOMPARE(window_->ListView->model()->rowCount(), 2);
    QCOMPARE(window_->ListView->model()->index(0, 0).data().toString(), QStringLiteral("b"));
    window_->close();
    QVERIFY(!ReadAll(Path("kestrove.ini")).contains("omplete"));  // never stored
    delete Settings;
    Settings = nullptr;
  }
};

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
