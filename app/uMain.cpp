#include "uMain.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "AtomicFile.h"
#include "Dialogs.h"
#include "Profile.h"
#include "uApplication.h"
#include "uSettings.h"

kestrove::TNameList ExportNames;
bool CompleteReading = false;
TKestrove* Kestrove = nullptr;

namespace {

const QString kOpenFilter = QStringLiteral(
    "All supported files (*.dll,*.exe,*.ocx,*.vdx,*.bpl)|*.dll;*.exe;*.ocx;*.vdx;*.bpl|"
    "All files (*.*)|*.*");
const QString kSaveFilter = QStringLiteral("Text file (*.txt)|*.txt|All files (*,.*)|*.*");

const char kSection[] = "Settings";
const char kFontName[] = "Font.Name";
const char kFontSize[] = "Font.Size";
const char kFontStyle[] = "Font.Style";

const QString kAboutText = QStringLiteral(
    "Kestrove lists the names a Windows PE/COFF module exports.\n"
    "Kestrove v 1.5\n"
    "Free software under the MIT licence.\n"
    "Source and issue tracker: the project's repository (see its README).");

// A report list over the model: one row per name, all rows of one height,
// so a million rows cost nothing to lay out. A click on the selected row, or
// F2, edits its name whichever column was clicked.
class TListView : public QTableView {
 public:
  explicit TListView(QWidget* parent) : QTableView(parent) {
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setItemDelegate(new TRowDelegate(this));
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    FitRowHeight();
  }

 protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override {
    return QTableView::edit(index.isValid() ? index.siblingAtColumn(0) : index, trigger, event);
  }
  void changeEvent(QEvent* event) override {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) FitRowHeight();
  }

 private:
  // The focus is shown for the row, not for one of its cells.
  class TRowDelegate : public QStyledItemDelegate {
   public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
      QStyleOptionViewItem plain(option);
      plain.state &= ~QStyle::State_HasFocus;
      QStyledItemDelegate::paint(painter, plain, index);
    }
  };

  void FitRowHeight() {
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 3);
  }
};

std::string Local8Bit(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace

// Writes through a buffer of a megabyte.
void SaveNameList(const QString& fileName, const kestrove::TNameList& names) {
  const std::string path = QFile::encodeName(fileName).toStdString();
  kestrove::platform::AtomicFile file;
  if (!file.Open(path)) {
    const QString full = QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
    throw std::runtime_error(Local8Bit(QStringLiteral("Cannot create file \"%1\". %2")
                                           .arg(full, QString::fromLocal8Bit(file.Error()))));
  }
  constexpr std::size_t kChunk = 1 << 20;
  std::vector<char> buffer(kChunk);
  std::size_t used = 0;
  const auto flush = [&] {
    if (!file.Write(buffer.data(), used)) throw std::runtime_error("Stream write error");
    used = 0;
  };
  for (std::size_t i = 0; i < names.Count(); ++i) {
    const std::string_view name = names[i];
    if (used + name.size() + 2 > kChunk) {
      flush();
      if (name.size() + 2 > kChunk) buffer.resize(name.size() + 2);
    }
    std::memcpy(buffer.data() + used, name.data(), name.size());
    used += name.size();
    buffer[used++] = '\r';
    buffer[used++] = '\n';
  }
  flush();
  if (!file.Commit()) throw std::runtime_error("Stream write error");
}

// ---------------------------------------------------------------------------

static void InitResources() { Q_INIT_RESOURCE(kestrove); }

TImageList::TImageList(QObject* parent) : QObject(parent) {
  InitResources();  // the glyphs live in a static library's resources
  setObjectName(QStringLiteral("ImageList"));
  for (const char* name : {"open", "save", "about", "settings"}) {
    images_.append(QIcon(QStringLiteral(":/glyphs/%1.png").arg(QLatin1String(name))));
  }
}

QIcon TImageList::Image(int index) const { return images_.value(index); }

// Where the folder part of a path ends: its last "/", "\\" or ":", or -1.
static qsizetype LastSeparator(const QString& path) {
  qsizetype separator = -1;
  for (const QChar c : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')}) {
    separator = std::max(separator, path.lastIndexOf(c));
  }
  return separator;
}

QString ChangeFileExt(const QString& fileName, const QString& extension) {
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot > LastSeparator(fileName)) return fileName.left(dot) + extension;
  return fileName + extension;
}

