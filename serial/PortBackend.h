#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Descriptor.h"
#include "serial/LineDriver.h"

// The one way from the serial component to the system's serial driver. The
// component's files include no system headers: all they ask of a device goes
// through here, and each system has its own folder of these (serial/linux/),
// chosen by serial/CMakeLists.txt. Calls that return an int
// return 0 or the errno of the system call that failed.
//
// Threads: a device is used by the port's owner (the main thread); the event
// thread only waits on it (TDeviceWatch) and asks the status calls
// QueuedInputBytes and ReadLineErrorCounts. The port listing: any thread.
namespace port_backend {

// --- Open and close ---

struct TOpenResult {
  platform::TUniqueFd Device;  // open when Error is 0
  int Error = 0;
  bool Busy = false;  // another opener holds the port (or it refused us access)
};

// Opens the port ("ttyS0", or a path) non-blocking, for this process alone.
TOpenResult OpenExclusive(const std::string& port);
// Gives up the claim on the port and closes it, whatever the driver answers.
void Release(platform::TUniqueFd& device);
// Whether fd still stands for an open device.
int CheckDevice(int fd);

// --- Line and modem lines ---
// The line settings are line_driver::SetLine (serial/LineDriver.h), which
// tools use on descriptors of their own as well.

enum TModemOutput : unsigned { kDtr = 1u, kRts = 2u };
// Raises or drops the output lines given (TModemOutput bits). A device
// without modem lines is no failure, and neither is dropping the lines of a
// device that has gone away.
int SetModemOutputs(int fd, unsigned lines, bool raise);

struct TModemInputs {
  bool Cts = false;
  bool Dsr = false;
  bool Ring = false;
  bool Carrier = false;
};
// All down, and no failure, on a device without modem lines.
int ReadModemInputs(int fd, TModemInputs& inputs);

// --- Queues and line errors ---

int QueuedInputBytes(int fd, int& count);
// Drops what was received and what the driver has not sent yet; what it
// already handed on stays sent. Nothing to report: the port is closing.
void DiscardQueues(int fd);

// The driver's line error counters since the device appeared (zero for
// devices without).
struct TLineErrorCounts {
  int Frame = 0;
  int Parity = 0;
  int Overrun = 0;
  int Break = 0;
  int BufferOverrun = 0;
  bool operator==(const TLineErrorCounts&) const = default;
};
int ReadLineErrorCounts(int fd, TLineErrorCounts& counts);
// Whether the driver counts line errors for fd at all (a pseudo-terminal
// does not): asked once, it spares a call per wake-up that can only fail.
bool CountsLineErrors(int fd);

// --- Transfers ---

struct TTransfer {
  int32_t Count = 0;         // bytes moved
  bool Complete = false;     // everything asked for, in time
  bool StartFailed = false;  // the device refused before anything moved
  int Error = 0;             // of the call that failed; 0 when time ran out
};

// Writes all bytes, then waits until the driver has sent them out, both by
// the deadline. millisecondsPerByteOnLine paces the wait for the output queue.
TTransfer Write(int fd, const char* data, int32_t count, platform::TDeadline deadline,
                double millisecondsPerByteOnLine);

// How long a read may wait, in the meaning of the port's time-outs.
struct TReadLimits {
  bool ReturnAtOnce = false;      // take what is queued, wait for nothing
  bool WaitForFirstByte = false;  // wait (to Deadline) only while nothing came
  platform::TDeadline Deadline;   // the whole read
  std::optional<int> GapMs;       // longest pause between bytes once some came
};
TTransfer Read(int fd, char* data, int32_t count, const TReadLimits& limits);

// --- Events ---

// The sleep on a device, of the event thread or of the main loop: one
// wake-up per arrival of characters (none for bytes a handler leaves
// queued), one when the device hangs up or fails, and one when the owner
// calls Wake (which only a thread in Wait needs).
class TDeviceWatch {
 public:
  // Nothing: Poll found no wake-up waiting.
  enum class TWake { Woken, DeviceReady, DeviceGone, WaitFailed, Nothing };

  // Owner, before the event thread starts.
  int Start(int deviceFd);
  // Event thread.
  TWake Wait();
  // The thread that waits: the wake-up waiting now, if any, without waiting.
  TWake Poll();
  // A descriptor that is readable while Poll has a wake-up to tell, for an
  // event loop that waits on it instead of a thread in Wait.
  int WaitHandle() const { return WaitSet.Get(); }
  // Event thread: a pause of timeoutMs; true when Wake came first.
  bool PauseUnlessWoken(int timeoutMs);
  // Event thread: whether the device still reports a hang-up or a failure.
  bool DeviceReportsGone() const;
  // Any thread: ends the current and every later Wait and pause.
  void Wake();

 private:
  TWake WaitUpTo(int timeoutMs);

  int DeviceFd = -1;
  platform::TUniqueFd WakeFd;
  platform::TUniqueFd WaitSet;
};

// --- Listing ---

// The names of the serial devices present, in no particular order.
int FindPortNames(std::vector<std::string>& names);
// The same over another folder of terminals (one entry per terminal, as the
// system shows them) and folder of device nodes.
int FindPortNamesIn(const std::string& terminalDir, const std::string& deviceDir,
                    std::vector<std::string>& names);

}  // namespace port_backend
