#include "base/progress.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "base/runlog.h"

namespace {

using Clock = std::chrono::steady_clock;

bool active = false;
const char* phase = "";
long persons = 0;
long days = 0;
int relay = -1;
Clock::time_point started;
Clock::time_point last_draw;

void Draw() {
  auto now = Clock::now();
  long secs = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(now - started).count());
  std::fprintf(stderr, "\r\033[Kdayset: %s, %ld Personen, %ld Tage, %ld:%02ld", phase, persons, days, secs / 60,
               secs % 60);
  std::fflush(stderr);
  last_draw = now;
}

}  // namespace

void Progress_Init() {
  active = isatty(STDERR_FILENO) == 1;
  persons = 0;
  days = 0;
  phase = "";
  started = Clock::now();
  last_draw = started;
}

bool Progress_Active() { return active; }

void Progress_Phase(const char* name) {
  if (!active) return;
  phase = name;
  Draw();
}

void Progress_Person(long written) {
  ++persons;
  days += written;
  if (relay >= 0) {
    // One short write: a pipe never splits it, so lines of several workers
    // do not mix. A run that is gone loses nothing of the worker's work.
    char line[24];
    const int n = std::snprintf(line, sizeof line, "%ld\n", written);
    if (write(relay, line, static_cast<size_t>(n)) < 0) relay = -1;
  }
  if (!active) return;
  if (Clock::now() - last_draw >= std::chrono::milliseconds(200)) Draw();
}

void Progress_Done() {
  if (!active) return;
  Draw();
  std::fputc('\n', stderr);
}

void Progress_Relay_Set(int fd) { relay = fd; }

void Progress_Relay_Send(const std::string& lines) {
  size_t from = 0;
  while (relay >= 0 && from < lines.size()) {
    // Up to PIPE_BUF bytes, ending after a line end.
    size_t end = std::min(lines.size(), from + static_cast<size_t>(PIPE_BUF));
    if (end < lines.size()) {
      const size_t nl = lines.rfind('\n', end - 1);
      if (nl == std::string::npos || nl < from) return;  // a line longer than PIPE_BUF: not sent
      end = nl + 1;
    }
    const ssize_t n = write(relay, lines.data() + from, end - from);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(end - from)) return;
    from = end;
  }
}

size_t Progress_Relay_Read(const char* bytes, size_t n) {
  size_t used = 0;
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] != '\n') continue;
    if (RunLog_Tally_Take(bytes + used, i - used)) {
      used = i + 1;
      continue;
    }
    long written = 0;
    for (size_t k = used; k < i; ++k) {
      if (bytes[k] >= '0' && bytes[k] <= '9') written = written * 10 + (bytes[k] - '0');
    }
    Progress_Person(written);
    used = i + 1;
  }
  return used;
}

long Progress_Persons() { return persons; }
double Progress_Seconds() { return std::chrono::duration<double>(Clock::now() - started).count(); }
