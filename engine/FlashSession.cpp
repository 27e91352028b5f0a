#include <charconv>
#include <filesystem>
#include <system_error>
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
const std::string kImageUnreadable = "файл образа не читается";
const std::string kImageCutShort = "Файл образа стал короче во время записи.";
const std::string kImageCutShortDetail = "файл образа стал короче во время записи";

std::string TimeoutLine() {
  return "Timeout. Устройство не ответило. " + std::to_string(kAnswerTimeLimitMs / 1000) + " сек";
}

std::string OversizedBlockText(int32_t sectionIndex, int32_t blockSize) {
  return "Раздел " + std::to_string(sectionIndex) + ": размер блока " + std::to_string(blockSize) +
         " байт больше допустимого (" + std::to_string(kMaxBlockSize) + "). Запись прервана.";
}

// 120000 -> "120 сек", 300 -> "0.3 сек".
std::string SecondsText(uint32_t milliseconds) {
  std::string number = std::to_string(milliseconds / 1000);
  if (milliseconds % 1000 != 0) {
    std::string fraction = std::to_string(1000 + milliseconds % 1000).substr(1);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    number += "." + fraction;
  }
  return number + " сек";
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

// Characters 10..12 of an identity as a number, -1 when they are none.
int32_t VersionIn(const std::string& text) {
  if (text.size() < kFileIdSize) return -1;
  const char* first = text.data() + 9;
  const char* last = text.data() + kFileIdSize;
  int32_t version = 0;
  const auto [end, error] = std::from_chars(first, last, version);
  return error == std::errc() && end == last ? version : -1;
}

std::string VersionQuestion(int32_t fileVersion, int32_t boardVersion) {
  return "Внимание!\rПрограммная версия в файле прошивки: " + std::to_string(fileVersion) + "\r" +
         "Программная версия платы: " + std::to_string(boardVersion) + "\r" +
         "Вы действительно хотите продолжить?";
}

}  // namespace

// --- Operator commands ---

void TSession::ButConnectClick() {
  RunEnd = {};
  SearchTime = 0;
  SavedIp = Window.Text(TTextControl::EditIP);
  LinkMode = SelectedMode;
  const bool opened = LinkMode == TLinkMode::Serial ? OpenComLink() : OpenUdpLink();
  if (!opened) {
    NoteOpenFailure();
    return;
  }
  Window.MemoLogClear();
  DebugLog("Debug mode");
  UpdateConnectButtons();
  SessionState = TSessionState::Searching;
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

// The open has told the operator in its own box; the cause, when the port
// knows it, goes to the log beside it.
void TSession::NoteOpenFailure() {
  RunEnd.Outcome = TRunOutcome::LinkFailure;
  RunEnd.AlreadyShown = true;
  if (LinkMode != TLinkMode::Serial || BCom == nullptr) return;
  const TOpenFailure failure = BCom->LastOpenFailure();
  RunEnd.Detail = failure.Cause;
  RunEnd.SystemError = failure.SystemError;
  if (!failure.Cause.empty()) Window.MemoLogAppend("Причина: " + failure.Cause + ".");
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
  RunImage = ScanImage(path);
  std::error_code error;
  ImageBytesAtStart = std::filesystem::file_size(path, error);
  if (error) ImageBytesAtStart = 0;
  ImageBytesRead = 0;
  SentSection = 0;
  SentBlock = 0;
  RunEnd = {};
  Window.SetTimer1Interval(kWritingIntervalMs);
  RxBuffer.clear();
  EndMarkerSeen = false;
  AnswerReceived = true;
  SessionState = TSessionState::Writing;
  BlockIndex = 0;
  SectionIndex = 0;
  Window.MemoLogAppend("Начало записи...");
  Timer1Timer();
}

void TSession::ButDisconnectClick() {
  // Idle from the start: closing a link still serves the receive events that
  // are queued, and a late "GET" must not send the next block meanwhile.
  if (SessionState != TSessionState::Idle) {
    EndRun(TRunOutcome::Disconnected, {}, true);
  }
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
  LinkMode = TLinkMode::None;
}

void TSession::EndRun(TRunOutcome outcome, std::string detail, bool alreadyShown) {
  // The first ending of a run is the one it had; what follows it (the
  // Disconnect after a refusal, an end command that cannot be sent) is not.
  if (RunEnd.Outcome == TRunOutcome::None) {
    RunEnd.Outcome = outcome;
    RunEnd.Writing = SessionState == TSessionState::Writing;
    RunEnd.Section = SentSection;
    RunEnd.Block = SentBlock;
    RunEnd.BlockCount = SentBlock > 0 ? BlockCount : 0;
    RunEnd.AtEndMarker = EndMarkerSeen && SentBlock == 0;
    RunEnd.Detail = std::move(detail);
    RunEnd.AlreadyShown = alreadyShown;
  }
  SessionState = TSessionState::Idle;
}

void TSession::EndSessionOnLinkFailure(const std::exception& failure) {
  EndRun(TRunOutcome::LinkFailure, failure.what());
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
    case TSessionState::Idle:
      IdleStep();
      break;
    case TSessionState::Searching:
      CountSearchTime();
      if (SessionState == TSessionState::Searching) SendToDevice(kProbe);
      break;
    case TSessionState::Found:
      SendToDevice(kProgrammingMode);
      SessionState = TSessionState::ProgSent;
      break;
    case TSessionState::ProgSent:
      CountSearchTime();
      if (Window.ButtonEnabled(TButton::ButStart))
        Window.SetButtonEnabled(TButton::ButStart, false);
      break;
    case TSessionState::Ready:
      Window.SetButtonEnabled(TButton::ButStart, true);
      break;
    case TSessionState::Writing:
      if (AnswerReceived) {
        BlockStep();
      } else {
        WaitStep();
      }
      break;
  }
}

