#include "platform/IniFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <sstream>

#include "platform/Files.h"

namespace platform {
namespace {

// A carriage return counts as a blank: one left inside a line ("k=v\r \n")
// would end up last on the line once the blank after it is dropped, and be
// read as part of the line end on the next read.
std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A line break inside a value would end its line and let the rest be read
// as lines of their own; it is written as a blank instead.
std::string OneLine(std::string value) {
  std::replace(value.begin(), value.end(), '\r', ' ');
  std::replace(value.begin(), value.end(), '\n', ' ');
  return value;
}

// Only ASCII letters fold: names are ASCII by convention, and folding bytes of
// a multi-byte UTF-8 character would corrupt it.
bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

}  // namespace

TProfile TProfile::Parse(const std::string& text) {
  TProfile profile;
  profile.Sections.push_back({});
  std::istringstream lines(text);
  std::string raw;
  while (std::getline(lines, raw)) {
    // Every carriage return before the line feed goes, not just one: a file
    // converted to CRLF twice ends its lines in "\r\r\n", and a kept CR
    // would be read as the line end on the next read, so each rewrite would
    // change the file again.
    while (!raw.empty() && raw.back() == '\r') raw.pop_back();
    const std::string line = Trim(raw);
    const auto close = line.find(']');
    if (!line.empty() && line.front() == '[' && close != std::string::npos) {
      profile.Sections.push_back({Trim(line.substr(1, close - 1)), {}});
      continue;
    }
    const auto equals = line.find('=');
    const bool comment = !line.empty() && (line.front() == ';' || line.front() == '#');
    TLine entry;
    if (!comment && equals != std::string::npos && equals > 0) {
      entry.IsKey = true;
      entry.Key = Trim(line.substr(0, equals));
      entry.Value = Trim(line.substr(equals + 1));
    } else {
      entry.Value = raw;
    }
    profile.Sections.back().Lines.push_back(std::move(entry));
  }
  return profile;
}

std::string TProfile::Format() const {
  std::string text;
  for (size_t i = 0; i < Sections.size(); ++i) {
    if (i > 0) text += "[" + Sections[i].Name + "]\n";
    for (const TLine& line : Sections[i].Lines) {
      text += line.IsKey ? line.Key + "=" + line.Value : line.Value;
      text += '\n';
    }
  }
  return text;
}

TProfile::TSection* TProfile::FindSection(const std::string& name) {
  // Sections[0] holds the lines before any header and has no name to match.
  for (size_t i = 1; i < Sections.size(); ++i) {
    if (SameName(Sections[i].Name, name)) return &Sections[i];
  }
  return nullptr;
}

const TProfile::TSection* TProfile::FindSection(const std::string& name) const {
  return const_cast<TProfile*>(this)->FindSection(name);
}

const std::string* TProfile::Find(const std::string& section, const std::string& key) const {
  const TSection* found = FindSection(section);
  if (found == nullptr) return nullptr;
  for (const TLine& line : found->Lines) {
    if (line.IsKey && SameName(line.Key, key)) return &line.Value;
  }
  return nullptr;
}

void TProfile::Set(const std::string& section, const std::string& key, const std::string& value) {
  SetOneLine(OneLine(section), OneLine(key), OneLine(value));
}

void TProfile::SetOneLine(const std::string& section, const std::string& key,
                          const std::string& value) {
  if (Sections.empty()) Sections.push_back({});
  TSection* found = FindSection(section);
  if (found == nullptr) {
    Sections.push_back({section, {}});
    found = &Sections.back();
  }
  for (TLine& line : found->Lines) {
    if (line.IsKey && SameName(line.Key, key)) {
      line.Value = value;
      return;
    }
  }
  found->Lines.push_back({true, key, value});
}

std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& def) {
  int error = 0;
  const std::optional<std::string> text = ReadWholeFile(path, error);
  if (!text) return def;
  const TProfile profile = TProfile::Parse(*text);
  const std::string* value = profile.Find(section, key);
  return value ? *value : def;
}

int GetProfileInt(const std::string& path, const std::string& section, const std::string& key,
                  int def) {
  std::string text = GetProfileString(path, section, key, {});
  if (text.size() > 1 && text[0] == '+' && std::isdigit(static_cast<unsigned char>(text[1]))) {
    text.erase(0, 1);
  }
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return (error == std::errc() && stop == end) ? value : def;
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  // A missing file starts empty; one that exists but cannot be read must not
  // be replaced by this one key.
  int error = 0;
  const std::optional<std::string> text = ReadWholeFile(path, error);
  if (!text && error != ENOENT) return false;
  TProfile profile = TProfile::Parse(text.value_or(""));
  profile.Set(section, key, value);
  return SaveProfile(path, profile);
}

bool SaveProfile(const std::string& path, const TProfile& profile) {
  return ReplaceFileAtomically(path, profile.Format()) == 0;
}

}  // namespace platform
