#include "serial/BCPort.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>

#include "platform/ErrorReport.h"
#include "platform/MainThread.h"
#include "serial/ComThread.h"
#include "serial/LineDriver.h"

namespace {

const char* const kTextNotFound = "Попытка открыть несуществующий COM-порт";
const char* const kTextBusy = "Порт занят другой программой";
const char* const kTextWrite = "Ошибка записи в порт";
const char* const kTextRead = "Ошибка чтения из порта";
const char* const kTextAsync = "Недопустимый параметр Async";
const char* const kTextPurgeComm = "Ошибка функции PurgeComm";
const char* const kTextSetCommState = "Ошибка функции SetCommState";
const char* const kTextSetCommTimeouts = "Ошибка функции SetCommTimeouts";
const char* const kTextSetupComm = "Ошибка функции SetupComm";
const char* const kTextClearCommError = "Ошибка функции ClearCommError";
const char* const kTextModemStatus = "Ошибка функции GetCommModemStatus";
const char* const kTextEscape = "Ошибка функции EscapeCommFunction";
const char* const kTextWhileOpen = "Нельзя менять свойство, пока порт открыт";

constexpr std::array<int, kBaudRateCount> kBitsPerSecond = {
    110,   300,   600,    1200,   2400,   4800,   9600,   14400, 19200, 38400,
    56000, 57600, 115200, 128000, 256000, 460800, 921600, 100,   200};

// The event flags, by TPortEvent ordinal.
constexpr std::array<uint32_t, 8> kEventFlags = {0x0001, 0x0004, 0x0100, 0x0008,
                                                 0x0010, 0x0020, 0x0080, 0x0400};

// The order in which one wait's events reach their handlers.
constexpr std::array<TPortEvent, 8> kDispatchOrder = {peError, peRxChar, peTxEmpty, peRing,
                                                      peCTS,   peDSR,    peRLSD,    peRx80Full};

std::string DevicePath(const std::string& port) {
  return !port.empty() && port.front() == '/' ? port : "/dev/" + port;
}

uint32_t ToDriverTimeout(int32_t milliseconds) {
  return milliseconds < 0 ? kNoTimeLimit : static_cast<uint32_t>(milliseconds);
}

// The total time-out of a transfer of count bytes; none when the totals are
// not used (both 0) or either is "no limit".
device_io::TDeadline TotalDeadline(uint32_t multiplier, uint32_t constant, int32_t count) {
  if ((multiplier == 0 && constant == 0) || multiplier == kNoTimeLimit ||
      constant == kNoTimeLimit) {
    return std::nullopt;
  }
  const uint64_t milliseconds = uint64_t{multiplier} * static_cast<uint64_t>(count) + constant;
  return device_io::Clock::now() + std::chrono::milliseconds(milliseconds);
}

device_io::TReadLimits ReadLimits(const TDriverTimeouts& t, int32_t count) {
  device_io::TReadLimits limits;
  const bool noInterval = t.ReadIntervalTimeout == kNoTimeLimit;
  if (noInterval && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
    limits.ReturnAtOnce = true;
  } else if (noInterval && t.ReadTotalTimeoutMultiplier == kNoTimeLimit &&
             t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kNoTimeLimit) {
    limits.WaitForFirstByte = true;
    limits.Deadline =
        device_io::Clock::now() + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
  } else {
    limits.Deadline =
        TotalDeadline(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, count);
    if (t.ReadIntervalTimeout != 0 && !noInterval) {
      limits.GapMs = static_cast<int>(std::min<uint32_t>(t.ReadIntervalTimeout, INT_MAX));
    }
  }
  return limits;
}

line_driver::TLineSetting LineSetting(TBaudRate rate, TByteSize size, TParity parity,
                                      TStopBits stop) {
  line_driver::TLineSetting setting;
  setting.BitsPerSecond = static_cast<uint32_t>(BaudRateBitsPerSecond(rate));
  setting.DataBits = size + 5;
  setting.Parity = static_cast<line_driver::TParityBits>(parity);
  setting.StopBits = static_cast<line_driver::TStopBitCount>(stop);
  return setting;
}

// Raises or drops modem output lines. A device without modem lines is no
// failure; neither is dropping the lines of a device that has gone away.
bool SetModemLines(int fd, int lines, bool raise) {
  if (ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &lines) == 0) return true;
  return device_io::IsNoModemLinesError(errno) || (!raise && device_io::IsDeviceGoneError(errno));
}

