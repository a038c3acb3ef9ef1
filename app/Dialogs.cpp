#include "Dialogs.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>

QList<TFilterEntry> ParseFilter(const QString& filter) {
  QList<TFilterEntry> entries;
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    entries.append({parts[i], parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)});
  }
  return entries;
}

namespace {

// A pattern that matches whatever the case of the file's name, as users of
// these files expect: "*.dll" also lists "KERNEL32.DLL".
QString AnyCase(const QString& pattern) {
  QString out;
  for (const QChar c : pattern) {
    if (c.isLetter() && c.toLower() != c.toUpper()) {
      out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    } else {
      out += c;
    }
  }
  return out;
}

// Qt's dialogs read the patterns from the last parentheses of each entry;
// with HideNameFilterDetails the user sees only the description.
QStringList QtNameFilters(const QList<TFilterEntry>& entries) {
  QStringList filters;
  for (const TFilterEntry& e : entries) {
    QStringList patterns;
    for (const QString& p : e.patterns) patterns.append(AnyCase(p));
    filters.append(e.description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')'));
  }
  return filters;
}

void Prepare(QFileDialog& dialog, const QList<TFilterEntry>& entries) {
  dialog.setNameFilters(QtNameFilters(entries));
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
#ifndef Q_OS_WIN
  // The patterns above are written for Qt's own dialog.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
#endif
}

}  // namespace

bool TSystemDialogs::OpenFile(QWidget* parent, const QString& filter, QString& fileName) {
  QFileDialog dialog(parent);
  const QList<TFilterEntry> entries = ParseFilter(filter);
  Prepare(dialog, entries);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // a typed name need not exist
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().constFirst();
  return true;
}

bool TSystemDialogs::SaveFile(QWidget* parent, const QString& filter, QString& fileName,
                              int& filterIndex) {
  QFileDialog dialog(parent);
  const QList<TFilterEntry> entries = ParseFilter(filter);
  Prepare(dialog, entries);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().constFirst();
  filterIndex = static_cast<int>(QtNameFilters(entries).indexOf(dialog.selectedNameFilter())) + 1;
  if (filterIndex < 1) filterIndex = 1;
  return true;
}

bool TSystemDialogs::ChooseFont(QWidget* parent, QFont& font) {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, font, parent);
  if (ok) font = chosen;
  return ok;
}

void TSystemDialogs::Information(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
  box.exec();
}

void TSystemDialogs::Error(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
  box.exec();
}
