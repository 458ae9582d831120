#pragma once
// An echo server on 127.0.0.1, on its own thread, for many-connection tests.

#include <atomic>
#include <cstdint>
#include <thread>

class CEchoServer {
 public:
  CEchoServer();
  ~CEchoServer();
  uint16_t port() const { return port_; }

 private:
  void serve();

  int listenFd_ = -1;
  int epollFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
