#include "tools/SimRunner.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

// The model notices a pause in the stream only when it is asked; this is how
// often it is asked while nothing arrives.
constexpr std::chrono::milliseconds kIdlePoll{20};
// A wake-up from a sleep comes up to a few hundred microseconds late, and a
// board on a wire answers on time: the wait for an answer's moment ends this
// much before it, and the rest is waited out on the clock.
constexpr std::chrono::microseconds kWakeEarly{300};

const char* PhaseChangeText(TDeviceModel::TPhase phase) {
  switch (phase) {
    case TDeviceModel::TPhase::Boot:
      return "-- boot state";
    case TDeviceModel::TPhase::Run:
      return "-- programming mode";
    case TDeviceModel::TPhase::Started:
      return "-- end marker accepted: firmware starts";
    case TDeviceModel::TPhase::Failed:
      return "-- fault answered";
  }
  return "";
}

}  // namespace

std::string EscapeForLog(const std::string& bytes, size_t limit) {
  std::string text;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  if (bytes.size() > limit) text += "... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

TSimRunner::TSimRunner(std::unique_ptr<ISimLink> link, TDeviceModel::TSettings settings)
    : Link(std::move(link)),
      Model(std::move(settings)),
      Where_(Link->Where()),
      LastPhase(Model.Phase()),
      PowerOnAt(TClock::now()) {}

TSimRunner::~TSimRunner() {
  Stop();
}

int64_t TSimRunner::NowMs() const {
  return std::chrono::floor<std::chrono::milliseconds>(TClock::now() - PowerOnAt).count();
}

void TSimRunner::Log(const std::string& line) {
  if (OnLog) OnLog(line);
}

void TSimRunner::Start() {
  Server = std::thread([this] { Run(); });
}

void TSimRunner::RequestStop() {
  StopRequested = true;
  Wake.Signal();
}

void TSimRunner::Stop() {
  RequestStop();
  if (Server.joinable()) Server.join();
}

void TSimRunner::Run() {
  platform::UsePreciseWakeUps();
  const int runsAtStart = RunsEnded_;
  while (Link && !StopRequested && !(Once && RunsEnded_ > runsAtStart)) {
    const std::array<int, 2> fds{Link->Fd(), Wake.Fd()};
    const std::vector<size_t> ready = platform::WaitReadableUntil(fds, WakeAt());
    if (!ready.empty() && ready.front() == 0) Receive();
    if (!Link) break;
    Model.Advance(NowMs());
    NotePhase();
    SendDueAnswers();
  }
}

// An answer is due to the microsecond: at 921600 Bd a 64-byte block and its
// answer take 0.8 ms on the wire, which a wait of whole milliseconds would
// stretch to 1-2 ms.
TSimRunner::TClock::time_point TSimRunner::WakeAt() const {
  const TClock::time_point idle = TClock::now() + kIdlePoll;
  return Pending.empty() ? idle : std::min(idle, Pending.front().Due - kWakeEarly);
}

void TSimRunner::Receive() {
  std::string bytes;
  try {
    bytes = Link->Read();
  } catch (const std::exception& error) {
    Log(std::string("!! ") + error.what());
    return;
  }
  const TClock::time_point arrived = TClock::now();
  if (bytes.empty()) return;
  Log("<< " + EscapeForLog(bytes));
  // The model counts whole milliseconds: the delivery is stamped with the
  // next one, and Schedule takes that rounding back out of the answers.
  const int64_t stampMs = std::chrono::ceil<std::chrono::milliseconds>(arrived - PowerOnAt).count();
  for (TDeviceModel::TAnswer& answer : Model.Receive(bytes, stampMs))
    Schedule(std::move(answer), arrived, stampMs);
  NotePhase();
  NoteFault();
}

// An answer waits its distance from its delivery's stamp, counted from the
// moment the delivery was read: neither the stamp's rounding nor the log
// line written since moves it.
void TSimRunner::Schedule(TDeviceModel::TAnswer answer, TClock::time_point arrived,
                          int64_t stampMs) {
  const std::chrono::microseconds wait{answer.AtUs - stampMs * 1000};
  const TClock::time_point due = arrived + wait;
  // Answers go in the order they are due, except that a later delivery
  // cannot overtake an earlier one's answers.
  const auto at = std::upper_bound(
      Pending.begin(), Pending.end(), due,
      [](TClock::time_point dueAt, const TScheduledAnswer& queued) { return dueAt < queued.Due; });
  Pending.insert(at, {std::move(answer.Bytes), due});
}

void TSimRunner::NoteFault() {
  if (Model.FaultsStruck() == LastFaultsStruck) return;
  LastFaultsStruck = Model.FaultsStruck();
  // The line the fault-matrix script takes as the moment of the fault.
  Log("-- fault strikes");
  if (!Model.Gone()) return;
  // Every earlier answer has gone: the programmer waited for it.
  Pending.clear();
  Link.reset();
  Log("-- gone: link closed");
}

void TSimRunner::SendDueAnswers() {
  if (!Pending.empty() && Pending.front().Due - TClock::now() <= kWakeEarly) {
    while (TClock::now() < Pending.front().Due) {
    }
  }
  while (!Pending.empty() && Pending.front().Due <= TClock::now()) {
    const std::string bytes = std::move(Pending.front().Bytes);
    Pending.pop_front();
    try {
      Link->Write(bytes);
      Log(">> " + EscapeForLog(bytes));
    } catch (const std::exception& error) {
      Log(">> " + EscapeForLog(bytes) + " !! " + error.what());
    }
  }
}

void TSimRunner::NotePhase() {
  const TDeviceModel::TPhase phase = Model.Phase();
  if (phase == LastPhase) return;
  Log(PhaseChangeText(phase));
  if (phase == TDeviceModel::TPhase::Boot) ++RunsEnded_;
  LastPhase = phase;
}
