// Echo, sink and source server for the relay benchmark. Listens on COUNT
// ports of 127.0.0.1 chosen by the kernel (one per relay under test, so the
// closed connections one relay leaves waiting never crowd another's), prints
// them one per line, and serves until SIGTERM, SIGINT, the parent's death or
// its own lifetime limit. One thread, level-triggered epoll; the sink results
// can be queried on any of the ports.
#include "bench_proto.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <unordered_map>

namespace {

using namespace bench;

volatile sig_atomic_t gStop = 0;
const Pattern gPattern;
constexpr size_t kIoChunk = 256 * 1024;
constexpr size_t kMaxResults = 200000;  // the table never grows without bound
constexpr int kMaxLifetimeSec = 3600;

int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Conn {
  int fd = -1;
  Hello hello;
  size_t helloGot = 0;
  uint64_t off = 0;            // data bytes received (sink) or sent (source)
  std::vector<char> pending;   // echo bytes the peer has not taken yet
  bool queryAnswered = false;
  bool answering = false;      // respond: the request ended, the answer goes out
  bool requestBroken = false;  // respond: a request byte did not match
};

class Server {
 public:
  explicit Server(std::vector<int> listenFds) : listenFds_(std::move(listenFds)), buf_(kIoChunk) {
    ep_ = epoll_create1(EPOLL_CLOEXEC);
    for (int fd : listenFds_) watch(fd, EPOLLIN, EPOLL_CTL_ADD);
  }

  void run() {
    epoll_event evs[256];
    const int64_t deadline = nowNs() + int64_t(kMaxLifetimeSec) * 1000000000;
    while (!gStop && nowNs() < deadline) {
      int n = epoll_wait(ep_, evs, 256, 200);
      for (int i = 0; i < n; ++i) dispatch(evs[i]);
    }
  }

 private:
  void watch(int fd, uint32_t events, int op) {
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    epoll_ctl(ep_, op, fd, &ev);
  }

  void dispatch(const epoll_event& ev) {
    for (int fd : listenFds_)
      if (ev.data.fd == fd) return acceptAll(fd);
    auto it = conns_.find(ev.data.fd);
    if (it == conns_.end()) return;
    Conn& c = *it->second;
    bool alive = true;
    if (ev.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) alive = onReadable(c);
    if (alive && (ev.events & EPOLLOUT)) alive = onWritable(c);
    if (!alive) drop(c.fd);
  }

  void acceptAll(int listenFd) {
    for (int i = 0; i < 64; ++i) {
      int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      auto c = std::make_unique<Conn>();
      c->fd = fd;
      conns_[fd] = std::move(c);
      watch(fd, EPOLLIN, EPOLL_CTL_ADD);
    }
  }

