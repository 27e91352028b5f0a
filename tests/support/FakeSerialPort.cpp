#include "tests/support/FakeSerialPort.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

bool TFakeSerialPort::OpenClosePort(bool open, const std::string& port, const std::string& baud,
                                    const std::string& dataBits, const std::string& parity,
                                    const std::string& stopBits) {
  if (!open) {
    Close();
    return true;
  }
  OpenTexts = {port, baud, dataBits, parity, stopBits};
  LastFailure = RefuseOpen ? TOpenFailure{ENOENT, "нет такого порта"} : TOpenFailure{};
  if (RefuseOpen) return false;
  Baud = std::atoi(baud.c_str());
  Opened = true;
  DriverQueue.clear();
  return true;
}

TOpenFailure TFakeSerialPort::LastOpenFailure() const {
  return LastFailure;
}

std::string TFakeSerialPort::PortSettingsText() {
  std::string text;
  for (const std::string& part : OpenTexts)
    text += (text.empty() ? "" : "/") + part;
  return text;
}

int TFakeSerialPort::SendBytes(const std::string& data) {
  if (!Opened || (FailWrite && FailWrite(data))) throw std::runtime_error("Ошибка записи в порт");
  Writes.push_back({data, Baud, Clock.NowMs});
  const size_t chunk = DeviceChunk == 0 ? std::max<size_t>(data.size(), 1) : DeviceChunk;
  for (size_t at = 0; at < data.size(); at += chunk) {
    for (auto& answer : Device.Receive(std::string_view(data).substr(at, chunk), Clock.NowMs)) {
      if (!DropFromDevice) InFlight.push_back(std::move(answer));
    }
  }
  return WriteReportsZero ? 0 : static_cast<int>(data.size());
}

std::string TFakeSerialPort::ReceiveBytes(int count) {
  if (!Opened) throw std::runtime_error("Ошибка чтения из порта");
  const size_t taken = std::min(DriverQueue.size(), static_cast<size_t>(std::max(count, 0)));
  std::string bytes = DriverQueue.substr(0, taken);
  DriverQueue.erase(0, taken);
  return bytes;
}

void TFakeSerialPort::Close() {
  if (Opened && WhileClosing) WhileClosing();
  const bool wasOpen = Opened;
  Opened = false;
  if (wasOpen && FailClose) throw std::runtime_error("Ошибка функции PurgeComm");
}

void TFakeSerialPort::SetBaudRate(int bitsPerSecond) {
  Baud = bitsPerSecond;
  BaudChanges.push_back(bitsPerSecond);
}

void TFakeSerialPort::InjectFromDevice(const std::string& bytes, int64_t atMs) {
  InFlight.push_back({bytes, atMs});
}

// Moves the bytes that have arrived by now into the driver queue, in the
// order the device sent them; a closed port loses them.
void TFakeSerialPort::QueueDue() {
  std::stable_sort(InFlight.begin(), InFlight.end(),
                   [](const auto& a, const auto& b) { return a.AtMs() < b.AtMs(); });
  const auto due = std::find_if(InFlight.begin(), InFlight.end(),
                                [this](const auto& answer) { return answer.AtMs() > Clock.NowMs; });
  if (Opened) {
    for (auto it = InFlight.begin(); it != due; ++it)
      DriverQueue += it->Bytes;
  }
  InFlight.erase(InFlight.begin(), due);
}

void TFakeSerialPort::Pump(TSession& session) {
  for (;;) {
    QueueDue();
    if (!Opened || DriverQueue.empty()) return;
    const size_t waiting = DriverQueue.size();
    const size_t count = ReadChunk == 0 ? waiting : std::min(ReadChunk, waiting);
    RxEvents.push_back(static_cast<int>(count));
    session.BComRxChar(static_cast<int>(count));
    if (DriverQueue.size() == waiting) return;  // the session does not read this port
  }
}
