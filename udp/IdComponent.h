#pragma once

#include <memory>

#include "udp/IdBaseComponent.h"

class TIdStack;

// A socket-layer component: each live instance holds SharedStack for its
// whole lifetime, so the stack exists while any component does and goes with
// the last. Components may be made and destroyed on any thread.
class TIdComponent : public TIdBaseComponent {
 public:
  TIdComponent();

  // The stack every socket call of this component and its parts goes through.
  TIdStack& Stack() const { return *Stack_; }

 private:
  const std::shared_ptr<TIdStack> Stack_;
};
