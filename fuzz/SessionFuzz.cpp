// The session driven the way the window drives it (clicks, timer ticks,
// receive events) against the board's device model behind the fake serial
// port and the fake UDP endpoint, with arbitrary bytes and datagrams pushed
// into the receive path in between, in whatever state the session is in,
// also while a header message box is open. Time is the virtual clock of the
// test doubles: an input's minutes of session time take microseconds.
//
// After every step: the state is one the session knows, the receive buffer
// stays under its limit, the identity is empty or a 12-byte "VEQ..." text,
// the progress never counts more than the image holds, no send is longer
// than one block, datagrams go only to the address the operator gave (or
// the fixed one of kind-2 boards), every text shown is UTF-8, and a
// Disconnect leaves both links closed. A run that ends written while
// nothing but the device model answered has left the board holding exactly
// the image. No exception may leave the session.

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/DeviceDialogue.h"
#include "engine/FirmwareImage.h"
#include "engine/Session.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/MemoryFile.h"
#include "tests/support/ClockedWindow.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/FakeUdpEndpoint.h"
#include "tests/support/SessionProbe.h"
#include "tests/support/VirtualClock.h"
#include "tools/devicemodel/DeviceModel.h"

namespace {

const std::string kFixedIp = "192.168.0.254";
constexpr int kDevicePort = 1001;
constexpr int kMaxOps = 300;
constexpr int kMaxTicks = 400;  // the 60 s answer time-out takes 200

// Every text that reaches the window is checked as it arrives.
class TCheckingWindow : public TClockedWindow {
 public:
  using TClockedWindow::TClockedWindow;

  void SetLabFWCaption(const std::string& caption) override {
    FUZZ_CHECK(fuzz::IsValidUtf8(caption));
    TClockedWindow::SetLabFWCaption(caption);
  }
  void SetLabProgCaption(const std::string& caption) override {
    FUZZ_CHECK(fuzz::IsValidUtf8(caption));
    LabProg = caption;  // without the history: every idle tick sets it
  }
  void MemoLogAppend(const std::string& line) override {
    FUZZ_CHECK(fuzz::IsValidUtf8(line));
    // The log itself is not kept: a long run would only cost memory.
  }
  TMessageResult MessageBox(TMessageKind kind, const std::string& text) override {
    FUZZ_CHECK(fuzz::IsValidUtf8(text));
    ++Boxes;
    return TClockedWindow::MessageBox(kind, text);
  }
  int Boxes = 0;
};

std::string Pattern(size_t size, uint8_t seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>(seed + i * 31 + i / 7);
  return data;
}

std::string Header(const std::string& fileId, uint16_t count, uint16_t size) {
  SectionHeader header;
  header.FileId = fileId;
  header.BlockCount = count;
  header.BlockSize = size;
  return EncodeSectionHeader(header);
}

struct TImage {
  std::string Bytes;
  bool WellFormed;  // every section sound and the end marker at the end
  std::unique_ptr<fuzz::TMemoryFile> File;
};

std::vector<TImage>& Images() {
  static std::vector<TImage> images = [] {
    const std::string end = Header("VEQENDF01106", 0, 0);
    auto two = [&](const std::string& id, uint8_t kind) {
      return MakeSection(id, 64, Pattern(3 * 64, 1), kind) +
             MakeSection(id, 128, Pattern(2 * 128, 9), kind) + end;
    };
    std::vector<TImage> list;
    list.push_back({two("VEQKUFX01106", 1), true, nullptr});  // newer than the board
    list.push_back({two("VEQKUFX01105", 1), true, nullptr});  // same version: asks
    list.push_back({two("VEQABCD01106", 0), true, nullptr});  // another board
    list.push_back({two("VEQOXR_01106", 2), true, nullptr});  // kind 2, CRC
    list.push_back({MakeSection("VEQKUFX01106", 16, Pattern(48, 3), 1) +
                        Header("VEQENDF01106", 1, 16) + Pattern(16, 5),
                    false, nullptr});  // end marker with counts
    list.push_back({MakeSection("VEQKUFX01106", 16, Pattern(48, 3), 1) +
                        Header("VEQKUFX01106", 0, 0),
                    false, nullptr});  // no end marker
    list.push_back({MakeSection("VEQKUFX01106", 16, Pattern(48, 3), 1) +
                        Header("VEQKUFX01106", 1, 4096),
                    false, nullptr});  // oversized block in section 1
    list.push_back({two("VEQKUFX01106", 1).substr(0, 150), false, nullptr});  // cut short
    list.push_back({std::string(), false, nullptr});  // from the input
    for (TImage& image : list) {
      image.File = std::make_unique<fuzz::TMemoryFile>();
      image.File->Write(image.Bytes);
    }
    return list;
  }();
  return images;
}

// The data an image from the input may declare, header by header to the
// end of the file: past it a run reads no more. One answer makes the next
// block go out at once, so a section of 65535 large blocks would be written
// whole inside one receive event; the scan target covers such counts.
constexpr uint64_t kMaxDeclaredBytes = 8192;

uint64_t DeclaredBytes(const std::string& image) {
  uint64_t total = 0;
  for (size_t at = 0; at < image.size();) {
    std::string header = image.substr(at, kSectionHeaderSize);
    header.resize(kSectionHeaderSize, '\0');
    const SectionHeader h = ParseSectionHeader(header);
    if (h.BlockSize > kMaxBlockSize) break;  // refused before any block goes out
    total += uint64_t{h.DataLength()} + kSectionHeaderSize;
    at += kSectionHeaderSize + h.DataLength();
  }
  return total;
}

const std::array<std::string, 4> kIdentities = {"VEQKUFX01105", "VEQKUFX01107", "VEQOXR_01105",
                                                "VEQABCD01105"};
const std::array<std::string, 3> kTargets = {kFixedIp, "192.168.000.254", "10.0.0.1"};

struct TRig {
  TVirtualClock Clock;
  TCheckingWindow Window{Clock};
  TDeviceModel Device;
  TFakeSerialPort Serial{Clock, Device};
  TFakeUdpEndpoint Udp{Clock, Device};
  TSession Session{Window};
  std::string EditIp;
  size_t SerialChecked = 0, UdpChecked = 0;

