#include "tools/SimRunner.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

// The model notices a pause in the stream only when it is asked; this is how
// often it is asked while nothing arrives.
constexpr int kIdlePollMs = 20;

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
      PowerOnAt(std::chrono::steady_clock::now()) {}

TSimRunner::~TSimRunner() {
  Stop();
}

int64_t TSimRunner::NowMs() const {
  return std::chrono::floor<std::chrono::milliseconds>(std::chrono::steady_clock::now() - PowerOnAt)
      .count();
}

// A delivery is stamped with the next whole millisecond: stamped with the
// last one, an answer due so many milliseconds later could leave up to a
// millisecond before its time.
int64_t TSimRunner::ArrivalMs() const {
  return std::chrono::ceil<std::chrono::milliseconds>(std::chrono::steady_clock::now() - PowerOnAt)
      .count();
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
  const int runsAtStart = RunsEnded_;
  while (Link && !StopRequested && !(Once && RunsEnded_ > runsAtStart)) {
    const std::array<int, 2> fds{Link->Fd(), Wake.Fd()};
    const std::vector<size_t> ready = platform::WaitReadable(fds, PollTimeoutMs());
    if (!ready.empty() && ready.front() == 0) Receive();
    if (!Link) break;
    Model.Advance(NowMs());
    NotePhase();
    SendDueAnswers();
  }
}

int TSimRunner::PollTimeoutMs() const {
  if (Pending.empty()) return kIdlePollMs;
  return static_cast<int>(std::clamp<int64_t>(Pending.front().AtMs - NowMs(), 0, kIdlePollMs));
}

void TSimRunner::Receive() {
  std::string bytes;
  try {
    bytes = Link->Read();
  } catch (const std::exception& error) {
    Log(std::string("!! ") + error.what());
    return;
  }
  if (bytes.empty()) return;
  Log("<< " + EscapeForLog(bytes));
  for (TDeviceModel::TAnswer& answer : Model.Receive(bytes, ArrivalMs())) {
    // Answers come in the order they are due, except that a later delivery
    // cannot overtake an earlier one's answers.
    const auto at = std::upper_bound(
        Pending.begin(), Pending.end(), answer.AtMs,
        [](int64_t atMs, const TDeviceModel::TAnswer& queued) { return atMs < queued.AtMs; });
    Pending.insert(at, std::move(answer));
  }
  NotePhase();
  NoteFault();
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
  while (!Pending.empty() && Pending.front().AtMs <= NowMs()) {
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
