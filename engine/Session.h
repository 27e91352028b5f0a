#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "engine/FirmwareImage.h"
#include "engine/Transports.h"
#include "engine/WindowMembers.h"

class TImageReader;

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

  // Transports may be left unattached; sends then go nowhere (" MODE NONE  ").
  void AttachSerial(ISerialTransport* serial) { BCom = serial; }
  void AttachUdp(IUdpTransport* udp) { IdUDPServer1 = udp; }
  // Replaces the reader that Start opens the image with (tests inject one
  // whose reads fail). Closes the image of a running session.
  void UseImageReader(std::unique_ptr<TImageReader> reader);

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

  // --- Session internals, public for the front ends and the tests ---
  bool ReadFileBlock(int32_t count, bool read);
  bool CheckSectionHeader();
  int32_t GetVer(const std::string& text);

  // --- Session state ---
  int32_t SessionState = 0;  // 0 idle, 1 searching, 2 found, 3 PROG sent, 4 ready, 5 writing
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
  uint8_t LinkMode = 0;      // 0 serial, 1 UDP, anything else nowhere
  uint8_t SelectedMode = 0;  // 0 COM, 1 UDP, 3 none
  std::string UdpTargetIp;
  uint16_t UdpTargetPort = 0;
  uint16_t UdpServerPort = 0;
  std::string SavedIp;

 private:
  // Timer step, by session state.
  void RunStateStep();
  void IdleStep();
  void BlockStep();
  bool ReadHeader();
  bool ReadBlock();
  void SendCurrentBlock();
  void WaitStep();
  void EndSession();
  void RefuseOversizedBlock();
  void CloseFirmwareFile();

  void SendWakeUp();

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

  IWindowMembers& Window;
  ISerialTransport* BCom = nullptr;
  IUdpTransport* IdUDPServer1 = nullptr;
  std::unique_ptr<TImageReader> FirmwareFile;
  bool HeaderBoxOpen = false;
  bool AnswersHeldBack = false;
  bool LinkFailureReported = false;
};
