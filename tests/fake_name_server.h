#pragma once
// A name server on 127.0.0.1 for resolver tests, on its own thread: it
// answers A and AAAA queries from a table (a known name without an address
// of the asked family has no data), says "no such name" for the rest, and
// never answers names it is told to hold.

#include <atomic>
#include <deque>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "relay/platform/net.h"
#include "relay/platform/unique_fd.h"

class CFakeNameServer {
 public:
  CFakeNameServer();
  ~CFakeNameServer();
  uint16_t port() const { return port_; }
  // Adds an address (IPv4 or IPv6) to the name's answers.
  void answer(const std::string& name, const std::string& address);
  void hold(const std::string& name);  // queries for it wait for a release
  void dropIPv6(const std::string& name);  // its AAAA queries are never answered
  // Answers the oldest held lookup for the name (its oldest A and AAAA
  // queries) with the address; false when none waits.
  bool releaseOne(const std::string& name, const std::string& address);
  int queries(const std::string& name);

 private:
  void serve();
  struct Query {
    std::vector<unsigned char> packet;
    sockaddr_in from;
  };
  void handle(const Query& query);
  void reply(const Query& query, const std::vector<std::string>* addresses);

  CUniqueFd fd_;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> answers_;
  std::set<std::string> held_, droppedIPv6_;
  std::map<std::string, std::deque<Query>> waiting_;
  std::map<std::string, int> queries_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
