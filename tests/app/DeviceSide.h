#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/SimLink.h"
#include "tools/devicemodel/DeviceModel.h"

// A simulated board on a thread of its own, behind a real link (a
// pseudo-terminal or a UDP socket). It can hold its answers from a given
// block on, so that a test sees the window in the middle of a run.
class TDeviceSide {
 public:
  TDeviceSide(std::unique_ptr<ISimLink> link, TDeviceModel::TSettings settings = {});
  ~TDeviceSide();
  TDeviceSide(const TDeviceSide&) = delete;
  TDeviceSide& operator=(const TDeviceSide&) = delete;

  // The port text or "IP:PORT" that reaches this board.
  std::string Where() const { return Link->Where(); }

  // Answers due once block k (counted across the run) has arrived wait for Release.
  void HoldFromBlock(int block);
  bool Holding() const { return Holding_.load(); }
  void Release();

  std::string AcceptedImage();
  std::string ReceivedBytes();
  TDeviceModel::TPhase Phase();

 private:
  void Serve();
  int64_t NowMs() const;
  bool MustHold();
  void SendDueAnswers();

  std::unique_ptr<ISimLink> Link;
  std::mutex Lock;
  TDeviceModel Model;
  std::deque<TDeviceModel::TAnswer> Pending;
  int HoldBlock = 0;
  bool Released = false;
  std::atomic<bool> Holding_{false};
  std::atomic<bool> StopRequested{false};
  std::chrono::steady_clock::time_point PowerOnAt = std::chrono::steady_clock::now();
  std::thread Server;
};
