#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Types and small text helpers shared by the socket layer and the UDP endpoint.

// A platform socket handle; Id_INVALID_SOCKET when there is none.
using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
// What a failed socket call returns; the reason is then read with LastSocketError.
constexpr int Id_SOCKET_ERROR = -1;

// The handles given to, and handed back by, a wait for readiness.
using TIdSocketList = std::vector<TIdStackSocketHandle>;

// printf-style formatting of the layer's message texts ("%d", "%s").
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Case-insensitive comparison of two ASCII texts.
bool TextIsSame(const std::string& a, const std::string& b);

// Takes the next field of a dotted text: the text before the first delimiter,
// removed from text together with that delimiter; the whole rest when no
// delimiter is left.
std::string Fetch(std::string& text, char delimiter = '.');

// A field that is a plain decimal number (digits only) fitting an int gives
// that number; anything else gives fallback.
int StrToIntDef(const std::string& text, int fallback);

// As StrToIntDef, but a text that is no such number throws
// std::invalid_argument "'<text>' is not a valid integer value".
int StrToInt(const std::string& text);
