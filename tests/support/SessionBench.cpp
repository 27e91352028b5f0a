#include "tests/support/SessionBench.h"

#include <utility>

TSessionBench::TSessionBench(TDeviceModel::TSettings device) : Device(std::move(device)) {
  Session.AttachSerial(&Serial);
  Session.AttachUdp(&Udp);
  Session.ConfigureUdp({"", 1001, 12345});
}

void TSessionBench::UseSerial() {
  Session.SelectLink(TLinkMode::Serial);
  Window.SetText(TTextControl::cbComN, "ttyUSB0");
  Window.SetText(TTextControl::cbBr, "115200");
  Window.SetText(TTextControl::cbDb, "8");
  Window.SetText(TTextControl::cbPar, "None");
  Window.SetText(TTextControl::cbSb, "1");
  Window.SetText(TTextControl::EditIP, "192.168.0.254");
}

void TSessionBench::UseUdp(const std::string& editIp) {
  Session.SelectLink(TLinkMode::Udp);
  Window.SetText(TTextControl::EditIP, editIp);
}

std::string TSessionBench::LoadImage(const std::string& bytes, const std::string& name) {
  const std::string path = Dir.Write(name, bytes);
  Window.SetText(TTextControl::EditFileName, path);
  Session.CheckFirmwareFile(path);
  return path;
}

void TSessionBench::Pump() {
  Serial.Pump(Session);
  Udp.Pump(Session);
}

void TSessionBench::Tick() {
  Clock.NowMs += Window.TimerInterval;
  Pump();
  if (Window.TimerEnabled) Session.Timer1Timer();
}

int TSessionBench::TickUntil(const std::function<bool()>& done, int maxTicks) {
  for (int ticks = 0; ticks < maxTicks; ++ticks) {
    if (done()) return ticks;
    Tick();
  }
  return done() ? maxTicks : -1;
}

void TSessionBench::Connect() {
  Session.ButConnectClick();
  Pump();
}

bool TSessionBench::ConnectUntilReady(int maxTicks) {
  Connect();
  return TickUntil([this] { return Session.State() == TSessionState::Ready; }, maxTicks) >= 0;
}

void TSessionBench::Start() {
  Session.ButStartClick();
  Pump();
}

bool TSessionBench::RunUntilIdle(int maxTicks) {
  return TickUntil([this] { return Session.State() == TSessionState::Idle; }, maxTicks) >= 0;
}

void TSessionBench::Disconnect() {
  Session.ButDisconnectClick();
  Pump();
}

std::vector<std::string> TSessionBench::LogFrom(size_t from) const {
  if (from >= Window.Log.size()) return {};
  return {Window.Log.begin() + static_cast<std::ptrdiff_t>(from), Window.Log.end()};
}
