#pragma once

#include <string>
#include <string_view>

// Hex text <-> bytes. Both sides are byte strings (zero bytes included).

// Reads the text in fixed pairs of characters (1-2, 3-4, ...). A pair with a
// character that is no hex digit yields nothing and does not shift the later
// pairs; a last character without a partner is ignored.
std::string HexToStr(std::string_view hex);

// Two upper-case hex digits a byte, no separators.
std::string StrToHex(std::string_view bytes);
