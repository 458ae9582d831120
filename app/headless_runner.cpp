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
#include <map>
#include <memory>
#include <vector>

#include "app/connection_log.h"
#include "app/service_notify.h"
#include "port/port_check.h"
#include "port/port_setting.h"
#include "port/profile_file.h"
#include "relay/event_loop.h"
#include "relay/tcp_repeater.h"
#include "relay/unique_fd.h"

namespace {

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

// One running port. The log is declared first so that it outlives the
// repeater that reports to it.
struct CHeadlessPort {
  CPortSetting setting;
  std::unique_ptr<CConnectionLog> log;
  CTcpRepeater repeater;
};

std::string listenAddress(const CPortSetting& s) { return s.isListenBind ? s.ipListenBind : "0.0.0.0"; }

// One line on standard error; the section names the port it concerns.
void report(int index, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", portSectionName(index).c_str(), text.c_str());
}

// Everything but the filter, which a running port can take over at once.
bool sameButFilter(const CPortSetting& running, CPortSetting wanted) {
  wanted.filter = running.filter;
  return sameSetting(running, wanted);
}

class CHeadlessRunner {
 public:
  CHeadlessRunner(std::string profilePath, const CHeadlessOptions& options)
      : profilePath_(std::move(profilePath)), options_(options) {}
  ~CHeadlessRunner() { stopAll(); }

  // False when the profile cannot be read (said on standard error).
  bool start();
  void reload();
  void reloadPorts();
  void stopAll() {
    for (auto& [index, port] : ports_) port->repeater.stop();
    ports_.clear();
  }

 private:
  bool readProfile(CProfile& profile, const char* consequence) const;
  // The ports that are ON and within PORTNUM, by index.
  std::map<int, CPortSetting> portsOn(const CProfile& profile) const;
  // The line that says how the start went.
  std::string startPort(int index, const CPortSetting& setting);
  void explainNoPortOn() const;