void TSession::CountSearchTime() {
  if (SearchLimitMs == 0) return;
  SearchTime += Window.Timer1Interval();
  if (SearchTime >= SearchLimitMs) EndRun(TRunOutcome::NotFound, SecondsText(SearchLimitMs));
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
  if (!ReadFileBlock(kSectionHeaderSize, true)) return false;
  CurrentHeader = ParseSectionHeader(
      {reinterpret_cast<const char*>(TxBuffer.data()), kSectionHeaderSize});
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
  if (!ReadFileBlock(BlockSize, true)) return false;
  Window.SetLabProgCaption(" Запись...");
  return true;
}

void TSession::SendCurrentBlock() {
  SentSection = SectionIndex;
  SentBlock = BlockIndex;
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
  if (SentBlock == 0 && OnSectionHeaderSent) OnSectionHeaderSent();
}

void TSession::EndSession() {
  if (EndMarkerSeen) {
    EndRun(TRunOutcome::Written, {}, true);
  } else {
    EndRun(TRunOutcome::ImageFault, "в образе нет маркера конца, раздел " +
                                        std::to_string(SectionIndex) + " пуст");
  }
  CloseFirmwareFile();
  if (EndMarkerSeen) {
    Window.MemoLogAppend(kSuccess);
    Window.MessageBox(TMessageKind::Information, kSuccess);
  }
}

void TSession::RefuseOversizedBlock() {
  EndRun(TRunOutcome::ImageFault,
         "размер блока " + std::to_string(BlockSize) + " байт больше допустимого (" +
             std::to_string(kMaxBlockSize) + ")",
         true);
  CloseFirmwareFile();
  const std::string text = OversizedBlockText(SectionIndex, BlockSize);
  Window.MemoLogAppend(text);
  Window.MessageBox(TMessageKind::Warning, text);
}

