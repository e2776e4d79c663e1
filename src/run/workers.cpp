#include "run/workers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "base/progress.h"
#include "base/runlog.h"
#include "base/stop.h"

namespace {

// The running program, for starting it again.
std::string Self_Path() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  buf[n] = '\0';
  return buf;
}

}  // namespace

bool Workers_Start(const std::vector<std::vector<std::string>>& argvs, std::vector<Worker>* out) {
  out->clear();
  const std::string self = Self_Path();
  if (self.empty()) return false;
  const pid_t parent = getpid();
  std::fflush(nullptr);  // nothing buffered is written twice
  for (const auto& args : argvs) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(self.c_str()));
    for (size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char*>(args[i].c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      // Dies with the job, also when the job is killed.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      execv(self.c_str(), argv.data());
      _exit(127);
    }
    if (pid < 0) {
      for (Worker& w : *out) kill(w.pid, SIGKILL);
      Workers_Wait(out);
      return false;
    }
    Worker w;
    w.pid = pid;
    out->push_back(w);
  }
  return true;
}

namespace {

// A worker's exit as the job reports it: its exit status, or 128 + the
// signal that ended it.
int Status_Of(int st) {
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  return 128 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
}

// Passes a stop signal on to every worker still running, once; each stops
// at its next safe point.
void Pass_Stop_On(const std::vector<Worker>& workers, bool* passed_on) {
  const int sig = Stop_Signal();
  if (sig == 0 || *passed_on) return;
  *passed_on = true;
  for (const Worker& w : workers) {
    if (w.pid > 0) kill(w.pid, sig);
  }
}

}  // namespace

void Workers_Wait(std::vector<Worker>* workers, int progress) {
  bool passed_on = false;
  std::string pending;  // an incomplete line of the progress pipe
  for (;;) {
    Pass_Stop_On(*workers, &passed_on);
    bool running = false;
    for (Worker& w : *workers) {
      if (w.pid < 0) continue;
      int st = 0;
      const pid_t r = waitpid(w.pid, &st, progress >= 0 ? WNOHANG : 0);
      if (r == 0 || (r < 0 && errno == EINTR)) {
        running = true;
        continue;
      }
      w.status = r < 0 ? 127 : Status_Of(st);
      w.pid = -1;
    }
    if (progress >= 0) {
      // Whatever the workers reported, also after the last has ended.
      pollfd p{progress, POLLIN, 0};
      if (poll(&p, 1, running ? 200 : 0) > 0) {
        char buf[4096];
        const ssize_t n = read(progress, buf, sizeof buf);
        if (n > 0) {
          pending.append(buf, static_cast<size_t>(n));
          pending.erase(0, Progress_Relay_Read(pending.data(), pending.size()));
          continue;
        }
        if (n == 0) progress = -1;  // every worker has closed it: wait for them
      }
    }
    if (!running) return;
  }
}

std::string Workers_Log_Name(int k) { return "DAYSET.LOG." + std::to_string(k); }

void Workers_Logs_Merge(int n) {
  for (int k = 1; k <= n; ++k) {
    const std::string name = Workers_Log_Name(k);
    // Only the regular file the worker made, never through a link.
    const int fd = open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    FILE* part = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "r") : nullptr;
    if (part == nullptr) {
      close(fd);
      continue;
    }
    char line[2048];
    while (std::fgets(line, sizeof line, part) != nullptr) RunLog_Merge_Line(k, line);
    std::fclose(part);
    std::remove(name.c_str());
  }
}