  std::string profilePath_;
  CHeadlessOptions options_;
  std::map<int, std::unique_ptr<CHeadlessPort>> ports_;
};

bool CHeadlessRunner::readProfile(CProfile& profile, const char* consequence) const {
  int error = 0;
  if (readProfileFile(profilePath_, profile, &error)) return true;
  std::fprintf(stderr, "Quillex: cannot read the profile %s: %s%s\n", profilePath_.c_str(), std::strerror(error),
               consequence);
  return false;
}

std::map<int, CPortSetting> CHeadlessRunner::portsOn(const CProfile& profile) const {
  std::map<int, CPortSetting> on;
  const int count = std::clamp(readSystemSetting(profile).portNum, 1, MAX_PORTS);
  for (int i = 0; i < count; ++i) {
    CPortSetting setting = readPortSetting(profile, i);
    if (setting.act == 1) on.emplace(i, std::move(setting));
  }
  return on;
}

std::string CHeadlessRunner::startPort(int index, const CPortSetting& setting) {
  if (std::string warning = serverWarning(setting); !warning.empty()) report(index, "warning: " + warning);
  auto port = std::make_unique<CHeadlessPort>();
  port->setting = setting;
  const CPortSetting& s = port->setting;
  CTcpRepeater& r = port->repeater;
  if (options_.connectionLog) {
    port->log = std::make_unique<CConnectionLog>(stderr, portSectionName(index), s.forwardHost, s.forwardPort);
    r.setConnectionObserver(port->log.get());
  }
  r.setListener(nullptr);
  r.setBufferSize(s.bufferSize);
  r.setListenBind(s.isListenBind, s.ipListenBind);
  r.setConnectBind(s.isConnectBind, s.ipConnectBind);
  r.setIpFilter(&port->setting.filter);  // read per caller: a reload may replace it in place
  r.setHalfClose(s.halfClose);
  r.start(s.port, s.forwardHost, s.forwardPort);
  char line[512];
  if (r.isListening())
    std::snprintf(line, sizeof line, "relaying %s:%d -> %s (filter mode %d)", listenAddress(s).c_str(), s.port,
                  endpointText(s.forwardHost, s.forwardPort).c_str(), s.filter.mode);
  else
    std::snprintf(line, sizeof line, "cannot listen on %s:%d: %s (error %d)", listenAddress(s).c_str(), s.port,
                  ws::describeError(r.startError()), r.startError());
  ports_[index] = std::move(port);
  return line;
}

bool CHeadlessRunner::start() {
  CProfile profile;
  if (!readProfile(profile, "")) return false;
  for (const auto& [index, setting] : portsOn(profile)) {
    // A server refuses, with one line, a port it could never relay for.
    if (std::string refusal = serverRefusal(setting); !refusal.empty())
      report(index, refusal);
    else
      report(index, startPort(index, setting));
  }
  if (ports_.empty()) explainNoPortOn();
  return true;
}

// Ports are stopped before any is started, so a listen port that moved from
// one section to another is free when its new section starts.
void CHeadlessRunner::reload() {
  std::fprintf(stderr, "Quillex: SIGHUP: reading %s again\n", profilePath_.c_str());
  notifyServiceManager("RELOADING=1");
  reloadPorts();
  notifyServiceManager("READY=1");
}

void CHeadlessRunner::reloadPorts() {
  CProfile profile;
  if (!readProfile(profile, "; every port goes on as it was")) return;
  const std::map<int, CPortSetting> wanted = portsOn(profile);
  std::map<int, const char*> toStart;  // index -> what the start line says it was
  for (int i = 0; i < MAX_PORTS; ++i) {
    auto running = ports_.find(i);
    auto want = wanted.find(i);
    const bool live = running != ports_.end() && running->second->repeater.isListening();
    std::string refusal = want == wanted.end() ? std::string() : serverRefusal(want->second);
    if (want != wanted.end() && refusal.empty()) {
      CHeadlessPort* port = live ? running->second.get() : nullptr;
      if (port && sameSetting(port->setting, want->second)) {
        report(i, "unchanged");
        continue;
      }
      if (port && sameButFilter(port->setting, want->second)) {
        port->setting.filter = want->second.filter;
        report(i, "filter changed (filter mode " + std::to_string(port->setting.filter.mode) +
                      "); connections kept");
        continue;
      }
      toStart[i] = running == ports_.end() ? "started" : "restarted";
    }
    if (running == ports_.end()) {
      if (!refusal.empty()) report(i, refusal);
      continue;
    }
    running->second->repeater.stop();
    ports_.erase(running);
    if (toStart.count(i)) continue;
    report(i, refusal.empty() ? "now OFF; stopped" : refusal + "; stopped");
  }
  for (const auto& [index, how] : toStart) report(index, std::string(how) + "; " + startPort(index, wanted.at(index)));
  if (ports_.empty()) explainNoPortOn();
}

void CHeadlessRunner::explainNoPortOn() const {
  std::fprintf(stderr,
               "Quillex: no port is ON in %s\n"
               "Add a section like this one to it (listen on port 8080, relay to 192.0.2.10 port 80):\n"
               "\n"
               "[TCP-PORT0]\n"
               "ACT=1\n"
               "PORT=8080\n"
               "FORWARDHOST=192.0.2.10\n"
               "FORWARDPORT=80\n"
               "\n"
               "then send SIGHUP (kill -HUP %d) or start Quillex again.\n",
               profilePath_.c_str(), int(getpid()));
}

}  // namespace

int runHeadless(const std::string& profilePath, const CHeadlessOptions& options) {
  CEventLoop loop;
  CHeadlessRunner runner(profilePath, options);
  CSignalEvents signals(loop, [&](int signal) {
    if (signal == SIGHUP)
      runner.reload();
    else
      loop.quit();
  });
  if (!loop.ok() || !signals.ok()) {
    std::fprintf(stderr, "Quillex: the event loop cannot be created\n");
    return 1;
  }
  CAsyncSocket::setEventLoop(&loop);
  int code = 0;
  if (runner.start()) {
    notifyServiceManager("READY=1");  // every port that can listen listens now
    loop.run();
  }
  else
    code = 1;
  runner.stopAll();
  CAsyncSocket::setEventLoop(nullptr);
  return code;
}
