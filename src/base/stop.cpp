#include "base/stop.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t received = 0;
volatile std::sig_atomic_t at_once = 0;  // the handler ends the process
volatile std::sig_atomic_t log_fd = -1;  // where the at-once line goes besides standard error

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// The at-once stop's lines, made before the handler may need them: the
// handler only writes them.
constexpr char kErrPrefix[] = "dayset: ";
template <size_t kRoom>
struct Line {
  char text[kRoom];
  size_t length;
};
Line<256> log_lines[kSignalCount];
Line<256 + sizeof kErrPrefix> err_lines[kSignalCount];

// Writes all of it or gives up: inside the handler nobody is left to tell
// of a failed write.
void Write_All(int fd, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

void On_Signal(int sig) {
  if (at_once != 0) {
    for (int i = 0; i < kSignalCount; ++i) {
      if (kSignals[i] != sig) continue;
      const int fd = log_fd;
      if (fd >= 0) Write_All(fd, log_lines[i].text, log_lines[i].length);
      Write_All(STDERR_FILENO, err_lines[i].text, err_lines[i].length);
    }
    Stop_Raise(sig);
  }
  if (received == 0) received = sig;
}

void Catch() {
  struct sigaction sa {};
  sa.sa_handler = On_Signal;
  // One handler at a time: a second signal waits until the first's line is
  // written (and then finds the process gone). A standard error whose
  // reader is gone must not end the process by SIGPIPE instead.
  sigemptyset(&sa.sa_mask);
  for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);
  sigaddset(&sa.sa_mask, SIGPIPE);
  sa.sa_flags = 0;  // no SA_RESTART: waitpid and friends return EINTR
  for (int sig : kSignals) sigaction(sig, &sa, nullptr);
}

}  // namespace

void Stop_Install() {
  at_once = 0;
  Catch();
}

void Stop_Install_At_Once(const char* format) {
  for (int i = 0; i < kSignalCount; ++i) {
    auto& log = log_lines[i];
    auto& err = err_lines[i];
    std::snprintf(log.text, sizeof log.text, format, Stop_Signal_Name(kSignals[i]));
    log.length = std::strlen(log.text);
    std::snprintf(err.text, sizeof err.text, "%s%s", kErrPrefix, log.text);
    err.length = std::strlen(err.text);
  }
  at_once = 1;
  Catch();
}

void Stop_Log_Fd(int fd) { log_fd = fd; }

// One store the handler reads whole: a signal before it ends the process,
// one after it sets the flag.
void Stop_Defer() { at_once = 0; }

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
