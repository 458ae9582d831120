#include "tests/fake_name_server.h"

#include <algorithm>
#include <cctype>

#include "tests/test_system.h"

namespace {

// The question's name in dotted form, lower case; empty when malformed.
std::string questionName(const unsigned char* packet, size_t size, size_t& end) {
  std::string name;
  size_t pos = 12;
  while (pos < size && packet[pos] != 0) {
    size_t length = packet[pos++];
    if (length > 63 || pos + length > size) return std::string();
    if (!name.empty()) name += '.';
    for (size_t i = 0; i < length; ++i) name += char(std::tolower(packet[pos + i]));
    pos += length;
  }
  end = pos + 1 + 4;  // the terminating zero, type and class
  return end <= size ? name : std::string();
}

constexpr int kTypeA = 1;
constexpr int kTypeAAAA = 28;

int questionType(const std::vector<unsigned char>& packet) {
  size_t end = 0;
  if (questionName(packet.data(), packet.size(), end).empty()) return 0;
  return packet[end - 4] << 8 | packet[end - 3];
}

}  // namespace

CFakeNameServer::CFakeNameServer() {
  fd_.reset(testsys::openSocket(AF_INET, SOCK_DGRAM));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t length = sizeof sa;
  getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&sa), &length);
  port_ = ntohs(sa.sin_port);
  thread_ = std::thread([this] { serve(); });
}

CFakeNameServer::~CFakeNameServer() {
  stop_ = true;
  thread_.join();
}

void CFakeNameServer::answer(const std::string& name, const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[name].push_back(address);
}

void CFakeNameServer::hold(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_.insert(name);
}

void CFakeNameServer::dropIPv6(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  droppedIPv6_.insert(name);
}

int CFakeNameServer::queries(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return queries_[name];
}

bool CFakeNameServer::releaseOne(const std::string& name, const std::string& address) {
  std::vector<Query> released;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& waiting = waiting_[name];
    for (int type : {kTypeA, kTypeAAAA}) {
      auto it = std::find_if(waiting.begin(), waiting.end(),
                             [type](const Query& q) { return questionType(q.packet) == type; });
      if (it == waiting.end()) continue;
      released.push_back(*it);
      waiting.erase(it);
    }
  }
  const std::vector<std::string> addresses{address};
  for (const Query& query : released) reply(query, &addresses);
  return !released.empty();
}

void CFakeNameServer::serve() {
  unsigned char packet[512];
  while (!stop_) {
    if (!testsys::waitReadable(fd_.get(), 20)) continue;
    Query query{};
    const long n = testsys::receiveDatagram(fd_.get(), packet, sizeof packet, query.from);
    if (n < 12) continue;
    query.packet.assign(packet, packet + n);
    handle(query);
  }
}

void CFakeNameServer::handle(const Query& query) {
  size_t end = 0;
  std::string name = questionName(query.packet.data(), query.packet.size(), end);
  std::vector<std::string> addresses;
  bool known = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++queries_[name];
    if (questionType(query.packet) == kTypeAAAA && droppedIPv6_.count(name)) return;
    if (held_.count(name)) {
      waiting_[name].push_back(query);
      return;
    }
    auto it = answers_.find(name);
    known = it != answers_.end();
    if (known) addresses = it->second;
  }
  reply(query, known ? &addresses : nullptr);
}

// The name's addresses of the asked family; null answers "no such name".
void CFakeNameServer::reply(const Query& query, const std::vector<std::string>* addresses) {
  size_t end = 0;
  questionName(query.packet.data(), query.packet.size(), end);
  const int type = questionType(query.packet);
  std::vector<unsigned char> records;
  int count = 0;
  for (const std::string& address : addresses ? *addresses : std::vector<std::string>{}) {
    unsigned char raw[16];
    const int family = type == kTypeAAAA ? AF_INET6 : AF_INET;
    if (inet_pton(family, address.c_str(), raw) != 1) continue;
    const unsigned char size = family == AF_INET6 ? 16 : 4;
    const unsigned char record[] = {0xC0, 0x0C, 0, (unsigned char)type, 0, 1, 0, 0, 0, 60, 0, size};
    records.insert(records.end(), record, record + sizeof record);
    records.insert(records.end(), raw, raw + size);
    ++count;
  }
  std::vector<unsigned char> answer(query.packet.begin(), query.packet.begin() + long(end));
  answer[2] = 0x81;                       // a response, recursion desired
  answer[3] = addresses ? 0x80 : 0x83;    // recursion available; no such name
  answer[4] = 0, answer[5] = 1;           // one question
  answer[6] = 0, answer[7] = (unsigned char)count;
  for (size_t i = 8; i < 12; ++i) answer[i] = 0;
  answer.insert(answer.end(), records.begin(), records.end());
  testsys::sendDatagram(fd_.get(), answer.data(), answer.size(), query.from);
}
