// The option parsing of every `veq` command on arbitrary words (cut from
// the input at zero bytes, as an argument vector holds no zero byte):
// ParseArgs with each command's options, the number, line, port and host
// checks, the whole of `veq flash`'s option reading, and each command's
// answer to --help and to a usage error (status 2, the two-line message),
// which it gives before it touches any file, port or link.
//
// Properties: what ParseArgs took, written back in its plain form, parses
// to the same; its errors name the word at fault; a flash option set that
// passes is complete and sound. Words are handed to ParseFlashOptions only
// when every --udp value they could give needs no lookup (digits and dots,
// or "localhost"), so no name reaches the resolver and nothing here opens a
// socket. The commands are run only where the words ask for help or make a
// usage error whatever options the command has learnt since.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/Ipv4Text.h"
#include "fuzz/FuzzCheck.h"
#include "serial/uRSbcom.h"
#include "tools/CommandLine.h"
#include "tools/FlashCommand.h"
#include "tools/InfoCommand.h"
#include "tools/LineOptions.h"
#include "tools/PackCommand.h"
#include "tools/PortsCommand.h"
#include "tools/SimCommand.h"

namespace {

using TWords = std::vector<std::string>;
using TRun = int (*)(const TWords&, std::ostream&, std::ostream&);


bool Contains(const TWords& words, const std::string& word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool NeedsNoLookup(const std::string& host) {
  return host.find_first_not_of("0123456789.") == std::string::npos ||
         common::IsLocalhostName(host);
}

std::optional<int64_t> ExpectedNumber(const std::string& text, int64_t min, int64_t max) {
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (std::numeric_limits<int64_t>::max() - (c - '0')) / 10) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}

TParsedArgs CheckParse(const TWords& words, const TKnownOptions& known) {
  const TParsedArgs parsed = ParseArgs(words, known);
  for (const auto& [name, value] : parsed.Values) FUZZ_CHECK(known.WithValue.count(name) == 1);
  for (const std::string& name : parsed.Flags) {
    FUZZ_CHECK(known.Flags.count(name) == 1);
    FUZZ_CHECK(parsed.Values.count(name) == 0);
  }
  for (const std::string& operand : parsed.Operands) FUZZ_CHECK(Contains(words, operand));

  if (parsed.Error.empty()) {
    // The plain form: flags, name=value, then every operand after "--".
    TWords plain(parsed.Flags.begin(), parsed.Flags.end());
    for (const auto& [name, value] : parsed.Values) plain.push_back(name + "=" + value);
    plain.push_back("--");
    plain.insert(plain.end(), parsed.Operands.begin(), parsed.Operands.end());
    const TParsedArgs again = ParseArgs(plain, known);
    FUZZ_CHECK(again.Error.empty());
    FUZZ_CHECK(again.Values == parsed.Values && again.Flags == parsed.Flags &&
               again.Operands == parsed.Operands);
  } else {
    const std::string& e = parsed.Error;
    bool named = false;
    for (const std::string& word : words) {
      const std::string name = word.substr(0, word.find('='));
      named = named || e == "параметр " + name + " задан дважды" ||
              e == "параметру " + name + " нужно значение" ||
              e == "неизвестный параметр «" + word + "»";
    }
    FUZZ_CHECK(named);
  }
  return parsed;
}

void CheckHelp(const TCommandText& command, const TWords& words) {
  const auto end = std::find(words.begin(), words.end(), "--");
  const bool asks = std::find(words.begin(), end, "--help") != end ||
                    std::find(words.begin(), end, "-h") != end;
  FUZZ_CHECK(AsksForHelp(words) == asks);
  std::ostringstream out;
  FUZZ_CHECK(ShowHelpIfAsked(command, words, out) == asks);
  FUZZ_CHECK(out.str() == (asks ? command.Usage : ""));
}

// A command given words that ask for help, or that make a usage error
// whatever options the command knows: it answers before it opens anything.
// The commands are run only so; words that a command might take would open
// files, ports or links.
void CheckRun(TRun run, const TCommandText& command, const TWords& words) {
  std::ostringstream out, err;
  const int status = run(words, out, err);
  if (AsksForHelp(words)) {
    FUZZ_CHECK(status == 0 && out.str() == command.Usage && err.str().empty());
    return;
  }
  const std::string program = std::string("veq ") + command.Name;
  const std::string text = err.str(), tail = "\nСправка: " + program + " --help\n";
  FUZZ_CHECK(status == kUsageErrorStatus && out.str().empty());
  FUZZ_CHECK(StartsWith(text, program + ": ") && text.size() > program.size() + 2 + tail.size());
  FUZZ_CHECK(text.compare(text.size() - tail.size(), tail.size(), tail) == 0);
}

// Whether some word gives the option, in either form, whatever else the
// command knows. False can also mean the option is the value of another.
bool Mentions(const TWords& words, const std::string& option) {
  return std::any_of(words.begin(), words.end(), [&](const std::string& word) {
    return word == option || StartsWith(word, option + "=");
  });
}

// Every --udp value that any option list could make of the words needs no
// lookup: ParseArgs takes a value only from the next word or after '='.
bool UdpValuesNeedNoLookup(const TWords& words) {
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--udp" && i + 1 < words.size() && !NeedsNoLookup(words[i + 1])) return false;
    if (StartsWith(words[i], "--udp=") && !NeedsNoLookup(words[i].substr(6))) return false;
  }
  return true;
}

