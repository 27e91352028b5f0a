#include "serial/ComWatch.h"

#include <utility>

TComWatch::TComWatch(int deviceFd, TPortEvents waited, IEventLoop& loop, THandOver handOver)
    : Loop(loop), HandOver(std::move(handOver)), Reader(StartDeviceWatch(Watch, deviceFd), waited) {
  WatchDevice();
}

TComWatch::~TComWatch() {
  Stop();
}

void TComWatch::Stop() {
  StopWatchingDevice();
  if (BackOffTimer) Loop.RemoveTimer(*BackOffTimer);
  BackOffTimer.reset();
}

void TComWatch::WatchDevice() {
  DeviceWatch = Loop.WatchReadable(Watch.WaitHandle(), [this] { OnDeviceReady(); });
}

void TComWatch::StopWatchingDevice() {
  if (DeviceWatch) Loop.Unwatch(*DeviceWatch);
  DeviceWatch.reset();
}

// A handler may stop this watch (the port closes); nothing here touches the
// watch after a hand-over.
void TComWatch::OnDeviceReady() {
  using TWake = port_backend::TDeviceWatch::TWake;
  const TWake wake = Watch.Poll();
  if (wake == TWake::Nothing || wake == TWake::Woken) return;
  if (wake == TWake::WaitFailed) {
    // As the event thread ends: there is nothing left to wait on.
    Stop();
    return;
  }
  TPortEvents events;
  if (wake == TWake::DeviceGone || !Reader.CollectEvents(events)) {
    StartBackOff();
    const TPortEvents hangUp = Reader.HangUpEvents();
    if (!hangUp.Empty()) TComEventReader::Deliver(HandOver, hangUp);
    return;
  }
  if (!events.Empty()) TComEventReader::Deliver(HandOver, events);
}

void TComWatch::StartBackOff() {
  StopWatchingDevice();
  PauseMs = TComEventReader::FirstPauseMs();
  BackOffTimer = Loop.AddTimer(PauseMs, [this] { CheckDeviceBack(); });
}

void TComWatch::CheckDeviceBack() {
  if (Watch.DeviceReportsGone()) {
    PauseMs = TComEventReader::NextPauseMs(PauseMs);
    Loop.SetInterval(*BackOffTimer, PauseMs);
    return;
  }
  Loop.RemoveTimer(*BackOffTimer);
  BackOffTimer.reset();
  Reader.DeviceBack();
  WatchDevice();
}
