#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>

// The serial port component: line settings as properties, exclusive open of
// the device, blocking and "asynchronous" writes and reads, and an event
// thread that reports received characters, by default on the main thread.
// Given the main thread's event loop, the port waits for its device there
// instead of on a thread of its own. Every failure is an EComPort with a
// fixed operator text and the system's error number.
//
// Threads: a port belongs to the main thread. Only under smNone, without an
// event loop, does its event thread run the handlers itself; they may use
// the port from there, and the main thread leaves it alone meanwhile. What
// has no port (the rate table, the sets, a free-standing TComTimeouts): any
// thread.

enum TBaudRate : uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
  br460800,
  br921600,
  br100,
  br200,
};
inline constexpr int kBaudRateCount = 19;
// Bits per second, passed to the driver unchanged.
int BaudRateBitsPerSecond(TBaudRate rate);

enum TByteSize : uint8_t { bs5, bs6, bs7, bs8 };
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits : uint8_t { sb1, sb1_5, sb2 };
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TComError : uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull
};
enum TPortEvent : uint8_t {
  peRxChar,
  peTxEmpty,
  peRing,
  peCTS,
  peDSR,
  peRLSD,
  peError,
  peRx80Full
};
enum TLineSignal : uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };
enum TOperationDirection : uint8_t { odWrite, odRead };

// A set of up to eight enumeration members; bit n stands for ordinal n.
template <typename E>
class TSmallSet {
 public:
  constexpr TSmallSet() = default;
  constexpr TSmallSet(std::initializer_list<E> members) {
    for (E member : members)
      Include(member);
  }
  static constexpr TSmallSet FromBits(uint8_t bits) {
    TSmallSet set;
    set.BitsValue = bits;
    return set;
  }
  constexpr void Include(E member) { BitsValue |= Bit(member); }
  constexpr bool Contains(E member) const { return (BitsValue & Bit(member)) != 0; }
  constexpr bool Empty() const { return BitsValue == 0; }
  constexpr uint8_t Bits() const { return BitsValue; }
  friend constexpr bool operator==(TSmallSet, TSmallSet) = default;

 private:
  static constexpr uint8_t Bit(E member) { return static_cast<uint8_t>(1u << member); }
  uint8_t BitsValue = 0;
};

using TComErrors = TSmallSet<TComError>;
using TPortEvents = TSmallSet<TPortEvent>;
using TLineSignals = TSmallSet<TLineSignal>;

class IEventLoop;
class TBComPort;

using TComSignalEvent = std::function<void(TBComPort* Sender, bool State)>;
using TComErrorEvent = std::function<void(TBComPort* Sender, TComErrors Errors)>;
using TRxCharEvent = std::function<void(TBComPort* Sender, int Count)>;
using TNotifyEvent = std::function<void(TBComPort* Sender)>;

// The operator text stays fixed whatever the cause; the system's error number
// of the call that failed (0 when no system call failed) travels beside it so
// that callers can tell the operator why.
class EComPort : public std::runtime_error {
 public:
  explicit EComPort(const std::string& text, int systemError = 0)
      : std::runtime_error(text), SystemErrorValue(systemError) {}
  int SystemError() const { return SystemErrorValue; }

 private:
  int SystemErrorValue;
};

// The time-outs of one port, in milliseconds; a negative value means "no
// limit" (it reaches the driver as 0xFFFFFFFF).
class TComTimeouts {
 public:
  // A free-standing set of values (owner none), e.g. to copy into a port.
  TComTimeouts() = default;
  explicit TComTimeouts(TBComPort* owner) : OwnerPort(owner) {}
  TComTimeouts(const TComTimeouts&) = delete;
  TComTimeouts& operator=(const TComTimeouts&) = delete;

  int32_t ReadInterval() const { return ReadIntervalValue; }
  int32_t ReadTotalMultiplier() const { return ReadTotalMultiplierValue; }
  int32_t ReadTotalConstant() const { return ReadTotalConstantValue; }
  int32_t WriteTotalMultiplier() const { return WriteTotalMultiplierValue; }
  int32_t WriteTotalConstant() const { return WriteTotalConstantValue; }
  // A different value is stored and the owner's ApplyTimeouts runs.
  void SetReadInterval(int32_t value) { Store(ReadIntervalValue, value); }
  void SetReadTotalMultiplier(int32_t value) { Store(ReadTotalMultiplierValue, value); }
  void SetReadTotalConstant(int32_t value) { Store(ReadTotalConstantValue, value); }
  void SetWriteTotalMultiplier(int32_t value) { Store(WriteTotalMultiplierValue, value); }
  void SetWriteTotalConstant(int32_t value) { Store(WriteTotalConstantValue, value); }

  // Copies the five values directly; nothing is applied.
  void Assign(const TComTimeouts& source);
  TBComPort* Owner() const { return OwnerPort; }

 private:
  void Store(int32_t& field, int32_t value);

  TBComPort* OwnerPort = nullptr;
  int32_t ReadIntervalValue = -1;
  int32_t ReadTotalMultiplierValue = 0;
  int32_t ReadTotalConstantValue = 0;
  int32_t WriteTotalMultiplierValue = 100;
  int32_t WriteTotalConstantValue = 1000;
};

