#include "base/runlog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
// Messages counted elsewhere: the workers' tallies, their lines merged
// without one.
std::vector<RunLogTally> taken;
std::vector<int> parts_taken;  // the parts whose tally came
// The format of merged lines: a key of its own, which the tally skips.
const char kMergedFmt[] = "%s";
bool line_open = false;  // the last write did not end its line
long lost = 0;           // writes that failed
int lost_errno = 0;      // the first one's errno

void Note_Lost(int err) {
  if (lost++ == 0) lost_errno = err != 0 ? err : EIO;
}

}  // namespace

void RunLog_Printf(const char* fmt, ...) {
  if (RunLog == nullptr) return;
  va_list ap;
  va_start(ap, fmt);
  char buf[512];
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  errno = 0;
  bool ok;
  if (n >= 0 && static_cast<size_t>(n) < sizeof buf) {
    ok = std::fwrite(buf, 1, static_cast<size_t>(n), RunLog) == static_cast<size_t>(n);
  } else {
    ok = std::vfprintf(RunLog, fmt, again) >= 0;
  }
  va_end(again);
  va_end(ap);
  ok = std::fflush(RunLog) == 0 && ok;
  if (!ok) Note_Lost(errno);

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

namespace {

// The message of a line whose variable part begins at `end`.
std::string Message_Of(const char* text, size_t end) {
  std::string message(text, end);
  // The code's lead-in is not part of the message.
  if (message.size() >= 3 && message.compare(message.size() - 3, 3, "RC:") == 0) {
    message.resize(message.size() - 3);
  }
  while (!message.empty() && (message.back() == ' ' || message.back() == '!' || message.back() == ':')) message.pop_back();
  if (message.empty()) message = "(ohne Text)";
  return message;
}

void Add(std::vector<RunLogTally>* out, const std::string& message, long lines) {
  auto it = out->begin();
  while (it != out->end() && it->message != message) ++it;
  if (it == out->end()) {
    out->push_back(RunLogTally{message, lines});
  } else {
    it->lines += lines;
  }
}

}  // namespace

std::vector<RunLogTally> RunLog_Lines_By_Message() {
  std::vector<RunLogTally> out;
  for (const FormatCount& f : tally) {
    // A merged line is counted where it came from.
    if (f.fmt == kMergedFmt) continue;
    Add(&out, Message_Of(f.fmt, std::strcspn(f.fmt, "%\n")), f.lines);
  }
  for (const RunLogTally& t : taken) Add(&out, t.message, t.lines);
  return out;
}

void RunLog_Tally_Reset() {
  tally.clear();
  taken.clear();
  parts_taken.clear();
  line_open = false;
}

std::string RunLog_Tally_Text(int part) {
  std::string text;
  for (const RunLogTally& t : RunLog_Lines_By_Message()) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict)
    // about "K" + std::to_string(...).
    text += 'K';
    text += std::to_string(part);
    text += ' ';
    text += std::to_string(t.lines);
    text += ' ';
    text += t.message;
    text += '\n';
  }
  return text;
}

bool RunLog_Tally_Take(const char* line, size_t n) {
  if (n < 6 || line[0] != 'K') return false;
  size_t i = 1;
  long part = 0, lines = 0;
  const auto digits = [&](long* v) {
    const size_t from = i;
    while (i < n && i - from < 12 && line[i] >= '0' && line[i] <= '9') *v = *v * 10 + (line[i++] - '0');
    return i > from && i < n && line[i++] == ' ';
  };
  if (!digits(&part) || !digits(&lines) || i >= n) return false;
  Add(&taken, std::string(line + i, n - i), lines);
  parts_taken.push_back(static_cast<int>(part));
  return true;
}

void RunLog_Merge_Line(int part, const char* line) {
  bool counted = false;
  for (int p : parts_taken) counted = counted || p == part;
  if (!counted && !line_open) {
    // The line's own text up to its first code stands for the format.
    Add(&taken, Message_Of(line, std::strcspn(line, "0123456789-\n")), 1);
  }
  RunLog_Printf(kMergedFmt, line);
}

FILE* RunLog_Open(const char* name, LogOpen how, std::string* why, long* holder) {
  *holder = 0;
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (how == LogOpen::kPart ? O_EXCL : 0);
  const int fd = open(name, flags, 0640);
  if (fd < 0) {
    const int err = errno;
    *why = err == ELOOP ? "ist ein symbolischer Link"
         : err == EEXIST ? "ist schon vorhanden"
         : err == ENXIO  ? "ist keine gewoehnliche Datei"
                         : std::strerror(err);
    return nullptr;
  }
  const auto refuse = [&](const char* text) -> FILE* {
    close(fd);
    *why = text;
    return nullptr;
  };
  struct stat st;
  if (fstat(fd, &st) != 0) return refuse(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return refuse("ist keine gewoehnliche Datei");
  // A second name of the same file may be anyone's file.
  if (st.st_nlink > 1) return refuse("hat weitere harte Links");
  if (how == LogOpen::kRun) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) != 0) {
      const int err = errno;
      if (err != EAGAIN && err != EACCES) return refuse(std::strerror(err));
      struct flock other {};
      other.l_type = F_WRLCK;
      other.l_whence = SEEK_SET;
      if (fcntl(fd, F_GETLK, &other) == 0 && other.l_type != F_UNLCK) *holder = other.l_pid;
      if (*holder <= 0) *holder = -1;
      return refuse("wird von einem anderen Lauf geschrieben");
    }
    if (ftruncate(fd, 0) != 0) return refuse(std::strerror(errno));
  }
  const int fl = fcntl(fd, F_GETFL);
  if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) return refuse(std::strerror(errno));
  FILE* f = fdopen(fd, "w");
  if (f == nullptr) return refuse(std::strerror(errno));
  lost = 0;
  lost_errno = 0;
  return f;
}

void RunLog_Close() {
  if (RunLog == nullptr) return;
  errno = 0;
  if (std::fclose(RunLog) != 0) Note_Lost(errno);
  RunLog = nullptr;
}

long RunLog_Lost(int* first_errno) {
  *first_errno = lost_errno;
  return lost;
}

void RunDate_Init() {
  std::time_t now = Clock_Now();
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(RunDate, sizeof RunDate, "%Y%m%d", &local);
}