// The transfers do not report the system's error number, but a failed one
// ends on its failing call, so errno (cleared before the transfer) still
// holds it. A transfer that ran out of time ends on the non-blocking call
// that had to wait, or on an interrupted wait: no failure of the device.
int TransferError(const device_io::TTransfer& transfer) {
  if (transfer.Complete) return 0;
  const int err = errno;
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR ? 0 : err;
}

}  // namespace

// The stand-in for the hidden notification window: posted events find out
// through it whether the port still wants them.
struct TNotifyWindow {
  explicit TNotifyWindow(TBComPort* port) : Port(port) {}
  TBComPort* Port;
};

int BaudRateBitsPerSecond(TBaudRate rate) {
  return kBitsPerSecond.at(rate);
}

uint32_t PortEventsToMask(TPortEvents events) {
  uint32_t mask = 0;
  for (int member = 0; member < 8; ++member) {
    if (events.Contains(static_cast<TPortEvent>(member))) mask |= kEventFlags[member];
  }
  return mask;
}

TPortEvents MaskToPortEvents(uint32_t mask) {
  TPortEvents events;
  for (int member = 0; member < 8; ++member) {
    if (mask & kEventFlags[member]) events.Include(static_cast<TPortEvent>(member));
  }
  return events;
}

// --- TComTimeouts ---

void TComTimeouts::Assign(const TComTimeouts& source) {
  ReadIntervalValue = source.ReadIntervalValue;
  ReadTotalMultiplierValue = source.ReadTotalMultiplierValue;
  ReadTotalConstantValue = source.ReadTotalConstantValue;
  WriteTotalMultiplierValue = source.WriteTotalMultiplierValue;
  WriteTotalConstantValue = source.WriteTotalConstantValue;
}

void TComTimeouts::Store(int32_t& field, int32_t value) {
  if (field == value) return;
  field = value;
  if (OwnerPort) OwnerPort->ApplyTimeouts();
}

// --- Operation records ---

void NewPortOperation(TPortOperation*& op) {
  op = new TPortOperation;
}

void FreePortOperation(TPortOperation*& op) {
  delete op;
  op = nullptr;
}

void StoreOperationData(TOperationDirection direction, const void* buffer, int32_t count,
                        TPortOperation* op) {
  op->Direction = direction;
  const int32_t size = count > 0 ? count : 0;
  op->DataCopy.reset(size > 0 ? new char[static_cast<size_t>(size)] : nullptr);
  if (size > 0) std::memcpy(op->DataCopy.get(), buffer, static_cast<size_t>(size));
  op->DataSize = size;
}

// --- TBComPort: life and properties ---

TBComPort::TBComPort() = default;

TBComPort::~TBComPort() {
  try {
    Close();
  } catch (const std::exception&) {
    // The device is released whatever Close reports; nobody is left to tell.
  }
  JoinRetiredThreads();
}

void TBComPort::RefuseWhileOpen() const {
  if (IsOpenValue) throw EComPort(kTextWhileOpen);
}

void TBComPort::SetBaudRate(TBaudRate value) {
  if (value == BaudRateValue) return;
  BaudRateValue = value;
  ApplyLineSettings();
}

void TBComPort::SetByteSize(TByteSize value) {
  if (value == ByteSizeValue) return;
  ByteSizeValue = value;
  ApplyLineSettings();
}

void TBComPort::SetParity(TParity value) {
  if (value == ParityValue) return;
  ParityValue = value;
  ApplyLineSettings();
}

