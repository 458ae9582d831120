#pragma once
// The values of a port that the settings dialog edits. A port's record
// (CPortSetting) holds them as its base, so the dialog fills from the record
// and hands its values back without a field-by-field copy between the two.

#include <string>

struct CSettingValues {
  int port = 0;
  std::string forwardHost;
  int forwardPort = 0;
  int bufferSize = 0;  // kibibytes
  int isListenBind = 0;
  std::string ipListenBind;  // dotted IPv4, or an IPv6 literal
  int isConnectBind = 0;
  std::string ipConnectBind;  // dotted IPv4, or an IPv6 literal
  // Optional (LISTENDUAL): without a listen address, one socket takes IPv4
  // and IPv6 callers; only 1 switches it on.
  int listenDual = 0;
};
