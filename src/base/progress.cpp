#include "base/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

bool active = false;
const char* phase = "";
long persons = 0;
long days = 0;
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
  if (!active) return;
  if (Clock::now() - last_draw >= std::chrono::milliseconds(200)) Draw();
}

void Progress_Done() {
  if (!active) return;
  Draw();
  std::fputc('\n', stderr);
}

long Progress_Persons() { return persons; }
double Progress_Seconds() { return std::chrono::duration<double>(Clock::now() - started).count(); }
