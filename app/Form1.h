#pragma once

#include <QColor>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/Session.h"
#include "engine/WindowMembers.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;
class TSplitterBar;
class TSessionTransports;
class TRunRecorder;

// Where the window finds its settings file and the port tool, and the ports
// it lists. Empty fields take the program's own: the settings file beside the
// executable or else in the config folder, the current directory at
// start-up, the system's serial ports.
struct TFormOptions {
  std::string IniPath;
  std::string StartDir;
  std::vector<std::string> Ports{};
};

// The programmer's one window: the designed controls, the operator's small
// commands, and the session with both transports attached. The engine sees
// it only as IWindowMembers.
class TForm1 : public QWidget, public IWindowMembers {
  Q_OBJECT

 public:
  explicit TForm1(const TFormOptions& options = {});
  ~TForm1() override;

  // --- IWindowMembers ---
  void SetLabFWCaption(const std::string& caption) override;
  void SetLabProgCaption(const std::string& caption) override;
  void MemoLogAppend(const std::string& line) override;
  void MemoLogClear() override;
  bool ButtonEnabled(TButton button) const override;
  void SetButtonEnabled(TButton button, bool enabled) override;
  std::string Text(TTextControl control) const override;
  void SetText(TTextControl control, const std::string& text) override;
  int Timer1Interval() const override;
  void SetTimer1Interval(int milliseconds) override;
  bool Timer1Enabled() const override;
  void SetTimer1Enabled(bool enabled) override;
  TMessageResult MessageBox(TMessageKind kind, const std::string& text) override;
  void Sleep(int milliseconds) override;

  // Answers message boxes in place of the modal dialog when set (tests).
  std::function<TMessageResult(TMessageKind, const std::string&)> MessageBoxHook;

  // --- The window's own commands ---
  void FormCreate();
  void FormClose();
  void rbComClick();
  void ButAboutClick();
  void ButOpenFileClick();
  void OpenDlgCanClose(const std::string& fileName);
  void ButVportClick();
  void ButConnectMouseDown(Qt::KeyboardModifiers modifiers);
  void Button1Click();

  // Share of the image's blocks written in the current run; no total: empty.
  void ShowProgress(uint64_t blocksWritten, uint64_t totalBlocks);
  // The chunk's colour while the bar shows where a failed run stopped.
  static QColor FailureColour();

  const std::string& StartDir() const { return StartDir_; }
  const std::string& IniPath() const { return IniPath_; }
  // The records file the settings name ([Records] File), empty for the
  // default one; kept in the settings as it was read.
  const std::string& RecordsFile() const { return RecordsFile_; }
  void SetRecordsFile(const std::string& path) { RecordsFile_ = path; }
  int PanelButsHeight() const;
  void SetPanelButsHeight(int height);
  // Checks one radio button without running its click handler's side
  // effects on the other; unchecking also works for the checked one.
  static void SetRadioChecked(QRadioButton* button, bool checked);

  TSession Session;

  // Controls, named as designed.
  QGroupBox* PanelMode = nullptr;
  QRadioButton* rbCom = nullptr;
  QRadioButton* rbUDP = nullptr;
  QToolButton* ButAbout = nullptr;
  QFrame* PanelCOM = nullptr;
  QLabel* LabelCOM = nullptr;
  QComboBox* cbComN = nullptr;
  QComboBox* cbBr = nullptr;
  QComboBox* cbDb = nullptr;
  QComboBox* cbSb = nullptr;
  QComboBox* cbPar = nullptr;
  QFrame* PanelUDP = nullptr;
  QLabel* LabIP = nullptr;
  QLineEdit* EditIP = nullptr;
  QLineEdit* EditPort = nullptr;
  QToolButton* ButVport = nullptr;
  QFrame* PanelFilename = nullptr;
  QGroupBox* GroupBoxFilename = nullptr;
  QLineEdit* EditFileName = nullptr;
  QToolButton* ButOpenFile = nullptr;
  QLabel* LabFW = nullptr;
  QFrame* PanelButs = nullptr;
  QPushButton* ButConnect = nullptr;
  QPushButton* ButStart = nullptr;
  QPushButton* ButDisconnect = nullptr;
  QPushButton* Button1 = nullptr;
  QLabel* LabVer = nullptr;
  QProgressBar* ProgressBar = nullptr;
  QLabel* LabProg = nullptr;
  TSplitterBar* Splitter1 = nullptr;
  QFrame* PanelLog = nullptr;
  QPlainTextEdit* MemoLog = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Builds every designed control with its initial properties.
  void CreateControls();
  QGroupBox* CreatePanelMode();
  QFrame* CreatePanelCOM();
  QFrame* CreatePanelUDP();
  QFrame* CreatePanelFilename();
  QFrame* CreatePanelButs();
  QFrame* CreatePanelLog();
  void WireEvents();

  void InitMainForm();
  void FillPortList();

  // Runs an event handler; an exception it throws is reported the way the
  // framework reports one nothing caught: a message box with its text.
  void Guarded(const std::function<void()>& handler);
  void Timer1Tick();
  void ConnectClicked();
  void StartClicked();
  void UpdateProgress();
  // Tells the operator how the run ended, once per ending and only when no
  // box of the design has told it already.
  void ReportRunEnd();
  // Each Start adds a record of its run; its end completes it.
  void RecordStart();
  void RecordEnd();
  // The share, and while writing the rate and the time left, on the bar.
  void ShowProgressText(bool writing, const TProgress& progress);
  // The bar's chunk in the failure colour or in its parent's.
  void ShowProgressFailed(bool failed);
  void PlugIntoEventLoop();

  std::string IniPath_;
  std::string StartDir_;
  std::vector<std::string> Ports_;
  std::unique_ptr<TSessionTransports> Transports;
  std::string RecordsFile_;
  std::unique_ptr<TRunRecorder> Recorder;  // made at the first Start
  // Set once the current ending has been reported; cleared when the session
  // shows no ending again (Connect and Start reset it).
  bool RunEndReported = false;
  // The operator is told once that the settings could not be saved.
  bool SettingsNotSavedLogged = false;
  // When the current writing run began, for its rate and time left.
  std::chrono::steady_clock::time_point WritingSince;
};
