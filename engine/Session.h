#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "engine/FirmwareImage.h"
#include "engine/ImageScan.h"
#include "engine/RunEnd.h"
#include "engine/Transports.h"
#include "engine/WindowMembers.h"

class TImageReader;

// Where the session stands. The numbers are those of the device dialogue's
// description and of the tests that name them.
enum class TSessionState : int32_t {
  Idle = 0,
  Searching = 1,  // probing until the device announces itself
  Found = 2,      // identity known; PROG goes out on the next tick
  ProgSent = 3,   // waiting for READY
  Ready = 4,      // Start may be pressed
  Writing = 5,
};

// The link that sends go to. The numbers are stored in the settings file
// ("Mode_Checked"); a stored number other than these is kept as it is and,
// like None, sends nowhere.
enum class TLinkMode : uint8_t { Serial = 0, Udp = 1, None = 3 };

// The UDP side of the settings: the device's address and port, and the
// local port the endpoint binds.
struct TUdpSettings {
  std::string TargetIp;
  uint16_t TargetPort = 0;
  uint16_t ServerPort = 0;
};

// A writing run's progress: the data blocks and bytes the device has
// confirmed, of the whole image and of the section being written.
struct TProgress {
  int32_t Section = 0;
  TBlocksAndBytes Done, Total;
  TBlocksAndBytes SectionDone, SectionTotal;
};

// The flashing session: the one object that holds the programmer's state for
// the life of the program, with the operator commands, the timer step, the
// answer parser and the device link. Everything here runs on the main thread;
// received bytes reach it through the transports' main-thread events.
class TSession {
 public:
  explicit TSession(IWindowMembers& window);
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // --- Set-up by the front end ---
  // Transports may be left unattached; sends then go nowhere (" MODE NONE  ").
  void AttachSerial(ISerialTransport* serial) { BCom = serial; }
  void AttachUdp(IUdpTransport* udp) { IdUDPServer1 = udp; }
  // Replaces the reader that Start opens the image with (tests inject one
  // whose reads fail). Closes the image of a running session.
  void UseImageReader(std::unique_ptr<TImageReader> reader);
  // The link Connect opens (the mode box).
  void SelectLink(TLinkMode mode) { SelectedMode = mode; }
  void ConfigureUdp(const TUdpSettings& settings);
  // The trace lines, from now on for the rest of the program's life.
  void EnableDebugMode() { DebugMode = true; }
  // Ends a run with TRunOutcome::NotFound when the device has not become
  // ready within this many milliseconds of timer ticks after Connect; 0
  // waits for ever, as the window does.
  void SetSearchLimit(uint32_t milliseconds) { SearchLimitMs = milliseconds; }

  // --- What the front ends read ---
  TSessionState State() const { return SessionState; }
  TLinkMode ActiveLink() const { return LinkMode; }
  TLinkMode SelectedLink() const { return SelectedMode; }
  TUdpSettings UdpSettings() const { return {UdpTargetIp, UdpTargetPort, UdpServerPort}; }
  // The identity the device announced (its bytes), empty before.
  const std::string& DeviceIdentity() const { return DeviceId; }
  bool InDebugMode() const { return DebugMode; }
  // How the last run ended; Outcome None while one is under way or none ran.
  const TRunEnd& LastRunEnd() const { return RunEnd; }
  // The current or last writing run's progress; all zero before the first.
  TProgress Progress() const;
  // The question Start will ask before writing an image whose first FileId
  // is fileId into the device found, or empty when it will not ask (a newer
  // image, or one for another board, which is refused instead).
  std::string QuestionBeforeWriting(const std::string& fileId) const;
  // Told each time a section header has gone out, so the sections before it
  // are complete.
  std::function<void()> OnSectionHeaderSent;

  // --- Firmware image check (run when an image is chosen and at start-up) ---
  // Returns the error text, empty on success; always sets LabFW.
  std::string CheckFirmwareFile(const std::string& path);

  // --- Operator commands and the timer step ---
  void ButConnectClick();
  void ButStartClick();
  void ButDisconnectClick();
  void Timer1Timer();
  void ParseAnswer();

  // --- Receive events, delivered on the main thread ---
  void BComRxChar(int count);
  // The serial line hung up: a run under way ends at once as a link failure.
  void BComLineLost();
  void IdUDPServer1UDPRead(const std::string& data, const std::string& remoteIp, int remotePort);

