#include "udp/IdThread.h"

TIdThread::~TIdThread() {
  EndThread();
}

bool TIdThread::IsStopped() {
  std::lock_guard lock(ThreadLock);
  return Terminated() || StoppedFlag || !Started;
}

void TIdThread::StartLoop() {
  std::lock_guard lock(ThreadLock);
  if (!IsStopped()) return;
  StoppedFlag = false;
  if (!Started) {
    Started = true;
    Start();
  }
}

void TIdThread::StopLoop() {
  std::lock_guard lock(ThreadLock);
  if (IsStopped()) return;
  TerminateLoop();
  StoppedFlag = true;
}

void TIdThread::TerminateLoop() {
  std::lock_guard lock(ThreadLock);
  StoppedFlag = true;
  Terminate();
}

void TIdThread::EndThread() {
  TerminateLoop();
  WaitFor();
}

void TIdThread::Execute() {
  try {
    while (!IsStopped())
      RunStep();
  } catch (...) {
    // Nobody reads why the loop ended; the owner sees only that it did.
    TerminateLoop();
  }
}
