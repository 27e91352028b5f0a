#include "udp/IdComponent.h"

#include <mutex>

#include "udp/IdStack.h"

namespace {

// Serialises the making and freeing of components with the making and
// freeing of SharedStack; components may come and go on any thread.
std::mutex& StackLock() {
  static std::mutex lock;
  return lock;
}

int StackUsers = 0;

}  // namespace

TIdComponent::TIdComponent() {
  std::lock_guard lock(StackLock());
  if (StackUsers == 0) {
    // Count the user only once the stack exists: a stack that could not be
    // made must not leave a user behind, or every later component would run
    // without one.
    SharedStack = NewStack().release();
  }
  ++StackUsers;
}

TIdComponent::~TIdComponent() {
  std::lock_guard lock(StackLock());
  if (--StackUsers == 0) {
    delete SharedStack;
    SharedStack = nullptr;
  }
}

int StackUserCount() {
  std::lock_guard lock(StackLock());
  return StackUsers;
}
