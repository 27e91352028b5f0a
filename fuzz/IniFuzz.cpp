// The profile (INI) parser and writer on arbitrary text. Properties:
//  - a rewritten profile reads back the same: Format of Parse of a Format
//    is that Format, and every key keeps its value;
//  - names match regardless of ASCII letter case;
//  - Set stores the value (line breaks as blanks) under the key, leaves
//    every other key alone, and what it stored survives a rewrite when the
//    names are ones a file can hold;
//  - GetProfileString and GetProfileInt read what Find sees, the number
//    only when it is an optionally signed 32-bit decimal.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/MemoryFile.h"
#include "platform/IniFile.h"

namespace {

using platform::TProfile;

// Blanks as the profile reads them: spaces, tabs, carriage returns.
std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

std::string Cased(std::string text, bool upper) {
  for (char& c : text) {
    if (upper && c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

// A name that a written line gives back unchanged.
bool WritableSection(const std::string& name) {
  return Trimmed(name) == name && name.find(']') == std::string::npos;
}
bool WritableKey(const std::string& key) {
  return !key.empty() && Trimmed(key) == key && key.find('=') == std::string::npos &&
         key[0] != ';' && key[0] != '#' && key[0] != '[';
}

// The candidate names a text holds: what stands between brackets, what
// stands before an equals sign.
void NamesIn(const std::string& text, std::vector<std::string>& sections,
             std::vector<std::string>& keys) {
  size_t at = 0;
  while (at < text.size() && (sections.size() < 5 || keys.size() < 5)) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trimmed(text.substr(at, end - at));
    const size_t close = line.find(']');
    if (!line.empty() && line[0] == '[' && close != std::string::npos) {
      if (sections.size() < 5) sections.push_back(Trimmed(line.substr(1, close - 1)));
    } else if (const size_t equals = line.find('='); equals != std::string::npos && equals > 0) {
      if (keys.size() < 5) keys.push_back(Trimmed(line.substr(0, equals)));
    }
    at = end + 1;
  }
}

bool SameValue(const std::string* a, const std::string* b) {
  return (a == nullptr) == (b == nullptr) && (a == nullptr || *a == *b);
}

int ExpectedInt(const std::string* value, int def) {
  if (value == nullptr) return def;
  const std::string& text = *value;
  size_t at = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  if (at == text.size()) return def;
  int64_t number = 0;
  for (size_t i = at; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return def;
    number = number * 10 + (text[i] - '0');
    if (number > int64_t{std::numeric_limits<int>::max()} + 1) return def;
  }
  if (text[0] == '-') number = -number;
  if (number > std::numeric_limits<int>::max() || number < std::numeric_limits<int>::min())
    return def;
  return int(number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::TMemoryFile file;
  fuzz::TInput in(data, size);
  const std::string section = in.Bytes(12);
  const std::string key = in.Bytes(12);
  const std::string value = in.Bytes(24);
  const int def = static_cast<int16_t>(in.Word());
  const std::string text = in.Rest();

  const TProfile profile = TProfile::Parse(text);
  const std::string formatted = profile.Format();
  const TProfile reread = TProfile::Parse(formatted);
  FUZZ_CHECK(reread.Format() == formatted);

  std::vector<std::string> sections = {section}, keys = {key};
  NamesIn(text, sections, keys);
  for (const std::string& s : sections) {
    for (const std::string& k : keys) {
      const std::string* found = profile.Find(s, k);
      FUZZ_CHECK(SameValue(found, reread.Find(s, k)));
      FUZZ_CHECK(profile.Find(Cased(s, true), Cased(k, false)) == found);
      FUZZ_CHECK(profile.Find(Cased(s, false), Cased(k, true)) == found);
    }
  }

  file.Write(text);
  const std::string* found = profile.Find(section, key);
  FUZZ_CHECK(platform::GetProfileString(file.Path(), section, key, value) ==
             (found ? *found : value));
  FUZZ_CHECK(platform::GetProfileInt(file.Path(), section, key, def) == ExpectedInt(found, def));

  // Set: the key gets the value, the others keep theirs.
  TProfile changed = profile;
  changed.Set(section, key, value);
  const std::string s = OneLine(section), k = OneLine(key), v = OneLine(value);
  const std::string* stored = changed.Find(s, k);
  FUZZ_CHECK(stored != nullptr && *stored == v);
  for (const std::string& other : sections) {
    for (const std::string& otherKey : keys) {
      const std::string* before = profile.Find(other, otherKey);
      const std::string* after = changed.Find(other, otherKey);
      if (changed.Find(other, otherKey) != stored) FUZZ_CHECK(SameValue(before, after));
    }
  }
  if (WritableSection(s) && WritableKey(k)) {
    const TProfile written = TProfile::Parse(changed.Format());
    const std::string* back = written.Find(s, k);
    FUZZ_CHECK(back != nullptr && *back == Trimmed(v));
  }
  return 0;
}
