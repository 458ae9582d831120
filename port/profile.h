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
// - a line starting with '[' but without ']' is neither a section nor a key;
// - a UTF-8 byte-order mark at the start is kept but is not part of the first
//   line, so a profile saved by an editor that writes one reads the same.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Texts read from the profile are cut to this many bytes.
constexpr size_t PROFILE_TEXT_MAX = 260;

class CProfile {
 public:
  CProfile() = default;
  explicit CProfile(std::string bytes);

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
  // Whether setString would take these names and value.
  static bool canSet(const std::string& section, const std::string& key, const std::string& value);

 private:
  enum class End : uint8_t { None, Lf, CrLf };  // None: a last line without one
  // One line without its end: a slice of the bytes read or, once edited or
  // added, a text of its own. Small, so that a profile of millions of short
  // lines costs a few times its size, not tens.
  struct Line {
    uint32_t begin;  // offset in read_, or index in owned_
    uint32_t length;
    End end;
    bool owned;
  };
  // Where each name is, so a lookup never rescans the file: the first header
  // of each section (with the index after its last line) and the first line
  // of each key inside it, counted from its section's header. Built on the
  // first lookup and kept up to date by the edits, so writing a thousand
  // sections into one profile does not rebuild it a thousand times.
  struct Index {
    struct Section {
      size_t header;
      size_t end;
    };
    std::unordered_map<std::string, Section> sections;  // by lower-case name
    std::unordered_map<std::string, size_t> keys;       // by lower-case "section\nkey"
  };
  const Index& index() const;

  size_t findSection(const std::string& section) const;  // header index, or npos
  size_t sectionEnd(const std::string& section) const;   // index after its last line
  size_t findKey(const std::string& section, const std::string& key) const;  // or npos
  std::string_view textOf(size_t line) const;
  Line ownedLine(std::string text, End end);
  End newLineEnd() const;
  void insertLine(size_t at, std::string text);
  void appendSection(const std::string& section, const std::string& key, std::string keyLine);

  std::string read_;                // the bytes read, without a byte-order mark
  std::vector<std::string> owned_;  // texts of edited and added lines
  std::vector<Line> lines_;
  bool byteOrderMark_ = false;
  mutable std::optional<Index> index_;
};
