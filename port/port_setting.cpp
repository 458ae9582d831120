#include "port/port_setting.h"

#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

#include "port/profile_file.h"
#include "relay/limits.h"

namespace {

const char* const kSystem = "SYSTEM";
const char* const kDefaultAddress = "127.0.0.1";
const char* const kDefaultEntry = "0.0.0.0";

void readEntries(const CProfile& p, const std::string& section, const std::string& key, int count,
                 std::string* slots) {
  for (int i = 0; i < count; ++i)
    slots[i] = p.getString(section, key + std::to_string(i), kDefaultEntry);
}

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

void addEntries(CSectionWriter& w, const std::string& countKey, const std::string& entryKey,
                int count, const std::string* slots) {
  const int n = boundedEntryCount(count);
  w.number(countKey, n);
  for (int i = 0; i < n; ++i) w.text(entryKey + std::to_string(i), slots[i]);
}

CProfile loadOrEmpty(const std::string& path) {
  CProfile profile;
  readProfileFile(path, profile);  // an unreadable file reads as defaults
  return profile;
}

}  // namespace

std::string portSectionName(int portIndex) { return "TCP-PORT" + std::to_string(portIndex); }

CPortSetting readPortSetting(const CProfile& p, int portIndex) {
  const std::string s = portSectionName(portIndex);
  CPortSetting r;
  r.act = p.getInt(s, "ACT", 0);
  r.port = p.getInt(s, "PORT", 0);
  r.forwardHost = p.getString(s, "FORWARDHOST", kDefaultAddress);
  r.forwardPort = p.getInt(s, "FORWARDPORT", 0);
  r.bufferSize = p.getInt(s, "BUFFERSIZE", DEFAULT_BUFFER_KBYTES);
  r.isListenBind = p.getInt(s, "ISLISTENBIND", 0);
  r.ipListenBind = p.getString(s, "IPLISTENBIND", kDefaultAddress);
  r.isConnectBind = p.getInt(s, "ISCONNECTBIND", 0);
  r.ipConnectBind = p.getString(s, "IPCONNECTBIND", kDefaultAddress);
  r.filter.mode = p.getInt(s, "FILTERMODE", 0);
  r.filter.enableIpCount = boundedEntryCount(p.getInt(s, "ENABLEIPCOUNT", 0));
  readEntries(p, s, "ENABLEIP", r.filter.enableIpCount, r.filter.enableIp);
  r.filter.refuseIpCount = boundedEntryCount(p.getInt(s, "REFUSEIPCOUNT", 0));
  readEntries(p, s, "REFUSEIP", r.filter.refuseIpCount, r.filter.refuseIp);
  r.halfClose = p.getInt(s, "HALFCLOSE", 0) == 1 ? 1 : 0;  // only 1 switches it on
  int* timeouts[] = {&r.connectTimeout, &r.idleTimeout, &r.keepAlive};
  for (size_t i = 0; i < std::size(kTimeoutKeys); ++i)
    *timeouts[i] = boundedTimeoutSeconds(p.getInt(s, kTimeoutKeys[i], 0));
  return r;
}

bool sameFilter(const CIpFilter& a, const CIpFilter& b) {
  const auto entries = [](const std::string* slots, int count) {
    return std::vector<std::string>(slots, slots + boundedEntryCount(count));
  };
  return a.mode == b.mode && entries(a.enableIp, a.enableIpCount) == entries(b.enableIp, b.enableIpCount) &&
         entries(a.refuseIp, a.refuseIpCount) == entries(b.refuseIp, b.refuseIpCount);
}

bool sameSetting(const CPortSetting& a, const CPortSetting& b) {
  const auto values = [](const CPortSetting& s) {
    return std::tie(s.act, s.port, s.forwardHost, s.forwardPort, s.bufferSize, s.isListenBind, s.ipListenBind,
                    s.isConnectBind, s.ipConnectBind, s.halfClose, s.connectTimeout, s.idleTimeout, s.keepAlive);
  };
  return values(a) == values(b) && sameFilter(a.filter, b.filter);
}

bool writePortSetting(CProfile& profile, int portIndex, const CPortSetting& v) {
  CSectionWriter w(portSectionName(portIndex));
  w.number("ACT", v.act);
  w.number("PORT", v.port);
  w.text("FORWARDHOST", v.forwardHost);
  w.number("FORWARDPORT", v.forwardPort);
  w.number("BUFFERSIZE", v.bufferSize);
  w.number("ISLISTENBIND", v.isListenBind);
  w.text("IPLISTENBIND", v.ipListenBind);
  w.number("ISCONNECTBIND", v.isConnectBind);
  w.text("IPCONNECTBIND", v.ipConnectBind);
  w.number("FILTERMODE", v.filter.mode);
  addEntries(w, "ENABLEIPCOUNT", "ENABLEIP", v.filter.enableIpCount, v.filter.enableIp);
  addEntries(w, "REFUSEIPCOUNT", "REFUSEIP", v.filter.refuseIpCount, v.filter.refuseIp);
  return w.applyTo(profile);
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
  return CSystemSetting{p.getInt(kSystem, "PORTNUM", 1), p.getInt(kSystem, "WINDOW", 1)};
}

bool writeSystemSetting(CProfile& profile, const CSystemSetting& v) {
  CSectionWriter w(kSystem);
  w.number("PORTNUM", v.portNum);
  w.number("WINDOW", v.window);
  return w.applyTo(profile);
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
