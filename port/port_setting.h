#pragma once
// The settings record of one port, one "[TCP-PORTn]" section of the profile,
// and the two program-wide settings of "[SYSTEM]".

#include <map>
#include <string>

#include "filter/ip_filter.h"
#include "port/profile.h"
#include "settings/setting_values.h"

// A record that has not been loaded holds zeros and empty texts; the defaults
// of a missing section or key are applied by the read functions.
//
// A new per-port key is a field here, its row in kPortKeys
// (settings/profile_keys.h), and its line in applyPortSetting
// (port/repeater_setup.cpp); the settings dialog only if it edits the key,
// whose field then sits in the base the dialog edits.
struct CPortSetting : CSettingValues {
  int act = 0;
  CIpFilter filter;
  // Optional, never written: HALFCLOSE=1 passes a half-close on;
  // CONNECTTIMEOUT, IDLETIMEOUT and KEEPALIVE are seconds (0: off): a
  // destination connect that has not completed, a pair with no byte either
  // way, and the silence before keepalive probes begin. Absent, the section
  // reads and writes exactly as it always has. (LISTENDUAL, which the
  // settings dialog edits, is in the base.)
  int halfClose = 0;
  int connectTimeout = 0;
  int idleTimeout = 0;
  int keepAlive = 0;
};

// Whether two records describe the same port, key for key.
bool sameSetting(const CPortSetting& a, const CPortSetting& b);

struct CSystemSetting {
  int portNum = 0;
  int window = 0;
};

// "TCP-PORT<index>".
std::string portSectionName(int portIndex);

// Entry counts are clamped to 0..MAX_FILTER_ENTRIES, so a hand-edited count
// never reaches beyond the tenth slot. Entry slots at or above a count stay empty.
CPortSetting readPortSetting(const CProfile& profile, int portIndex);

// Sets every key of the section in its fixed order, each entry key right after
// its count key; keys are never deleted, so entries beyond a shrunk count stay
// in the file and the next read ignores them. The counts written are clamped
// like the read ones. False (profile unchanged) when a text cannot be stored
// on one line.
bool writePortSetting(CProfile& profile, int portIndex, const CPortSetting& setting);

// The ports that are ON (ACT=1) among the first PORTNUM sections (PORTNUM
// bounded to 1..MAX_PORTS), by index; or among the first portCount, for a
// count about to be applied that the profile does not hold yet.
std::map<int, CPortSetting> readPortsOn(const CProfile& profile);
std::map<int, CPortSetting> readPortsOn(const CProfile& profile, int portCount);

CSystemSetting readSystemSetting(const CProfile& profile);
bool writeSystemSetting(CProfile& profile, const CSystemSetting& setting);

// The same on the file: a missing or unreadable file reads as defaults; a
// save is one atomic replacement that leaves the file as key-by-key writes
// would, or (on any failure, traced) the file as it was.
CPortSetting loadPortSetting(const std::string& path, int portIndex);
bool savePortSetting(const std::string& path, int portIndex, const CPortSetting& setting);
CSystemSetting loadSystemSetting(const std::string& path);
std::map<int, CPortSetting> loadPortsOn(const std::string& path, int portCount);
bool saveSystemSetting(const std::string& path, const CSystemSetting& setting);
