#include "app/headless_runner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "app/connection_log.h"
#include "app/reload_words.h"
#include "app/service_notify.h"
#include "port/port_check.h"
#include "port/port_setting.h"
#include "port/profile_file.h"
#include "port/repeater_setup.h"
#include "relay/endpoint_text.h"
#include "relay/event_loop.h"
#include "relay/file_change_events.h"
#include "relay/line_output.h"
#include "relay/platform/descriptor.h"
#include "relay/platform/errors.h"
#include "relay/platform/files.h"
#include "relay/platform/signals.h"
#include "relay/signal_events.h"
#include "relay/socket_error_words.h"
#include "relay/tcp_repeater.h"
#include "relay/trace.h"
#include "relay/platform/unique_fd.h"

namespace {

// One running port. The log is declared first so that it outlives the
// repeater that reports to it.
struct CHeadlessPort {
  explicit CHeadlessPort(CEventLoop& loop) : repeater(loop) {}
  CPortSetting setting;
  std::unique_ptr<CConnectionLog> log;
  CTcpRepeater repeater;
};

std::string listenEndpoint(const CPortSetting& s) {
  return listenEndpointText(s.isListenBind != 0, s.ipListenBind, s.listenDual == 1, s.port);
}

// How long the end of the program waits for its outputs' readers.
constexpr int kDrainAtExitMs = 400;
// A reload acts on a profile that read the same twice this far apart, and
// gives up on one that is still changing after the limit.
constexpr int kSettleMs = 300;
constexpr int kSettleLimitMs = 5000;

// The profile as one look at it found it.
struct CProfileLook {
  enum class State { Read, Missing, Unreadable };
  State state = State::Read;
  int error = 0;
  CProfile profile;
  bool sameAs(const CProfileLook& other) const {
    return state == other.state && error == other.error && profile.bytes() == other.profile.bytes();
  }
};

CProfileLook lookAt(const std::string& path) {
  CProfileLook look;
  if (platform::fileIsMissing(path))
    look.state = CProfileLook::State::Missing;
  else if (!readProfileFile(path, look.profile, &look.error))
    look.state = CProfileLook::State::Unreadable;
  return look;
}

void say(CLineSink& out, const std::string& line) {
  const std::string text = line + "\n";
  out.write(text.data(), text.size());
}

// The timeouts in force, for the start line; empty when none is set.
std::string timeoutsInForce(const CPortSetting& s, int keepAliveError) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "; " : ", ") + part; };
  if (s.connectTimeout > 0) add("connect timeout " + std::to_string(s.connectTimeout) + " s");
  if (s.idleTimeout > 0) add("idle timeout " + std::to_string(s.idleTimeout) + " s");
  if (s.keepAlive > 0) {
    const int idle = CAsyncSocket::keepAliveFor(s.keepAlive).idle;
    std::string part = "keepalive " + std::to_string(idle) + " s";
    if (idle != s.keepAlive) part += " (KEEPALIVE=" + std::to_string(s.keepAlive) + " is more than this system takes)";
    if (keepAliveError != 0)
      part += std::string(" not set: ") + ws::describeError(keepAliveError) + " (error " +
              std::to_string(keepAliveError) + ")";
    add(part);
  }
  return text;
}

// Why a server cannot run this port, or empty.
std::string refusalOf(int index, const CPortSetting& setting, const std::map<int, CPortSetting>& on) {
  std::string refusal = serverRefusal(setting);
  return refusal.empty() ? relayLoopRefusal(index, setting, on) : refusal;
}

// Everything but the filter, which a running port can take over at once.
bool sameButFilter(const CPortSetting& running, CPortSetting wanted) {
  wanted.filter = running.filter;
  return sameSetting(running, wanted);
}

class CHeadlessRunner {
 public:
  CHeadlessRunner(CEventLoop& loop, std::string profilePath, const CHeadlessOptions& options, CLineSink& out,
                  CServiceNotifier& notifier)
      : loop_(loop), profilePath_(std::move(profilePath)), options_(options), out_(out), notifier_(notifier) {}
  ~CHeadlessRunner() { stopAll(); }

  // False when the profile cannot be read (said on standard error).
  bool start();
  // SIGHUP, or a change of the profile where the system has no SIGHUP: the
  // profile is read again once it has settled; the requests that come
  // meanwhile are the same reload.
  void requestReload();
  void stopAll() {
    for (auto& [index, port] : ports_) port->repeater.stop();
    ports_.clear();
  }

