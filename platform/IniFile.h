#pragma once

#include <string>
#include <vector>

// Private-profile (INI) files: "[Section]" lines followed by "key=value"
// lines. Section and key names match regardless of ASCII letter case; blanks
// (spaces, tabs, carriage returns) around names and values are dropped;
// lines starting with ';' or '#' are comments. The first section of a name
// and the first key of a name within it are the ones that count. Values are
// bytes (UTF-8 text), never quoted.
namespace platform {

// The parsed contents of one profile file, in file order. Comment and blank
// lines are kept so that a rewrite leaves hand-written notes in place.
class TProfile {
 public:
  // Text of an INI file; any bytes are accepted, unparseable lines are kept
  // as they are and otherwise ignored.
  static TProfile Parse(const std::string& text);
  std::string Format() const;

  // nullptr when the section or the key is missing.
  const std::string* Find(const std::string& section, const std::string& key) const;
  // Replaces the key's value, or adds the key at the end of the section,
  // adding the section at the end of the profile when it is missing. Line
  // breaks in any of the three become blanks.
  void Set(const std::string& section, const std::string& key, const std::string& value);

 private:
  void SetOneLine(const std::string& section, const std::string& key, const std::string& value);

  struct TLine {
    bool IsKey = false;
    std::string Key;    // IsKey: the key's name as written
    std::string Value;  // IsKey: the value; otherwise the line as it was
  };
  struct TSection {
    std::string Name;  // empty for the lines before the first section header
    std::vector<TLine> Lines;
  };

  TSection* FindSection(const std::string& name);
  const TSection* FindSection(const std::string& name) const;

  std::vector<TSection> Sections;
};

// Reads the key's text. A missing file, section or key gives def; a present
// key gives its text even when that is empty. An unreadable file counts as
// missing.
std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& def);

// Reads the key as a decimal 32-bit integer (optional sign, digits only).
// A missing key, or a value that is not such a number, gives def.
int GetProfileInt(const std::string& path, const std::string& section, const std::string& key,
                  int def);

// Sets one key and rewrites the file through SaveProfile, keeping every other
// line. Returns false when the file could not be replaced; it is then unchanged.
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

// Replaces the file with the profile as a whole: the text goes to a new file
// in the same folder, which then takes the old one's place in one rename, so
// that a crash or a full disk midway never leaves a truncated file behind.
// Returns false, leaving the old file as it was, when any step fails.
bool SaveProfile(const std::string& path, const TProfile& profile);

}  // namespace platform
