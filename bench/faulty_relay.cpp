// A deliberately faulty relay that proves the load generator notices lost and
// corrupted bytes. Thread per direction, blocking sockets, loopback only.
//
//   faulty_relay LISTEN_PORT DEST_PORT none|corrupt|truncate
//     none      relays honestly, passing a half close on
//     corrupt   flips one bit at byte 5000 of every direction
//     truncate  drops the last piece read before each end of stream
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

enum class Fault { None, Corrupt, Truncate };
Fault gFault = Fault::None;
constexpr size_t kFlipAt = 5000;

bool writeAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

void pump(int from, int to) {
  std::vector<char> buf(64 * 1024), held;
  size_t total = 0;
  for (;;) {
    ssize_t r = recv(from, buf.data(), buf.size(), 0);
    if (r <= 0) break;
    if (gFault == Fault::Corrupt && total <= kFlipAt && kFlipAt < total + size_t(r))
      buf[kFlipAt - total] ^= 1;
    total += size_t(r);
    if (gFault == Fault::Truncate) {
      // Forward the previous piece; the newest waits, and is lost at the end.
      if (!held.empty() && !writeAll(to, held.data(), held.size())) break;
      held.assign(buf.data(), buf.data() + r);
    } else if (!writeAll(to, buf.data(), size_t(r))) {
      break;
    }
  }
  shutdown(to, SHUT_WR);
}

int connectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  close(fd);
  return -1;
}

void serve(int client, int destPort) {
  int dest = connectTo(destPort);
  if (dest >= 0) {
    std::thread back(pump, dest, client);
    pump(client, dest);
    back.join();
    close(dest);
  }
  close(client);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: faulty_relay LISTEN_PORT DEST_PORT none|corrupt|truncate\n");
    return 1;
  }
  prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test that started us
  std::signal(SIGPIPE, SIG_IGN);
  std::string f = argv[3];
  gFault = f == "corrupt" ? Fault::Corrupt : f == "truncate" ? Fault::Truncate : Fault::None;
  int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(std::atoi(argv[1])));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(lfd, 512) != 0) {
    perror("faulty_relay");
    return 1;
  }
  const int destPort = std::atoi(argv[2]);
  for (;;) {
    int c = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c >= 0) std::thread(serve, c, destPort).detach();
  }
}
