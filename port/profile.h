#pragma once
// A profile file held in memory: "[SECTION]" lines, each followed by
// "KEY=value" lines. Reading and editing work on the raw bytes, so every line
// that is not edited (comments, foreign sections, unknown keys, odd bytes,
// CR LF endings) is written back exactly as it was read.
//
// Lookup rules, the same for reading and writing:
// - section and key names match without regard to ASCII letter case;
// - blanks (space, tab, CR) around names and values are ignored;
// - the first matching section and, inside it, the first matching key count;
// - a line starting with '[' but without ']' is neither a section nor a key.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Texts read from the profile are cut to this many bytes.
constexpr size_t PROFILE_TEXT_MAX = 260;

class CProfile {
 public:
  CProfile() = default;
  explicit CProfile(const std::string& bytes);

  // The file's bytes: exactly the parsed input when nothing was set.
  std::string bytes() const;

  // The trimmed value, uncut; nullopt when the section or the key is missing.
  std::optional<std::string> findValue(const std::string& section, const std::string& key) const;

  // Decimal with an optional sign; digits end at the first other byte.
  // Missing key or empty value: defaultValue. No digit after the sign: 0.
  // Values beyond the int range are clamped to INT_MIN / INT_MAX.
  int getInt(const std::string& section, const std::string& key, int defaultValue) const;

  // The value (or the default) cut to PROFILE_TEXT_MAX bytes, without
  // splitting a UTF-8 character at the cut.
  std::string getString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) const;

  // Sets KEY=value, touching no other line. A missing key is added after the
  // last non-blank line of its section; a missing section is added at the end,
  // after an empty line unless the profile is empty or already ends with one.
  // Refuses (returns false, changes nothing) names or values that would not
  // read back as written: line breaks anywhere, '=' or a leading '[' in a key,
  // ']' in a section, empty or blank-padded names.
  bool setString(const std::string& section, const std::string& key, const std::string& value);

 private:
  struct Line {
    std::string text;  // without its line end
    std::string end;   // "\n", "\r\n", or "" for a last line without one
  };

  size_t findSection(const std::string& section) const;  // header index, or npos
  size_t sectionEnd(size_t header) const;                // index after its last line
  size_t findKey(size_t header, const std::string& key) const;
  std::string newLineEnd() const;
  void insertLine(size_t at, std::string text);

  std::vector<Line> lines_;
};
