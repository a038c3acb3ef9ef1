// The settings dialog: one option, whose OK button stores it in
// CompleteReading.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

class TSettings : public QDialog {
  Q_OBJECT

 public:
  explicit TSettings(QWidget* parent = nullptr);

  QCheckBox* cbComplete;
  QPushButton* btnOK;
  QPushButton* btnCancel;

  // Shows the dialog modally, the first time with the focus on cbComplete.
  int exec() override;

 public slots:
  void btnOKClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool shownBefore_ = false;
};

extern TSettings* Settings;