QString SettingsFileName(const QString& executablePath) {
  return ChangeFileExt(executablePath.mid(LastSeparator(executablePath) + 1),
                       QStringLiteral(".ini"));
}

// ---------------------------------------------------------------------------

TKestrove::TKestrove(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Kestrove"));
  setWindowTitle(QStringLiteral("Kestrove"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/kestrove-32.png")));
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(10);
  setFont(font);
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  move(240, 170);
  resize(574, 367);

  const QString bareName = SettingsFileName(QCoreApplication::applicationFilePath());
  settingsPath = QString::fromLocal8Bit(kestrove::platform::ProfileLocation(Local8Bit(bareName)));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  ImageList = new TImageList(this);

  ToolBar = new QToolBar(this);
  ToolBar->setObjectName(QStringLiteral("ToolBar"));
  ToolBar->setMovable(false);
  ToolBar->setFloatable(false);
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  ToolBar->setIconSize(QSize(16, 16));
  ToolBar->setFixedHeight(49);
  ToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
  layout->addWidget(ToolBar);

  ToolButton1 = AddSeparator("ToolButton1");
  tbOpen = AddButton("tbOpen", QStringLiteral("&Open"), 0, 0);
  ToolButton3 = AddSeparator("ToolButton3");
  tbSave = AddButton("tbSave", QStringLiteral("&Save"), 1, 49);
  ToolButton5 = AddSeparator("ToolButton5");
  tbAbout = AddButton("tbAbout", QStringLiteral("&About"), 2, 49);
  tbSettings = AddButton("tbSettings", QStringLiteral("&Settings"), 3, 49, false);

  connect(tbOpen, &QToolButton::clicked, this, [this] { Guarded([this] { tbOpenClick(); }); });
  connect(tbSave, &QToolButton::clicked, this, [this] { Guarded([this] { tbSaveClick(); }); });
  connect(tbAbout, &QToolButton::clicked, this, [this] { Guarded([this] { tbAboutClick(); }); });
  connect(tbSettings, &QToolButton::clicked, this,
          [this] { Guarded([this] { tbSettingsClick(); }); });

  ListModel = new TNameModel(this);
  ListView = new TListView(this);
  ListView->setObjectName(QStringLiteral("ListView"));
  ListView->setModel(ListModel);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  ListView->setSortingEnabled(false);
  ListView->setColumnWidth(0, 263);
  ListView->setColumnWidth(1, 188);
  // The selection is not shown while the list has no focus.
  QPalette palette = ListView->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Inactive, QPalette::Base));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Inactive, QPalette::Text));
  ListView->setPalette(palette);
  ListView->setContextMenuPolicy(Qt::CustomContextMenu);
  layout->addWidget(ListView, 1);

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
  menuCopy = PopupMenu->addAction(QStringLiteral("Copy"));
  menuCopy->setObjectName(QStringLiteral("menuCopy"));
  N1 = PopupMenu->addSeparator();
  N1->setObjectName(QStringLiteral("N1"));
  menuFont = PopupMenu->addAction(QStringLiteral("Font..."));
  menuFont->setObjectName(QStringLiteral("menuFont"));
  connect(PopupMenu, &QMenu::aboutToShow, this, [this] { Guarded([this] { PopupMenuPopup(); }); });
  connect(menuCopy, &QAction::triggered, this, [this] { Guarded([this] { menuCopyClick(); }); });
  connect(menuFont, &QAction::triggered, this, [this] { Guarded([this] { menuFontClick(); }); });
  connect(ListView, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu->popup(ListView->viewport()->mapToGlobal(at)); });

  setTabOrder(ToolBar, ListView);
  ListView->setFocus();
}

QToolButton* TKestrove::AddButton(const char* name, const QString& caption, int glyph, int width,
                                  bool visible) {
  auto* button = new QToolButton(ToolBar);
  button->setObjectName(QLatin1String(name));
  button->setText(caption);  // the "&" marks the access key
  button->setIcon(ImageList->Image(glyph));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setFixedHeight(35);
  if (width > 0) {
    button->setFixedWidth(width);
  } else {
    button->setMinimumWidth(0);  // sized to its caption
  }
  if (visible) {
    ToolBar->addWidget(button);
  } else {
    // Stays off the bar's layout, so it takes no room, and keeps no access
    // key, so nothing reaches it; it is still enabled like every button.
    button->setShortcut(QKeySequence());
    button->hide();
  }
  return button;
}

