#include "app/Form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <filesystem>
#include <thread>

#include "adapters/SessionTransports.h"
#include "app/Settings.h"
#include "engine/ProgressText.h"
#include "platform/ErrorReport.h"
#include "platform/MainThread.h"
#include "platform/Process.h"
#include "records/RunRecorder.h"
#include "serial/PortList.h"

namespace {

QString ToQt(const std::string& text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::string FromQt(const QString& text) {
  return text.toUtf8().toStdString();
}

// Engine texts break lines with a lone carriage return.
QString ToDisplayLines(const std::string& text) {
  QString lines = ToQt(text);
  lines.replace("\r\n", "\n");
  lines.replace('\r', '\n');
  return lines;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) && !std::filesystem::is_directory(path, error);
}

std::string CurrentDirectory() {
  std::error_code error;
  const auto path = std::filesystem::current_path(error);
  return error ? std::string() : path.string();
}

const char kPortToolName[] = "/LinkPortCfg.exe";
const char kPortToolFixedArgument[] = "54321";

// The serial ports present; none when they cannot be listed.
std::vector<std::string> PresentPorts() {
  std::vector<std::string> ports;
  try {
    ListSerialPorts(ports);
  } catch (const std::exception&) {
    ports.clear();
  }
  return ports;
}

}  // namespace

TForm1::TForm1(const TFormOptions& options)
    : Session(*this),
      IniPath_(options.IniPath.empty() ? IniPathToRead(IniPathBesideExecutable())
                                       : options.IniPath),
      StartDir_(options.StartDir),
      Ports_(options.Ports) {
  CreateControls();
  Transports = std::make_unique<TSessionTransports>(Session, *this);
  WireEvents();
  PlugIntoEventLoop();
  FormCreate();
  Timer1->start();
}

TForm1::~TForm1() {
  Timer1->stop();
  // The transports' worker threads end here, while everything their last
  // hand-overs may touch still exists.
  Transports.reset();
  platform::SetWakeMainThreadHook({});
  platform::SetErrorReportHook({});
}

void TForm1::WireEvents() {
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Tick(); });
  for (QRadioButton* button : {rbCom, rbUDP}) {
    // Checking a button, by the operator or by the settings, runs the
    // handler; the button that loses its check does not.
    connect(button, &QRadioButton::toggled, this, [this](bool checked) {
      if (checked) Guarded([this] { rbComClick(); });
    });
  }
  connect(ButAbout, &QToolButton::clicked, this, [this] { Guarded([this] { ButAboutClick(); }); });
  connect(ButOpenFile, &QToolButton::clicked, this,
          [this] { Guarded([this] { ButOpenFileClick(); }); });
  connect(ButVport, &QToolButton::clicked, this, [this] { Guarded([this] { ButVportClick(); }); });
  ButConnect->installEventFilter(this);
  connect(ButConnect, &QPushButton::clicked, this,
          [this] { Guarded([this] { ConnectClicked(); }); });
  connect(ButStart, &QPushButton::clicked, this, [this] { Guarded([this] { StartClicked(); }); });
  connect(ButDisconnect, &QPushButton::clicked, this, [this] {
    Guarded([this] { Session.ButDisconnectClick(); });
    UpdateProgress();
    ReportRunEnd();
  });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

// Hand-overs from the worker threads are served from Qt's event loop, and so
// also inside the nested loops of modal boxes and dialogs.
void TForm1::PlugIntoEventLoop() {
  platform::SetWakeMainThreadHook([] {
    QMetaObject::invokeMethod(
        qApp,
        [] {
          try {
            platform::CheckSynchronize(0);
          } catch (const std::exception& error) {
            platform::ReportError(error.what());
          }
        },
        Qt::QueuedConnection);
  });
  // The serial component may report from its own thread; the box is shown
  // on the main thread.
  QPointer<TForm1> self(this);
  platform::SetErrorReportHook([self](const std::string& text) {
    platform::Post([self, text] {
      if (self) self->MessageBox(TMessageKind::Warning, text);
    });
  });
}

void TForm1::FormCreate() { InitMainForm(); }

