#include "port/port_setting.h"

#include <utility>
#include <vector>

#include "port/profile_file.h"
#include "settings/profile_keys.h"

namespace {

const char* const kSystem = "SYSTEM";

// Reads every row of a key table into its field of the record.
template <class Record>
struct CKeyReader {
  const CProfile& p;
  const std::string& section;
  Record& r;

  template <class F>
  void operator()(const CNumberKey<F>& key) const {
    key.field(r) = boundedKeyValue(key.bound, p.getInt(section, key.name, key.defaultValue));
  }
  template <class F>
  void operator()(const CTextKey<F>& key) const {
    key.field(r) = p.getString(section, key.name, key.defaultValue);
  }
  template <class C, class S>
  void operator()(const CEntryListKey<C, S>& key) const {
    int& count = key.count(r);
    count = boundedEntryCount(p.getInt(section, key.countKey, 0));
    for (int i = 0; i < count; ++i)
      key.slots(r)[i] = p.getString(section, key.entryKey + std::to_string(i), key.defaultEntry);
  }
};

// Collects the keys in write order, so a refused text leaves the profile untouched.
class CSectionWriter {
 public:
  explicit CSectionWriter(std::string section) : section_(std::move(section)) {}
  void text(const std::string& key, const std::string& value) { keys_.push_back({key, value}); }
  void number(const std::string& key, int value) { text(key, std::to_string(value)); }
  bool applyTo(CProfile& profile) const {
    for (const auto& [key, value] : keys_)
      if (!CProfile::canSet(section_, key, value)) return false;
    for (const auto& [key, value] : keys_) profile.setString(section_, key, value);
    return true;
  }

 private:
  std::string section_;
  std::vector<std::pair<std::string, std::string>> keys_;
};

// Writes every written row of a key table from its field; each entry key
// right after its count key. p is the profile as it stands before the write.
template <class Record>
struct CKeyWriter {
  CSectionWriter& w;
  const Record& r;
  const CProfile& p;
  const std::string& section;

  template <class F>
  void operator()(const CNumberKey<F>& key) const {
    const int value = key.field(r);
    if (key.write == CKeyWrite::Never) return;
    if (key.write == CKeyWrite::WhenChanged &&
        value == boundedKeyValue(key.bound, p.getInt(section, key.name, key.defaultValue)))
      return;
    w.number(key.name, value);
  }
  template <class F>
  void operator()(const CTextKey<F>& key) const {
    w.text(key.name, key.field(r));
  }
  template <class C, class S>
  void operator()(const CEntryListKey<C, S>& key) const {
    const int n = boundedEntryCount(key.count(r));
    w.number(key.countKey, n);
    for (int i = 0; i < n; ++i) w.text(key.entryKey + std::to_string(i), key.slots(r)[i]);
  }
};

// Compares two records row by row; entries only below their bounded counts.
struct CKeyComparer {
  const CPortSetting& a;
  const CPortSetting& b;
  bool& same;

  template <class Key>
  void operator()(const Key& key) const {
    if constexpr (requires { key.slots; }) {
      const auto entries = [&](const CPortSetting& s) {
        const std::string* slots = key.slots(s);
        return std::vector<std::string>(slots, slots + boundedEntryCount(key.count(s)));
      };
      same = same && entries(a) == entries(b);
    } else {
      same = same && key.field(a) == key.field(b);
    }
  }
};

template <class Record, class Keys>
bool writeSection(CProfile& profile, const std::string& section, const Keys& keys, const Record& r) {
  CSectionWriter w(section);
  forEachKey(keys, CKeyWriter<Record>{w, r, profile, section});
  return w.applyTo(profile);
}

CProfile loadOrEmpty(const std::string& path) {
  CProfile profile;
  readProfileFile(path, profile);  // an unreadable file reads as defaults
  return profile;
}

}  // namespace

std::string portSectionName(int portIndex) { return "TCP-PORT" + std::to_string(portIndex); }

CPortSetting readPortSetting(const CProfile& p, int portIndex) {
  CPortSetting r;
  forEachKey(kPortKeys, CKeyReader<CPortSetting>{p, portSectionName(portIndex), r});
  return r;
}

bool sameSetting(const CPortSetting& a, const CPortSetting& b) {
  bool same = true;
  forEachKey(kPortKeys, CKeyComparer{a, b, same});
  return same;
}

bool writePortSetting(CProfile& profile, int portIndex, const CPortSetting& v) {
  return writeSection(profile, portSectionName(portIndex), kPortKeys, v);
}

std::map<int, CPortSetting> readPortsOn(const CProfile& profile) {
  return readPortsOn(profile, boundedPortCount(readSystemSetting(profile).portNum));
}

std::map<int, CPortSetting> readPortsOn(const CProfile& profile, int portCount) {
  std::map<int, CPortSetting> on;
  for (int i = 0; i < portCount; ++i) {
    CPortSetting setting = readPortSetting(profile, i);
    if (setting.act == 1) on.emplace(i, std::move(setting));
  }
  return on;
}

CSystemSetting readSystemSetting(const CProfile& p) {
  CSystemSetting r;
  forEachKey(kSystemKeys, CKeyReader<CSystemSetting>{p, kSystem, r});
  return r;
}

bool writeSystemSetting(CProfile& profile, const CSystemSetting& v) {
  return writeSection(profile, kSystem, kSystemKeys, v);
}

CPortSetting loadPortSetting(const std::string& path, int portIndex) {
  return readPortSetting(loadOrEmpty(path), portIndex);
}

bool savePortSetting(const std::string& path, int portIndex, const CPortSetting& setting) {
  return updateProfileFile(path,
                           [&](CProfile& p) { return writePortSetting(p, portIndex, setting); });
}

CSystemSetting loadSystemSetting(const std::string& path) {
  return readSystemSetting(loadOrEmpty(path));
}

std::map<int, CPortSetting> loadPortsOn(const std::string& path, int portCount) {
  return readPortsOn(loadOrEmpty(path), portCount);
}

bool saveSystemSetting(const std::string& path, const CSystemSetting& setting) {
  return updateProfileFile(path, [&](CProfile& p) { return writeSystemSetting(p, setting); });
}
