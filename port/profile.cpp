#include "port/profile.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  size_t first = 0, last = s.size();
  while (first < last && isBlankByte(s[first])) ++first;
  while (last > first && isBlankByte(s[last - 1])) --last;
  return s.substr(first, last - first);
}

// ASCII only: bytes of other encodings must never compare equal by accident,
// and the C library's tolower is undefined for negative chars.
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare without regard to ASCII letter case: the index keys them by this.
std::string lowerName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = lowerAscii(c);
  return lower;
}

std::string keyId(std::string_view section, std::string_view key) {
  return lowerName(section) + '\n' + lowerName(key);
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

// The trimmed key of a "key=value" line, or nullopt.
std::optional<std::string_view> keyName(std::string_view line) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return trim(line.substr(0, eq));
}

std::string_view valueOf(std::string_view line) { return trim(line.substr(line.find('=') + 1)); }

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

CProfile::CProfile(std::string bytes) : read_(std::move(bytes)) {
  byteOrderMark_ = read_.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0;
  if (byteOrderMark_) read_.erase(0, kByteOrderMark.size());
  lines_.reserve(size_t(std::count(read_.begin(), read_.end(), '\n')) + 1);
  size_t start = 0;
  while (start < read_.size()) {
    size_t nl = read_.find('\n', start);
    End end = End::Lf;
    if (nl == std::string::npos) {
      nl = read_.size();
      end = End::None;
    } else if (nl > start && read_[nl - 1] == '\r') {
      end = End::CrLf;
    }
    const size_t length = nl - start - (end == End::CrLf ? 1 : 0);
    // Offsets beyond four gigabytes do not fit a slice: such a line keeps a copy.
    if (nl <= UINT32_MAX)
      lines_.push_back(Line{uint32_t(start), uint32_t(length), end, false});
    else
      lines_.push_back(ownedLine(read_.substr(start, length), end));
    start = nl + 1;
  }
}

std::string_view CProfile::textOf(size_t line) const {
  const Line& l = lines_[line];
  if (l.owned) return owned_[l.begin];
  return std::string_view(read_).substr(l.begin, l.length);
}

CProfile::Line CProfile::ownedLine(std::string text, End end) {
  owned_.push_back(std::move(text));
  return Line{uint32_t(owned_.size() - 1), 0, end, true};
}

std::string CProfile::bytes() const {
  std::string out(byteOrderMark_ ? kByteOrderMark : std::string_view());
  out.reserve(read_.size() + kByteOrderMark.size());
  for (size_t i = 0; i < lines_.size(); ++i) {
    out += textOf(i);
    if (lines_[i].end != End::None) out += lines_[i].end == End::CrLf ? "\r\n" : "\n";
  }
  return out;
}

const CProfile::Index& CProfile::index() const {
  if (index_) return *index_;
  Index built;
  std::string section;        // lower-case name of the section being read
  Index::Section* current = nullptr;  // null while its keys do not count
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string_view text = textOf(i);
    if (const auto name = sectionName(text)) {
      if (current) current->end = i;
      section = lowerName(*name);
      // Only the first section of a name counts; a later one is ignored.
      auto [it, first] = built.sections.emplace(section, Index::Section{i, lines_.size()});
      current = first ? &it->second : nullptr;
    } else if (current) {
      if (const auto key = keyName(text)) built.keys.emplace(section + '\n' + lowerName(*key), i - current->header);
    }
  }
  index_ = std::move(built);
  return *index_;
}

size_t CProfile::findSection(const std::string& section) const {
  const auto& sections = index().sections;
  const auto it = sections.find(lowerName(section));
  return it == sections.end() ? std::string::npos : it->second.header;
}

size_t CProfile::sectionEnd(const std::string& section) const {
  return index().sections.at(lowerName(section)).end;
}

size_t CProfile::findKey(const std::string& section, const std::string& key) const {
  const auto& keys = index().keys;
  const auto it = keys.find(keyId(section, key));
  return it == keys.end() ? std::string::npos : findSection(section) + it->second;
}

std::optional<std::string> CProfile::findValue(const std::string& section,
                                               const std::string& key) const {
  const size_t line = findKey(section, key);
  if (line == std::string::npos) return std::nullopt;
  return std::string(valueOf(textOf(line)));
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
CProfile::End CProfile::newLineEnd() const {
  for (const Line& line : lines_)
    if (line.end != End::None) return line.end;
  return End::Lf;
}

void CProfile::insertLine(size_t at, std::string text) {
  const End end = newLineEnd();
  if (at > 0 && lines_[at - 1].end == End::None) lines_[at - 1].end = end;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), ownedLine(std::move(text), end));
  if (!index_) return;
  // The line joins the section it follows; the sections after it move down,
  // their keys with them. A key of the section it joins never follows it:
  // setString inserts only after a section's last key line, or at the end.
  for (auto& [name, s] : index_->sections) {
    if (s.header >= at) ++s.header;
    if (s.end >= at) ++s.end;
  }
}

// After an empty line unless the profile is empty or already ends with one.
void CProfile::appendSection(const std::string& section, const std::string& key, std::string keyLine) {
  if (!lines_.empty() && !isBlank(textOf(lines_.size() - 1))) insertLine(lines_.size(), "");
  const size_t header = lines_.size();
  insertLine(header, "[" + section + "]");
  insertLine(header + 1, std::move(keyLine));
  if (!index_) return;
  for (auto& [name, s] : index_->sections) s.end = std::min(s.end, header);  // the new header ends them
  index_->sections[lowerName(section)] = Index::Section{header, header + 2};
  index_->keys.emplace(keyId(section, key), 1);
}

bool CProfile::canSet(const std::string& section, const std::string& key, const std::string& value) {
  return validName(section) && section.find(']') == std::string::npos && validName(key) &&
         key.find('=') == std::string::npos && key.front() != '[' && !hasLineBreak(value);
}

bool CProfile::setString(const std::string& section, const std::string& key,
                         const std::string& value) {
  if (!canSet(section, key, value)) return false;
  std::string keyLine = key + "=" + value;
  const size_t header = findSection(section);
  if (header == std::string::npos) {
    appendSection(section, key, std::move(keyLine));
    return true;
  }
  const size_t existing = findKey(section, key);
  if (existing != std::string::npos) {
    // The same key: the index still holds.
    Line& line = lines_[existing];
    if (line.owned)
      owned_[line.begin] = std::move(keyLine);
    else
      line = ownedLine(std::move(keyLine), line.end);
    return true;
  }
  size_t last = sectionEnd(section) - 1;
  while (last > header && isBlank(textOf(last))) --last;
  insertLine(last + 1, std::move(keyLine));
  index_->keys.emplace(keyId(section, key), last + 1 - header);  // the lookups above built the index
  return true;
}