void TForm1::InitMainForm() {
  if (StartDir_.empty()) StartDir_ = CurrentDirectory();
  SetLabFWCaption("");
  FillPortList();
  cbComN->setCurrentIndex(0);
  // The session was made idle, with no device and no trace, a moment ago.
  LoadSettings(*this);
}

void TForm1::FillPortList() {
  cbComN->clear();
  for (const std::string& port : Ports_.empty() ? PresentPorts() : Ports_)
    cbComN->addItem(ToQt(port));
}

void TForm1::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    MessageBox(TMessageKind::Warning, error.what());
  }
}

void TForm1::Timer1Tick() {
  Guarded([this] { Session.Timer1Timer(); });
  UpdateProgress();
  // Endings made by a receive handler are seen here, after it has returned.
  ReportRunEnd();
}

void TForm1::ConnectClicked() {
  // Connect always starts a new run, so what ends from here on is new, even
  // an ending within this click that no tick saw begin.
  RunEndReported = false;
  Session.ButConnectClick();
  UpdateProgress();
  ReportRunEnd();
}

void TForm1::StartClicked() {
  WritingSince = std::chrono::steady_clock::now();
  RecordStart();
  Session.ButStartClick();
  // Start leaves the device ready, with no ending, when it cannot open the
  // image.
  if (Session.State() != TSessionState::Writing) RecordEnd();
  UpdateProgress();
  ReportRunEnd();
}

void TForm1::RecordStart() {
  if (!Recorder) {
    Recorder = std::make_unique<TRunRecorder>(
        RecordsFile_.empty() ? DefaultRecordsPath() : RecordsFile_,
        [this](const std::string& line) { MemoLogAppend(line); });
  }
  const bool udp = Session.ActiveLink() == TLinkMode::Udp;
  const TUdpSettings settings = Session.UdpSettings();
  Recorder->Started(udp ? "udp" : "serial",
                    udp ? settings.TargetIp + ":" + std::to_string(settings.TargetPort)
                        : Text(TTextControl::cbComN),
                    Text(TTextControl::EditFileName), Session.DeviceIdentity());
}

void TForm1::RecordEnd() {
  if (!Recorder || !Recorder->RunOpen()) return;
  const TRunEnd& end = Session.LastRunEnd();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - WritingSince).count();
  Recorder->Ended(RunOutcomeWord(end.Outcome), Session.Progress(), end, seconds,
                  Session.DeviceIdentity());
}

void TForm1::UpdateProgress() {
  const TRunEnd& end = Session.LastRunEnd();
  // An ended writing run keeps its position (full when written) until the
  // next Connect or Start resets the ending.
  const bool writing = Session.State() == TSessionState::Writing;
  const TProgress progress = writing || end.Writing ? Session.Progress() : TProgress{};
  ShowProgress(progress.Done.Blocks, progress.Total.Blocks);
  ShowProgressText(writing, progress);
  ShowProgressFailed(end.Outcome != TRunOutcome::None && end.Outcome != TRunOutcome::Written);
}

void TForm1::ReportRunEnd() {
  // A copy: the box's own loop runs ticks, and a click there may reset it.
  const TRunEnd end = Session.LastRunEnd();
  if (end.Outcome == TRunOutcome::None) {
    RunEndReported = false;
    return;
  }
  if (RunEndReported) return;
  // Before the box, so that the ticks inside its loop do not show it again.
  RunEndReported = true;
  RecordEnd();
  if (end.Outcome == TRunOutcome::Written || end.AlreadyShown) return;
  MessageBox(TMessageKind::Warning, RunEndText(end));
}

void TForm1::ShowProgressText(bool writing, const TProgress& progress) {
  QString format = "%p%";
  if (writing) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - WritingSince).count();
    format += "  " + ToQt(RateAndTimeLeft(progress.Done.Bytes, progress.Total.Bytes, elapsed));
  }
  if (ProgressBar->format() != format) ProgressBar->setFormat(format);
}

QColor TForm1::FailureColour() {
  return QColor(200, 30, 30);
}

