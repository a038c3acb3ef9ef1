// Every dialog and message box the windows open goes through IDialogs, so
// that the program shows the system's dialogs and tests can answer them.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

class QWidget;

// One entry of a file dialog's filter: what the user reads and the patterns
// it stands for.
struct TFilterEntry {
  QString description;
  QStringList patterns;
};

// Splits a filter written as "Description|pattern;pattern|Description|pattern".
QList<TFilterEntry> ParseFilter(const QString& filter);

class IDialogs {
 public:
  virtual ~IDialogs() = default;

  // The open dialog with `filter`, its first entry selected. True and the
  // chosen path in `fileName` when the user confirms.
  virtual bool OpenFile(QWidget* parent, const QString& filter, QString& fileName) = 0;
  // The save dialog; `filterIndex` (from 1) tells which entry was selected.
  virtual bool SaveFile(QWidget* parent, const QString& filter, QString& fileName,
                        int& filterIndex) = 0;
  // The font dialog starting at `font`; true and the choice in `font` when
  // the user confirms.
  virtual bool ChooseFont(QWidget* parent, QFont& font) = 0;
  virtual void Information(QWidget* parent, const QString& title, const QString& text) = 0;
  virtual void Error(QWidget* parent, const QString& title, const QString& text) = 0;
};

// The system's dialogs.
class TSystemDialogs : public IDialogs {
 public:
  bool OpenFile(QWidget* parent, const QString& filter, QString& fileName) override;
  bool SaveFile(QWidget* parent, const QString& filter, QString& fileName,
                int& filterIndex) override;
  bool ChooseFont(QWidget* parent, QFont& font) override;
  void Information(QWidget* parent, const QString& title, const QString& text) override;
  void Error(QWidget* parent, const QString& title, const QString& text) override;
};
