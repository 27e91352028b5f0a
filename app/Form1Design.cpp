// The designed controls of the main window: panels, captions, colours,
// fonts, initial states and hints.
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Form1.h"
#include "app/SplitterBar.h"

namespace {

const QColor kWindowColour(212, 208, 200);
const QColor kModeColour(169, 216, 250);
const QColor kSkyBlue(166, 202, 240);
const QColor kFilePanelColour(207, 233, 252);
const QColor kLogColour(255, 251, 240);

// Pixel heights of the designed fonts.
constexpr int kFontPixels = 11;
constexpr int kStatusFontPixels = 13;

void Tint(QWidget* widget, const QColor& colour) {
  QPalette colours = widget->palette();
  colours.setColor(QPalette::Window, colour);
  widget->setPalette(colours);
  widget->setAutoFillBackground(true);
}

void MakeBold(QWidget* widget) {
  QFont font = widget->font();
  font.setBold(true);
  widget->setFont(font);
}

// A raised inner and a lowered outer bevel read as one etched line.
QFrame* BevelledPanel(QWidget* parent, const QColor& colour, int height) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::Box | QFrame::Sunken);
  panel->setLineWidth(1);
  Tint(panel, colour);
  panel->setFixedHeight(height);
  return panel;
}

QComboBox* ComboBox(QWidget* parent, const QStringList& items, int index, bool enabled) {
  auto* box = new QComboBox(parent);
  // Texts come from the settings file whether or not they are list items.
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->addItems(items);
  box->setCurrentIndex(index);
  box->setEnabled(enabled);
  return box;
}

QToolButton* GlyphButton(QWidget* parent, QStyle::StandardPixmap glyph) {
  auto* button = new QToolButton(parent);
  button->setIcon(parent->style()->standardIcon(glyph));
  button->setFixedSize(24, 24);
  button->setAutoRaise(false);
  return button;
}

QLabel* BoldLabel(QWidget* parent, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  MakeBold(label);
  return label;
}

}  // namespace

void TForm1::CreateControls() {
  setWindowTitle("Программатор VEQ");
  QFont font("DejaVu Sans");
  font.setPixelSize(kFontPixels);
  setFont(font);
  Tint(this, kWindowColour);
  move(250, 133);
  resize(464, 423);

  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);
  // Like the designed window, a stored size smaller than the panels clips
  // them rather than growing the window.
  stack->setSizeConstraint(QLayout::SetNoConstraint);
  stack->addWidget(CreatePanelMode());
  stack->addWidget(CreatePanelCOM());
  stack->addWidget(CreatePanelUDP());
  stack->addWidget(CreatePanelFilename());
  stack->addWidget(CreatePanelButs());
  Splitter1 = new TSplitterBar(PanelButs, this);
  stack->addWidget(Splitter1);
  stack->addWidget(CreatePanelLog(), 1);

  Timer1 = new QTimer(this);
  Timer1->setInterval(100);
}

QGroupBox* TForm1::CreatePanelMode() {
  PanelMode = new QGroupBox("Режим", this);
  PanelMode->setFixedHeight(36);
  Tint(PanelMode, kModeColour);
  MakeBold(PanelMode);
  rbCom = new QRadioButton("COM", PanelMode);
  rbCom->setChecked(true);
  rbUDP = new QRadioButton("UDP", PanelMode);
  ButAbout = GlyphButton(PanelMode, QStyle::SP_MessageBoxInformation);
  ButAbout->setToolTip("Shift + Подключиться, для вывода доп. сообщений");

  auto* row = new QHBoxLayout(PanelMode);
  row->setContentsMargins(8, 0, 36, 2);
  row->addWidget(rbCom);
  row->addSpacing(16);
  row->addWidget(rbUDP);
  row->addStretch(1);
  // The glyph button is taller than the box's room under its caption, so
  // it stands at the right edge beside the caption (see eventFilter).
  PanelMode->installEventFilter(this);
  return PanelMode;
}

QFrame* TForm1::CreatePanelCOM() {
  PanelCOM = BevelledPanel(this, kSkyBlue, 33);
  LabelCOM = BoldLabel(PanelCOM, "COM No:");
  cbComN = ComboBox(PanelCOM, {"1", "2"}, 0, true);
  cbBr = ComboBox(PanelCOM, {"300", "600", "9600", "56000", "115200", "128000"}, -1, false);
  cbBr->setCurrentText("9600");
  cbDb = ComboBox(PanelCOM, {"5", "6", "7", "8"}, 3, false);
  cbSb = ComboBox(PanelCOM, {"1", "2"}, 0, false);
  cbPar = ComboBox(PanelCOM, {"odd", "even", "mark", "space", "none"}, 0, false);

  auto* row = new QHBoxLayout(PanelCOM);
  row->setContentsMargins(6, 4, 6, 4);
  row->addWidget(LabelCOM);
  row->addWidget(cbComN, 3);
  for (QComboBox* box : {cbBr, cbDb, cbSb, cbPar})
    row->addWidget(box, 2);
  return PanelCOM;
}

