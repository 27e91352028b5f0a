#include "tools/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <ostream>

std::string TParsedArgs::Value(const std::string& option, const std::string& fallback) const {
  const auto it = Values.find(option);
  return it == Values.end() ? fallback : it->second;
}

namespace {

bool Record(TParsedArgs& parsed, const TKnownOptions& known, const std::string& name,
            std::optional<std::string> value) {
  if (value && known.Repeatable.count(name) != 0) {
    parsed.Repeated.emplace_back(name, *value);
    parsed.Values.emplace(name, *value);
    return true;
  }
  if (parsed.Has(name)) {
    parsed.Error = "параметр " + name + " задан дважды";
    return false;
  }
  if (value) {
    parsed.Values[name] = *value;
  } else {
    parsed.Flags.insert(name);
  }
  return true;
}

}  // namespace

TParsedArgs ParseArgs(const std::vector<std::string>& args, const TKnownOptions& known) {
  TParsedArgs parsed;
  bool operandsOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (operandsOnly || word.empty() || word[0] != '-' || word == "-") {
      parsed.Operands.push_back(word);
      continue;
    }
    if (word == "--") {
      operandsOnly = true;
      continue;
    }
    const size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    if (known.Flags.count(name) != 0 && equals == std::string::npos) {
      if (!Record(parsed, known, name, std::nullopt)) return parsed;
    } else if (known.WithValue.count(name) != 0) {
      if (equals != std::string::npos) {
        if (!Record(parsed, known, name, word.substr(equals + 1))) return parsed;
      } else if (i + 1 < args.size()) {
        if (!Record(parsed, known, name, args[++i])) return parsed;
      } else {
        parsed.Error = "параметру " + name + " нужно значение";
        return parsed;
      }
    } else {
      parsed.Error = "неизвестный параметр «" + word + "»";
      return parsed;
    }
  }
  return parsed;
}

std::optional<int64_t> ParseNumber(const std::string& text, int64_t min, int64_t max) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value < min || value > max) return std::nullopt;
  return value;
}

bool AsksForHelp(const std::vector<std::string>& args) {
  const auto end = std::find(args.begin(), args.end(), "--");
  return std::any_of(args.begin(), end,
                     [](const std::string& word) { return word == "--help" || word == "-h"; });
}

bool ShowHelpIfAsked(const TCommandText& command, const std::vector<std::string>& args,
                     std::ostream& out) {
  if (!AsksForHelp(args)) return false;
  out << command.Usage;
  return true;
}

int UsageError(const TCommandText& command, const std::string& error, std::ostream& err) {
  const std::string program = *command.Name ? std::string("veq ") + command.Name : "veq";
  err << program << ": " << error << "\nСправка: " << program << " --help\n";
  return kUsageErrorStatus;
}
