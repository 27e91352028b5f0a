#pragma once

#include <string>
#include <vector>

// Types and small text helpers shared by the socket layer and the UDP endpoint;
// any thread.

// A platform socket handle, a descriptor the platform's readiness waits take
// as it is; Id_INVALID_SOCKET when there is none.
using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
// What a failed socket call returns; the reason is then read with LastSocketError.
constexpr int Id_SOCKET_ERROR = -1;

// The handles given to, and handed back by, a wait for readiness.
using TIdSocketList = std::vector<TIdStackSocketHandle>;

// printf-style formatting of the layer's message texts ("%d", "%s").
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
