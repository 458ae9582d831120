#include "port/profile.h"

#include <climits>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view trim(std::string_view s) {
  const size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// ASCII only: bytes of other encodings must never compare equal by accident,
// and the C library's tolower is undefined for negative chars.
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

bool isBlank(std::string_view line) { return trim(line).empty(); }

// The name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view line) {
  const std::string_view t = trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trim(t.substr(1, close - 1));
}

bool isKeyLine(std::string_view line, std::string_view key, std::string_view* value) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos || !sameName(trim(line.substr(0, eq)), key)) return false;
  if (value) *value = trim(line.substr(eq + 1));
  return true;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool validName(std::string_view name) {
  return !name.empty() && trim(name).size() == name.size() && !hasLineBreak(name);
}

// Cut to `max` bytes, stepping back over UTF-8 continuation bytes so the cut
// never leaves half a character behind.
std::string cutText(std::string s, size_t max) {
  if (s.size() <= max) return s;
  size_t cut = max;
  for (int back = 0; back < 3 && cut > 0 && (static_cast<uint8_t>(s[cut]) & 0xC0) == 0x80; ++back)
    --cut;
  if ((static_cast<uint8_t>(s[cut]) & 0xC0) == 0x80) cut = max;  // not UTF-8: plain byte cut
  s.resize(cut);
  return s;
}

int parseInt(std::string_view s) {
  size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) i = 1;
  // Accumulate the magnitude with a ceiling just past the int range.
  constexpr int64_t kCeiling = int64_t{INT_MAX} + 1;
  int64_t magnitude = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (s[i] - '0');
    if (magnitude > kCeiling) magnitude = kCeiling;
  }
  if (negative) return static_cast<int>(-magnitude);  // INT_MIN at most
  return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

}  // namespace

CProfile::CProfile(const std::string& bytes) {
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t nl = bytes.find('\n', start);
    if (nl == std::string::npos) {
      lines_.push_back({bytes.substr(start), ""});
      break;
    }
    const bool crlf = nl > start && bytes[nl - 1] == '\r';
    const size_t textEnd = crlf ? nl - 1 : nl;
    lines_.push_back({bytes.substr(start, textEnd - start), crlf ? "\r\n" : "\n"});
    start = nl + 1;
  }
}

std::string CProfile::bytes() const {
  std::string out;
  for (const Line& line : lines_) out += line.text + line.end;
  return out;
}

size_t CProfile::findSection(const std::string& section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto name = sectionName(lines_[i].text);
    if (name && sameName(*name, section)) return i;
  }
  return std::string::npos;
}

size_t CProfile::sectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && !sectionName(lines_[i].text)) ++i;
  return i;
}

size_t CProfile::findKey(size_t header, const std::string& key) const {
  const size_t end = sectionEnd(header);
  for (size_t i = header + 1; i < end; ++i)
    if (isKeyLine(lines_[i].text, key, nullptr)) return i;
  return std::string::npos;
}

std::optional<std::string> CProfile::findValue(const std::string& section,
                                               const std::string& key) const {
  const size_t header = findSection(section);
  if (header == std::string::npos) return std::nullopt;
  const size_t line = findKey(header, key);
  if (line == std::string::npos) return std::nullopt;
  std::string_view value;
  isKeyLine(lines_[line].text, key, &value);
  return std::string(value);
}

int CProfile::getInt(const std::string& section, const std::string& key, int defaultValue) const {
  const auto value = findValue(section, key);
  if (!value || value->empty()) return defaultValue;
  return parseInt(*value);
}

std::string CProfile::getString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
  return cutText(findValue(section, key).value_or(defaultValue), PROFILE_TEXT_MAX);
}

// New lines follow the file's own line ends, so a CR LF file stays CR LF.
std::string CProfile::newLineEnd() const {
  for (const Line& line : lines_)
    if (!line.end.empty()) return line.end;
  return "\n";
}

void CProfile::insertLine(size_t at, std::string text) {
  const std::string end = newLineEnd();
  if (at > 0 && lines_[at - 1].end.empty()) lines_[at - 1].end = end;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), end});
}

bool CProfile::setString(const std::string& section, const std::string& key,
                         const std::string& value) {
  if (!validName(section) || section.find(']') != std::string::npos) return false;
  if (!validName(key) || key.find('=') != std::string::npos || key.front() == '[') return false;
  if (hasLineBreak(value)) return false;

  const std::string keyLine = key + "=" + value;
  size_t header = findSection(section);
  if (header == std::string::npos) {
    if (!lines_.empty() && !isBlank(lines_.back().text)) insertLine(lines_.size(), "");
    header = lines_.size();
    insertLine(header, "[" + section + "]");
    insertLine(header + 1, keyLine);
    return true;
  }
  const size_t existing = findKey(header, key);
  if (existing != std::string::npos) {
    lines_[existing].text = keyLine;
    return true;
  }
  size_t last = sectionEnd(header) - 1;
  while (last > header && isBlank(lines_[last].text)) --last;
  insertLine(last + 1, keyLine);
  return true;
}