  // --- Device link ---
  bool SendToDevice(const std::string& data);
  bool ComSend(const std::string& data);
  bool SendTxBuffer();
  bool OpenComLink();
  bool CloseComLink();
  bool OpenUdpLink();
  void CloseUdpLink();
  void UpdateConnectButtons();
  // A log line that appears only in debug mode.
  void DebugLog(const std::string& line);

 private:
  friend class TSessionProbe;  // the tests' view of the state below

  // With read, false once the run has ended over the image (unreadable, or
  // cut short under the run).
  bool ReadFileBlock(int32_t count, bool read);
  bool FailImageRead(const std::string& logLine, const std::string& detail);
  bool CheckSectionHeader();
  int32_t GetVer(const std::string& text);

  // Timer step, by session state.
  void RunStateStep();
  void IdleStep();
  void CountSearchTime();
  void BlockStep();
  bool ReadHeader();
  bool ReadBlock();
  void SendCurrentBlock();
  void WaitStep();
  void EndSession();
  void RefuseOversizedBlock();
  void CloseFirmwareFile();

  void SendWakeUp();
  void NoteOpenFailure();

  // The run's ending: state idle and the outcome with where writing stood.
  void EndRun(TRunOutcome outcome, std::string detail = {}, bool alreadyShown = false);

  // Debug-mode traces of the device link.
  void TraceSend(const std::string& data, bool sent);
  void TraceReceive(const std::string& accepted, size_t count);

  // Answer parsing. mayRunStep is false while a step is already running (the
  // answers held back during a header message box), so no step runs inside it.
  void ParseAnswerForState(bool mayRunStep);
  void ParseWritingAnswer(bool mayRunStep);
  void DropOverflowingRxBuffer();

  // Message boxes of the header check: answers are held back while one is open.
  TMessageResult ShowHeaderBox(TMessageKind kind, const std::string& text);
  bool ActOnHeldBackAnswers();
  bool RefuseForeignImage(const std::string& fileId);
  bool AskBeforeOlderImage(int32_t fileVersion, int32_t boardVersion);

  // A serial write that raised: told once per Connect, the session ends.
  void EndSessionOnLinkFailure(const std::exception& failure);

  // --- Session state ---
  TSessionState SessionState = TSessionState::Idle;
  bool AnswerReceived = false;
  bool EndMarkerSeen = false;
  bool DebugMode = false;
  bool FileOpen = false;
  int32_t BlockIndex = 0;    // 0: header next; k >= 1: data block k next
  int32_t SectionIndex = 0;  // 0 MCU flash, 1 flash, 2 and up later sections
  int32_t BlockCount = 0;
  int32_t BlockSize = 0;
  std::string RxBuffer;
  std::string DeviceId;
  uint8_t BoardKind = 0;
  uint32_t WaitTime = 0;  // ms spent waiting for the current answer
  std::array<uint8_t, kMaxBlockSize> TxBuffer{};
  TLinkMode LinkMode = TLinkMode::Serial;
  TLinkMode SelectedMode = TLinkMode::Serial;
  std::string UdpTargetIp;
  uint16_t UdpTargetPort = 0;
  uint16_t UdpServerPort = 0;
  std::string SavedIp;

  // The header of the section being written, parsed once when it is read.
  SectionHeader CurrentHeader;
  // Where writing stands: the header or block last sent (block 0: header).
  int32_t SentSection = 0;
  int32_t SentBlock = 0;
  // The image of the writing run, walked at Start for the progress view.
  TImageScan RunImage;
  // The image file's length at Start, and how far the run has read into it:
  // a file that ends before that length has been cut short under the run.
  uint64_t ImageBytesAtStart = 0;
  uint64_t ImageBytesRead = 0;
  TRunEnd RunEnd;
  uint32_t SearchLimitMs = 0;
  uint32_t SearchTime = 0;  // ms of ticks since Connect, while not ready

  IWindowMembers& Window;
  ISerialTransport* BCom = nullptr;
  IUdpTransport* IdUDPServer1 = nullptr;
  std::unique_ptr<TImageReader> FirmwareFile;
  bool HeaderBoxOpen = false;
  bool AnswersHeldBack = false;
  bool LinkFailureReported = false;
};