// One write or read started with the *Async operations. Transfers complete
// inside the call that starts them here; the record keeps what the caller
// needs to collect the outcome with WaitOperation.
struct TPortOperation {
  TOperationDirection Direction = odWrite;
  std::unique_ptr<char[]> DataCopy;  // private copy of the last write's bytes
  int32_t DataSize = 0;
  int32_t Transferred = 0;  // bytes moved by the last transfer
  bool Failed = false;      // the last transfer failed or ran out of time
  int SystemError = 0;      // why it failed; 0 when it ran out of time
};

// The time-outs as the driver holds them (serial/BCPortInternal.h).
struct TDriverTimeouts;

class TBComPort {
 public:
  TBComPort();
  // Closes the port if it is open; a failure to close is not raised from here.
  ~TBComPort();
  TBComPort(const TBComPort&) = delete;
  TBComPort& operator=(const TBComPort&) = delete;

  // --- Properties ---
  TBaudRate BaudRate() const { return BaudRateValue; }
  void SetBaudRate(TBaudRate value);
  TByteSize ByteSize() const { return ByteSizeValue; }
  void SetByteSize(TByteSize value);
  int32_t InBufSize() const { return InBufSizeValue; }
  void SetInBufSize(int32_t value);
  int32_t OutBufSize() const { return OutBufSizeValue; }
  void SetOutBufSize(int32_t value);
  TParity Parity() const { return ParityValue; }
  void SetParity(TParity value);
  const std::string& Port() const { return PortValue; }
  void SetPort(const std::string& value);
  TSyncMethod SyncMethod() const { return SyncMethodValue; }
  void SetSyncMethod(TSyncMethod value);
  // Set while closed; the loop must outlive the port's opening. With a loop
  // the events come from the loop, on the main thread, whatever SyncMethod
  // says of threads; null (the default): an event thread.
  void SetEventLoop(IEventLoop* loop);
  TStopBits StopBits() const { return StopBitsValue; }
  void SetStopBits(TStopBits value);
  TComTimeouts& Timeouts() { return TimeoutsValue; }
  const TComTimeouts& Timeouts() const { return TimeoutsValue; }
  void SetTimeouts(const TComTimeouts& value);
  int Tag() const { return TagValue; }
  void SetTag(int value) { TagValue = value; }

  // --- Events (unassigned ones are skipped) ---
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComErrorEvent OnError;
  TNotifyEvent OnRing;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRx80Full;
  TRxCharEvent OnRxChar;
  TNotifyEvent OnTxEmpty;

  // --- Operations, on the main thread ---
  bool Open();
  bool Close();
  bool IsOpen() const { return IsOpenValue; }

  int32_t SendBytes(const std::string& data);
  int32_t SendBytesAsync(const std::string& data, TPortOperation* op);
  int32_t SendBufferAsync(const void* buffer, int32_t count, TPortOperation* op);
  int32_t ReceiveBytes(std::string& data, int32_t count);
  int32_t ReceiveBytesAsync(std::string& data, int32_t count, TPortOperation* op);
  int32_t ReceiveBufferAsync(void* buffer, int32_t count, TPortOperation* op);
  int32_t WaitOperation(TPortOperation* op);

  int32_t QueuedInputCount();
  TLineSignals LineSignals();
  void SetDTRLine(bool state);
  void SetRTSLine(bool state);
  void AbortTransfers();

  void ApplyBufferSizes();
  void ApplyLineSettings();
  void ApplyTimeouts();
  void ApplyAllSettings();

  void FireRxChar();
  void FireTxEmpty();
  void FireRing();
  void FireCTSChange();
  void FireDSRChange();
  void FireRLSDChange();
  void FireError();
  void FireRx80Full();

  // --- Run-time state ---
  int DeviceHandle() const;
  TPortEvents WaitedEvents() const { return WaitedEventsValue; }
  // The time-outs in force in the driver since the last ApplyTimeouts.
  const TDriverTimeouts& DriverTimeouts() const;

 private:
  // The device and its event source while open, and what the driver was
  // last told (serial/BCPort.cpp).
  struct TRuntime;

  void RefuseWhileOpen() const;
  void StartEventSource();
  void StopEventSource();
  // Ends the sources stopped from inside their own hand-over, once that is
  // over.
  void JoinRetiredSources();
  void ReleaseDevice();
  void OpenDevice();
  // Event source: takes one wait's events to the handlers by SyncMethod.
  void HandOver(TPortEvents events);
  // Runs the handlers of the given events in the fixed order.
  void DispatchEvents(TPortEvents events);
  void PostEventsToWindow(TPortEvents events);
  void FireEvent(TPortEvent event);
  // Errors counted since the last call, as the driver's error word would
  // tell them; clears them.
  TComErrors ClearErrors();
  // Line time of one byte, to pace the wait for the output queue.
  double MillisecondsPerByte() const;

  TBaudRate BaudRateValue = br9600;
  TByteSize ByteSizeValue = bs8;
  int32_t InBufSizeValue = 2048;
  int32_t OutBufSizeValue = 2048;
  TParity ParityValue = paNone;
  std::string PortValue = "COM2";
  TSyncMethod SyncMethodValue = smThreadSync;
  TStopBits StopBitsValue = sb1;
  TComTimeouts TimeoutsValue{this};
  int TagValue = 0;
  IEventLoop* Loop = nullptr;

  bool IsOpenValue = false;
  TPortEvents WaitedEventsValue{peRxChar, peTxEmpty, peRing,  peCTS,
                                peDSR,    peRLSD,    peError, peRx80Full};
  std::unique_ptr<TRuntime> Runtime;
};
