#pragma once

// The root of the socket-layer components. Components own operating-system
// resources (sockets, threads) and are neither copied nor moved.
class TIdBaseComponent {
 public:
  TIdBaseComponent() = default;
  virtual ~TIdBaseComponent() = default;
  TIdBaseComponent(const TIdBaseComponent&) = delete;
  TIdBaseComponent& operator=(const TIdBaseComponent&) = delete;
};
