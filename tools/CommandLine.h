#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The options a command accepts: those that take a value ("--port TEXT",
// also written "--port=TEXT") and plain flags ("--yes"). Anything that does
// not begin with '-' is an operand; "--" makes every later word one.
struct TKnownOptions {
  std::set<std::string> WithValue;
  std::set<std::string> Flags;
  // Of WithValue, those that may be given more than once (several targets).
  std::set<std::string> Repeatable = {};
};

struct TParsedArgs {
  std::map<std::string, std::string> Values;  // a repeatable option: its first value
  // Every value of the repeatable options, in the order given.
  std::vector<std::pair<std::string, std::string>> Repeated;
  std::set<std::string> Flags;
  std::vector<std::string> Operands;
  std::string Error;  // empty when the words were all understood

  bool Has(const std::string& option) const {
    return Values.count(option) != 0 || Flags.count(option) != 0;
  }
  std::string Value(const std::string& option, const std::string& fallback = "") const;
};

// An option given twice is an error rather than silently the last one: a
// production script that says --baud twice has a mistake in it. Only the
// repeatable ones may come again.
TParsedArgs ParseArgs(const std::vector<std::string>& args, const TKnownOptions& known);

// A whole decimal number within [min, max]; nothing else (no sign, no
// blanks, no trailing text).
std::optional<int64_t> ParseNumber(const std::string& text, int64_t min, int64_t max);

// What a command tells about itself: its word after "veq" (empty for "veq"
// itself), its whole --help text and the options it parses.
struct TCommandText {
  const char* Name;
  const char* Usage;
  TKnownOptions Options = {};
};

// "--help" or "-h" among the words before a "--"; asked before parsing, so
// that help comes whatever else the line holds.
bool AsksForHelp(const std::vector<std::string>& args);

// Every command's first step: when the words ask for help, prints the
// command's help to out and returns true (the command then ends with 0).
bool ShowHelpIfAsked(const TCommandText& command, const std::vector<std::string>& args,
                     std::ostream& out);

// "veq NAME: ERROR" and where the help is, on two lines; returns the usage
// error status 2. The help itself is left out: a script's log should show
// the mistake, not bury it.
int UsageError(const TCommandText& command, const std::string& error, std::ostream& err);

inline constexpr int kUsageErrorStatus = 2;
