// A TCP relay on loopback that holds every chunk a client sends for a fixed
// delay before passing it on: each round trip through it takes that much
// longer, as on a network with a distant server.
//
//   dayset-delay-proxy LISTEN_PORT TARGET_PORT DELAY_US SECONDS
//
// Listens on 127.0.0.1:LISTEN_PORT, relays every connection to
// 127.0.0.1:TARGET_PORT (answers at once, requests after DELAY_US
// microseconds) and ends after SECONDS, whatever is open, so that a
// benchmark that fails cannot leave it behind.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long g_delay_us = 1000;

bool Write_All(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Copies from `from` to `to` until either side closes. With a delay, a
// reader stamps each chunk as it arrives and the writer passes it on at its
// stamp plus the delay, so that chunks arriving together leave together.
void Pump(int from, int to, std::chrono::microseconds delay) {
  if (delay.count() == 0) {
    std::vector<char> buf(1 << 16);
    for (;;) {
      const ssize_t n = read(from, buf.data(), buf.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || !Write_All(to, buf.data(), static_cast<size_t>(n))) break;
    }
  } else {
    struct Chunk {
      Clock::time_point due;
      std::vector<char> bytes;
    };
    std::mutex m;
    std::condition_variable cv;
    std::deque<Chunk> queue;
    bool end = false;
    std::thread writer([&] {
      std::unique_lock<std::mutex> lock(m);
      for (;;) {
        cv.wait(lock, [&] { return end || !queue.empty(); });
        if (queue.empty()) break;
        Chunk c = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(c.due);
        const bool ok = Write_All(to, c.bytes.data(), c.bytes.size());
        lock.lock();
        if (!ok) break;
      }
    });
    std::vector<char> buf(1 << 16);
    for (;;) {
      const ssize_t n = read(from, buf.data(), buf.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(m);
      queue.push_back(Chunk{Clock::now() + delay, std::vector<char>(buf.data(), buf.data() + n)});
      cv.notify_one();
    }
    {
      std::lock_guard<std::mutex> lock(m);
      end = true;
      cv.notify_one();
    }
    writer.join();
  }
  shutdown(to, SHUT_WR);
  shutdown(from, SHUT_RD);
}

int Connect_Target(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

void No_Delay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: dayset-delay-proxy LISTEN_PORT TARGET_PORT DELAY_US SECONDS\n");
    return 2;
  }
  const int listen_port = std::atoi(argv[1]), target_port = std::atoi(argv[2]);
  g_delay_us = std::atol(argv[3]);
  const long seconds = std::atol(argv[4]);
  if (listen_port <= 0 || target_port <= 0 || g_delay_us < 0 || seconds <= 0) {
    std::fprintf(stderr, "dayset-delay-proxy: bad argument\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  // The deadline: the process ends, its threads with it.
  std::thread([seconds] {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::fprintf(stderr, "dayset-delay-proxy: %ld s are up\n", seconds);
    _exit(0);
  }).detach();

  const int ls = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(listen_port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (ls < 0 || bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(ls, 64) != 0) {
    std::perror("dayset-delay-proxy: listen");
    return 1;
  }
  for (;;) {
    const int c = accept(ls, nullptr, nullptr);
    if (c < 0) {
      if (errno == EINTR) continue;
      std::perror("dayset-delay-proxy: accept");
      return 1;
    }
    const int s = Connect_Target(target_port);
    if (s < 0) {
      close(c);
      continue;
    }
    No_Delay(c);
    No_Delay(s);
    std::thread([c, s] {
      std::thread back(Pump, s, c, std::chrono::microseconds(0));
      Pump(c, s, std::chrono::microseconds(g_delay_us));
      back.join();
      close(c);
      close(s);
    }).detach();
  }
}
