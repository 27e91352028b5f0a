#pragma once

#include "tests/support/RecordingWindow.h"
#include "tests/support/VirtualClock.h"

// A recording window whose sleeps let the virtual time pass, as a real
// blocking sleep would, so a device model sees the pauses of Connect and
// Disconnect.
class TClockedWindow : public TRecordingWindow {
 public:
  explicit TClockedWindow(TVirtualClock& clock) : Clock(clock) {}

  void Sleep(int milliseconds) override {
    TRecordingWindow::Sleep(milliseconds);
    Clock.NowMs += milliseconds;
  }

 private:
  TVirtualClock& Clock;
};
