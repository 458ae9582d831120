#include "relay/platform/windows_console.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "relay/platform/windows_system.h"

namespace platform {
namespace {

// What waits for the console at most: whole lines beyond it wait in the
// caller's own queue, or are dropped and counted there.
constexpr size_t kCapacity = 65536;
// The lines of the program's end get this long to reach a console that takes them.
constexpr int kAtExitMs = 400;

// How many bytes of the text end in a whole UTF-8 character: a line cut at
// the caller's chunk size may end inside one.
size_t wholeCharacters(const std::string& text) {
  size_t end = text.size();
  for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (length > back) end = text.size() - back;
    break;
  }
  return end;
}

// One console and the thread that writes to it. The text is UTF-8; the
// console is given it as UTF-16, so it shows whatever its code page.
class CConsoleWriter {
 public:
  explicit CConsoleWriter(HANDLE console) : console_(console), thread_([this] { run(); }) { thread_.detach(); }

  long take(const char* data, size_t size) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (gone_) return -1;
    const size_t taken = std::min(size, kCapacity - std::min(kCapacity, pending_.size()));
    pending_.append(data, taken);
    if (taken > 0) changed_.notify_all();
    return long(taken);
  }

  bool waitWritten(int timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return pending_.empty() || gone_; });
  }

 private:
  void run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      changed_.wait(hold, [this] { return wholeCharacters(pending_) > 0; });
      const std::string chunk = pending_.substr(0, wholeCharacters(pending_));
      hold.unlock();
      const std::wstring text = wide(chunk);
      DWORD written = 0;
      const bool wrote = WriteConsoleW(console_, text.data(), DWORD(text.size()), &written, nullptr) != 0;
      hold.lock();
      pending_.erase(0, chunk.size());
      if (!wrote) {
        gone_ = true;
        pending_.clear();
      }
      changed_.notify_all();
      if (gone_) return;
    }
  }

  HANDLE console_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;  // handed over, not yet written
  bool gone_ = false;
  std::thread thread_;
};

// The process's consoles (standard output and error at most), each with its
// writer for the rest of the process: a writer may be writing when the
// program ends. Made on the relay's thread only.
std::map<HANDLE, CConsoleWriter*>* gWriters = nullptr;

void waitAtExit() {
  for (auto& [console, writer] : *gWriters) writer->waitWritten(kAtExitMs);
}

CConsoleWriter& writerFor(HANDLE console) {
  if (!gWriters) {
    gWriters = new std::map<HANDLE, CConsoleWriter*>;
    std::atexit(waitAtExit);
  }
  CConsoleWriter*& writer = (*gWriters)[console];
  if (!writer) writer = new CConsoleWriter(console);
  return *writer;
}

}  // namespace

long writeConsoleSoon(HANDLE console, const char* data, size_t size) { return writerFor(console).take(data, size); }

bool waitConsoleWritten(HANDLE console, int timeoutMs) { return writerFor(console).waitWritten(timeoutMs); }

}  // namespace platform
