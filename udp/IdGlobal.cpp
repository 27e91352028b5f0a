#include "udp/IdGlobal.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <stdexcept>

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list sizing;
  va_copy(sizing, args);
  const int length = std::vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  std::string text(length > 0 ? length : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

bool TextIsSame(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string Fetch(std::string& text, char delimiter) {
  const size_t at = text.find(delimiter);
  std::string field;
  if (at == std::string::npos) {
    field.swap(text);
  } else {
    field = text.substr(0, at);
    text.erase(0, at + 1);
  }
  return field;
}

int StrToIntDef(const std::string& text, int fallback) {
  // Only plain decimal digits count as a number here: a sign, blanks or a
  // radix prefix in an address field would make "1.2.3.-1" or " 1.2.3.4"
  // pass as an address.
  if (text.empty()) return fallback;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int>::max()) return fallback;
  }
  return static_cast<int>(value);
}

int StrToInt(const std::string& text) {
  const int value = StrToIntDef(text, -1);
  if (value < 0) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return value;
}
