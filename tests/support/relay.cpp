#include "relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

namespace testdb {

// A listening socket on 127.0.0.1 at a free port.
int Listen(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ADD_FAILURE() << "no listening socket";
    if (fd >= 0) close(fd);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return fd;
}

Relay::Relay(int target_port) : target_(target_port) {
  listen_ = Listen(&port_);
  thread_ = std::thread([this] { Loop(); });
}

void Relay::Freeze() {
  frozen_ = 1;
  while (frozen_ != 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Relay::~Relay() {
  done_ = true;
  thread_.join();
  for (int fd : fds_) close(fd);
  if (listen_ >= 0) close(listen_);
}

void Relay::Loop() {
  while (!done_) {
    std::vector<pollfd> p{{listen_, POLLIN, 0}};
    std::vector<size_t> which;  // p[i + 1] is fds_[which[i]]
    if (frozen_ != 0) frozen_ = 2;
    if (frozen_ == 0) {
      for (size_t k = 0; k < fds_.size(); ++k) {
        if (eof_[k]) continue;
        p.push_back({fds_[k], POLLIN, 0});
        which.push_back(k);
      }
    }
    if (poll(p.data(), p.size(), 50) <= 0) continue;
    if (p[0].revents & POLLIN) Accept();
    for (size_t i = 1; i < p.size(); ++i) {
      if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const size_t k = which[i - 1];
      const int peer = fds_[k ^ 1];
      char buf[65536];
      const ssize_t n = read(fds_[k], buf, sizeof buf);
      if (n <= 0) {
        eof_[k] = 1;
        shutdown(peer, SHUT_WR);
        continue;
      }
      for (ssize_t off = 0; off < n;) {
        const ssize_t w = write(peer, buf + off, static_cast<size_t>(n - off));
        if (w <= 0) break;
        off += w;
      }
    }
  }
}

void Relay::Accept() {
  const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return;
  const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(target_));
  if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(client);
    if (server >= 0) close(server);
    return;
  }
  fds_.push_back(client);
  fds_.push_back(server);
  eof_.push_back(0);
  eof_.push_back(0);
}

}  // namespace testdb