QAction* TKestrove::AddSeparator(const char* name) {
  QAction* separator = ToolBar->addSeparator();
  separator->setObjectName(QLatin1String(name));
  if (QWidget* w = ToolBar->widgetForAction(separator)) {
    w->setObjectName(QLatin1String(name));
    w->setFixedWidth(8);
  }
  return separator;
}

// ---------------------------------------------------------------------------
// Commands

void TKestrove::tbOpenClick() {
  ListModel->Clear();
  QString fileName;
  if (Dialogs().OpenFile(this, kOpenFilter, fileName)) {
    kestrove::ReadExportNames(QFile::encodeName(fileName).toStdString(), ExportNames,
                              CompleteReading);
  }
  ListModel->Assign(ExportNames);
}

void TKestrove::tbSaveClick() {
  QString fileName;
  int filterIndex = 1;
  if (!Dialogs().SaveFile(this, kSaveFilter, fileName, filterIndex)) return;
  if (filterIndex == 1) fileName = ChangeFileExt(fileName, QStringLiteral(".txt"));
  SaveNameList(fileName, ExportNames);
}

void TKestrove::tbAboutClick() {
  Dialogs().Information(this, QStringLiteral("Information"), kAboutText);
}

void TKestrove::tbSettingsClick() {
  if (Settings != nullptr) Settings->exec();
}

void TKestrove::PopupMenuPopup() {
  menuCopy->setEnabled(ListView->selectionModel()->hasSelection());
}

void TKestrove::menuCopyClick() {
  const QModelIndexList rows = ListView->selectionModel()->selectedRows(0);
  if (rows.isEmpty()) return;
  const QString caption = ListModel->Caption(rows.constFirst().row());
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) throw std::runtime_error("Cannot open clipboard");
  clipboard->setText(caption);
  if (clipboard->text() != caption) throw std::runtime_error("Cannot open clipboard");
}

void TKestrove::menuFontClick() {
  QFont font = ListView->font();
  if (Dialogs().ChooseFont(this, font)) ListView->setFont(font);
}

// ---------------------------------------------------------------------------
// The remembered list font

void TKestrove::FormShow() {
  QFont font = ListView->font();
  font.setBold(false);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  const kestrove::platform::ProfileFile ini(Local8Bit(settingsPath),
                                            Local8Bit(QFileInfo(settingsPath).fileName()));
  font.setFamily(QString::fromLocal8Bit(ini.ReadString(kSection, kFontName, "Tahoma")));
  const long size = ini.ReadInteger(kSection, kFontSize, 8);
  // A negative size is a height in pixels; nonsense sizes give the default.
  if (size > 0 && size <= 1000) {
    font.setPointSize(static_cast<int>(size));
  } else if (size < 0 && size >= -1000) {
    font.setPixelSize(static_cast<int>(-size));
  } else {
    font.setPointSize(8);
  }
  const QString style =
      QString::fromLocal8Bit(ini.ReadString(kSection, kFontStyle, std::string())).toLower();
  if (style.contains(QLatin1String("bold"))) font.setBold(true);
  if (style.contains(QLatin1String("italic"))) font.setItalic(true);
  ListView->setFont(font);
}

void TKestrove::FormClose() {
  const QFont font = ListView->font();
  std::string style;
  if (font.bold()) style += "fsBold";
  if (font.italic()) style += ",fsItalic";
  long points = font.pointSize();
  if (points <= 0) points = -font.pixelSize();  // a font chosen by pixels keeps its height
  kestrove::platform::ProfileFile ini(Local8Bit(settingsPath),
                                      Local8Bit(QFileInfo(settingsPath).fileName()));
  ini.WriteString(kSection, kFontName, Local8Bit(font.family()));
  ini.WriteInteger(kSection, kFontSize, points);
  ini.WriteString(kSection, kFontStyle, style);
}

void TKestrove::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous() || shown_) return;
  shown_ = true;
  // The designed size is the outer size, frame included.
  const QSize frame = frameGeometry().size() - geometry().size();
  if (frame.isValid() && !frame.isEmpty()) resize(QSize(574, 367) - frame);
  Guarded([this] { FormShow(); });
}

void TKestrove::closeEvent(QCloseEvent* event) {
  // A settings file that cannot be written keeps the window open.
  if (Guarded([this] { FormClose(); })) {
    event->accept();
  } else {
    event->ignore();
  }
}
