#include "port/panels_profile.h"

#include "port/profile_file.h"

CPanelsProfile::CPanelsProfile(std::string path, int portCount) : path_(std::move(path)), portCount_(portCount) {
  readProfileFile(path_, profile_);  // an unreadable file reads as defaults
  read_ = profile_.bytes();
}

void CPanelsProfile::save(int portIndex, const CPortSetting& setting) {
  if (!writePortSetting(profile_, portIndex, setting) || !on_) return;
  // As the file will read back, not as handed in.
  CPortSetting stored = read(portIndex);
  if (stored.act == 1)
    (*on_)[portIndex] = std::move(stored);
  else
    on_->erase(portIndex);
}

std::map<int, CPortSetting> CPanelsProfile::portsOnAt(int port) {
  if (!on_) on_ = readPortsOn(profile_, portCount_);
  std::map<int, CPortSetting> at;
  for (const auto& [index, setting] : *on_)
    if (setting.port == port) at.emplace(index, setting);
  return at;
}

void CPanelsProfile::writeBack() {
  if (profile_.bytes() == read_) return;
  updateProfileFile(path_, [this](CProfile& file) {
    file = profile_;
    return true;
  });
}
