#include "base/runlog.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "base/clock.h"

FILE* RunLog = nullptr;
char RunDate[kDateYmdSize] = "";
char CurrentSchema[21] = "";

namespace {

// Lines by the format that began them. Formats are literals, few and
// rarely written, so a short list searched from the front is enough.
struct FormatCount {
  const char* fmt;
  long lines;
};
std::vector<FormatCount> tally;
bool line_open = false;  // the last write did not end its line

}  // namespace

void RunLog_Printf(const char* fmt, ...) {
  if (RunLog == nullptr) return;
  va_list ap;
  va_start(ap, fmt);
  char buf[512];
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  if (n >= 0 && static_cast<size_t>(n) < sizeof buf) {
    std::fwrite(buf, 1, static_cast<size_t>(n), RunLog);
  } else {
    std::vfprintf(RunLog, fmt, again);
  }
  va_end(again);
  va_end(ap);
  std::fflush(RunLog);

  if (!line_open) {
    auto it = tally.begin();
    while (it != tally.end() && it->fmt != fmt) ++it;
    if (it == tally.end()) {
      tally.push_back(FormatCount{fmt, 1});
    } else {
      ++it->lines;
    }
  }
  // A line written in several calls counts once, under its first format.
  if (n > 0) {
    const bool whole = static_cast<size_t>(n) < sizeof buf;
    line_open = (whole ? buf[n - 1] : fmt[std::strlen(fmt) - 1]) != '\n';
  }
}

std::vector<RunLogTally> RunLog_Lines_By_Message() {
  std::vector<RunLogTally> out;
  for (const FormatCount& f : tally) {
    std::string message(f.fmt, std::strcspn(f.fmt, "%\n"));
    // The code's lead-in is not part of the message.
    if (message.size() >= 3 && message.compare(message.size() - 3, 3, "RC:") == 0) {
      message.resize(message.size() - 3);
    }
    while (!message.empty() && (message.back() == ' ' || message.back() == '!' || message.back() == ':')) message.pop_back();
    if (message.empty()) message = "(ohne Text)";
    auto it = out.begin();
    while (it != out.end() && it->message != message) ++it;
    if (it == out.end()) {
      out.push_back(RunLogTally{message, f.lines});
    } else {
      it->lines += f.lines;
    }
  }
  return out;
}

void RunLog_Tally_Reset() {
  tally.clear();
  line_open = false;
}

void RunDate_Init() {
  std::time_t now = Clock_Now();
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(RunDate, sizeof RunDate, "%Y%m%d", &local);
}
