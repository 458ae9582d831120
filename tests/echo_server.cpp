#include "tests/echo_server.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/loopback.h"

CEchoServer::CEchoServer() {
  listenFd_ = loopback::listenAny(port_, 512).release();
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = listenFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &ev);
  thread_ = std::thread([this] { serve(); });
}

CEchoServer::~CEchoServer() {
  stop_ = true;
  thread_.join();
  close(epollFd_);
  close(listenFd_);
}

// Blocking writes are fine here: each connection echoes small messages.
void CEchoServer::serve() {
  epoll_event events[64];
  char buffer[65536];
  while (!stop_) {
    int n = epoll_wait(epollFd_, events, 64, 20);
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == listenFd_) {
        int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = client;
        if (client >= 0) epoll_ctl(epollFd_, EPOLL_CTL_ADD, client, &ev);
        continue;
      }
      ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0 || !loopback::writeAll(fd, buffer, size_t(got))) {
        epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
        close(fd);
      }
    }
  }
}
