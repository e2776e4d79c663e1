#include "base/runlog.h"

#include <cstdarg>
#include <ctime>

#include "base/clock.h"

FILE* RunLog = nullptr;
char RunDate[kDateYmdSize] = "";
char CurrentSchema[21] = "";

void RunLog_Printf(const char* fmt, ...) {
  if (RunLog == nullptr) return;
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(RunLog, fmt, ap);
  va_end(ap);
  std::fflush(RunLog);
}

void RunDate_Init() {
  std::time_t now = Clock_Now();
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(RunDate, sizeof RunDate, "%Y%m%d", &local);
}
