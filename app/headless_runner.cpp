#include "app/headless_runner.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "port/port_check.h"
#include "port/port_setting.h"
#include "port/profile_file.h"
#include "relay/event_loop.h"
#include "relay/tcp_repeater.h"
#include "relay/unique_fd.h"

namespace {

struct CHeadlessPort {
  int index = 0;
  CPortSetting setting;
  CTcpRepeater repeater;
};

// SIGINT, SIGTERM and SIGHUP as ordinary events of the loop, read from a
// signalfd; the signals are blocked so that nothing else takes them.
class CSignalEvents : public CEventHandler {
 public:
  CSignalEvents(CEventLoop& loop, std::function<void(int)> handler) : loop_(loop), handler_(std::move(handler)) {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    fd_.reset(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (fd_ && !loop_.add(fd_.get(), EPOLLIN, this)) fd_.reset();
  }
  ~CSignalEvents() {
    if (fd_) loop_.remove(fd_.get());
  }
  bool ok() const { return bool(fd_); }
  void handleEvents(uint32_t) override {
    signalfd_siginfo info;
    while (read(fd_.get(), &info, sizeof info) == ssize_t(sizeof info)) handler_(int(info.ssi_signo));
  }

 private:
  CEventLoop& loop_;
  std::function<void(int)> handler_;
  CUniqueFd fd_;
};

std::string listenAddress(const CPortSetting& s) { return s.isListenBind ? s.ipListenBind : "0.0.0.0"; }

// One line on standard error; the section names the port it concerns.
void report(int index, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", portSectionName(index).c_str(), text.c_str());
}

// A server refuses, with one line, a port it could never relay for.
bool validate(const CHeadlessPort& p) {
  if (std::string refusal = serverRefusal(p.setting); !refusal.empty()) {
    report(p.index, refusal);
    return false;
  }
  if (std::string warning = serverWarning(p.setting); !warning.empty()) report(p.index, "warning: " + warning);
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
  char line[512];
  if (r.isListening())
    std::snprintf(line, sizeof line, "relaying %s:%d -> %s:%d (filter mode %d)", listenAddress(s).c_str(), s.port,
                  s.forwardHost.c_str(), s.forwardPort, s.filter.mode);
  else
    std::snprintf(line, sizeof line, "cannot listen on %s:%d: %s (error %d)", listenAddress(s).c_str(), s.port,
                  ws::describeError(r.startError()), r.startError());
  report(p.index, line);
}

void onSignal(CEventLoop& loop, int signal) {
  if (signal != SIGHUP) {
    loop.quit();
    return;
  }
  // Closing the terminal must not end a relay that others depend on.
  std::fprintf(stderr, "Quillex: SIGHUP received; the relay goes on\n");
}

}  // namespace

int runHeadless(const std::string& profilePath) {
  CEventLoop loop;
  CSignalEvents signals(loop, [&loop](int signal) { onSignal(loop, signal); });
  if (!loop.ok() || !signals.ok()) {
    std::fprintf(stderr, "Quillex: the event loop cannot be created\n");
    return 1;
  }
  CProfile profile;
  int error = 0;
  if (!readProfileFile(profilePath, profile, &error)) {
    std::fprintf(stderr, "Quillex: cannot read the profile %s: %s\n", profilePath.c_str(), std::strerror(error));
    return 1;
  }
  CAsyncSocket::setEventLoop(&loop);
  int count = std::clamp(readSystemSetting(profile).portNum, 1, MAX_PORTS);
  std::vector<std::unique_ptr<CHeadlessPort>> ports;
  for (int i = 0; i < count; ++i) {
    auto port = std::make_unique<CHeadlessPort>();
    port->index = i;
    port->setting = readPortSetting(profile, i);
    if (port->setting.act != 1 || !validate(*port)) continue;
    startPort(*port);
    ports.push_back(std::move(port));
  }
  if (ports.empty()) std::fprintf(stderr, "Quillex: no port is ON in %s\n", profilePath.c_str());

  loop.run();
  for (auto& port : ports) port->repeater.stop();
  ports.clear();
  CAsyncSocket::setEventLoop(nullptr);
  return 0;
}
