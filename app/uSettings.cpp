#include "uSettings.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>

#include "uMain.h"

TSettings* Settings = nullptr;

namespace {

// The dialog was laid out at 120 pixels per inch; Qt's logical pixels are
// at 96.
int Scaled(int designed) { return (designed * 96 + 60) / 120; }

QRect ScaledRect(int left, int top, int width, int height) {
  return {Scaled(left), Scaled(top), Scaled(width), Scaled(height)};
}

}  // namespace

TSettings::TSettings(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Settings"));
  setWindowTitle(QStringLiteral("Settings"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(false);
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  QFont font(QStringLiteral("Tahoma"));
  font.setPointSizeF(13.0 * 72.0 / 120.0);  // 13 pixels at 120 pixels per inch
  setFont(font);
  const QRect outer = ScaledRect(366, 146, 380, 122);
  move(outer.topLeft());
  resize(outer.size());

  // Created in tab order; the check box comes first, so its access key C
  // wins over Cancel's.
  cbComplete = new QCheckBox(QStringLiteral("&Complete reading"), this);
  cbComplete->setObjectName(QStringLiteral("cbComplete"));
  cbComplete->setGeometry(ScaledRect(18, 12, 169, 17));

  btnOK = new QPushButton(QStringLiteral("&OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(ScaledRect(276, 48, 75, 25));
  btnOK->setAutoDefault(true);  // Enter presses it while it has the focus

  btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(ScaledRect(192, 48, 75, 25));
  btnCancel->setDefault(true);
  btnCancel->setShortcut(QKeySequence());  // C belongs to the check box

  setTabOrder(cbComplete, btnOK);
  setTabOrder(btnOK, btnCancel);

  connect(btnOK, &QPushButton::clicked, this, &TSettings::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int TSettings::exec() {
  if (!shownBefore_) {
    shownBefore_ = true;
    cbComplete->setFocus(Qt::OtherFocusReason);
  }
  return QDialog::exec();
}

void TSettings::btnOKClick() {
  CompleteReading = cbComplete->isChecked();
  accept();
}

void TSettings::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();  // Escape does not close the dialog
    return;
  }
  // Without Alt, an access key still works while a button or the check box
  // has the focus.
  if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::ShiftModifier) {
    if (event->key() == Qt::Key_C) {
      cbComplete->setFocus(Qt::ShortcutFocusReason);
      cbComplete->toggle();
      event->accept();
      return;
    }
    if (event->key() == Qt::Key_O) {
      btnOK->setFocus(Qt::ShortcutFocusReason);
      btnOK->click();
      event->accept();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}
