#pragma once
// The profile as the main window's panels see it while they are all made or
// all destroyed: the file read once, every panel's section read from and
// saved into memory, and the file written once after the last panel. With
// hundreds of panels a read and a replacement of the whole file for each one
// took minutes. The ports ON are kept beside it, so each port's loop check
// does not read every section again.
//
// Owns its copy of the profile. The panels' own saves are the only edits
// while it lives, so the file ends as their saves one by one would leave it.

#include <map>
#include <optional>
#include <string>

#include "port/port_setting.h"

class CPanelsProfile {
 public:
  // Reads the file; one that is missing or unreadable reads as defaults.
  // The ports ON are looked for among the first portCount sections.
  CPanelsProfile(std::string path, int portCount);

  CPortSetting read(int portIndex) const { return readPortSetting(profile_, portIndex); }
  void save(int portIndex, const CPortSetting& setting);
  // The ports ON that listen on this port number, by index.
  std::map<int, CPortSetting> portsOnAt(int port);
  // Writes the file when a save changed it; an unreadable file is kept (and
  // traced) as a single save would keep it.
  void writeBack();

 private:
  std::string path_;
  int portCount_;
  CProfile profile_;
  std::string read_;  // the bytes as read, to see whether anything changed
  std::optional<std::map<int, CPortSetting>> on_;  // read when first asked for
};
