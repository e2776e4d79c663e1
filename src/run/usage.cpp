#include "run/usage.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "db/sqlrt.h"
#include "run/args.h"

#ifndef DAYSET_VERSION
#define DAYSET_VERSION "unknown"
#endif
#ifndef DAYSET_BINDIR
#define DAYSET_BINDIR "bin"
#endif
#ifndef DAYSET_MANDIR
#define DAYSET_MANDIR "share/man"
#endif

namespace {

// The manual page of the installation this program belongs to
// (PREFIX/bin/dayset gives PREFIX/share/man/man1/dayset.1), or empty when
// there is none (a build directory).
std::string Man_Page_Path() {
  namespace fs = std::filesystem;
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  exe[n] = '\0';
  fs::path prefix = fs::path(exe).parent_path();
  for (const auto& part : fs::path(DAYSET_BINDIR)) {
    if (!part.empty()) prefix = prefix.parent_path();
  }
  const fs::path page = prefix / DAYSET_MANDIR / "man1" / "dayset.1";
  std::error_code ec;
  return fs::is_regular_file(page, ec) ? page.string() : "";
}

}  // namespace

void Usage_Lines_Print() {
  std::printf("Aufruf: dayset [BegDat] [EndeJahr] [Pfad] [PnrVon] [PnrBis]\n");
  std::printf("Bsp.: dayset 20041201 2006 ..\\files\\norvane.ini 0000 9999 \n");
}

void Usage_Help_Print() {
  std::printf(
      "Usage: dayset [OPTION]... BegDat EndeJahr Pfad PnrVon PnrBis\n"
      "\n"
      "The nightly calendar job of the personnel time-management system. It extends the base\n"
      "calendar and every work calendar up to 31 December of EndeJahr, then, for each employed\n"
      "person from PnrVon to PnrBis, creates the missing day records, daily working-time-group\n"
      "records and vacation carry-over years, committing person by person. Failures are written\n"
      "to DAYSET.LOG in the working directory and the job carries on; a rerun adds only what is\n"
      "missing.\n"
      "\n"
      "Arguments:\n"
      "  BegDat     0, or yyyymmdd: the person windows reach back at least to this date\n"
      "  EndeJahr   the end year, 4 digits\n"
      "  Pfad       the configuration file (LOGIN, PASS, NET8, SCHEMA; see dayset-conf)\n"
      "  PnrVon     first person number, 0 for all\n"
      "  PnrBis     last person number, 0 for all\n"
      "\n"
      "Options (before the arguments):\n");
  for (const RunOptionDef& o : Run_Option_Defs()) {
    char names[48];
    if (o.short_name != 0) {
      std::snprintf(names, sizeof names, "-%c, --%s%s%s", o.short_name, o.long_name, o.value_name ? " " : "",
                    o.value_name ? o.value_name : "");
    } else {
      std::snprintf(names, sizeof names, "    --%s%s%s", o.long_name, o.value_name ? " " : "",
                    o.value_name ? o.value_name : "");
    }
    std::printf("  %-23s %s\n", names, o.help);
  }
  std::printf(
      "\n"
      "A summary (rows added per table, persons, log lines, elapsed time) goes to standard\n"
      "error at the end of a run when standard error is a terminal, or with -v.\n"
      "\n"
      "With -j N the calendars are extended first, then N worker processes, each with its own\n"
      "session, work on parts of the person range with about the same number of employments;\n"
      "DAYSET.LOG reads as with one worker. It pays on a database server. On the embedded\n"
      "database the workers take turns on the file's write lock: -j 2 gains a fifth on a first\n"
      "run, more on a rerun (see the manual). A dry run (-n) works in one process.\n"
      "\n"
      "Exit status:\n"
      "  0  the phases ran; row failures, if any, are in DAYSET.LOG\n"
      "  1  DAYSET.LOG was refused (a link, no regular file) or could not be created, another\n"
      "     run holds it, the connect failed, the database broke down, a worker's part of the\n"
      "     persons did not finish (a rerun completes it), the base calendar had no first day\n"
      "     and nothing was made, log lines could not be written, or a dry run's rollback failed\n"
      "  2  wrong arguments or options, an end year out of reach, or a configuration value\n"
      "     that does not fit or a net service name with a user or password in it\n"
      "  128+N  stopped by signal N (SIGTERM, SIGINT, SIGHUP); the work in hand rolled back\n"
      "\n"
      "Example: dayset 0 2027 /etc/dayset/dayset.ini 0 0\n");
  const std::string page = Man_Page_Path();
  if (!page.empty()) {
    std::printf("Manual: man dayset (%s), the configuration file: man 5 dayset.ini\n", page.c_str());
  } else {
    std::printf("Manual: man dayset, the configuration file: man 5 dayset.ini (in the sources: man/)\n");
  }
}

void Usage_Version_Print() {
  std::printf("dayset %s\nbackends:", DAYSET_VERSION);
  for (int i = 0; const char* name = Sql_Backend_Name(i); ++i) std::printf(" %s", name);
  std::printf("\n");
}

bool Usage_Version_Asked(int argc, char** argv, const char* program) {
  if (argc != 2 || std::strcmp(argv[1], "--version") != 0) return false;
  std::printf("%s %s\n", program, DAYSET_VERSION);
  return true;
}
