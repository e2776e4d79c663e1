#include "base/stop.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t received = 0;

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void On_Signal(int sig) {
  if (received == 0) received = sig;
}

}  // namespace

void Stop_Install() {
  struct sigaction sa {};
  sa.sa_handler = On_Signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: waitpid and friends return EINTR
  for (int sig : kSignals) sigaction(sig, &sa, nullptr);
}

int Stop_Signal() { return received; }

const char* Stop_Signal_Name(int sig) {
  switch (sig) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "Signal";
  }
}

void Stop_Raise(int sig) {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

void Stop_Reset() { received = 0; }