void CheckNumbers(const TWords& words) {
  static const std::pair<int64_t, int64_t> kRanges[] = {
      {0, 65535}, {1, 65535}, {50, 4000000}, {1, 2048}, {0, std::numeric_limits<int64_t>::max()}};
  for (const std::string& word : words) {
    for (const auto& [min, max] : kRanges)
      FUZZ_CHECK(ParseNumber(word, min, max) == ExpectedNumber(word, min, max));
  }
}

void CheckLineOptions(const TParsedArgs& parsed) {
  TLineTexts line;
  const TLineTexts defaults;
  const std::string error = ReadLineOptions(parsed, line);
  FUZZ_CHECK(line.Baud == parsed.Value("--baud", defaults.Baud));
  FUZZ_CHECK(line.DataBits == parsed.Value("--data-bits", defaults.DataBits));
  FUZZ_CHECK(line.Parity == parsed.Value("--parity", defaults.Parity));
  FUZZ_CHECK(line.StopBits == parsed.Value("--stop-bits", defaults.StopBits));
  const bool baudOk = IsKnownBaudRateText(line.Baud) && ExpectedNumber(line.Baud, 50, 4000000);
  const bool bitsOk = Contains({"5", "6", "7", "8"}, line.DataBits);
  const bool parityOk = Contains({"none", "odd", "even", "mark", "space"}, line.Parity);
  const bool stopOk = Contains({"1", "1.5", "2"}, line.StopBits);
  FUZZ_CHECK(error.empty() == (baudOk && bitsOk && parityOk && stopOk));
  if (!baudOk) {
    FUZZ_CHECK(StartsWith(error, "--baud «" + line.Baud + "»: "));
  } else if (!bitsOk) {
    FUZZ_CHECK(StartsWith(error, "--data-bits «" + line.DataBits + "»: "));
  } else if (!parityOk) {
    FUZZ_CHECK(StartsWith(error, "--parity «" + line.Parity + "»: "));
  } else if (!stopOk) {
    FUZZ_CHECK(StartsWith(error, "--stop-bits «" + line.StopBits + "»: "));
  }
}

void CheckPorts(const TParsedArgs& parsed) {
  for (const auto& [option, min] : {std::pair<const char*, int64_t>{"--udp-port", 1},
                                    std::pair<const char*, int64_t>{"--local-port", 0}}) {
    uint16_t port = 4242;
    const std::string error = ReadPortOption(parsed, option, min, port);
    if (!parsed.Has(option)) {
      FUZZ_CHECK(error.empty() && port == 4242);
      continue;
    }
    const std::string text = parsed.Value(option);
    const auto expected = ExpectedNumber(text, min, 65535);
    FUZZ_CHECK(error.empty() == expected.has_value());
    if (expected) FUZZ_CHECK(port == *expected);
    if (!expected) FUZZ_CHECK(StartsWith(error, std::string(option) + " «" + text + "»: "));
  }
}

