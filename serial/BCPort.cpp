#include "serial/BCPort.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#include "platform/Descriptor.h"
#include "platform/ErrorReport.h"
#include "platform/MainThread.h"
#include "serial/BCPortInternal.h"
#include "serial/ComThread.h"
#include "serial/ComWatch.h"
#include "serial/LineDriver.h"
#include "serial/PortBackend.h"

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

// By TPortEvent ordinal: the driver's flag for each event, and the handler
// that fires it.
struct TEventEntry {
  uint32_t Flag;
  void (TBComPort::*Fire)();
};
constexpr std::array<TEventEntry, 8> kEvents = {{
    {0x0001, &TBComPort::FireRxChar},
    {0x0004, &TBComPort::FireTxEmpty},
    {0x0100, &TBComPort::FireRing},
    {0x0008, &TBComPort::FireCTSChange},
    {0x0010, &TBComPort::FireDSRChange},
    {0x0020, &TBComPort::FireRLSDChange},
    {0x0080, &TBComPort::FireError},
    {0x0400, &TBComPort::FireRx80Full},
}};

// The order in which one wait's events reach their handlers.
constexpr std::array<TPortEvent, 8> kDispatchOrder = {peError, peRxChar, peTxEmpty, peRing,
                                                      peCTS,   peDSR,    peRLSD,    peRx80Full};

uint32_t ToDriverTimeout(int32_t milliseconds) {
  return milliseconds < 0 ? kNoTimeLimit : static_cast<uint32_t>(milliseconds);
}

