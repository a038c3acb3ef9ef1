// Answers the window's dialogs without a person and records what was shown.
#pragma once

#include <QFont>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

#include "Dialogs.h"

class FakeDialogs : public IDialogs {
 public:
  struct Box {
    QString kind;  // "information" or "error"
    QString title;
    QString text;
  };

  // The next answers; std::nullopt cancels.
  std::optional<QString> openAnswer;
  std::optional<QString> saveAnswer;
  int saveFilterIndex = 1;
  std::optional<QFont> fontAnswer;
  // Runs while the open dialog is "showing".
  std::function<void()> whileOpenShows;

  QString openFilter;
  QString saveFilter;
  QFont fontOffered;
  int opens = 0;
  int saves = 0;
  QList<Box> boxes;

  bool OpenFile(QWidget*, const QString& filter, QString& fileName) override {
    ++opens;
    openFilter = filter;
    if (whileOpenShows) whileOpenShows();
    if (!openAnswer) return false;
    fileName = *openAnswer;
    return true;
  }
  bool SaveFile(QWidget*, const QString& filter, QString& fileName, int& filterIndex) override {
    ++saves;
    saveFilter = filter;
    if (!saveAnswer) return false;
    fileName = *saveAnswer;
    filterIndex = saveFilterIndex;
    return true;
  }
  bool ChooseFont(QWidget*, QFont& font) override {
    fontOffered = font;
    if (!fontAnswer) return false;
    font = *fontAnswer;
    return true;
  }
  void Information(QWidget*, const QString& title, const QString& text) override {
    boxes.append({QStringLiteral("information"), title, text});
  }
  void Error(QWidget*, const QString& title, const QString& text) override {
    boxes.append({QStringLiteral("error"), title, text});
  }
};
