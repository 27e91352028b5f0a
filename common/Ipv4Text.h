#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The one reader and writer of dotted IPv4 texts, shared by the engine, the
// socket layer and the command line. Pure functions; any thread.
namespace common {

// Network order: the first byte is the first field of the text.
using TIPv4Bytes = std::array<uint8_t, 4>;

// Exactly four dot-separated fields of decimal digits, each worth at most
// 255. Leading zeros are allowed, as an operator may type
// "192.168.000.254"; signs, blanks and empty fields are not.
std::optional<TIPv4Bytes> ParseIPv4(std::string_view text);

// "a.b.c.d" without leading zeros.
std::string FormatIPv4(const TIPv4Bytes& address);

// "localhost" in any letter case: the name every layer takes as 127.0.0.1
// without a lookup.
bool IsLocalhostName(std::string_view host);

}  // namespace common