void TBComPort::SetStopBits(TStopBits value) {
  if (value == StopBitsValue) return;
  StopBitsValue = value;
  ApplyLineSettings();
}

namespace {
// Driver queues come in whole words.
int32_t EvenBufferSize(int32_t value) {
  return value > 0 && value % 2 != 0 ? value - 1 : value;
}
}  // namespace

void TBComPort::SetInBufSize(int32_t value) {
  if (value == InBufSizeValue) return;
  InBufSizeValue = EvenBufferSize(value);
  ApplyBufferSizes();
}

void TBComPort::SetOutBufSize(int32_t value) {
  if (value == OutBufSizeValue) return;
  OutBufSizeValue = EvenBufferSize(value);
  ApplyBufferSizes();
}

void TBComPort::SetPort(const std::string& value) {
  RefuseWhileOpen();
  PortValue = value;
}

void TBComPort::SetSyncMethod(TSyncMethod value) {
  if (value == SyncMethodValue) return;
  RefuseWhileOpen();
  SyncMethodValue = value;
}

void TBComPort::SetTimeouts(const TComTimeouts& value) {
  TimeoutsValue.Assign(value);
  ApplyTimeouts();
}

// --- Open and close ---

void TBComPort::OpenDevice() {
  const int fd = open(DevicePath(PortValue).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == EBUSY || err == EACCES || err == EPERM) throw EComPort(kTextBusy, err);
    // Whatever else stops the open (no such path, no device behind it, not
    // a device at all), the operator has no port there; the number says which.
    throw EComPort(kTextNotFound, err);
  }
  // The lock refuses everyone who asks for it the same way, root included.
  // A lock the file system cannot give is no refusal by another opener.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK || err == EBUSY || err == EACCES) {
      close(fd);
      throw EComPort(kTextBusy, err);
    }
  }
  // TIOCEXCL also refuses openers that do not lock, but not root. Set only
  // once the lock is held: the flag belongs to the terminal, and setting or
  // clearing it for a port someone else holds would change theirs.
  ioctl(fd, TIOCEXCL);
  DeviceFd = fd;
  device_io::ReadLineErrorCounts(DeviceFd, ErrorBaseline);
}

void TBComPort::ReleaseDevice() {
  if (DeviceFd < 0) return;
  // The exclusive flag belongs to the terminal, not to this descriptor.
  ioctl(DeviceFd, TIOCNXCL);
  close(DeviceFd);
  DeviceFd = -1;
}

bool TBComPort::Open() {
  if (IsOpenValue) return true;
  JoinRetiredThreads();
  OpenDevice();
  IsOpenValue = true;
  try {
    ApplyAllSettings();
    if (SyncMethodValue == smWindowSync) NotifyWindow = std::make_shared<TNotifyWindow>(this);
    EventThread = std::make_unique<TComThread>(*this);
    EventThread->Start();
  } catch (...) {
    EventThread.reset();
    NotifyWindow.reset();
    ReleaseDevice();
    IsOpenValue = false;
    throw;
  }
  return IsOpenValue;
}

void TBComPort::StopEventThread() {
  if (!EventThread) return;
  if (HandOverDepth > 0) {
    // Closed from a handler that the thread is waiting for: waiting for the
    // thread here would wait for ever. It ends once the handler returns.
    EventThread->RequestStop();
    RetiredThreads.push_back(std::move(EventThread));
    return;
  }
  EventThread->Stop();
  EventThread.reset();
}

void TBComPort::JoinRetiredThreads() {
  if (HandOverDepth > 0) return;
  for (auto& thread : RetiredThreads)
    thread->Stop();
  RetiredThreads.clear();
}

void TBComPort::DiscardDriverQueues() {
  tcflush(DeviceFd, TCIFLUSH);
  // Only what the driver has not sent yet; a pseudo-terminal has already
  // handed every written byte to the other side, and flushing its output
  // would throw those away there.
  int unsent = 0;
  if (device_io::QueuedOutputBytes(DeviceFd, unsent) == 0 && unsent > 0) {
    tcflush(DeviceFd, TCOFLUSH);
  }
}