  void drop(int fd) {
    auto it = conns_.find(fd);
    if (it == conns_.end()) return;
    Conn& c = *it->second;
    if (mode(c) == Mode::Sink) finishSink(c);
    epoll_ctl(ep_, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    conns_.erase(it);
  }

  static Mode mode(const Conn& c) {
    return c.helloGot == sizeof(Hello) ? Mode(c.hello.mode) : Mode(0);
  }

  // Returns false when the connection is over.
  bool onReadable(Conn& c) {
    if (c.helloGot < sizeof(Hello)) return readHello(c);
    switch (mode(c)) {
      case Mode::Echo: return echoRead(c);
      case Mode::Sink: return sinkRead(c);
      case Mode::Respond: return requestRead(c);
      default: return readDiscard(c);
    }
  }

  bool onWritable(Conn& c) {
    switch (mode(c)) {
      case Mode::Echo: return echoFlush(c);
      case Mode::Source: return sourceWrite(c);
      case Mode::Respond: return !c.answering || sourceWrite(c);
      default: return true;
    }
  }

  bool readHello(Conn& c) {
    auto* dst = reinterpret_cast<char*>(&c.hello) + c.helloGot;
    ssize_t r = recv(c.fd, dst, sizeof(Hello) - c.helloGot, 0);
    if (r <= 0) return r < 0 && (errno == EAGAIN || errno == EINTR);
    c.helloGot += size_t(r);
    if (c.helloGot < sizeof(Hello)) return true;
    if (c.hello.magic != kMagic) return false;
    return start(c);
  }

  bool start(Conn& c) {
    switch (mode(c)) {
      case Mode::Echo: return true;
      case Mode::Sink:
        if (results_.size() >= kMaxResults) forgetFinished();
        results_[c.hello.id] = SinkResult{uint32_t(SinkState::Running), 1, 0, 0, 0};
        return true;
      case Mode::Source: watch(c.fd, EPOLLIN | EPOLLOUT, EPOLL_CTL_MOD); return true;
      case Mode::Respond: return true;
      case Mode::Query: return answerQuery(c);
      default: return false;
    }
  }

  // Results nobody asked for; running ones stay, or their bytes would be lost.
  void forgetFinished() {
    std::erase_if(results_, [](const auto& kv) {
      return kv.second.state == uint32_t(SinkState::Done);
    });
  }

  bool answerQuery(Conn& c) {
    SinkResult r;
    auto it = results_.find(c.hello.id);
    if (it != results_.end()) {
      r = it->second;
      if (r.state == uint32_t(SinkState::Done)) results_.erase(it);
    }
    // 32 bytes always fit an empty socket buffer.
    send(c.fd, &r, sizeof r, MSG_NOSIGNAL);
    return false;
  }

  bool readDiscard(Conn& c) {
    ssize_t r = recv(c.fd, buf_.data(), buf_.size(), 0);
    return r > 0 || (r < 0 && (errno == EAGAIN || errno == EINTR));
  }

  bool sinkRead(Conn& c) {
    ssize_t r = recv(c.fd, buf_.data(), buf_.size(), 0);
    if (r < 0) return errno == EAGAIN || errno == EINTR;
    if (r == 0) return false;
    SinkResult& res = results_[c.hello.id];
    int64_t t = nowNs();
    if (res.bytes == 0) res.firstNs = t;
    res.lastNs = t;
    if (res.intact && !gPattern.matches(c.hello.id, c.off, buf_.data(), size_t(r)))
      res.intact = 0;
    c.off += uint64_t(r);
    res.bytes = c.off;
    return true;
  }

  // The request's bytes are checked as they come; its end (a half-close)
  // starts the answer. A corrupted request gets none, so it shows as a
  // missing answer.
  bool requestRead(Conn& c) {
    if (c.answering) return readDiscard(c);
    ssize_t r = recv(c.fd, buf_.data(), buf_.size(), 0);
    if (r < 0) return errno == EAGAIN || errno == EINTR;
    if (r > 0) {
      c.requestBroken = c.requestBroken || !gPattern.matches(c.hello.id, c.off, buf_.data(), size_t(r));
      c.off += uint64_t(r);
      return true;
    }
    if (c.requestBroken) return false;  // a corrupted request gets no answer
    c.answering = true;
    c.off = 0;
    watch(c.fd, EPOLLOUT, EPOLL_CTL_MOD);
    return true;
  }

  void finishSink(Conn& c) {
    auto it = results_.find(c.hello.id);
    if (it != results_.end()) it->second.state = uint32_t(SinkState::Done);
  }

  bool echoRead(Conn& c) {
    ssize_t r = recv(c.fd, buf_.data(), 64 * 1024, 0);
    if (r < 0) return errno == EAGAIN || errno == EINTR;
    if (r == 0) return false;
    ssize_t w = send(c.fd, buf_.data(), size_t(r), MSG_NOSIGNAL);
    if (w < 0 && errno != EAGAIN) return false;
    size_t sent = w < 0 ? 0 : size_t(w);
    if (sent < size_t(r)) {
      // Hold the rest and stop reading until the peer takes it.
      c.pending.assign(buf_.data() + sent, buf_.data() + r);
      watch(c.fd, EPOLLOUT, EPOLL_CTL_MOD);
    }
    return true;
  }

  bool echoFlush(Conn& c) {
    ssize_t w = send(c.fd, c.pending.data(), c.pending.size(), MSG_NOSIGNAL);
    if (w < 0) return errno == EAGAIN || errno == EINTR;
    c.pending.erase(c.pending.begin(), c.pending.begin() + w);
    if (c.pending.empty()) watch(c.fd, EPOLLIN, EPOLL_CTL_MOD);
    return true;
  }

  bool sourceWrite(Conn& c) {
    const uint64_t limit = c.hello.length;
    size_t n = kIoChunk;
    if (limit != 0 && limit - c.off < n) n = size_t(limit - c.off);
    ssize_t w = send(c.fd, gPattern.at(c.hello.id, c.off), n, MSG_NOSIGNAL);
    if (w < 0) return errno == EAGAIN || errno == EINTR;
    c.off += uint64_t(w);
    // A bounded source closes as soon as its last byte is handed over: the
    // close must not cost the receiver a single byte.
    return limit == 0 || c.off < limit;
  }

  std::vector<int> listenFds_;
  int ep_ = -1;
  std::vector<char> buf_;
  std::unordered_map<int, std::unique_ptr<Conn>> conns_;
  std::unordered_map<uint64_t, SinkResult> results_;
};

int listenOnAnyPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4096) != 0) {
    perror("bench_server: listen");
    std::exit(1);
  }
  return fd;
}

int boundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

void onSignal(int) { gStop = 1; }

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
  if (count < 1 || count > 64) {
    std::fprintf(stderr, "usage: bench_server [COUNT]  (1 to 64 ports)\n");
    return 1;
  }
  // Never outlive the script that started us.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);
  std::vector<int> fds;
  for (int i = 0; i < count; ++i) {
    fds.push_back(listenOnAnyPort());
    std::printf("%d\n", boundPort(fds.back()));
  }
  std::fflush(stdout);
  Server(std::move(fds)).run();
  return 0;
}
