// The reactor and the socket layer's delivery rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "relay/async_socket.h"
#include "relay/event_loop.h"
#include "relay/platform/descriptor.h"
#include "tests/loopback.h"
#include "tests/test_system.h"

using namespace loopback;

namespace {

TEST(EventLoopTest, TimersRunOnceInDeadlineOrderAndCanBeCancelled) {
  CEventLoop loop;
  ASSERT_TRUE(loop.ok());
  std::vector<int> fired;
  CTimer late([&] { fired.push_back(30); }), early([&] { fired.push_back(10); }),
      cancelled([&] { fired.push_back(20); });
  loop.schedule(late, 30);
  loop.schedule(early, 10);
  loop.schedule(cancelled, 20);
  cancelled.cancel();
  ASSERT_TRUE(pumpUntil(loop, [&] { return fired.size() == 2; }, 2000));
  EXPECT_EQ(fired, (std::vector<int>{10, 30}));
  EXPECT_LT(pumpFor(loop, 50), 2);  // nothing left armed
}

// Random arming, moving, cancelling and destroying against a sorted model:
// the heap must hand the timers out in deadline order, each once.
TEST(TimerQueueTest, PopsInDeadlineOrderThroughMovesCancelsAndDestruction) {
  CTimerQueue queue;
  std::vector<std::unique_ptr<CTimer>> timers(200);
  std::map<intptr_t, int64_t> model;  // armed timers and their deadlines
  std::mt19937 random(7);
  for (int step = 0; step < 5000; ++step) {
    const intptr_t i = intptr_t(random() % timers.size());
    if (!timers[i]) timers[i] = std::make_unique<CTimer>();
    switch (random() % 3) {
      case 0: queue.schedule(*timers[i], model[i] = int64_t(random() % 1000)); break;
      case 1: queue.cancel(*timers[i]); model.erase(i); break;
      default: timers[i].reset(); model.erase(i); break;
    }
  }
  int64_t last = -1;
  while (CTimer* due = queue.popDue(1000)) {
    const intptr_t i = std::find_if(timers.begin(), timers.end(), [&](auto& t) { return t.get() == due; }) - timers.begin();
    ASSERT_EQ(model.count(i), 1u);
    EXPECT_EQ(due->deadlineMs(), model[i]);
    EXPECT_GE(due->deadlineMs(), last);
    last = due->deadlineMs();
    model.erase(i);
    EXPECT_FALSE(due->armed());
  }
  EXPECT_TRUE(model.empty());
}

// Counts what a descriptor's registration is told.
class CCountingHandler : public CEventHandler {
 public:
  void handleEvents(uint32_t ready) override {
    ++calls;
    last = ready;
    if (onEvent) onEvent();
  }
  int calls = 0;
  uint32_t last = 0;
  std::function<void()> onEvent;
};

// What each backend must do alike: more ready descriptors than one wait
// takes are all served in turn; a registration removed by an earlier handler
// of the batch hears nothing; a reset arrives whatever the interest.
TEST(EventLoopBackendTest, EveryBackendServesAllRemovesAtOnceAndReportsResets) {
  for (const CPoller::Backend& backend : CPoller::backends()) {
    SCOPED_TRACE(backend.name);
    CEventLoop loop(backend.kind);
    ASSERT_TRUE(loop.ok());
    constexpr int kPipes = 300;  // more than one wait hands out
    std::vector<Fd> ends;
    std::vector<CCountingHandler> handlers(kPipes);
    std::vector<CEventLoop::Registration> registrations;
    for (int i = 0; i < kPipes; ++i) {
      Fd readEnd, writeEnd;
      ASSERT_TRUE(platform::makePipe(readEnd, writeEnd, true, true));
      ASSERT_EQ(platform::writeSome(writeEnd.get(), "x", 1), 1);  // stays readable: nobody reads it
      registrations.push_back(loop.add(readEnd.get(), ready::kReadable, &handlers[i]));
      ends.push_back(std::move(readEnd));
      ends.push_back(std::move(writeEnd));
    }
    for (int round = 0; round < 3; ++round) loop.runOnce(0);
    for (int i = 0; i < kPipes; ++i) ASSERT_GT(handlers[i].calls, 0) << "pipe " << i << " was never served";

    // The first handler of the next batch removes every other registration.
    for (auto& h : handlers) h.calls = 0;
    for (int i = 0; i < kPipes; ++i)
      handlers[i].onEvent = [&, i] {
        for (int j = 0; j < kPipes; ++j)
          if (j != i) loop.remove(registrations[j]);
      };
    loop.runOnce(0);
    EXPECT_EQ(std::count_if(handlers.begin(), handlers.end(), [](auto& h) { return h.calls > 0; }), 1);

    uint16_t port = 0;
    Fd listener = listenAny(port), peer = connectTo(port), mine = acceptOne(listener.get(), 5000);
    ASSERT_TRUE(mine);
    CCountingHandler watcher;
    loop.add(mine.get(), 0, &watcher);
    resetOnClose(peer.get());
    peer = Fd();
    ASSERT_TRUE(pumpUntil(loop, [&] { return watcher.calls > 0; }, 2000));
    EXPECT_TRUE(watcher.last & (ready::kHangUp | ready::kError));
  }
}

TEST(EventLoopTest, QuitFromATimerEndsRun) {
  CEventLoop loop;
  CTimer quit([&] { loop.quit(); });
  loop.schedule(quit, 5);
  loop.run();  // returns, or the test times out
  SUCCEED();
}

// Records every notification; the first to run destroys its twin and opens
// a new socket that takes the twin's descriptor number.
class CProbe : public CAsyncSocket {
 public:
  explicit CProbe(CEventLoop& loop) : CAsyncSocket(loop) {}
  void OnReceive(int) override { event("receive"); }
  void OnSend(int) override { event("send"); }
  void OnClose(int) override { event("close"); }
  void event(const char* what) {
    log->push_back(name + " " + what);
    if (onEvent) onEvent();
  }
  std::string name;
  std::vector<std::string>* log = nullptr;
  std::function<void()> onEvent;
};

TEST(AsyncSocketTest, ObjectDestroyedInAHandlerGetsNoQueuedEventEvenWhenItsDescriptorIsReused) {
  CEventLoop loop;
  std::vector<std::string> log;
  CAsyncSocket listener(loop);
  ASSERT_TRUE(listener.Create(0, ws::kSockStream, CAsyncSocket::kAllEvents, "127.0.0.1"));
  ASSERT_EQ(ws::listen(listener.m_hSocket.get(), 5), 0);
  std::string address;
  unsigned port = 0;
  listener.GetSockName(address, port);

  Fd peerX = connectTo(uint16_t(port)), peerY = connectTo(uint16_t(port)), peerZ = connectTo(uint16_t(port));
  std::unique_ptr<CProbe> probes[2] = {std::make_unique<CProbe>(loop), std::make_unique<CProbe>(loop)};
  for (int i = 0; i < 2; ++i) {
    probes[i]->name = i == 0 ? "x" : "y";
    probes[i]->log = &log;
    ASSERT_TRUE(listener.Accept(*probes[i]));
  }
  ASSERT_TRUE(pumpUntil(loop, [&] { return log.size() == 2; }));  // the two OnSend after accept
  log.clear();

  auto reuse = std::make_unique<CProbe>(loop);
  reuse->name = "reuse";
  reuse->log = &log;
  int twinFd = -1;
  bool acted = false;
  for (int i = 0; i < 2; ++i) {
    probes[i]->onEvent = [&, i] {
      if (acted) return;
      acted = true;
      twinFd = probes[1 - i]->m_hSocket.get();
      probes[1 - i].reset();
      ASSERT_TRUE(listener.Accept(*reuse));  // the kernel hands out the lowest free number
    };
  }
  // Both become readable before the loop looks, so both land in one batch.
  ASSERT_TRUE(writeAll(peerX.get(), "x", 1));
  ASSERT_TRUE(writeAll(peerY.get(), "y", 1));
  ASSERT_TRUE(pumpUntil(loop, [&] {
    return testsys::waitReadable(probes[0]->m_hSocket.get(), 0) && testsys::waitReadable(probes[1]->m_hSocket.get(), 0);
  }, 1000));
  loop.runOnce(1000);

  ASSERT_EQ(reuse->m_hSocket.get(), twinFd);
  // Its own OnSend after accept is due; the twin's queued read is not.
  std::erase(log, std::string("reuse send"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0] == "x receive" || log[0] == "y receive");
  probes[0].reset();
  probes[1].reset();
  reuse.reset();
}

// Only a dotted literal binds; an empty or blank text is not "any address".
TEST(AsyncSocketTest, CreateWithABindAddressThatIsNotDottedFailsWithInvalidArgument) {
  CEventLoop loop;
  for (const char* address : {"localhost", "", " ", "127.0.0.1 "}) {
    CAsyncSocket socket(loop);
    EXPECT_FALSE(socket.Create(0, ws::kSockStream, CAsyncSocket::kAllEvents, address)) << '"' << address << '"';
    EXPECT_EQ(ws::WSAGetLastError(), ws::kWSAEINVAL);
    EXPECT_EQ(socket.m_hSocket.get(), ws::kInvalidSocket);
    EXPECT_FALSE(socket.Connect("localhost", 80));  // nothing to connect with
  }
}

}  // namespace