void TForm1::ShowProgressFailed(bool failed) {
  const QColor chunk =
      failed ? FailureColour() : ProgressBar->parentWidget()->palette().color(QPalette::Highlight);
  if (ProgressBar->palette().color(QPalette::Highlight) == chunk) return;
  QPalette palette = ProgressBar->palette();
  palette.setColor(QPalette::Highlight, chunk);
  ProgressBar->setPalette(palette);
}

void TForm1::ShowProgress(uint64_t blocksWritten, uint64_t totalBlocks) {
  if (totalBlocks == 0) {
    ProgressBar->reset();
    return;
  }
  const uint64_t written = std::min(blocksWritten, totalBlocks);
  ProgressBar->setValue(int(written * uint64_t(ProgressBar->maximum()) / totalBlocks));
}

// --- IWindowMembers ---

void TForm1::SetLabFWCaption(const std::string& caption) {
  LabFW->setText(ToDisplayLines(caption));
}

void TForm1::SetLabProgCaption(const std::string& caption) {
  LabProg->setText(ToDisplayLines(caption));
}

void TForm1::MemoLogAppend(const std::string& line) {
  MemoLog->appendPlainText(ToQt(line));
}

void TForm1::MemoLogClear() {
  MemoLog->clear();
}

namespace {

QPushButton* ButtonOf(const TForm1& form, TButton button) {
  switch (button) {
    case TButton::ButConnect:
      return form.ButConnect;
    case TButton::ButDisconnect:
      return form.ButDisconnect;
    case TButton::ButStart:
      return form.ButStart;
  }
  return form.ButConnect;
}

}  // namespace

bool TForm1::ButtonEnabled(TButton button) const {
  return ButtonOf(*this, button)->isEnabled();
}

void TForm1::SetButtonEnabled(TButton button, bool enabled) {
  ButtonOf(*this, button)->setEnabled(enabled);
}

std::string TForm1::Text(TTextControl control) const {
  switch (control) {
    case TTextControl::EditIP:
      return FromQt(EditIP->text());
    case TTextControl::EditFileName:
      return FromQt(EditFileName->text());
    case TTextControl::cbComN:
      return FromQt(cbComN->currentText());
    case TTextControl::cbBr:
      return FromQt(cbBr->currentText());
    case TTextControl::cbDb:
      return FromQt(cbDb->currentText());
    case TTextControl::cbPar:
      return FromQt(cbPar->currentText());
    case TTextControl::cbSb:
      return FromQt(cbSb->currentText());
  }
  return {};
}

void TForm1::SetText(TTextControl control, const std::string& text) {
  switch (control) {
    case TTextControl::EditIP:
      return EditIP->setText(ToQt(text));
    case TTextControl::EditFileName:
      return EditFileName->setText(ToQt(text));
    case TTextControl::cbComN:
      return cbComN->setCurrentText(ToQt(text));
    case TTextControl::cbBr:
      return cbBr->setCurrentText(ToQt(text));
    case TTextControl::cbDb:
      return cbDb->setCurrentText(ToQt(text));
    case TTextControl::cbPar:
      return cbPar->setCurrentText(ToQt(text));
    case TTextControl::cbSb:
      return cbSb->setCurrentText(ToQt(text));
  }
}

int TForm1::Timer1Interval() const {
  return Timer1->interval();
}

void TForm1::SetTimer1Interval(int milliseconds) {
  Timer1->setInterval(milliseconds);
}

bool TForm1::Timer1Enabled() const {
  return Timer1->isActive();
}

void TForm1::SetTimer1Enabled(bool enabled) {
  if (enabled && !Timer1->isActive()) Timer1->start();
  if (!enabled) Timer1->stop();
}

TMessageResult TForm1::MessageBox(TMessageKind kind, const std::string& text) {
  if (MessageBoxHook) return MessageBoxHook(kind, text);
  QMessageBox box(this);
  box.setText(ToDisplayLines(text));
  switch (kind) {
    case TMessageKind::Warning:
      box.setIcon(QMessageBox::Warning);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case TMessageKind::Information:
      box.setIcon(QMessageBox::Information);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case TMessageKind::Confirmation:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
  }
  // Closing the box without pressing OK counts as Cancel.
  return box.exec() == QMessageBox::Ok ? TMessageResult::Ok : TMessageResult::Cancel;
}

