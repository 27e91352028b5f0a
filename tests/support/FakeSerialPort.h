#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/Session.h"
#include "engine/Transports.h"
#include "tests/support/VirtualClock.h"
#include "tools/devicemodel/DeviceModel.h"

// A serial port with a device model at the other end of the line. Writes
// reach the model at once; its answers wait, like bytes in a driver queue,
// until the test pumps them into the session through BComRxChar. Nothing is
// ever delivered from inside SendBytes: the real port raises its receive
// event later, on the main thread.
class TFakeSerialPort : public ISerialTransport {
 public:
  struct TWrite {
    std::string Bytes;
    int Baud = 0;
    int64_t AtMs = 0;
  };

  TFakeSerialPort(TVirtualClock& clock, TDeviceModel& device) : Clock(clock), Device(device) {}

  bool OpenClosePort(bool open, const std::string& port, const std::string& baud,
                     const std::string& dataBits, const std::string& parity,
                     const std::string& stopBits) override;
  // A refused open tells why as a missing port would.
  TOpenFailure LastOpenFailure() const override;
  std::string PortSettingsText() override;
  bool IsOpen() override { return Opened; }
  int SendBytes(const std::string& data) override;
  std::string ReceiveBytes(int count) override;
  void Close() override;
  void SetBaudRate(int bitsPerSecond) override;

  // Raises the receive event for everything the device has sent by now, in
  // events of at most ReadChunk bytes (0: all that waits), each handled
  // before the next; answers to bytes sent meanwhile follow when due.
  void Pump(TSession& session);
  // Bytes from the device outside the model's dialogue, sent at atMs.
  void InjectFromDevice(const std::string& bytes, int64_t atMs);

  // Faults and shapes of the line.
  bool RefuseOpen = false;
  // Called with every write; when it returns true the write raises, as a
  // failing port does.
  std::function<bool(const std::string&)> FailWrite;
  bool WriteReportsZero = false;
  // Close releases the port and then raises, as closing an unplugged device does.
  bool FailClose = false;
  size_t DeviceChunk = 0;  // writes reach the model in pieces of this size (0: whole)
  size_t ReadChunk = 0;
  bool DropFromDevice = false;  // the model's answers are lost on the way
  // Runs while an open port is being closed: the real one serves the
  // receive events still queued while it waits for its event thread to end.
  std::function<void()> WhileClosing;

  // What happened.
  std::vector<TWrite> Writes;
  std::vector<int> BaudChanges;
  std::vector<std::string> OpenTexts;  // port, baud, data bits, parity, stop bits
  int Baud = 0;
  std::vector<int> RxEvents;  // the count of every receive event raised

 private:
  void QueueDue();

  TVirtualClock& Clock;
  TDeviceModel& Device;
  bool Opened = false;
  TOpenFailure LastFailure;
  std::vector<TDeviceModel::TAnswer> InFlight;
  std::string DriverQueue;
};