QFrame* TForm1::CreatePanelUDP() {
  PanelUDP = BevelledPanel(this, kSkyBlue, 44);
  PanelUDP->hide();
  LabIP = BoldLabel(PanelUDP, "IP:port");
  EditIP = new QLineEdit("192.168.0.7", PanelUDP);
  EditPort = new QLineEdit("1001", PanelUDP);
  EditPort->setEnabled(false);
  EditPort->setMaximumWidth(60);
  ButVport = GlyphButton(PanelUDP, QStyle::SP_DriveNetIcon);

  auto* row = new QHBoxLayout(PanelUDP);
  row->setContentsMargins(6, 4, 6, 4);
  row->addWidget(LabIP);
  row->addWidget(EditIP, 1);
  row->addWidget(EditPort);
  row->addWidget(ButVport);
  return PanelUDP;
}

QFrame* TForm1::CreatePanelFilename() {
  PanelFilename = new QFrame(this);
  PanelFilename->setFixedHeight(80);
  Tint(PanelFilename, kFilePanelColour);
  GroupBoxFilename = new QGroupBox("Файл прошивки", PanelFilename);
  Tint(GroupBoxFilename, kModeColour);
  MakeBold(GroupBoxFilename);
  EditFileName = new QLineEdit(GroupBoxFilename);
  EditFileName->setEnabled(false);
  ButOpenFile = GlyphButton(GroupBoxFilename, QStyle::SP_DirOpenIcon);
  LabFW = new QLabel(GroupBoxFilename);
  LabFW->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* fill = new QVBoxLayout(PanelFilename);
  fill->setContentsMargins(0, 0, 0, 0);
  fill->addWidget(GroupBoxFilename);
  auto* grid = new QGridLayout(GroupBoxFilename);
  grid->setContentsMargins(6, 2, 6, 2);
  grid->setVerticalSpacing(1);
  grid->addWidget(EditFileName, 0, 0);
  grid->addWidget(ButOpenFile, 0, 1);
  grid->addWidget(LabFW, 1, 0, 1, 2);
  grid->setRowStretch(1, 1);
  return PanelFilename;
}

QFrame* TForm1::CreatePanelButs() {
  PanelButs = BevelledPanel(this, kSkyBlue, 144);
  ButConnect = new QPushButton("Подключиться к устройству", PanelButs);
  ButStart = new QPushButton("Начать запись", PanelButs);
  ButStart->setEnabled(false);
  ButDisconnect = new QPushButton("Отключиться.", PanelButs);
  ButDisconnect->setEnabled(false);
  for (QPushButton* button : {ButConnect, ButStart, ButDisconnect}) {
    MakeBold(button);
    button->setFixedWidth(240);
  }
  Button1 = new QPushButton("Button1", PanelButs);
  Button1->hide();
  LabVer = new QLabel("Версия 3.9 15022022", PanelButs);
  LabVer->hide();
  ProgressBar = new QProgressBar(PanelButs);
  ProgressBar->setFixedHeight(14);
  ProgressBar->setRange(0, 1000);
  ProgressBar->reset();
  LabProg = new QLabel(" Прогресс/Статус:", PanelButs);
  QFont status = LabProg->font();
  status.setBold(true);
  status.setPixelSize(kStatusFontPixels);
  LabProg->setFont(status);
  QPalette black = LabProg->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  LabProg->setPalette(black);

  auto* column = new QVBoxLayout(PanelButs);
  column->setContentsMargins(8, 6, 8, 2);
  column->setSpacing(4);
  for (QPushButton* button : {ButConnect, ButStart, ButDisconnect})
    column->addWidget(button);
  column->addStretch(1);
  column->addWidget(ProgressBar);
  column->addWidget(LabProg);
  return PanelButs;
}

QFrame* TForm1::CreatePanelLog() {
  PanelLog = new QFrame(this);
  MemoLog = new QPlainTextEdit(PanelLog);
  MemoLog->setReadOnly(true);
  MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QPalette cream = MemoLog->palette();
  cream.setColor(QPalette::Base, kLogColour);
  MemoLog->setPalette(cream);
  QFont mono("DejaVu Sans Mono");
  mono.setStyleHint(QFont::Monospace);
  mono.setPixelSize(kFontPixels);
  MemoLog->setFont(mono);

  auto* fill = new QVBoxLayout(PanelLog);
  fill->setContentsMargins(0, 0, 0, 0);
  fill->addWidget(MemoLog);
  return PanelLog;
}