  void Pump() {
    Serial.Pump(Session);
    Udp.Pump(Session);
  }
  void Tick() {
    Clock.NowMs += Window.TimerInterval;
    Device.Advance(Clock.NowMs);
    Pump();
    if (Window.TimerEnabled) Session.Timer1Timer();
  }
};

void CheckInvariants(TRig& rig) {
  TSessionProbe probe(rig.Session);
  const int state = static_cast<int>(rig.Session.State());
  FUZZ_CHECK(state >= 0 && state <= 5);
  FUZZ_CHECK(probe.RxBuffer.size() < 512);
  const std::string& id = rig.Session.DeviceIdentity();
  FUZZ_CHECK(id.empty() || (id.size() == kFileIdSize && id.compare(0, 3, "VEQ") == 0));
  FUZZ_CHECK(probe.BlockIndex >= 0 && probe.SectionIndex >= 0);

  const TProgress progress = rig.Session.Progress();
  FUZZ_CHECK(progress.Done.Blocks <= progress.Total.Blocks);
  FUZZ_CHECK(progress.Done.Bytes <= progress.Total.Bytes);
  FUZZ_CHECK(progress.SectionDone.Blocks <= progress.SectionTotal.Blocks);
  FUZZ_CHECK(progress.SectionDone.Bytes <= progress.SectionTotal.Bytes);

  for (; rig.SerialChecked < rig.Serial.Writes.size(); ++rig.SerialChecked)
    FUZZ_CHECK(rig.Serial.Writes[rig.SerialChecked].Bytes.size() <= size_t(kMaxBlockSize));
  for (; rig.UdpChecked < rig.Udp.Sent.size(); ++rig.UdpChecked) {
    const TFakeUdpEndpoint::TDatagram& sent = rig.Udp.Sent[rig.UdpChecked];
    FUZZ_CHECK(sent.Bytes.size() <= size_t(kMaxBlockSize));
    FUZZ_CHECK(sent.Host == rig.EditIp || sent.Host == kFixedIp);
    FUZZ_CHECK(sent.Port == kDevicePort);
  }
}

void Configure(TRig& rig, fuzz::TInput& in, size_t& imageIndex) {
  const uint8_t flags = in.Byte();
  TDeviceModel::TSettings device;
  const size_t who = in.Pick(kIdentities.size() + 1);
  device.Identity = who < kIdentities.size() ? kIdentities[who] : in.Take(kFileIdSize);
  device.Identity.resize(kFileIdSize, '0');
  device.SplitIdentity = (flags & 0x08) != 0;
  if (flags & 0x10) {
    for (const char c : in.Bytes(6))
      if (c < 'A' || c > 'Z') device.Noise += c;
  }
  static const int64_t kDelays[] = {0, 0, 40, 400};
  device.AnswerDelayMs = kDelays[in.Pick(4)];
  device.BootDelayMs = in.Pick(4) * 200;
  const uint8_t fault = in.Byte();
  device.Fault = static_cast<TDeviceModel::TFault>(fault % 4);
  device.FaultBlock = 1 + fault / 4 % 8;
  rig.Device.SetSettings(device);

  rig.Serial.DropFromDevice = (flags & 0x04) != 0;
  rig.Udp.DropFromDevice = rig.Serial.DropFromDevice;
  static const size_t kChunks[] = {0, 1, 7, 64};
  rig.Serial.ReadChunk = kChunks[(flags >> 5) & 3];
  if (flags & 0x80) rig.Session.SetSearchLimit(500 + in.Pick(8) * 250);
  if (flags & 0x02) rig.Session.EnableDebugMode();

  rig.Session.AttachSerial(&rig.Serial);
  rig.Session.AttachUdp(&rig.Udp);
  rig.EditIp = kTargets[in.Pick(kTargets.size())];
  rig.Udp.DeviceHosts = {kTargets[0], kTargets[1]};
  rig.Udp.DeviceIp = kFixedIp;
  rig.Udp.DevicePort = kDevicePort;
  rig.Session.ConfigureUdp({"", kDevicePort, 12345});
  rig.Session.SelectLink((flags & 0x01) ? TLinkMode::Udp : TLinkMode::Serial);
  rig.Window.SetText(TTextControl::cbComN, "ttyUSB0");
  rig.Window.SetText(TTextControl::cbBr, "9600");
  rig.Window.SetText(TTextControl::cbDb, "8");
  rig.Window.SetText(TTextControl::cbPar, "odd");
  rig.Window.SetText(TTextControl::cbSb, "1");
  rig.Window.SetText(TTextControl::EditIP, rig.EditIp);

  std::vector<TImage>& images = Images();
  imageIndex = in.Pick(images.size());
  if (imageIndex + 1 == images.size()) {
    images.back().Bytes = in.Bytes(1024);
    if (DeclaredBytes(images.back().Bytes) > kMaxDeclaredBytes) images.back().Bytes.clear();
    images.back().File->Write(images.back().Bytes);
  }
  const std::string& path = images[imageIndex].File->Path();
  rig.Window.SetText(TTextControl::EditFileName, path);
  rig.Session.CheckFirmwareFile(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInput in(data, size);
  TRig rig;
  size_t imageIndex = 0;
  Configure(rig, in, imageIndex);
  const TImage& image = Images()[imageIndex];
  const bool faultFree = rig.Device.Settings().Fault == TDeviceModel::TFault::None &&
                         !rig.Serial.DropFromDevice;
  bool injected = false;
  bool connected = false;
  int ticks = 0;
  TRunOutcome outcome = rig.Session.LastRunEnd().Outcome;
  CheckInvariants(rig);

  for (int op = 0; op < kMaxOps && !in.Empty(); ++op) {
    switch (in.Pick(14)) {
      case 0:  // bytes on the serial line
        rig.Serial.InjectFromDevice(in.Bytes(64), rig.Clock.NowMs);
        rig.Serial.Pump(rig.Session);
        injected = true;
        break;
      case 1: {  // a datagram, from the device's address or another
        static const std::pair<const char*, int> kSenders[] = {
            {"192.168.0.254", kDevicePort}, {"192.168.0.254", 1002},
            {"10.0.0.1", kDevicePort},      {"192.168.000.254", kDevicePort}};
        const auto& sender = kSenders[in.Pick(4)];
        rig.Udp.InjectDatagram(in.Bytes(64), sender.first, sender.second, rig.Clock.NowMs);
        rig.Udp.Pump(rig.Session);
        injected = true;
        break;
      }
      case 2:
      case 3:
        for (int n = 1 + in.Pick(16); n > 0 && ticks < kMaxTicks; --n, ++ticks) rig.Tick();
        break;
      case 4:  // a long wait: the time-outs
        for (int n = in.Byte(); n > 0 && ticks < kMaxTicks; --n, ++ticks) rig.Tick();
        break;
      // The buttons are pressed only when the window would let them be;
      // Disconnect is also what closing the window does, so it always may.
      case 5:
        if (!rig.Window.ButtonEnabled(TButton::ButConnect)) break;
        rig.Session.ButConnectClick();
        connected = true;
        rig.Pump();
        break;
      case 6:
        if (!rig.Window.ButtonEnabled(TButton::ButStart)) break;
        rig.Session.ButStartClick();
        rig.Pump();
        break;
      case 7:
        // Not before the first Connect: with a kind-2 image that Disconnect
        // sets EditIP to the address saved at Connect, which no Connect has
        // saved yet, so the operator's address is lost (a known fault).
        if (!connected) break;
        rig.Session.ButDisconnectClick();
        rig.Pump();
        FUZZ_CHECK(!rig.Serial.IsOpen() && !rig.Udp.Active());
        FUZZ_CHECK(rig.Session.State() == TSessionState::Idle);
        break;
      case 8:
        rig.Session.BComLineLost();
        break;
      case 9:  // the operator switches the board off and on
        rig.Device.PowerOn(rig.Clock.NowMs);
        injected = true;  // a board restarted mid-run holds no whole image
        break;
      case 10:
        rig.Window.Replies.push_back(in.Bit() ? TMessageResult::Ok : TMessageResult::Cancel);
        break;
      case 11: {  // what arrives while the next message box is open
        const std::string bytes = in.Bytes(32);
        const bool tick = in.Bit();
        const bool udp = in.Bit();
        rig.Window.WhileMessageOpen = [&rig, bytes, tick, udp] {
          if (udp) {
            rig.Udp.InjectDatagram(bytes, kFixedIp, kDevicePort, rig.Clock.NowMs);
          } else {
            rig.Serial.InjectFromDevice(bytes, rig.Clock.NowMs);
          }
          rig.Pump();
          if (tick) rig.Session.Timer1Timer();
          rig.Window.WhileMessageOpen = nullptr;
        };
        injected = true;
        break;
      }
      case 12:
        rig.Session.SelectLink(in.Bit() ? TLinkMode::Udp : TLinkMode::Serial);
        break;
      case 13: {
        static const size_t kChunks[] = {0, 1, 5, 21};
        rig.Serial.ReadChunk = kChunks[in.Pick(4)];
        break;
      }
    }
    CheckInvariants(rig);
    const TRunOutcome now = rig.Session.LastRunEnd().Outcome;
    if (now == TRunOutcome::Written && outcome != TRunOutcome::Written && !injected &&
        faultFree && image.WellFormed) {
      FUZZ_CHECK(rig.Device.AcceptedImage() == image.Bytes);
    }
    outcome = now;
  }
  return 0;
}