bool TBComPort::Close() {
  if (!IsOpenValue) return true;
  std::exception_ptr failure;
  try {
    SetDTRLine(false);
    SetRTSLine(false);
    AbortTransfers();
  } catch (...) {
    failure = std::current_exception();
  }
  // Whatever failed above, the thread must not go on waiting on a device
  // that is about to be released.
  StopEventThread();
  DiscardDriverQueues();
  NotifyWindow.reset();
  ReleaseDevice();
  IsOpenValue = false;
  JoinRetiredThreads();
  if (failure) std::rethrow_exception(failure);
  return true;
}

// --- Driver settings ---

void TBComPort::ApplyBufferSizes() {
  if (!IsOpenValue) return;
  // The kernel sizes its own queues; what is left to check is that there is
  // a device and that the sizes make sense as queue sizes.
  if (fcntl(DeviceFd, F_GETFD) < 0) throw EComPort(kTextSetupComm, errno);
  if (InBufSizeValue < 0 || OutBufSizeValue < 0) throw EComPort(kTextSetupComm);
}

void TBComPort::ApplyLineSettings() {
  if (!IsOpenValue) return;
  const auto setting = LineSetting(BaudRateValue, ByteSizeValue, ParityValue, StopBitsValue);
  if (const int err = line_driver::SetLine(DeviceFd, setting); err != 0) {
    throw EComPort(kTextSetCommState, err);
  }
  if (!SetModemLines(DeviceFd, TIOCM_DTR | TIOCM_RTS, true)) {
    throw EComPort(kTextSetCommState, errno);
  }
}

void TBComPort::ApplyTimeouts() {
  if (!IsOpenValue) return;
  // The driver has no time-outs of its own to refuse; what is left to check
  // is that the device is still there.
  if (fcntl(DeviceFd, F_GETFD) < 0) throw EComPort(kTextSetCommTimeouts, errno);
  TimeoutsInForce = {ToDriverTimeout(TimeoutsValue.ReadInterval()),
                     ToDriverTimeout(TimeoutsValue.ReadTotalMultiplier()),
                     ToDriverTimeout(TimeoutsValue.ReadTotalConstant()),
                     ToDriverTimeout(TimeoutsValue.WriteTotalMultiplier()),
                     ToDriverTimeout(TimeoutsValue.WriteTotalConstant())};
}

void TBComPort::ApplyAllSettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeouts();
}

double TBComPort::MillisecondsPerByte() const {
  const int stopBits = StopBitsValue == sb1 ? 1 : 2;
  const int bits = 1 + (ByteSizeValue + 5) + (ParityValue == paNone ? 0 : 1) + stopBits;
  return bits * 1000.0 / BaudRateBitsPerSecond(BaudRateValue);
}

// --- Writes and reads ---

int32_t TBComPort::SendBufferAsync(const void* buffer, int32_t count, TPortOperation* op) {
  if (!op) throw EComPort(kTextAsync);
  StoreOperationData(odWrite, buffer, count, op);
  op->Transferred = 0;
  op->Failed = false;
  op->SystemError = 0;
  if (count < 0 || DeviceFd < 0) throw EComPort(kTextWrite);
  const auto deadline = TotalDeadline(TimeoutsInForce.WriteTotalTimeoutMultiplier,
                                      TimeoutsInForce.WriteTotalTimeoutConstant, count);
  errno = 0;
  const auto transfer = device_io::WriteAll(DeviceFd, static_cast<const char*>(buffer), count,
                                            deadline, MillisecondsPerByte());
  const int err = TransferError(transfer);
  if (transfer.StartFailed) throw EComPort(kTextWrite, err);
  op->Transferred = transfer.Count;
  op->Failed = !transfer.Complete;
  op->SystemError = err;
  return transfer.Count;
}

