#include "serial/ComThread.h"

#include <utility>

TComThread::TComThread(int deviceFd, TPortEvents waited, THandOver handOver)
    : HandOver(std::move(handOver)), Reader(StartDeviceWatch(Watch, deviceFd), waited) {}

TComThread::~TComThread() {
  Stop();
}

void TComThread::Stop() {
  RequestStop();
  WaitFor();
}

void TComThread::RequestStop() {
  Terminate();
  Watch.Wake();
}

void TComThread::Execute() {
  using TWake = port_backend::TDeviceWatch::TWake;
  while (!Terminated()) {
    const TWake wake = Watch.Wait();
    if (wake == TWake::Woken || wake == TWake::WaitFailed) break;
    TPortEvents events;
    if (wake == TWake::DeviceGone || !Reader.CollectEvents(events)) {
      const TPortEvents hangUp = Reader.HangUpEvents();
      if (!hangUp.Empty()) TComEventReader::Deliver(HandOver, hangUp);
      if (!BackOffWhileDeviceIsGone()) break;
      Reader.DeviceBack();
      continue;
    }
    if (!events.Empty()) TComEventReader::Deliver(HandOver, events);
  }
}

bool TComThread::BackOffWhileDeviceIsGone() {
  int pauseMs = TComEventReader::FirstPauseMs();
  for (;;) {
    if (WaitForStop(pauseMs)) return false;
    if (!Watch.DeviceReportsGone()) return true;
    pauseMs = TComEventReader::NextPauseMs(pauseMs);
  }
}

bool TComThread::WaitForStop(int timeoutMs) {
  return Watch.PauseUnlessWoken(timeoutMs) || Terminated();
}
