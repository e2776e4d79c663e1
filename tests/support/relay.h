// A TCP relay on loopback for tests of what crosses a network: it passes a
// database server's connections through until told to freeze, then keeps
// them open and passes nothing more, as a proxy whose far side hangs (the
// kernel goes on acknowledging what fits its buffers, so no keepalive or
// TCP user timeout sees it).
#pragma once

#include <atomic>
#include <thread>
#include <vector>

namespace testdb {

// A listening socket on 127.0.0.1 at a free port (*port), or -1. It takes
// connections (the kernel completes them) but nobody need ever answer.
int Listen(int* port);

class Relay {
 public:
  // Relays every connection to 127.0.0.1:target_port.
  explicit Relay(int target_port);
  // Closes every connection: the server then sees its client gone.
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;
  int port() const { return port_; }
  // From its return on, nothing more is passed on either way.
  void Freeze();

 private:
  void Loop();
  void Accept();

  int target_;
  int listen_ = -1;
  int port_ = 0;
  std::vector<int> fds_;  // pairs: a client, then its server connection
  std::vector<char> eof_;  // per fd: it has ended (its peer was told)
  std::atomic<int> frozen_{0};  // 1 asked for, 2 in force
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace testdb
