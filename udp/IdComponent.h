#pragma once

#include "udp/IdBaseComponent.h"

// A socket-layer component: each live instance is a user of SharedStack, which
// the first one creates and the last one frees.
class TIdComponent : public TIdBaseComponent {
 public:
  TIdComponent();
  ~TIdComponent() override;
};

// The number of live TIdComponent instances.
int StackUserCount();
