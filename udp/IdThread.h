#pragma once

#include <mutex>

#include "platform/Thread.h"

// A thread that runs RunStep over and over between StartLoop and StopLoop.
// It is made stopped (its platform thread not yet started); StartLoop starts
// it; StopLoop ends the loop and asks the thread to end. An exception that
// escapes RunStep ends the thread quietly: nobody is told.
class TIdThread : public TThread {
 public:
  TIdThread() = default;
  // Asks the loop to end and waits for it (serving main-thread hand-overs
  // when called on the main thread).
  ~TIdThread() override;

  // True while the loop is not to run: not started yet, stopped, or asked to
  // end.
  bool IsStopped();
  void StartLoop();
  void StopLoop();
  // Marks the loop stopped and asks the thread to end.
  virtual void TerminateLoop();

 protected:
  // One pass of the loop's work.
  virtual void RunStep() = 0;
  // Ends the thread and waits for it; for the destructors of derived classes,
  // whose parts RunStep uses.
  void EndThread();

 private:
  void Execute() final;

  // Guards StoppedFlag, Started and the termination request together;
  // re-entrant because IsStopped is asked again under StartLoop and StopLoop.
  std::recursive_mutex ThreadLock;
  bool StoppedFlag = true;
  bool Started = false;
};