// Blocks the main thread and serves nothing meanwhile, as the device
// dialogue's fixed pauses expect.
void TForm1::Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// --- The window's own commands ---

void TForm1::closeEvent(QCloseEvent* event) {
  Guarded([this] { FormClose(); });
  event->accept();
}

void TForm1::FormClose() {
  if (!SaveSettings(*this) && !SettingsNotSavedLogged) {
    SettingsNotSavedLogged = true;
    MemoLogAppend("Настройки не сохранены: нет доступа к " + IniPathInConfigHome() + ".");
  }
  Session.ButDisconnectClick();
  RecordEnd();
}

void TForm1::rbComClick() {
  PanelCOM->setVisible(rbCom->isChecked());
  PanelUDP->setVisible(rbUDP->isChecked());
  Session.SelectLink(rbCom->isChecked()   ? TLinkMode::Serial
                     : rbUDP->isChecked() ? TLinkMode::Udp
                                          : TLinkMode::None);
  // Both panels follow the mode box in the window's stack, and a hidden one
  // takes no room, so the visible one sits directly under the mode box.
}

void TForm1::SetRadioChecked(QRadioButton* button, bool checked) {
  // A checked radio button of a group refuses to be unchecked by itself;
  // leaving both unchecked is a state the settings can ask for.
  const bool exclusive = button->autoExclusive();
  if (!checked) button->setAutoExclusive(false);
  button->setChecked(checked);
  button->setAutoExclusive(exclusive);
}

void TForm1::ButAboutClick() {
  MessageBox(TMessageKind::Information, FromQt(LabVer->text()));
}

void TForm1::ButOpenFileClick() {
  QFileDialog OpenDlg(this);
  OpenDlg.setNameFilter("Файл прошивки VEQ binary (*.vqf)");
  // Any name may be typed; a missing file is reported after the choice.
  OpenDlg.setFileMode(QFileDialog::AnyFile);
  OpenDlg.setAcceptMode(QFileDialog::AcceptOpen);
  OpenDlg.selectFile(EditFileName->text());
  // Told while the dialog is still open, as it accepts the name.
  connect(&OpenDlg, &QFileDialog::fileSelected, this,
          [this](const QString& name) { OpenDlgCanClose(FromQt(name)); });
  OpenDlg.exec();
  Session.CheckFirmwareFile(Text(TTextControl::EditFileName));
}

void TForm1::OpenDlgCanClose(const std::string& fileName) {
  if (!FileExists(fileName)) MessageBox(TMessageKind::Warning, "Файл не найден: " + fileName);
  SetText(TTextControl::EditFileName, fileName);
  ButOpenFile->setToolTip(ToQt(fileName));
}

void TForm1::ButVportClick() {
  const std::string tool = StartDir_ + kPortToolName;
  if (!FileExists(tool)) {
    MessageBox(TMessageKind::Warning, "Невозможно найти файл:\r" + tool + " ");
    return;
  }
  platform::StartDetached(tool,
                {Text(TTextControl::EditIP), FromQt(EditPort->text()), kPortToolFixedArgument});
}

void TForm1::ButConnectMouseDown(Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::ShiftModifier) Session.EnableDebugMode();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  // The press reaches the button before its click, so a Shift-click turns
  // the trace on before Connect runs.
  if (watched == ButConnect && event->type() == QEvent::MouseButtonPress) {
    ButConnectMouseDown(static_cast<QMouseEvent*>(event)->modifiers());
  }
  if (watched == PanelMode && event->type() == QEvent::Resize) {
    ButAbout->move(PanelMode->width() - ButAbout->width() - 6,
                   (PanelMode->height() - ButAbout->height()) / 2);
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::Button1Click() {}

int TForm1::PanelButsHeight() const {
  return PanelButs->minimumHeight();
}

void TForm1::SetPanelButsHeight(int height) {
  PanelButs->setFixedHeight(std::max(height, 20));
}