int32_t TBComPort::SendBytesAsync(const std::string& data, TPortOperation* op) {
  if (data.empty()) return 0;
  return SendBufferAsync(data.data(), static_cast<int32_t>(data.size()), op);
}

int32_t TBComPort::SendBytes(const std::string& data) {
  TPortOperation* op = nullptr;
  NewPortOperation(op);
  try {
    SendBytesAsync(data, op);
    const int32_t written = WaitOperation(op);
    FreePortOperation(op);
    return written;
  } catch (...) {
    FreePortOperation(op);
    throw;
  }
}

int32_t TBComPort::ReceiveBufferAsync(void* buffer, int32_t count, TPortOperation* op) {
  if (!op) throw EComPort(kTextAsync);
  op->Direction = odRead;
  op->Transferred = 0;
  op->Failed = false;
  op->SystemError = 0;
  if (count < 0 || DeviceFd < 0) throw EComPort(kTextRead);
  errno = 0;
  const auto transfer = device_io::ReadUpTo(DeviceFd, static_cast<char*>(buffer), count,
                                            ReadLimits(TimeoutsInForce, count));
  const int err = TransferError(transfer);
  if (transfer.StartFailed) throw EComPort(kTextRead, err);
  op->Transferred = transfer.Count;
  op->Failed = !transfer.Complete;
  op->SystemError = err;
  return transfer.Count;
}

int32_t TBComPort::ReceiveBytesAsync(std::string& data, int32_t count, TPortOperation* op) {
  data.assign(count > 0 ? static_cast<size_t>(count) : 0, '\0');
  if (count <= 0) return 0;
  return ReceiveBufferAsync(data.data(), count, op);
}

int32_t TBComPort::ReceiveBytes(std::string& data, int32_t count) {
  TPortOperation* op = nullptr;
  NewPortOperation(op);
  try {
    ReceiveBytesAsync(data, count, op);
    const int32_t received = WaitOperation(op);
    data.resize(static_cast<size_t>(received));
    FreePortOperation(op);
    return received;
  } catch (...) {
    // Keep what did arrive before the failure rather than a buffer of zeros.
    data.resize(static_cast<size_t>(op->Transferred));
    FreePortOperation(op);
    throw;
  }
}

int32_t TBComPort::WaitOperation(TPortOperation* op) {
  if (!op) throw EComPort(kTextAsync);
  if (op->Failed) {
    throw EComPort(op->Direction == odRead ? kTextRead : kTextWrite, op->SystemError);
  }
  return op->Transferred;
}

// --- Status and modem lines ---

int32_t TBComPort::QueuedInputCount() {
  int count = 0;
  if (const int err = device_io::QueuedInputBytes(DeviceFd, count); err != 0) {
    throw EComPort(kTextClearCommError, err);
  }
  // Like the status call it stands for, asking clears the error state.
  device_io::ReadLineErrorCounts(DeviceFd, ErrorBaseline);
  return count;
}

TComErrors TBComPort::ClearErrors() {
  device_io::TLineErrorCounts now;
  if (const int err = device_io::ReadLineErrorCounts(DeviceFd, now); err != 0) {
    throw EComPort(kTextClearCommError, err);
  }
  TComErrors errors;
  if (now.Frame != ErrorBaseline.Frame) errors.Include(ceFrame);
  if (now.Parity != ErrorBaseline.Parity && ParityValue != paNone) errors.Include(ceRxParity);
  if (now.Overrun != ErrorBaseline.Overrun) errors.Include(ceOverrun);
  if (now.Break != ErrorBaseline.Break) errors.Include(ceBreak);
  if (now.BufferOverrun != ErrorBaseline.BufferOverrun) errors.Include(ceRxOver);
  ErrorBaseline = now;
  return errors;
}

