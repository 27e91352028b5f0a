#include "Ipv4Text.h"

#include <algorithm>

namespace common {
namespace {

std::optional<uint8_t> ParseField(std::string_view field) {
  if (field.empty()) return std::nullopt;
  int value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 255) return std::nullopt;
  }
  return static_cast<uint8_t>(value);
}

}  // namespace

std::optional<TIPv4Bytes> ParseIPv4(std::string_view text) {
  TIPv4Bytes address{};
  for (size_t i = 0; i < address.size(); ++i) {
    const bool last = i + 1 == address.size();
    const size_t dot = last ? text.size() : text.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const std::optional<uint8_t> field = ParseField(text.substr(0, dot));
    if (!field) return std::nullopt;
    address[i] = *field;
    text.remove_prefix(last ? text.size() : dot + 1);
  }
  return address;
}

std::string FormatIPv4(const TIPv4Bytes& address) {
  std::string text;
  for (const uint8_t byte : address) {
    if (!text.empty()) text += '.';
    text += std::to_string(byte);
  }
  return text;
}

bool IsLocalhostName(std::string_view host) {
  constexpr std::string_view kLocalhost = "localhost";
  return std::equal(host.begin(), host.end(), kLocalhost.begin(), kLocalhost.end(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; });
}

}  // namespace common
