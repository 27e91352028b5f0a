#include <charconv>
#include <string>

#include "engine/DeviceDialogue.h"
#include "engine/DisplayText.h"
#include "engine/ImageReader.h"
#include "engine/Session.h"
#include "engine/uStrBinHex.h"

namespace {

constexpr int kSearchIntervalMs = 50;
constexpr int kWritingIntervalMs = 300;
constexpr uint32_t kAnswerTimeLimitMs = 60000;
constexpr size_t kRxBufferLimit = 512;

constexpr int kBaud921600 = 921600;
constexpr int kBaud9600 = 9600;
constexpr int kKufxWakeUpPauseMs = 500;
constexpr int kWakeUpSettleMs = 300;
constexpr int kBeforeEndCommandMs = 500;
constexpr int kAfterEndCommandMs = 300;

const std::string kKufxWakeUp = "3505AABB013BD8";
const std::string kOxrWakeUp = "7E0009AABBCCD47E";
const std::string kDefaultWakeUp = "7E7E0009AABBCCD47E";
const std::string kOxrDeviceIp = "192.168.0.254";

const std::string kStatusFailed = " Произошла ошибка";
const std::string kFileReadFailed = "Файл не найден или нет доступа.";
const std::string kSuccess = "Успешно. Устройство перезагружается.";

std::string TimeoutLine() {
  return "Timeout. Устройство не ответило. " + std::to_string(kAnswerTimeLimitMs / 1000) + " сек";
}

std::string OversizedBlockText(int32_t sectionIndex, int32_t blockSize) {
  return "Раздел " + std::to_string(sectionIndex) + ": размер блока " + std::to_string(blockSize) +
         " байт больше допустимого (" + std::to_string(kMaxBlockSize) + "). Запись прервана.";
}

std::string LinkFailureLine(const std::exception& failure) {
  return std::string("Ошибка связи с устройством: ") + failure.what() + ". Сеанс прерван.";
}

// Removes the first occurrence of word; false when there is none.
bool TakeWord(std::string& buffer, const std::string& word) {
  const size_t at = buffer.find(word);
  if (at == std::string::npos) return false;
  buffer.erase(at, word.size());
  return true;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

// --- Operator commands ---

void TSession::ButConnectClick() {
  SavedIp = Window.Text(TTextControl::EditIP);
  LinkMode = SelectedMode;
  const bool opened = LinkMode == 0 ? OpenComLink() : OpenUdpLink();
  if (!opened) return;
  Window.MemoLogClear();
  DebugLog("Debug mode");
  UpdateConnectButtons();
  SessionState = 1;
  Window.SetTimer1Interval(kSearchIntervalMs);
  Window.SetLabProgCaption(" Выключите и включите устройство.");
  Window.MemoLogAppend("Ожидание...");
  LinkFailureReported = false;
  try {
    SendWakeUp();
  } catch (const std::exception& failure) {
    EndSessionOnLinkFailure(failure);
    return;
  }
  Window.Sleep(kWakeUpSettleMs);
}

void TSession::SendWakeUp() {
  switch (BoardKind) {
    case kBoardKindKufx:
      // The board's rate is not known here, so the bytes go at both rates;
      // the session then stays at 9600.
      if (BCom != nullptr) BCom->SetBaudRate(kBaud921600);
      SendToDevice(HexToStr(kKufxWakeUp));
      Window.Sleep(kKufxWakeUpPauseMs);
      if (BCom != nullptr) BCom->SetBaudRate(kBaud9600);
      SendToDevice(HexToStr(kKufxWakeUp));
      break;
    case kBoardKindOxr:
      // From here on a kind-2 board is reached at its fixed address,
      // whichever link was chosen.
      SendToDevice(HexToStr(kOxrWakeUp));
      CloseUdpLink();
      Window.SetText(TTextControl::EditIP, kOxrDeviceIp);
      OpenUdpLink();
      break;
    default:
      SendToDevice(HexToStr(kDefaultWakeUp));
      break;
  }
}

void TSession::ButStartClick() {
  CloseFirmwareFile();
  const std::string path = Window.Text(TTextControl::EditFileName);
  if (!FirmwareFile->Open(path)) {
    Window.MessageBox(TMessageKind::Warning, "Файл не найден или нет доступа: \"" + path + "\"");
    return;
  }
  FileOpen = true;
  Window.SetTimer1Interval(kWritingIntervalMs);
  RxBuffer.clear();
  EndMarkerSeen = false;
  AnswerReceived = true;
  SessionState = 5;
  BlockIndex = 0;
  SectionIndex = 0;
  Window.MemoLogAppend("Начало записи...");
  Timer1Timer();
}

void TSession::ButDisconnectClick() {
  // Idle from the start: closing a link still serves the receive events that
  // are queued, and a late "GET" must not send the next block meanwhile.
  SessionState = 0;
  Window.Sleep(kBeforeEndCommandMs);
  try {
    SendToDevice(kEndCommand);
  } catch (const std::exception& failure) {
    // The links are closed below whatever happened, so the window can close.
    EndSessionOnLinkFailure(failure);
  }
  Window.Sleep(kAfterEndCommandMs);
  CloseComLink();
  CloseUdpLink();
  UpdateConnectButtons();
  CloseFirmwareFile();
  Window.MemoLogAppend("Отключено.");
  LinkMode = 3;
}

void TSession::EndSessionOnLinkFailure(const std::exception& failure) {
  SessionState = 0;
  if (LinkFailureReported) return;
  LinkFailureReported = true;
  Window.MemoLogAppend(LinkFailureLine(failure));
  Window.SetLabProgCaption(" Ошибка связи с устройством");
}

// --- The timer step ---

void TSession::Timer1Timer() {
  // The window stops the timer while a header box is open; a tick that
  // comes anyway must not start a second step inside the waiting one.
  if (HeaderBoxOpen) return;
  try {
    UpdateConnectButtons();
    RunStateStep();
  } catch (const std::exception& failure) {
    EndSessionOnLinkFailure(failure);
  }
}

void TSession::RunStateStep() {
  switch (SessionState) {
    case 0:
      IdleStep();
      break;
    case 1:
      SendToDevice(kProbe);
      break;
    case 2:
      SendToDevice(kProgrammingMode);
      SessionState = 3;
      break;
    case 3:
      if (Window.ButtonEnabled(TButton::ButStart))
        Window.SetButtonEnabled(TButton::ButStart, false);
      break;
    case 4:
      Window.SetButtonEnabled(TButton::ButStart, true);
      break;
    case 5:
      if (AnswerReceived) {
        BlockStep();
      } else {
        WaitStep();
      }
      break;
    default:
      break;
  }
}

void TSession::IdleStep() {
  Window.SetLabProgCaption(" Нет операций");
  if (BCom != nullptr && BCom->IsOpen()) CloseComLink();
  if (IdUDPServer1 != nullptr && IdUDPServer1->Active()) CloseUdpLink();
  if (Window.ButtonEnabled(TButton::ButStart)) Window.SetButtonEnabled(TButton::ButStart, false);
}

void TSession::BlockStep() {
  if (Window.ButtonEnabled(TButton::ButStart)) Window.SetButtonEnabled(TButton::ButStart, false);
  const bool ready = BlockIndex == 0 ? ReadHeader() : ReadBlock();
  if (!ready) return;
  SendCurrentBlock();
}

// False when the session has ended and nothing is to be sent.
bool TSession::ReadHeader() {
  if (!ReadFileBlock(kSectionHeaderSize, true)) {
    SessionState = 0;
    return false;
  }
  BlockSize = kSectionHeaderSize;
  BlockCount = 2;
  if (!CheckSectionHeader()) return false;
  if (SectionIndex == 0) {
    Window.SetLabProgCaption(" Стирание MCU Flash...");
    Window.MemoLogAppend("Стирание MCU Flash...");
  } else if (SectionIndex == 1) {
    Window.SetLabProgCaption(" Стирание Flash...");
    Window.MemoLogAppend("Стирание Flash...");
  }
  return true;
}

// False when the session has ended and nothing is to be sent.
bool TSession::ReadBlock() {
  if (BlockIndex == 1) {
    ReadFileBlock(0, false);
    if (BlockSize == 0 || BlockCount == 0) {
      EndSession();
      return false;
    }
    // The block would not fit TxBuffer: refuse before any byte of it is read.
    if (BlockSize > kMaxBlockSize) {
      RefuseOversizedBlock();
      return false;
    }
  }
  if (!ReadFileBlock(BlockSize, true)) {
    SessionState = 0;
    return false;
  }
  Window.SetLabProgCaption(" Запись...");
  return true;
}

void TSession::SendCurrentBlock() {
  if (SendTxBuffer()) {
    RxBuffer.clear();
    if (SectionIndex <= 1) {
      Window.MemoLogAppend(BlockIndex == 0 ? std::string("Запись заголовка")
                                           : "Запись блока " + std::to_string(BlockIndex) + "/" +
                                                 std::to_string(BlockCount));
    }
  }
  ++BlockIndex;
  if (BlockIndex > BlockCount) {
    BlockIndex = 0;
    ++SectionIndex;
  }
  AnswerReceived = false;
  WaitTime = 0;
}

void TSession::EndSession() {
  SessionState = 0;
  CloseFirmwareFile();
  if (EndMarkerSeen) {
    Window.MemoLogAppend(kSuccess);
    Window.MessageBox(TMessageKind::Information, kSuccess);
  }
}

void TSession::RefuseOversizedBlock() {
  SessionState = 0;
  CloseFirmwareFile();
  const std::string text = OversizedBlockText(SectionIndex, BlockSize);
  Window.MemoLogAppend(text);
  Window.MessageBox(TMessageKind::Warning, text);
}

void TSession::WaitStep() {
  WaitTime += Window.Timer1Interval();
  if (WaitTime >= kAnswerTimeLimitMs) {
    SessionState = 0;
    Window.MemoLogAppend(TimeoutLine());
  }
}

// --- Answers ---

void TSession::ParseAnswer() {
  if (HeaderBoxOpen) {
    // Acted on when the box closes; only the overflow guard runs meanwhile.
    AnswersHeldBack = true;
    DropOverflowingRxBuffer();
    return;
  }
  ParseAnswerForState(true);
  DropOverflowingRxBuffer();
}

void TSession::ParseAnswerForState(bool mayRunStep) {
  switch (SessionState) {
    case 0:
      RxBuffer.clear();
      break;
    case 1: {
      const size_t at = RxBuffer.find("VEQ");
      if (at == std::string::npos || RxBuffer.size() - at < kFileIdSize) break;
      DeviceId = RxBuffer.substr(at, kFileIdSize);
      RxBuffer.clear();
      SessionState = 2;
      Window.SetLabProgCaption(BytesToDisplayText(DeviceId));
      Window.MemoLogAppend("Обнаружено устройство " + BytesToDisplayText(DeviceId));
      break;
    }
    case 3:
      if (!Contains(RxBuffer, kReady)) break;
      RxBuffer.clear();
      SessionState = 4;
      Window.SetLabProgCaption(BytesToDisplayText(DeviceId) + " Устройство готово к записи.");
      Window.MemoLogAppend("Устройство готово к записи.");
      break;
    case 5:
      ParseWritingAnswer(mayRunStep);
      break;
    default:
      break;
  }
}

void TSession::ParseWritingAnswer(bool mayRunStep) {
  const std::string& expected = BlockIndex == 0 ? kReady : kGet;
  if (!EndMarkerSeen && TakeWord(RxBuffer, expected)) {
    AnswerReceived = true;
    if (mayRunStep) Timer1Timer();
  }
  // "APP" stays in RxBuffer; the next tick ends the session.
  if (EndMarkerSeen && Contains(RxBuffer, kApp)) AnswerReceived = true;
  if (TakeWord(RxBuffer, kWrong)) {
    Window.SetLabProgCaption(kStatusFailed);
    Window.MemoLogAppend("WRONG Произошла ошибка");
    SessionState = 0;
  }
  if (TakeWord(RxBuffer, kErr)) {
    Window.SetLabProgCaption(kStatusFailed);
    Window.MemoLogAppend("ERR Произошла ошибка");
    SessionState = 0;
  }
}

void TSession::DropOverflowingRxBuffer() {
  if (RxBuffer.size() < kRxBufferLimit) return;
  Window.MemoLogAppend("Buffer overflow");
  RxBuffer.clear();
}

// --- Image file and section headers ---

bool TSession::ReadFileBlock(int32_t count, bool read) {
  if (!read) {
    BlockCount = TxBuffer[13] * 256 + TxBuffer[14];
    BlockSize = TxBuffer[15] * 256 + TxBuffer[16];
    DebugLog("Пересчет блоков. Число N=" + std::to_string(BlockCount) +
             " Bsize=" + std::to_string(BlockSize));
    return true;
  }
  // Callers refuse larger blocks first; the bound only protects TxBuffer.
  const int32_t length = std::min<int32_t>(count, kMaxBlockSize);
  if (length > 0 && !(FileOpen && FirmwareFile->Read(TxBuffer.data(), length))) {
    Window.MemoLogAppend(kFileReadFailed);
    CloseFirmwareFile();
    return false;
  }
  DebugLog("Считано " + std::to_string(count) +
           " байт. Запись блока N=" + std::to_string(BlockIndex) + " ");
  return true;
}

bool TSession::CheckSectionHeader() {
  const std::string fileId(TxBuffer.begin(), TxBuffer.begin() + kFileIdSize);
  const bool endMarker = Contains(fileId, kEndCommand);
  if (SectionIndex == 0 && !endMarker) {
    if (!Contains(DeviceId, fileId.substr(0, 9))) return RefuseForeignImage(fileId);
    const int32_t fileVersion = GetVer(fileId);
    const int32_t boardVersion = GetVer(DeviceId);
    if (boardVersion >= fileVersion && !AskBeforeOlderImage(fileVersion, boardVersion)) {
      return false;
    }
  }
  if (endMarker) {
    EndMarkerSeen = true;
    Window.SetLabProgCaption(" Завершение записи...");
    Window.MemoLogAppend(" Завершение записи...");
  }
  return true;
}

bool TSession::RefuseForeignImage(const std::string& fileId) {
  SessionState = 0;
  Window.SetTimer1Enabled(false);
  const std::string file = BytesToDisplayText(fileId);
  const std::string device = BytesToDisplayText(DeviceId);
  Window.MemoLogAppend("Идентификатор не совпадает: FileID=" + file + "DeviceID=" + device);
  ShowHeaderBox(TMessageKind::Warning,
                "Идентификатор не совпадает: \rFileID=" + file + "\r" + "DeviceID=" + device);
  ButDisconnectClick();
  Window.SetTimer1Enabled(true);
  ActOnHeldBackAnswers();
  return false;
}

// True when the operator chose to go on.
bool TSession::AskBeforeOlderImage(int32_t fileVersion, int32_t boardVersion) {
  Window.SetTimer1Enabled(false);
  const TMessageResult choice = ShowHeaderBox(
      TMessageKind::Confirmation,
      "Внимание!\rПрограммная версия в файле прошивки: " + std::to_string(fileVersion) + "\r" +
          "Программная версия платы: " + std::to_string(boardVersion) + "\r" +
          "Вы действительно хотите продолжить?");
  if (choice != TMessageResult::Ok) {
    SessionState = 0;
    Window.MemoLogAppend("Прервано пользователем.");
    ButDisconnectClick();
    Window.SetTimer1Enabled(true);
    ActOnHeldBackAnswers();
    return false;
  }
  Window.SetTimer1Enabled(true);
  return ActOnHeldBackAnswers();
}

TMessageResult TSession::ShowHeaderBox(TMessageKind kind, const std::string& text) {
  HeaderBoxOpen = true;
  const TMessageResult choice = Window.MessageBox(kind, text);
  HeaderBoxOpen = false;
  return choice;
}

// Parses what arrived while a header box was open. The step that showed the
// box is still running, so an expected answer is taken without running
// another step; an error answer ends the session. False when it has ended.
bool TSession::ActOnHeldBackAnswers() {
  if (AnswersHeldBack) {
    AnswersHeldBack = false;
    ParseAnswerForState(false);
    DropOverflowingRxBuffer();
  }
  return SessionState == 5;
}

int32_t TSession::GetVer(const std::string& text) {
  if (text.size() >= kFileIdSize) {
    const char* first = text.data() + 9;
    const char* last = text.data() + kFileIdSize;
    int32_t version = 0;
    const auto [end, error] = std::from_chars(first, last, version);
    if (error == std::errc() && end == last) return version;
  }
  DebugLog("GetVer error");
  return -1;
}
