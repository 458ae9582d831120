#include "app/headless_runner.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/service_notify.h"
#include "port/port_setting.h"
#include "relay/event_loop.h"
#include "relay/tcp_repeater.h"

namespace {

constexpr int kMaxPorts = 10;

struct CHeadlessPort {
  int index = 0;
  CPortSetting setting;
  CTcpRepeater repeater;
};

// Ends the loop on SIGINT or SIGTERM, read from a signalfd so the handler
// runs as an ordinary event.
class CStopSignals : public CEventHandler {
 public:
  explicit CStopSignals(CEventLoop& loop) : loop_(loop) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ >= 0) loop_.add(fd_, EPOLLIN, this);
  }
  ~CStopSignals() {
    if (fd_ < 0) return;
    loop_.remove(fd_);
    close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void handleEvents(uint32_t) override {
    signalfd_siginfo info;
    while (read(fd_, &info, sizeof info) == ssize_t(sizeof info)) {
    }
    loop_.quit();
  }

 private:
  CEventLoop& loop_;
  int fd_ = -1;
};

std::string listenAddress(const CPortSetting& s) { return s.isListenBind ? s.ipListenBind : "0.0.0.0"; }

// The same checks as switching the port on in its panel.
bool validate(const CHeadlessPort& p) {
  const char* refusal = p.setting.port == 0          ? "Listenポートが無効な設定です"
                        : p.setting.forwardPort == 0 ? "転送先ポート番号が無効な設定です"
                                                     : nullptr;
  if (refusal) {
    std::fprintf(stderr, "%s: %s\n", portSectionName(p.index).c_str(), refusal);
    return false;
  }
  if (p.setting.forwardHost.empty()) {
    std::fprintf(stderr, "%s: ON, but no destination host is set: not started\n", portSectionName(p.index).c_str());
    return false;
  }
  return true;
}

void startPort(CHeadlessPort& p) {
  const CPortSetting& s = p.setting;
  CTcpRepeater& r = p.repeater;
  r.setListener(nullptr);
  r.setBufferSize(s.bufferSize);
  r.setListenBind(s.isListenBind, s.ipListenBind);
  r.setConnectBind(s.isConnectBind, s.ipConnectBind);
  r.setIpFilter(&p.setting.filter);
  r.start(s.port, s.forwardHost, s.forwardPort);
  std::string section = portSectionName(p.index);
  if (r.isListening()) {
    std::fprintf(stderr, "%s: relaying %s:%d -> %s:%d (filter mode %d)\n", section.c_str(),
                 listenAddress(s).c_str(), s.port, s.forwardHost.c_str(), s.forwardPort, s.filter.mode);
  } else {
    std::fprintf(stderr, "%s: cannot listen on %s:%d: %s (error %d)\n", section.c_str(), listenAddress(s).c_str(),
                 s.port, ws::describeError(r.startError()), r.startError());
  }
}

}  // namespace

int runHeadless(const std::string& profilePath) {
  CEventLoop loop;
  CStopSignals signals(loop);
  if (!loop.ok() || !signals.ok()) {
    std::fprintf(stderr, "Quillex: the event loop cannot be created\n");
    return 1;
  }
  CAsyncSocket::setEventLoop(&loop);
  int count = std::clamp(loadSystemSetting(profilePath).portNum, 1, kMaxPorts);
  std::vector<std::unique_ptr<CHeadlessPort>> ports;
  for (int i = 0; i < count; ++i) {
    auto port = std::make_unique<CHeadlessPort>();
    port->index = i;
    port->setting = loadPortSetting(profilePath, i);
    if (port->setting.act != 1 || !validate(*port)) continue;
    startPort(*port);
    ports.push_back(std::move(port));
  }
  if (ports.empty()) std::fprintf(stderr, "Quillex: no port is ON in %s\n", profilePath.c_str());
  notifyServiceManager("READY=1");  // every port that can listen listens now

  loop.run();
  for (auto& port : ports) port->repeater.stop();
  ports.clear();
  CAsyncSocket::setEventLoop(nullptr);
  return 0;
}
