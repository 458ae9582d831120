// The name service of Windows: the system's own asynchronous lookup
// (GetAddrInfoExW with a completion routine). The routine runs on a thread
// of the system's; it only hands the finished query to the loop, through a
// list and a socket pair whose read end the loop watches. The wide form
// only: the narrow one is not asynchronous everywhere.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <map>
#include <mutex>
#include <vector>

#include "relay/event_loop.h"
#include "relay/name_service.h"
#include "relay/platform/descriptor.h"
#include "relay/platform/unique_fd.h"
#include "relay/platform/windows_system.h"

// In the system's library, though Debian's MinGW headers do not declare it.
extern "C" INT WSAAPI GetAddrInfoExCancel(LPHANDLE lpHandle);

namespace {

class CQuery;

// What the completion routine may touch: the list of finished queries and
// the socket that wakes the loop for them. Shared by the service and every
// query under way, so a query that finishes after the service went finds it
// closed and frees itself.
class CMailbox {
 public:
  explicit CMailbox(CUniqueFd writeEnd) : writeEnd_(std::move(writeEnd)) {}
  ~CMailbox() { close(); }
  // False once closed: the query is the caller's to free.
  bool post(CQuery* query);
  std::vector<CQuery*> take() {
    std::lock_guard<std::mutex> hold(mutex_);
    return std::exchange(finished_, {});
  }
  void close();

 private:
  std::mutex mutex_;
  CUniqueFd writeEnd_;
  std::vector<CQuery*> finished_;
  bool open_ = true;
};

// One lookup from its start to its answer. The system holds it (through
// `overlapped`) while it is under way, then the mailbox, then the service.
class CQuery {
 public:
  CQuery(CNameService::QueryId id, int family, std::shared_ptr<CMailbox> mailbox)
      : id(id), family(family), mailbox(std::move(mailbox)) {}
  ~CQuery() {
    if (result) FreeAddrInfoExW(result);
  }
  // The routine is handed the address of `overlapped`, the first member of
  // a plain struct, and finds the query through it.
  struct Pending {
    OVERLAPPED overlapped;
    CQuery* query;
  } pending{{}, this};
  const CNameService::QueryId id;
  const int family;
  const std::shared_ptr<CMailbox> mailbox;
  ADDRINFOEXW* result = nullptr;
  HANDLE cancelHandle = nullptr;
  DWORD error = 0;
};

bool CMailbox::post(CQuery* query) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!open_) return false;
  finished_.push_back(query);
  // One byte for a list that was empty: the loop takes the whole list.
  if (finished_.size() == 1) {
    const char one = 1;
    platform::writeSome(writeEnd_.get(), &one, 1);
  }
  return true;
}

void CMailbox::close() {
  std::lock_guard<std::mutex> hold(mutex_);
  open_ = false;
  for (CQuery* query : finished_) delete query;
  finished_.clear();
  writeEnd_.reset();
}

void CALLBACK onComplete(DWORD error, DWORD, OVERLAPPED* overlapped) {
  CQuery* query = reinterpret_cast<CQuery::Pending*>(overlapped)->query;
  query->error = error;
  if (!query->mailbox->post(query)) delete query;
}

// These headers declare the routine's parameter as a plain pointer.
LPLOOKUPSERVICE_COMPLETION_ROUTINE completionRoutine() {
  return reinterpret_cast<LPLOOKUPSERVICE_COMPLETION_ROUTINE>(&onComplete);
}

bool firstOfFamily(const ADDRINFOEXW* result, int family, std::string& address) {
  // These headers name the next node's type apart from the node's own.
  for (const ADDRINFOEXW* node = result; node; node = reinterpret_cast<const ADDRINFOEXW*>(node->ai_next)) {
    if (node->ai_family != family || !node->ai_addr) continue;
    char text[INET6_ADDRSTRLEN];
    const void* raw = family == AF_INET ? static_cast<const void*>(
                                              &reinterpret_cast<const sockaddr_in*>(node->ai_addr)->sin_addr)
                                        : &reinterpret_cast<const sockaddr_in6*>(node->ai_addr)->sin6_addr;
    if (!inet_ntop(family, raw, text, sizeof text)) continue;
    address = text;
    return true;
  }
  return false;
}