 private:
  bool readProfile(CProfile& profile, const char* consequence) const;
  void sayUnreadable(int error, const char* consequence) const;
  void lookAgain();
  void reload(const CProfileLook& look);
  void reloadPorts(const CProfile& profile);
  void reportTimeoutWarnings(const CProfile& profile, int index) const;
  void sayPortsBeyondTheLimit(const CProfile& profile) const;
  // The line that says how the start went.
  std::string startPort(int index, const CPortSetting& setting);
  void explainNoPortOn() const;
  // One line; the section names the port it concerns.
  void report(int index, const std::string& text) const { say(out_, portSectionName(index) + ": " + text); }

  CEventLoop& loop_;
  std::string profilePath_;
  CHeadlessOptions options_;
  CLineSink& out_;
  CServiceNotifier& notifier_;
  std::map<int, std::unique_ptr<CHeadlessPort>> ports_;
  // The reload waiting for the profile to settle: its first look's time and
  // the last look.
  bool reloadPending_ = false;
  int64_t reloadAskedMs_ = 0;
  CProfileLook lastLook_;
  CTimer settleTimer_{[this] { lookAgain(); }};
};

bool CHeadlessRunner::readProfile(CProfile& profile, const char* consequence) const {
  int error = 0;
  if (readProfileFile(profilePath_, profile, &error)) return true;
  sayUnreadable(error, consequence);
  return false;
}

void CHeadlessRunner::sayUnreadable(int error, const char* consequence) const {
  say(out_, "Quillex: cannot read the profile " + profilePath_ + ": " + platform::systemErrorText(error) + consequence);
}

std::string CHeadlessRunner::startPort(int index, const CPortSetting& setting) {
  if (std::string warning = serverWarning(setting); !warning.empty()) report(index, "warning: " + warning);
  auto port = std::make_unique<CHeadlessPort>(loop_);
  port->setting = setting;
  const CPortSetting& s = port->setting;
  CTcpRepeater& r = port->repeater;
  if (options_.connectionLog) {
    port->log = std::make_unique<CConnectionLog>(out_, portSectionName(index), s.forwardHost, s.forwardPort);
    r.setConnectionObserver(port->log.get());
  }
  r.setListener(nullptr);
  applyPortSetting(r, port->setting);  // the filter is read per caller: a reload may replace it in place
  char line[1024];
  if (r.isListening())
    std::snprintf(line, sizeof line, "relaying %s -> %s (filter mode %d)%s", listenEndpoint(s).c_str(),
                  endpointText(s.forwardHost, s.forwardPort).c_str(), s.filter.mode,
                  timeoutsInForce(s, r.keepAliveError()).c_str());
  else
    std::snprintf(line, sizeof line, "cannot listen on %s: %s (error %d)", listenEndpoint(s).c_str(),
                  ws::describeError(r.startError()), r.startError());
  ports_[index] = std::move(port);
  return line;
}

bool CHeadlessRunner::start() {
  CProfile profile;
  if (!readProfile(profile, "")) return false;
  sayPortsBeyondTheLimit(profile);
  const std::map<int, CPortSetting> on = readPortsOn(profile);
  for (const auto& [index, setting] : on) {
    // A server refuses, with one line, a port it could never relay for.
    if (std::string refusal = refusalOf(index, setting, on); !refusal.empty()) {
      report(index, refusal);
      continue;
    }
    reportTimeoutWarnings(profile, index);
    report(index, startPort(index, setting));
  }
  if (ports_.empty()) explainNoPortOn();
  return true;
}

void CHeadlessRunner::requestReload() {
  if (reloadPending_) return;
  say(out_, "Quillex: " + reloadCause() + ": reading " + profilePath_ + " again");
  notifier_.notify("RELOADING=1");
  reloadPending_ = true;
  reloadAskedMs_ = loop_.nowMs();
  lastLook_ = lookAt(profilePath_);
  loop_.schedule(settleTimer_, kSettleMs);
}

// A file that is still being written (an editor or script writing it in
// place) must never be acted on: only two looks alike count.
void CHeadlessRunner::lookAgain() {
  CProfileLook look = lookAt(profilePath_);
  if (!look.sameAs(lastLook_)) {
    if (loop_.nowMs() - reloadAskedMs_ < kSettleLimitMs) {
      lastLook_ = std::move(look);
      loop_.schedule(settleTimer_, kSettleMs);
      return;
    }
    say(out_, "Quillex: the profile " + profilePath_ + " kept changing for " + std::to_string(kSettleLimitMs / 1000) +
                  " s; every port goes on as it was (" + reloadAskAgain() + " once it is written)");
  } else {
    reload(look);
  }
  reloadPending_ = false;
  notifier_.notify("READY=1");
}

