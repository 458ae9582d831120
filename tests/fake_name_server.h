#pragma once
// A name server on 127.0.0.1 for resolver tests, on its own thread: it
// answers A queries from a table, says "no such name" for the rest, and
// never answers names it is told to hold.

#include <netinet/in.h>

#include <atomic>
#include <deque>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class CFakeNameServer {
 public:
  CFakeNameServer();
  ~CFakeNameServer();
  uint16_t port() const { return port_; }
  void answer(const std::string& name, const std::string& ipv4);
  void hold(const std::string& name);  // queries for it wait for a release
  // Answers the oldest held query for the name; false when none waits.
  bool releaseOne(const std::string& name, const std::string& ipv4);
  int queries(const std::string& name);

 private:
  void serve();
  struct Query {
    std::vector<unsigned char> packet;
    sockaddr_in from;
  };
  void handle(const Query& query);
  void reply(const Query& query, size_t questionEnd, const std::string& address);

  int fd_ = -1;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::map<std::string, std::string> answers_;
  std::set<std::string> held_;
  std::map<std::string, std::deque<Query>> waiting_;
  std::map<std::string, int> queries_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