// The total time-out of a transfer of count bytes; none when the totals are
// not used (both 0) or either is "no limit".
platform::TDeadline TotalDeadline(uint32_t multiplier, uint32_t constant, int32_t count) {
  if ((multiplier == 0 && constant == 0) || multiplier == kNoTimeLimit ||
      constant == kNoTimeLimit) {
    return std::nullopt;
  }
  const uint64_t milliseconds = uint64_t{multiplier} * static_cast<uint64_t>(count) + constant;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

port_backend::TReadLimits ReadLimits(const TDriverTimeouts& t, int32_t count) {
  port_backend::TReadLimits limits;
  const bool noInterval = t.ReadIntervalTimeout == kNoTimeLimit;
  if (noInterval && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
    limits.ReturnAtOnce = true;
  } else if (noInterval && t.ReadTotalTimeoutMultiplier == kNoTimeLimit &&
             t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kNoTimeLimit) {
    limits.WaitForFirstByte = true;
    limits.Deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
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

void StoreOperationData(TOperationDirection direction, const void* buffer, int32_t count,
                        TPortOperation* op) {
  op->Direction = direction;
  const int32_t size = count > 0 ? count : 0;
  op->DataCopy.reset(size > 0 ? new char[static_cast<size_t>(size)] : nullptr);
  if (size > 0) std::memcpy(op->DataCopy.get(), buffer, static_cast<size_t>(size));
  op->DataSize = size;
}

void ClearOutcome(TPortOperation& op) {
  op.Transferred = 0;
  op.Failed = false;
  op.SystemError = 0;
}

// A device that refused before anything moved fails the call itself; any
// other failure waits in the record for WaitOperation.
int32_t RecordOutcome(TPortOperation& op, const port_backend::TTransfer& transfer,
                      const char* failureText) {
  if (transfer.StartFailed) throw EComPort(failureText, transfer.Error);
  op.Transferred = transfer.Count;
  op.Failed = !transfer.Complete;
  op.SystemError = transfer.Error;
  return transfer.Count;
}

void SetModemOutput(int fd, port_backend::TModemOutput line, bool raise) {
  if (const int err = port_backend::SetModemOutputs(fd, line, raise); err != 0) {
    throw EComPort(kTextEscape, err);
  }
}

}  // namespace

// The stand-in for the hidden notification window: posted events find out
// through it whether the port still wants them.
struct TNotifyWindow {
  explicit TNotifyWindow(TBComPort* port) : Port(port) {}
  TBComPort* Port;
};

struct TBComPort::TRuntime {
  platform::TUniqueFd Device;
  std::unique_ptr<IComEventSource> EventSource;
  // Sources told to stop by a Close inside a handler they hand over to.
  std::vector<std::unique_ptr<IComEventSource>> RetiredSources;
  int HandOverDepth = 0;  // handlers of this port running on the main thread
  std::shared_ptr<TNotifyWindow> NotifyWindow;
  TDriverTimeouts TimeoutsInForce;
  // The driver's line error counters when errors were last cleared; the
  // errors to report are what it counted since.
  port_backend::TLineErrorCounts ErrorBaseline;
  // False for a device without counters (a pseudo-terminal): they are not
  // asked for again.
  bool CountsLineErrors = true;
};

int BaudRateBitsPerSecond(TBaudRate rate) {
  return kBitsPerSecond.at(rate);
}

uint32_t PortEventsToMask(TPortEvents events) {
  uint32_t mask = 0;
  for (int member = 0; member < 8; ++member) {
    if (events.Contains(static_cast<TPortEvent>(member))) mask |= kEvents[member].Flag;
  }
  return mask;
}

TPortEvents MaskToPortEvents(uint32_t mask) {
  TPortEvents events;
  for (int member = 0; member < 8; ++member) {
    if (mask & kEvents[member].Flag) events.Include(static_cast<TPortEvent>(member));
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

// --- TBComPort: life and properties ---

TBComPort::TBComPort() : Runtime(std::make_unique<TRuntime>()) {}

TBComPort::~TBComPort() {
  try {
    Close();
  } catch (const std::exception&) {
    // The device is released whatever Close reports; nobody is left to tell.
  }
  JoinRetiredSources();
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

void TBComPort::SetEventLoop(IEventLoop* loop) {
  RefuseWhileOpen();
  Loop = loop;
}

void TBComPort::SetTimeouts(const TComTimeouts& value) {
  TimeoutsValue.Assign(value);
  ApplyTimeouts();
}

// --- Open and close ---

void TBComPort::OpenDevice() {
  port_backend::TOpenResult opened = port_backend::OpenExclusive(PortValue);
  if (opened.Error != 0) throw EComPort(opened.Busy ? kTextBusy : kTextNotFound, opened.Error);
  Runtime->Device = std::move(opened.Device);
  Runtime->CountsLineErrors = port_backend::CountsLineErrors(DeviceHandle());
  port_backend::ReadLineErrorCounts(DeviceHandle(), Runtime->ErrorBaseline);
}

void TBComPort::ReleaseDevice() {
  port_backend::Release(Runtime->Device);
}

int TBComPort::DeviceHandle() const {
  return Runtime->Device.Get();
}

const TDriverTimeouts& TBComPort::DriverTimeouts() const {
  return Runtime->TimeoutsInForce;
}

bool TBComPort::Open() {
  if (IsOpenValue) return true;
  JoinRetiredSources();
  OpenDevice();
  IsOpenValue = true;
  try {
    ApplyAllSettings();
    if (SyncMethodValue == smWindowSync) {
      Runtime->NotifyWindow = std::make_shared<TNotifyWindow>(this);
    }
    StartEventSource();
  } catch (...) {
    Runtime->EventSource.reset();
    Runtime->NotifyWindow.reset();
    ReleaseDevice();
    IsOpenValue = false;
    throw;
  }
  return IsOpenValue;
}

void TBComPort::StartEventSource() {
  auto handOver = [this](TPortEvents events) { HandOver(events); };
  if (Loop) {
    Runtime->EventSource =
        std::make_unique<TComWatch>(DeviceHandle(), WaitedEventsValue, *Loop, handOver);
    return;
  }
  auto thread = std::make_unique<TComThread>(DeviceHandle(), WaitedEventsValue, handOver);
  thread->Start();
  Runtime->EventSource = std::move(thread);
}

void TBComPort::StopEventSource() {
  auto& source = Runtime->EventSource;
  if (!source) return;
  if (Runtime->HandOverDepth > 0) {
    // Closed from a handler that the source is handing over to: waiting for
    // its thread here would wait for ever. It is done once the handler
    // returns.
    source->RequestStop();
    Runtime->RetiredSources.push_back(std::move(source));
    return;
  }
  source->Stop();
  source.reset();
}

void TBComPort::JoinRetiredSources() {
  if (Runtime->HandOverDepth > 0) return;
  for (auto& source : Runtime->RetiredSources)
    source->Stop();
  Runtime->RetiredSources.clear();
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
  // Whatever failed above, the source must not go on waiting on a device
  // that is about to be released.
  StopEventSource();
  // What the driver still holds in its queues is dropped when the port closes.
  port_backend::DiscardQueues(DeviceHandle());
  Runtime->NotifyWindow.reset();
  ReleaseDevice();
  IsOpenValue = false;
  JoinRetiredSources();
  if (failure) std::rethrow_exception(failure);
  return true;
}

// --- Driver settings ---

void TBComPort::ApplyBufferSizes() {
  if (!IsOpenValue) return;
  // The kernel sizes its own queues; what is left to check is that there is
  // a device and that the sizes make sense as queue sizes.
  if (const int err = port_backend::CheckDevice(DeviceHandle()); err != 0) {
    throw EComPort(kTextSetupComm, err);
  }
  if (InBufSizeValue < 0 || OutBufSizeValue < 0) throw EComPort(kTextSetupComm);
}

void TBComPort::ApplyLineSettings() {
  if (!IsOpenValue) return;
  const auto setting = LineSetting(BaudRateValue, ByteSizeValue, ParityValue, StopBitsValue);
  if (const int err = line_driver::SetLine(DeviceHandle(), setting); err != 0) {
    throw EComPort(kTextSetCommState, err);
  }
  const unsigned bothLines = port_backend::kDtr | port_backend::kRts;
  if (const int err = port_backend::SetModemOutputs(DeviceHandle(), bothLines, true); err != 0) {
    throw EComPort(kTextSetCommState, err);
  }
}

void TBComPort::ApplyTimeouts() {
  if (!IsOpenValue) return;
  // The driver has no time-outs of its own to refuse; what is left to check
  // is that the device is still there.
  if (const int err = port_backend::CheckDevice(DeviceHandle()); err != 0) {
    throw EComPort(kTextSetCommTimeouts, err);
  }
  Runtime->TimeoutsInForce = {ToDriverTimeout(TimeoutsValue.ReadInterval()),
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
  ClearOutcome(*op);
  if (count < 0 || !Runtime->Device.Valid()) throw EComPort(kTextWrite);
  const TDriverTimeouts& t = Runtime->TimeoutsInForce;
  const auto deadline =
      TotalDeadline(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, count);
  const auto transfer = port_backend::Write(DeviceHandle(), static_cast<const char*>(buffer), count,
                                            deadline, MillisecondsPerByte());
  return RecordOutcome(*op, transfer, kTextWrite);
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
  ClearOutcome(*op);
  if (count < 0 || !Runtime->Device.Valid()) throw EComPort(kTextRead);
  const auto transfer = port_backend::Read(DeviceHandle(), static_cast<char*>(buffer), count,
                                           ReadLimits(Runtime->TimeoutsInForce, count));
  return RecordOutcome(*op, transfer, kTextRead);
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
  if (const int err = port_backend::QueuedInputBytes(DeviceHandle(), count); err != 0) {
    throw EComPort(kTextClearCommError, err);
  }
  // Like the status call it stands for, asking clears the error state.
  if (Runtime->CountsLineErrors)
    port_backend::ReadLineErrorCounts(DeviceHandle(), Runtime->ErrorBaseline);
  return count;
}

TComErrors TBComPort::ClearErrors() {
  port_backend::TLineErrorCounts now;
  if (const int err = port_backend::ReadLineErrorCounts(DeviceHandle(), now); err != 0) {
    throw EComPort(kTextClearCommError, err);
  }
  const port_backend::TLineErrorCounts& before = Runtime->ErrorBaseline;
  TComErrors errors;
  if (now.Frame != before.Frame) errors.Include(ceFrame);
  if (now.Parity != before.Parity && ParityValue != paNone) errors.Include(ceRxParity);
  if (now.Overrun != before.Overrun) errors.Include(ceOverrun);
  if (now.Break != before.Break) errors.Include(ceBreak);
  if (now.BufferOverrun != before.BufferOverrun) errors.Include(ceRxOver);
  Runtime->ErrorBaseline = now;
  return errors;
}

TLineSignals TBComPort::LineSignals() {
  port_backend::TModemInputs inputs;
  if (const int err = port_backend::ReadModemInputs(DeviceHandle(), inputs); err != 0) {
    throw EComPort(kTextModemStatus, err);
  }
  TLineSignals signals;
  if (inputs.Cts) signals.Include(lsCTS);
  if (inputs.Dsr) signals.Include(lsDSR);
  if (inputs.Ring) signals.Include(lsRing);
  if (inputs.Carrier) signals.Include(lsRLSD);
  return signals;
}

void TBComPort::SetDTRLine(bool state) {
  SetModemOutput(DeviceHandle(), port_backend::kDtr, state);
}

void TBComPort::SetRTSLine(bool state) {
  SetModemOutput(DeviceHandle(), port_backend::kRts, state);
}

void TBComPort::AbortTransfers() {
  // Every transfer completes (or fails) inside the call that started it, so
  // nothing is ever pending here; what remains is that the device is there.
  if (const int err = port_backend::CheckDevice(DeviceHandle()); err != 0) {
    throw EComPort(kTextPurgeComm, err);
  }
}

// --- Events ---

void TBComPort::HandOver(TPortEvents events) {
  switch (SyncMethodValue) {
    case smThreadSync:
      return platform::Synchronize([this, events] { DispatchEvents(events); });
    case smWindowSync:
      return PostEventsToWindow(events);
    case smNone:
      return DispatchEvents(events);
  }
}

void TBComPort::DispatchEvents(TPortEvents events) {
  // On the main thread: handed over by the event thread, or read there in
  // the event loop.
  const bool handedOver = SyncMethodValue == smThreadSync || Loop;
  if (handedOver) ++Runtime->HandOverDepth;
  try {
    for (const TPortEvent event : kDispatchOrder) {
      // A handler may have closed the port; the rest of the events go with it.
      if (events.Contains(event) && IsOpenValue) FireEvent(event);
    }
  } catch (...) {
    if (handedOver) --Runtime->HandOverDepth;
    throw;
  }
  if (handedOver) --Runtime->HandOverDepth;
}

void TBComPort::FireEvent(TPortEvent event) {
  (this->*kEvents[event].Fire)();
}

void TBComPort::PostEventsToWindow(TPortEvents events) {
  const std::weak_ptr<TNotifyWindow> window = Runtime->NotifyWindow;
  for (const TPortEvent event : kDispatchOrder) {
    if (!events.Contains(event)) continue;
    platform::Post([window, event] {
      const auto target = window.lock();
      if (!target || !target->Port->IsOpen()) return;
      // The event thread has long moved on: nobody to hand a failure back to.
      try {
        target->Port->FireEvent(event);
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
