// The main window and the process-wide state of the program.
#pragma once

#include <QWidget>

#include "NameModel.h"
#include "uHelper.h"

class QAction;
class QMenu;
class QToolBar;
class QToolButton;
class QTableView;

// The names of the module read last, in its name-table order.
extern kestrove::TNameList ExportNames;
// Passed to the reader on every Open; set by the settings dialog.
extern bool CompleteReading;

class TKestrove;
extern TKestrove* Kestrove;

// The tool bar glyphs: 0 Open, 1 Save, 2 About, 3 Settings.
class TImageList : public QObject {
  Q_OBJECT

 public:
  explicit TImageList(QObject* parent);
  QIcon Image(int index) const;

 private:
  QList<QIcon> images_;
};

// Where the list font is remembered: the executable's name, without its
// folder, with its extension replaced by ".ini".
QString SettingsFileName(const QString& executablePath);
// Replaces the extension of `fileName` (after its last "/", "\" or ":")
// with `extension`, or appends `extension` when it has none.
QString ChangeFileExt(const QString& fileName, const QString& extension);

// Writes every name followed by CR LF to `fileName`, replacing it as a whole.
// Throws with the message the user is shown when it cannot.
void SaveNameList(const QString& fileName, const kestrove::TNameList& names);

class TKestrove : public QWidget {
  Q_OBJECT

 public:
  explicit TKestrove(QWidget* parent = nullptr);

  QToolBar* ToolBar;
  QAction* ToolButton1;
  QToolButton* tbOpen;
  QAction* ToolButton3;
  QToolButton* tbSave;
  QAction* ToolButton5;
  QToolButton* tbAbout;
  QToolButton* tbSettings;
  QTableView* ListView;
  TNameModel* ListModel;
  TImageList* ImageList;
  QMenu* PopupMenu;
  QAction* menuCopy;
  QAction* N1;
  QAction* menuFont;

  // The settings file's path; by default the bare name in the profile
  // folder. Tests point it elsewhere.
  QString settingsPath;

 public slots:
  void tbOpenClick();
  void tbSaveClick();
  void tbAboutClick();
  void tbSettingsClick();
  void PopupMenuPopup();
  void menuCopyClick();
  void menuFontClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void FormClose();
  QToolButton* AddButton(const char* name, const QString& caption, int glyph, int width,
                         bool visible = true);
  QAction* AddSeparator(const char* name);

  bool shown_ = false;
};
