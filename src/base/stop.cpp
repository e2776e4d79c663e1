#include "base/stop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <csignal>
#include <string>
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
static_assert(kSignalCount == kStopSignals);

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

// The at-once stop's files (Stop_At_Once_File). `ready` is cleared while a
// slot is being changed, so that the handler never reads one half made.
struct AtOnceFile {
  std::string path, temp;
  double start = 0;
  std::string texts[kSignalCount];
};
AtOnceFile files[kStopFiles];
volatile std::sig_atomic_t files_ready[kStopFiles] = {};

// Decimal digits of v (at least `width`, zero-padded) into buf; returns
// their number.
size_t Digits(char* buf, unsigned long long v, size_t width) {
  char tmp[24];
  size_t n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < sizeof tmp);
  while (n < width && n < sizeof tmp) tmp[n++] = '0';
  for (size_t i = 0; i < n; ++i) buf[i] = tmp[n - 1 - i];
  return n;
}

// Milliseconds as "S.mmm".
size_t Seconds_Text(char* buf, long long ms) {
  if (ms < 0) ms = 0;
  size_t n = Digits(buf, static_cast<unsigned long long>(ms / 1000), 1);
  buf[n++] = '.';
  return n + Digits(buf + n, static_cast<unsigned long long>(ms % 1000), 3);
}

// "yyyy-mm-ddThh:mm:ssZ" of a time since the epoch (days to the civil
// date by the usual era arithmetic: no library call is safe here).
size_t Iso_Text(char* buf, long long secs) {
  if (secs < 0) secs = 0;
  const long long days = secs / 86400, rest = secs % 86400;
  const long long z = days + 719468, era = z / 146097, doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  size_t n = Digits(buf, static_cast<unsigned long long>(y), 4);
  const long long parts[] = {m, d, rest / 3600, rest / 60 % 60, rest % 60};
  const char seps[] = {'-', '-', 'T', ':', ':'};
  for (int i = 0; i < 5; ++i) {
    buf[n++] = seps[i];
    n += Digits(buf + n, static_cast<unsigned long long>(parts[i]), 2);
  }
  buf[n++] = 'Z';
  return n;
}

void Write_File(const AtOnceFile& f, int i) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const long long end_ms = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  unlink(f.temp.c_str());
  const int fd = open(f.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return;
  fchmod(fd, 0644);
  const std::string& text = f.texts[i];
  size_t from = 0;
  for (size_t k = 0; k <= text.size(); ++k) {
    const char c = k < text.size() ? text[k] : '\0';
    if (k < text.size() && c != kStopMarkEnd && c != kStopMarkDuration && c != kStopMarkIsoEnd) continue;
    Write_All(fd, text.data() + from, k - from);
    from = k + 1;
    char value[40];
    size_t n = 0;
    if (c == kStopMarkEnd) n = Seconds_Text(value, end_ms);
    if (c == kStopMarkDuration) n = Seconds_Text(value, end_ms - static_cast<long long>(f.start * 1000));
    if (c == kStopMarkIsoEnd) n = Iso_Text(value, end_ms / 1000);
    Write_All(fd, value, n);
  }
  const bool ok = fsync(fd) == 0;
  close(fd);
  if (ok) {
    rename(f.temp.c_str(), f.path.c_str());
  } else {
    unlink(f.temp.c_str());
  }
}

void On_Signal(int sig) {
  if (at_once != 0) {
    for (int i = 0; i < kSignalCount; ++i) {
      if (kSignals[i] != sig) continue;
      const int fd = log_fd;
      if (fd >= 0) Write_All(fd, log_lines[i].text, log_lines[i].length);
      Write_All(STDERR_FILENO, err_lines[i].text, err_lines[i].length);
      for (int f = 0; f < kStopFiles; ++f) {
        if (files_ready[f] != 0) Write_File(files[f], i);
      }
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

void Stop_At_Once_File(int slot, const char* path, const char* temp, double start, const char* const texts[]) {
  if (slot < 0 || slot >= kStopFiles) return;
  files_ready[slot] = 0;
  AtOnceFile& f = files[slot];
  f.path = path;
  f.temp = temp;
  f.start = start;
  for (int i = 0; i < kSignalCount; ++i) f.texts[i] = texts[i];
  files_ready[slot] = 1;
}

int Stop_Signal_At(int i) { return i >= 0 && i < kSignalCount ? kSignals[i] : 0; }

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