CNameService::CAnswer answerOf(const CQuery& query, std::string& address) {
  if (query.error == NO_ERROR)
    return firstOfFamily(query.result, query.family, address) ? CNameService::CAnswer::Found
                                                              : CNameService::CAnswer::NoneOfFamily;
  // The name is unknown or has no address of the family: an answer, not a silence.
  if (query.error == WSAHOST_NOT_FOUND || query.error == WSANO_DATA) return CNameService::CAnswer::NoneOfFamily;
  return CNameService::CAnswer::Failed;
}

class CWindowsNameService : public CNameService, private CEventHandler {
 public:
  explicit CWindowsNameService(CEventLoop& loop) : loop_(loop) {}
  ~CWindowsNameService() override;
  bool open();

  QueryId ask(const std::string& host, int family, Done done) override;
  void cancel(QueryId id) override;

 private:
  void handleEvents(uint32_t) override;
  void finish(std::unique_ptr<CQuery> query);

  CEventLoop& loop_;
  CUniqueFd readEnd_;
  std::shared_ptr<CMailbox> mailbox_;
  CEventLoop::Registration registration_ = 0;
  // The queries under way (the system holds them) and their callbacks.
  struct Waiting {
    CQuery* query;
    Done done;
  };
  std::map<QueryId, Waiting> waiting_;
  QueryId nextId_ = 1;
};

bool CWindowsNameService::open() {
  CUniqueFd writeEnd;
  if (!platform::makePipe(readEnd_, writeEnd, true, true)) return false;
  mailbox_ = std::make_shared<CMailbox>(std::move(writeEnd));
  registration_ = loop_.add(readEnd_.get(), ready::kReadable, this);
  return registration_ != 0;
}

// The queries still under way are cancelled; each frees itself when the
// system hands it back to a closed mailbox.
CWindowsNameService::~CWindowsNameService() {
  loop_.remove(registration_);
  for (auto& [id, waiting] : waiting_) GetAddrInfoExCancel(&waiting.query->cancelHandle);
  if (mailbox_) mailbox_->close();
}

CNameService::QueryId CWindowsNameService::ask(const std::string& host, int family, Done done) {
  const QueryId id = nextId_++;
  auto query = std::make_unique<CQuery>(id, family, mailbox_);
  ADDRINFOEXW hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  const INT started = GetAddrInfoExW(platform::wide(host).c_str(), nullptr, NS_ALL, nullptr, &hints, &query->result, nullptr,
                                     &query->pending.overlapped, completionRoutine(), &query->cancelHandle);
  if (started == WSA_IO_PENDING) {
    waiting_.emplace(id, Waiting{query.release(), std::move(done)});
    return id;
  }
  // Answered at once: the routine is not called.
  query->error = DWORD(started);
  std::string address;
  const CAnswer answer = answerOf(*query, address);
  done(answer, address);
  return 0;
}

void CWindowsNameService::cancel(QueryId id) {
  auto it = waiting_.find(id);
  if (it == waiting_.end()) return;
  it->second.done = nullptr;  // the query itself comes back, and goes then
  GetAddrInfoExCancel(&it->second.query->cancelHandle);
}

void CWindowsNameService::handleEvents(uint32_t) {
  char drained[64];
  while (platform::readSome(readEnd_.get(), drained, sizeof drained) > 0) {
  }
  for (CQuery* query : mailbox_->take()) finish(std::unique_ptr<CQuery>(query));
}

void CWindowsNameService::finish(std::unique_ptr<CQuery> query) {
  auto it = waiting_.find(query->id);
  if (it == waiting_.end()) return;
  Done done = std::move(it->second.done);
  waiting_.erase(it);
  if (!done) return;  // cancelled
  std::string address;
  const CAnswer answer = answerOf(*query, address);
  done(answer, address);
}

}  // namespace

std::unique_ptr<CNameService> CNameService::create(CEventLoop& loop) {
  auto service = std::make_unique<CWindowsNameService>(loop);
  if (!service->open()) return nullptr;
  return service;
}
