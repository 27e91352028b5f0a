#include "tests/app/DeviceSide.h"

#include <poll.h>

#include <stdexcept>

TDeviceSide::TDeviceSide(std::unique_ptr<ISimLink> link, TDeviceModel::TSettings settings)
    : Link(std::move(link)), Model(std::move(settings)) {
  Server = std::thread([this] { Serve(); });
}

TDeviceSide::~TDeviceSide() {
  StopRequested = true;
  Server.join();
}

void TDeviceSide::HoldFromBlock(int block) {
  std::lock_guard lock(Lock);
  HoldBlock = block;
}

void TDeviceSide::Release() {
  std::lock_guard lock(Lock);
  Released = true;
}

std::string TDeviceSide::AcceptedImage() {
  std::lock_guard lock(Lock);
  return Model.AcceptedImage();
}

std::string TDeviceSide::ReceivedBytes() {
  std::lock_guard lock(Lock);
  return Model.ReceivedBytes();
}

TDeviceModel::TPhase TDeviceSide::Phase() {
  std::lock_guard lock(Lock);
  return Model.Phase();
}

int64_t TDeviceSide::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               PowerOnAt)
      .count();
}

void TDeviceSide::Serve() {
  while (!StopRequested) {
    pollfd input{Link->Fd(), POLLIN, 0};
    const bool readable = ::poll(&input, 1, 5) > 0 && (input.revents & POLLIN);
    const std::string bytes = readable ? Link->Read() : std::string();
    {
      std::lock_guard lock(Lock);
      if (bytes.empty()) {
        Model.Advance(NowMs());
      } else {
        for (auto& answer : Model.Receive(bytes, NowMs()))
          Pending.push_back(std::move(answer));
      }
    }
    SendDueAnswers();
  }
}

bool TDeviceSide::MustHold() {
  const bool hold = HoldBlock > 0 && !Released && Model.BlocksReceived() >= HoldBlock;
  Holding_ = hold;
  return hold;
}

void TDeviceSide::SendDueAnswers() {
  std::lock_guard lock(Lock);
  if (MustHold()) return;
  while (!Pending.empty() && Pending.front().AtMs() <= NowMs()) {
    try {
      Link->Write(Pending.front().Bytes);
    } catch (const std::runtime_error&) {
      // A programmer that has gone away misses the answer, as a real one would.
    }
    Pending.pop_front();
  }
}
