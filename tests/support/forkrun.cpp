#include "forkrun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "run/driver.h"
#include "testdb.h"

namespace forkrun {

pid_t Start(const std::string& dir, const std::function<void()>& child) {
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t pid = fork();
  if (pid != 0) return pid;
  unsetenv("NLS_TERRITORY");
  unsetenv("NLS_LANG");
  if (chdir(dir.c_str()) != 0 || std::freopen("/dev/null", "w", stdout) == nullptr ||
      std::freopen("stderr.txt", "w", stderr) == nullptr) {
    _exit(127);
  }
  child();
  _exit(127);
}

int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Outcome Run_Job(const std::string& dir, const std::vector<std::string>& args,
                const std::function<void(SqlOptions*)>& before) {
  const pid_t pid = Start(dir, [&] {
    SqlOptions options = Sql_Options_Default();
    if (before) before(&options);
    std::vector<std::string> all = {"dayset"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = Dayset_Main(static_cast<int>(all.size()), argv.data(), options);
    std::fflush(nullptr);
    _exit(rc);
  });
  Outcome o;
  o.status = pid < 0 ? -1 : Wait(pid);
  o.err = testdb::ReadFile(dir + "/stderr.txt");
  o.log = testdb::ReadFile(dir + "/DAYSET.LOG");
  return o;
}

}  // namespace forkrun