void CheckFlashOptions(const TWords& words, const TParsedArgs& parsed, const char* divisorText) {
  if (!UdpValuesNeedNoLookup(words)) return;
  TFlashOptions options;
  const std::string error = ParseFlashOptions(words, divisorText, options);
  // The checks below read the words with the options listed here; a
  // command that has learnt another one is not held to them.
  if (!error.empty() || !parsed.Error.empty()) return;
  FUZZ_CHECK(parsed.Operands.size() == 1 && options.Image == parsed.Operands[0]);
  FUZZ_CHECK(options.Udp == parsed.Has("--udp") && options.Udp != parsed.Has("--port"));
  if (options.Udp) {
    FUZZ_CHECK(options.UdpIp == parsed.Value("--udp"));
    for (const char* serialOnly : {"--baud", "--data-bits", "--parity", "--stop-bits"})
      FUZZ_CHECK(!parsed.Has(serialOnly));
  } else {
    FUZZ_CHECK(!options.Port.empty() && options.Port == parsed.Value("--port"));
  }
  TLineTexts line;
  FUZZ_CHECK(ReadLineOptions(parsed, line).empty());
  FUZZ_CHECK(options.Line.Baud == line.Baud && options.Line.DataBits == line.DataBits &&
             options.Line.Parity == line.Parity && options.Line.StopBits == line.StopBits);
  FUZZ_CHECK(options.UdpPort >= 1);
  FUZZ_CHECK(options.ConnectTimeoutMs >= 0 && options.ConnectTimeoutMs <= 7 * 24 * 3600 * 1000);
  if (parsed.Has("--connect-timeout") && options.ConnectTimeoutMs == 0) {
    FUZZ_CHECK(std::strtod(parsed.Value("--connect-timeout").c_str(), nullptr) == 0);
  }
  FUZZ_CHECK(options.TimeDivisor >= 1 && options.TimeDivisor <= 1000);
  if (divisorText != nullptr) FUZZ_CHECK(ExpectedNumber(divisorText, 1, 1000) == options.TimeDivisor);
  FUZZ_CHECK(options.Yes == parsed.Has("--yes") && options.Debug == parsed.Has("--debug") &&
             options.Json == parsed.Has("--json"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInput in(data, size);
  const uint8_t choice = in.Byte();
  const std::string divisor = in.Bytes(6);
  const char* divisorText = (choice & 0x80) ? divisor.c_str() : nullptr;
  TWords words;
  const std::string rest = in.Rest();
  for (size_t at = 0; at < rest.size() && words.size() < 24;) {
    const size_t end = std::min(rest.find('\0', at), rest.size());
    words.push_back(rest.substr(at, end - at));
    at = end + 1;
  }
  CheckNumbers(words);

  switch (choice % 6) {
    case 0: {
      const TParsedArgs parsed = CheckParse(words, kFlashCommand.Options);
      CheckHelp(kFlashCommand, words);
      if (parsed.Error.empty()) {
        CheckLineOptions(parsed);
        CheckPorts(parsed);
      }
      CheckFlashOptions(words, parsed, divisorText);
      if (AsksForHelp(words)) CheckRun(RunFlashCommand, kFlashCommand, words);
      break;
    }
    case 1: {
      CheckParse(words, kPackCommand.Options);
      CheckHelp(kPackCommand, words);
      // A required option named by no word is missing whatever else pack knows.
      bool missing = false;
      for (const char* required : {"-o", "--board", "--variant", "--version"})
        missing = missing || !Mentions(words, required);
      if (AsksForHelp(words) || missing) CheckRun(RunPackCommand, kPackCommand, words);
      break;
    }
    case 2: {
      CheckParse(words, kInfoCommand.Options);
      CheckHelp(kInfoCommand, words);
      // Words that all begin with '-' (none "-" or "--") leave no operand.
      const bool noImage = std::all_of(words.begin(), words.end(), [](const std::string& word) {
        return word.size() > 1 && word[0] == '-' && word != "--";
      });
      if (AsksForHelp(words) || noImage) CheckRun(RunInfoCommand, kInfoCommand, words);
      break;
    }
    case 3: {
      const TParsedArgs parsed = CheckParse(words, kSimCommand.Options);
      CheckHelp(kSimCommand, words);
      if (parsed.Error.empty()) CheckLineOptions(parsed);
      if (AsksForHelp(words)) CheckRun(RunSimCommand, kSimCommand, words);
      break;
    }
    case 4: {
      CheckParse(words, kPortsCommand.Options);
      CheckHelp(kPortsCommand, words);
      if (AsksForHelp(words)) CheckRun(RunPortsCommand, kPortsCommand, words);
      break;
    }
    case 5: {  // options of the input's own naming, some both flag and valued
      TKnownOptions known;
      for (size_t i = 0; i < words.size() && i < 4; ++i) {
        const std::string name = words[i].substr(0, words[i].find('='));
        if (name.size() > 1 && name[0] == '-') {
          if (i % 2 == 0 || i == 3) known.WithValue.insert(name);
          if (i % 2 == 1 || i == 3) known.Flags.insert(name);
        }
      }
      CheckParse(words, known);
      break;
    }
  }
  return 0;
}