void TSession::WaitStep() {
  WaitTime += Window.Timer1Interval();
  if (WaitTime >= kAnswerTimeLimitMs) {
    EndRun(TRunOutcome::DeviceSilent, SecondsText(kAnswerTimeLimitMs));
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
    case TSessionState::Idle:
      RxBuffer.clear();
      break;
    case TSessionState::Searching: {
      const size_t at = RxBuffer.find("VEQ");
      if (at == std::string::npos || RxBuffer.size() - at < kFileIdSize) break;
      DeviceId = RxBuffer.substr(at, kFileIdSize);
      RxBuffer.clear();
      SessionState = TSessionState::Found;
      Window.SetLabProgCaption(BytesToDisplayText(DeviceId));
      Window.MemoLogAppend("Обнаружено устройство " + BytesToDisplayText(DeviceId));
      break;
    }
    case TSessionState::ProgSent:
      if (!Contains(RxBuffer, kReady)) break;
      RxBuffer.clear();
      SessionState = TSessionState::Ready;
      Window.SetLabProgCaption(BytesToDisplayText(DeviceId) + " Устройство готово к записи.");
      Window.MemoLogAppend("Устройство готово к записи.");
      break;
    case TSessionState::Writing:
      ParseWritingAnswer(mayRunStep);
      break;
    case TSessionState::Found:
    case TSessionState::Ready:
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
    EndRun(TRunOutcome::DeviceWrong);
  }
  if (TakeWord(RxBuffer, kErr)) {
    Window.SetLabProgCaption(kStatusFailed);
    Window.MemoLogAppend("ERR Произошла ошибка");
    EndRun(TRunOutcome::DeviceErr);
  }
}

void TSession::DropOverflowingRxBuffer() {
  if (RxBuffer.size() < kRxBufferLimit) return;
  Window.MemoLogAppend("Buffer overflow");
  RxBuffer.clear();
}

// --- Image file and section headers ---

bool TSession::FailImageRead(const std::string& logLine, const std::string& detail) {
  Window.MemoLogAppend(logLine);
  CloseFirmwareFile();
  EndRun(TRunOutcome::ImageFault, detail);
  return false;
}

bool TSession::ReadFileBlock(int32_t count, bool read) {
  if (!read) {
    BlockCount = CurrentHeader.BlockCount;
    BlockSize = CurrentHeader.BlockSize;
    DebugLog("Пересчет блоков. Число N=" + std::to_string(BlockCount) +
             " Bsize=" + std::to_string(BlockSize));
    return true;
  }
  // Callers refuse larger blocks first; the bound only protects TxBuffer.
  const int32_t length = std::min<int32_t>(count, kMaxBlockSize);
  size_t present = 0;
  if (length > 0 && !(FileOpen && FirmwareFile->Read(TxBuffer.data(), length, &present))) {
    return FailImageRead(kFileReadFailed, kImageUnreadable);
  }
  ImageBytesRead += present;
  // Past the end of the image as it was at Start, bytes read as zeros; short
  // of it, the zeros would stand in for data the image had.
  if (present < static_cast<size_t>(length) && ImageBytesRead < ImageBytesAtStart) {
    return FailImageRead(kImageCutShort, kImageCutShortDetail);
  }
  DebugLog("Считано " + std::to_string(count) +
           " байт. Запись блока N=" + std::to_string(BlockIndex) + " ");
  return true;
}

bool TSession::CheckSectionHeader() {
  const std::string& fileId = CurrentHeader.FileId;
  const bool endMarker = CurrentHeader.IsEndMarker();
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
  const std::string file = BytesToDisplayText(fileId);
  const std::string device = BytesToDisplayText(DeviceId);
  EndRun(TRunOutcome::WrongBoard, "FileID=" + file + ", DeviceID=" + device, true);
  Window.SetTimer1Enabled(false);
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
  const TMessageResult choice =
      ShowHeaderBox(TMessageKind::Confirmation, VersionQuestion(fileVersion, boardVersion));
  if (choice != TMessageResult::Ok) {
    EndRun(TRunOutcome::Declined,
           "версия в файле " + std::to_string(fileVersion) + " не новее версии платы " +
               std::to_string(boardVersion),
           true);
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
  return SessionState == TSessionState::Writing;
}

int32_t TSession::GetVer(const std::string& text) {
  const int32_t version = VersionIn(text);
  if (version < 0) DebugLog("GetVer error");
  return version;
}

std::string TSession::QuestionBeforeWriting(const std::string& fileId) const {
  if (fileId.find(kEndCommand) != std::string::npos || !Contains(DeviceId, fileId.substr(0, 9)))
    return {};
  const int32_t fileVersion = VersionIn(fileId);
  const int32_t boardVersion = VersionIn(DeviceId);
  return boardVersion >= fileVersion ? VersionQuestion(fileVersion, boardVersion) : std::string();
}
