#pragma once

#include <cstdint>
#include <string>

#include "tools/CommandLine.h"

// The checks of the link options that `veq sim` and `veq flash` share. Each
// returns one line that names the option and its bad value, empty when the
// value is sound, so that a mistyped setting stops the command instead of
// quietly becoming a default.

// The serial line settings in the port component's text forms.
struct TLineTexts {
  std::string Baud = "9600", DataBits = "8", Parity = "odd", StopBits = "1";
};

// Takes those of --baud, --data-bits, --parity, --stop-bits that are given:
// a rate the component knows (a whole number of 50..4000000 bit/s), 5..8
// data bits, none/odd/even/mark/space, 1/1.5/2 stop bits.
std::string ReadLineOptions(const TParsedArgs& args, TLineTexts& line);

// A port number of min..65535 (a local port may allow 0: any free one).
std::string CheckPortText(const std::string& option, const std::string& text, int64_t min,
                          uint16_t& port);
// The same for the option's value when it is given; port is left alone
// otherwise.
std::string ReadPortOption(const TParsedArgs& args, const std::string& option, int64_t min,
                           uint16_t& port);

// A dotted IPv4 address of four decimal numbers 0..255, or a host name that
// resolves to one; ip gets the address. Digits and dots that make no
// address are refused without a lookup.
std::string ResolveHostText(const std::string& option, const std::string& host, std::string& ip);
std::string CheckHostText(const std::string& option, const std::string& host);