TLineSignals TBComPort::LineSignals() {
  int status = 0;
  if (ioctl(DeviceFd, TIOCMGET, &status) != 0) {
    const int err = errno;
    if (device_io::IsNoModemLinesError(err)) return {};
    throw EComPort(kTextModemStatus, err);
  }
  TLineSignals signals;
  if (status & TIOCM_CTS) signals.Include(lsCTS);
  if (status & TIOCM_DSR) signals.Include(lsDSR);
  if (status & TIOCM_RNG) signals.Include(lsRing);
  if (status & TIOCM_CAR) signals.Include(lsRLSD);
  return signals;
}

void TBComPort::SetDTRLine(bool state) {
  if (!SetModemLines(DeviceFd, TIOCM_DTR, state)) throw EComPort(kTextEscape, errno);
}

void TBComPort::SetRTSLine(bool state) {
  if (!SetModemLines(DeviceFd, TIOCM_RTS, state)) throw EComPort(kTextEscape, errno);
}

void TBComPort::AbortTransfers() {
  // Every transfer completes (or fails) inside the call that started it, so
  // nothing is ever pending here; what remains is that the device is there.
  if (fcntl(DeviceFd, F_GETFL) < 0) throw EComPort(kTextPurgeComm, errno);
}

// --- Events ---

void TBComPort::DispatchEvents(TPortEvents events) {
  const bool handedOver = SyncMethodValue == smThreadSync;
  if (handedOver) ++HandOverDepth;
  try {
    for (const TPortEvent event : kDispatchOrder) {
      // A handler may have closed the port; the rest of the events go with it.
      if (events.Contains(event) && IsOpenValue) FireByFlag(kEventFlags[event]);
    }
  } catch (...) {
    if (handedOver) --HandOverDepth;
    throw;
  }
  if (handedOver) --HandOverDepth;
}

void TBComPort::FireByFlag(uint32_t flag) {
  switch (flag) {
    case 0x0001:
      return FireRxChar();
    case 0x0004:
      return FireTxEmpty();
    case 0x0008:
      return FireCTSChange();
    case 0x0010:
      return FireDSRChange();
    case 0x0020:
      return FireRLSDChange();
    case 0x0080:
      return FireError();
    case 0x0100:
      return FireRing();
    case 0x0400:
      return FireRx80Full();
    default:
      return;
  }
}

void TBComPort::PostEventsToWindow(TPortEvents events) {
  const std::weak_ptr<TNotifyWindow> window = NotifyWindow;
  for (const TPortEvent event : kDispatchOrder) {
    if (!events.Contains(event)) continue;
    platform::Post([window, flag = kEventFlags[event]] {
      const auto target = window.lock();
      if (!target || !target->Port->IsOpen()) return;
      // The event thread has long moved on: nobody to hand a failure back to.
      try {
        target->Port->FireByFlag(flag);
      } catch (const std::exception& e) {
        platform::ReportError(e.what());
      }
    });
  }
}

void TBComPort::FireRxChar() {
  const int32_t count = QueuedInputCount();
  if (count > 0 && OnRxChar) OnRxChar(this, count);
}

void TBComPort::FireTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}

void TBComPort::FireRing() {
  if (OnRing) OnRing(this);
}

void TBComPort::FireCTSChange() {
  if (OnCTSChange) OnCTSChange(this, LineSignals().Contains(lsCTS));
}

void TBComPort::FireDSRChange() {
  if (OnDSRChange) OnDSRChange(this, LineSignals().Contains(lsDSR));
}

void TBComPort::FireRLSDChange() {
  if (!OnRLSDChange) return;
  // A line that has hung up cannot tell its modem lines any more; it has no
  // carrier.
  bool carrier = false;
  try {
    carrier = LineSignals().Contains(lsRLSD);
  } catch (const EComPort&) {
  }
  OnRLSDChange(this, carrier);
}

void TBComPort::FireError() {
  const TComErrors errors = ClearErrors();
  if (!errors.Empty() && OnError) OnError(this, errors);
}

void TBComPort::FireRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}
