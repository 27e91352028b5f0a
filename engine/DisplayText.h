#pragma once

#include <string>
#include <string_view>

// Device answers and image headers are single-byte Windows-1251 text; program
// texts are UTF-8. This is the one place where such bytes become display text.
// Every byte maps to exactly one character (zero and control bytes included);
// the one unassigned code, 0x98, shows as U+FFFD.
std::string BytesToDisplayText(std::string_view bytes);