void CHeadlessRunner::reload(const CProfileLook& look) {
  // An editor that removes the file before writing it anew must not stop
  // every port: only a profile that is there says what to run.
  if (look.state == CProfileLook::State::Missing) {
    say(out_, "Quillex: the profile " + profilePath_ + " is missing; every port goes on as it was");
    return;
  }
  if (look.state == CProfileLook::State::Unreadable) {
    sayUnreadable(look.error, "; every port goes on as it was");
    return;
  }
  reloadPorts(look.profile);
}

// Ports are stopped before any is started, so a listen port that moved from
// one section to another is free when its new section starts.
void CHeadlessRunner::reloadPorts(const CProfile& profile) {
  sayPortsBeyondTheLimit(profile);
  const std::map<int, CPortSetting> wanted = readPortsOn(profile);
  std::map<int, const char*> toStart;  // index -> what the start line says it was
  for (int i = 0; i < MAX_PORTS; ++i) {
    auto running = ports_.find(i);
    auto want = wanted.find(i);
    const bool live = running != ports_.end() && running->second->repeater.isListening();
    std::string refusal = want == wanted.end() ? std::string() : refusalOf(i, want->second, wanted);
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
  for (const auto& [index, how] : toStart) {
    reportTimeoutWarnings(profile, index);
    report(index, std::string(how) + "; " + startPort(index, wanted.at(index)));
  }
  if (ports_.empty()) explainNoPortOn();
}

// A PORTNUM beyond what runs is refused for the ports beyond, in one line.
void CHeadlessRunner::sayPortsBeyondTheLimit(const CProfile& profile) const {
  const int portNum = readSystemSetting(profile).portNum;
  if (portNum <= MAX_PORTS) return;
  say(out_, "Quillex: PORTNUM=" + std::to_string(portNum) + " is more than " + std::to_string(MAX_PORTS) +
                " ports: " + portSectionName(MAX_PORTS) + " and above are not started");
}

void CHeadlessRunner::reportTimeoutWarnings(const CProfile& profile, int index) const {
  for (const std::string& warning : timeoutWarnings(profile, index)) report(index, "warning: " + warning);
}

void CHeadlessRunner::explainNoPortOn() const {
  say(out_, "Quillex: no port is ON in " + profilePath_ +
                "\n"
                "Add a section like this one to it (listen on port 8080, relay to 192.0.2.10 port 80):\n"
                "\n"
                "[TCP-PORT0]\n"
                "ACT=1\n"
                "PORT=8080\n"
                "FORWARDHOST=192.0.2.10\n"
                "FORWARDPORT=80\n"
                "\n"
                "then " + reloadHowTo(platform::processId()) + " or start Quillex again.");
}

}  // namespace

int runHeadless(const std::string& profilePath, const CHeadlessOptions& options, CMemoryReserve* reserve) {
  CEventLoop loop;
  loop.setMemoryReserve(reserve);
  // Neither output may ever hold the loop up: a reader that stops reading
  // costs lines, never relaying.
  CLineOutput errors(options.output >= 0 ? options.output : platform::standardError(), &connectionLogDroppedLine);
  CLineOutput traceOutput(platform::standardOutput(), &trace::droppedLine);
  errors.attach(&loop);
  traceOutput.attach(&loop);
  trace::setOutput(&traceOutput);
  CServiceNotifier notifier(&loop);
  CHeadlessRunner runner(loop, profilePath, options, errors, notifier);
  CSignalEvents signals(loop, [&](CSignalEvents::Signal signal) {
    if (signal == CSignalEvents::Signal::HangUp)
      runner.requestReload();
    else
      loop.quit();
  });
  // Where no SIGHUP reaches the process, saving the profile asks for the reload.
  CFileChangeEvents profileChanges(loop, profilePath, [&] { runner.requestReload(); });
  if (const int error = profileChanges.error(); error != 0)
    say(errors, "Quillex: cannot watch " + profilePath + " for changes: " + platform::systemErrorText(error) +
                    "; it is read again only when Quillex starts again");
  int code = 1;
  if (!loop.ok() || !signals.ok()) {
    say(errors, "Quillex: the event loop cannot be created");
  } else {
    if (runner.start()) {
      notifier.notify("READY=1");  // every port that can listen listens now
      loop.run();
      code = 0;
    }
    runner.stopAll();
  }
  // The last lines get a short while, never longer: the end must not wait
  // for a reader that does not read.
  errors.drain(kDrainAtExitMs);
  traceOutput.drain(kDrainAtExitMs / 2);
  trace::setOutput(nullptr);
  return code;
}
