// Dotted IPv4 texts (common/Ipv4Text) and the command line's host check
// (tools/LineOptions), on arbitrary text. The parser is compared with a
// reading of its contract: exactly four dot-separated fields of decimal
// digits worth at most 255 each, leading zeros allowed. Formatting gives the
// plain form, which parses back to the same bytes. The host check is given
// only texts it answers without a lookup (digits and dots, or "localhost"):
// no name ever reaches the resolver, so this target opens no socket.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/Ipv4Text.h"
#include "fuzz/FuzzCheck.h"
#include "tools/LineOptions.h"

namespace {

std::optional<common::TIPv4Bytes> Expected(std::string_view text) {
  common::TIPv4Bytes bytes{};
  size_t field = 0;
  int value = 0;
  size_t digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (digits == 0 || field >= 4) return std::nullopt;
      bytes[field++] = static_cast<uint8_t>(value);
      value = 0;
      digits = 0;
    } else if (text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + (text[i] - '0');
      ++digits;
      if (value > 255) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (field != 4) return std::nullopt;
  return bytes;
}

bool PlainForm(std::string_view text) {
  // No field begins with a zero that is not the whole field.
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '0' && (i == 0 || text[i - 1] == '.') && text[i + 1] != '.') return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return lower;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::optional<common::TIPv4Bytes> parsed = common::ParseIPv4(text);
  FUZZ_CHECK(parsed == Expected(text));
  if (parsed) {
    const std::string plain = common::FormatIPv4(*parsed);
    FUZZ_CHECK(common::ParseIPv4(plain) == parsed);
    FUZZ_CHECK(PlainForm(plain));
    FUZZ_CHECK((plain == text) == PlainForm(text));
  }
  // Any four bytes make a text that reads back as them.
  if (size >= 4) {
    const common::TIPv4Bytes bytes = {data[0], data[1], data[2], data[3]};
    const std::string formatted = common::FormatIPv4(bytes);
    FUZZ_CHECK(common::ParseIPv4(formatted) == bytes);
    FUZZ_CHECK(formatted.size() >= 7 && formatted.size() <= 15);
  }

  const bool localhost = common::IsLocalhostName(text);
  FUZZ_CHECK(localhost == (Lower(text) == "localhost"));

  if (text.find_first_not_of("0123456789.") == std::string::npos || localhost) {
    std::string ip = "unchanged";
    const std::string error = ResolveHostText("--udp", text, ip);
    FUZZ_CHECK(error == CheckHostText("--udp", text));
    const bool accepted = localhost || (parsed && PlainForm(text));
    FUZZ_CHECK(error.empty() == accepted);
    if (accepted) {
      FUZZ_CHECK(ip == (localhost ? "127.0.0.1" : text));
    } else {
      FUZZ_CHECK(ip == "unchanged");
      FUZZ_CHECK(error.rfind("--udp «" + text + "»: ", 0) == 0);
    }
  }
  return 0;
}
