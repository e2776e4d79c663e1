#include "run/driver.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calendar/bak.h"
#include "calendar/kal.h"
#include "config/ini.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "person/pnr.h"
#include "run/args.h"
#include "run/connect.h"
#include "run/workers.h"
#include "run/tally.h"
#include "run/usage.h"
#include "base/clock.h"
#include "base/progress.h"
#include "base/runlog.h"
#include "base/text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The first argument of a worker process (not an option of the job).
constexpr char kWorkerOption[] = "--worker";

constexpr size_t kArgRoom = 8;      // BegDat, PnrVon, PnrBis
constexpr size_t kPfadRoom = 99;

// One line in RunLog and on standard error for a refused input. `shown` is
// the offending text, or null when it must not be shown (the password).
int Refuse(const char* what, const char* shown, size_t length, const char* allowed) {
  char line[400];
  if (shown != nullptr) {
    std::snprintf(line, sizeof line, "Error: %s ungueltig: \"%.120s\"%s! Erlaubt: %s.\n", what, shown,
                  std::strlen(shown) > 120 ? "..." : "", allowed);
  } else {
    std::snprintf(line, sizeof line, "Error: %s ungueltig (%zu Zeichen)! Erlaubt: %s.\n", what, length,
                  allowed);
  }
  RunLog_Printf("%s", line);
  std::fprintf(stderr, "dayset: %s", line);
  return kExitUsage;
}

int RefuseLength(const char* what, const char* shown, size_t length, size_t room) {
  char allowed[40];
  std::snprintf(allowed, sizeof allowed, "hoechstens %zu Zeichen", room);
  return Refuse(what, shown, length, allowed);
}

// The session broke in `phase` (Sql_Rt_Broken): one line naming the condition,
// the phase and the person (empty outside the person phase), in RunLog and on
// standard error; the open transaction is rolled back and nothing more runs.
int Stop_Broken(const char* phase, const char* person) {
  char line[300];
  std::snprintf(line, sizeof line, "Error: Lauf abgebrochen, Datenbank nicht nutzbar: %s! RC:%d Phase: %s!%s%s%s\n",
                Sql_Rt_Broken(), SqlCode, phase, *person != '\0' ? " Person: " : "", person,
                *person != '\0' ? "!" : "");
  Sql_Rt_Disconnect();
  Progress_Done();
  RunLog_Printf("%s", line);
  std::fprintf(stderr, "dayset: %s", line);
  return kExitFailed;
}

// Connects through the configuration file `Pfad` (Cfg_Connect); the schema
// goes to CurrentSchema. Returns 0, or the exit status after the refusal or
// the connect failure has been logged.
int Config_Connect(const char* Pfad, const SqlOptions& options, char* schema) {
  CfgConnect c;
  switch (Cfg_Connect(Pfad, options, &c)) {
    case kCfgConnected:
      break;
    case kCfgRefused: {
      const std::string what = std::string("Konfigurationswert ") + c.name;
      return Refuse(what.c_str(), c.hidden ? nullptr : c.shown.c_str(), c.length, c.allowed.c_str());
    }
    case kCfgConnectFailed:
      RunLog_Printf("Fehler(DB-Connect)! RC:%d ", c.rc);
      RunLog_Printf("Name:%s Pwd:*** Net:%s \n", c.login, c.net);
      std::fprintf(stderr, "dayset: Verbindung zur Datenbank fehlgeschlagen (RC %d), siehe DAYSET.LOG\n", c.rc);
      return kExitFailed;
  }
  Str_Copy(schema, kCfgSchemaRoom + 1, c.schema);
  Str_Copy(CurrentSchema, sizeof CurrentSchema, c.schema);
  return 0;
}

// The person phase split over `jobs` workers (Workers_*): the parts of the
// range, one worker each, their logs merged in order. One part, or a range
// that cannot be read, runs here as with one worker.
int Persons_Parallel(int jobs, const char* BegDat, const char* EndDat, const char* Pfad, const char* PnrVon,
                     const char* PnrBis) {
  std::vector<PnrRange> parts;
  const int split = Pnr_Range_Split(PnrVon, PnrBis, jobs, &parts);
  if (Sql_Rt_Broken() != nullptr) return Stop_Broken("Personen", "");
  if (split != 0 || parts.size() <= 1) {
    Pnr_Days_Extend(BegDat, EndDat, PnrVon, PnrBis);
    if (Sql_Rt_Broken() != nullptr) return Stop_Broken("Personen", Pnr_Broken_Pnr());
    return kExitOk;
  }
  const std::string clock = std::to_string(static_cast<long long>(Clock_Fixed()));
  const std::string year(EndDat, 4);
  std::vector<std::vector<std::string>> argvs;
  for (size_t k = 0; k < parts.size(); ++k) {
    argvs.push_back({"dayset", kWorkerOption, std::to_string(k + 1), RunDate, clock, BegDat, year, Pfad,
                     parts[k].PnrVon, parts[k].PnrBis});
  }
  std::vector<Worker> workers;
  const bool started = Workers_Start(argvs, &workers);
  Workers_Wait(&workers);
  Workers_Logs_Merge(static_cast<int>(parts.size()));
  if (!started) {
    RunLog_Printf("Error: Personen-Teile nicht gestartet: %s!\n", std::strerror(errno));
    std::fprintf(stderr, "dayset: Personen-Teile nicht gestartet, siehe DAYSET.LOG\n");
    return kExitFailed;
  }
  int status = kExitOk;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (workers[k].status == 0) {
      for (long p = 0; p < parts[k].persons; ++p) Progress_Person(0);
      continue;
    }
    // The part's persons committed so far stay; a rerun completes the rest.
    char line[200];
    std::snprintf(line, sizeof line, "Error: Personen %s bis %s nicht abgeschlossen (Teil %zu, Status %d)!\n",
                  parts[k].PnrVon, parts[k].PnrBis, k + 1, workers[k].status);
    RunLog_Printf("%s", line);
    std::fprintf(stderr, "dayset: %s", line);
    status = kExitFailed;
  }
  return status;
}

// argv[1..argc-1] are the positional arguments; argv[0] is not read.
int Run(const RunOptions& opts, const SqlOptions& options, int argc, char** argv) {
  if (argc != 6) {
    Usage_Lines_Print();
    RunLog_Printf("Falsche Anzahl Parameter(= 5)! AnzParam: %d\n", argc - 1);
    return kExitUsage;
  }

  char BegDat[kArgRoom + 1] = {};
  char EndDat[kDateYmdSize] = {};
  char Pfad[kPfadRoom + 1] = {};
  char PnrVon[kArgRoom + 1] = {};
  char PnrBis[kArgRoom + 1] = {};

  if (const char* allowed = Arg_BegDat_Check(argv[1])) return Refuse("Parameter BegDat", argv[1], 0, allowed);
  if (const char* allowed = Arg_EndeJahr_Check(argv[2])) {
    return Refuse("Parameter EndeJahr", argv[2], 0, allowed);
  }
  if (!Arg_Fits(argv[3], kPfadRoom)) return RefuseLength("Parameter Pfad", argv[3], 0, kPfadRoom);
  if (!Arg_Fits(argv[4], kArgRoom)) return RefuseLength("Parameter PnrVon", argv[4], 0, kArgRoom);
  if (!Arg_Fits(argv[5], kArgRoom)) return RefuseLength("Parameter PnrBis", argv[5], 0, kArgRoom);

  Str_Copy(BegDat, sizeof BegDat, argv[1]);
  std::snprintf(EndDat, sizeof EndDat, "%s1231", argv[2]);
  Str_Copy(Pfad, sizeof Pfad, argv[3]);
  Str_Copy(PnrVon, sizeof PnrVon, argv[4]);
  Str_Copy(PnrBis, sizeof PnrBis, argv[5]);

  RunLog_Printf("Datum: %s\n", RunDate);

  char schema[kCfgSchemaRoom + 1] = {};
  if (int rc = Config_Connect(Pfad, options, schema)) return rc;
  RunLog_Printf("Aktuelles Schema: %s \n", schema);

  if (std::strcmp(PnrVon, "0") == 0 || std::strcmp(PnrBis, "0") == 0) {
    Str_Copy(PnrVon, sizeof PnrVon, "        ");
    Str_Copy(PnrBis, sizeof PnrBis, "zzzzzzzz");
  }

  // The counts cost a full count of each table: only when they are shown.
  const bool summary = opts.verbose || Progress_Active();
  const bool counted = summary || opts.dry_run;
  TallyCounts before{};
  TallyCounts after{};
  if (counted) Tally_Count(&before);
  // A dry run keeps every phase's work visible to the later phases, as the
  // commits of a real run do, and rolls it all back at the end.
  Sql_Rt_Dry_Set(opts.dry_run);

  Pnr_Run_Init();
  Progress_Phase("Basiskalender");
  Bak_Days_Extend(EndDat);
  if (Sql_Rt_Broken() != nullptr) return Stop_Broken("Basiskalender", "");
  Progress_Phase("Arbeitskalender");
  Kal_Days_Extend(EndDat);
  if (Sql_Rt_Broken() != nullptr) return Stop_Broken("Arbeitskalender", "");
  Progress_Phase("Personen");
  int status = kExitOk;
  // A dry run's calendar rows are not committed: workers would not see them.
  if (opts.jobs > 1 && !opts.dry_run) {
    status = Persons_Parallel(opts.jobs, BegDat, EndDat, Pfad, PnrVon, PnrBis);
    if (Sql_Rt_Broken() != nullptr) return status;
  } else {
    Pnr_Days_Extend(BegDat, EndDat, PnrVon, PnrBis);
    if (Sql_Rt_Broken() != nullptr) return Stop_Broken("Personen", Pnr_Broken_Pnr());
  }
  Progress_Done();

  if (counted) Tally_Count(&after);
  if (opts.dry_run) {
    Sql_Rt_Dry_Set(false);
    if (int rb = Sql_Rt_Rollback(); rb != 0) {
      // -2091: the database had rolled back part of the work by itself, so
      // the counts fall short of what a real run adds. Nothing was committed.
      RunLog_Printf("Error: Rollback %d!\n", rb);
      std::fprintf(stderr, "dayset: Probelauf: Zuruecksetzen meldet RC %d, die Zahlen fehlen, siehe DAYSET.LOG\n",
                   rb);
      status = kExitFailed;
    } else {
      Tally_Report_Print(stdout, before, after);
    }
  }
  if (summary) Tally_Summary_Print(stderr, before, after, opts.dry_run);
  return status;
}

// A worker of a parallel run, as Persons_Parallel starts it:
//   dayset --worker K RUNDATE CLOCK BegDat EndeJahr Pfad PnrVon PnrBis
// The person phase for PnrVon..PnrBis in a session of its own, its log
// lines into DAYSET.LOG.K. The arguments were checked by the run.
int Worker_Main(int argc, char** argv) {
  if (argc != 10 || std::strlen(argv[3]) != 8 || Arg_EndeJahr_Check(argv[6]) != nullptr ||
      !Arg_Fits(argv[7], kPfadRoom) || !Arg_Fits(argv[8], kArgRoom) || !Arg_Fits(argv[9], kArgRoom)) {
    std::fprintf(stderr, "dayset: %s: internal use of a parallel run\n", kWorkerOption);
    return kExitUsage;
  }
  Str_Copy(RunDate, sizeof RunDate, argv[3]);
  if (const long long fixed = std::atoll(argv[4]); fixed != 0) Clock_Fix(static_cast<std::time_t>(fixed));
  const std::string log = Workers_Log_Name(std::atoi(argv[2]));
  RunLog = std::fopen(log.c_str(), "w");
  if (RunLog == nullptr) {
    std::fprintf(stderr, "dayset: %s kann nicht angelegt werden: %s\n", log.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  char EndDat[kDateYmdSize] = {};
  std::snprintf(EndDat, sizeof EndDat, "%s1231", argv[6]);
  char schema[kCfgSchemaRoom + 1] = {};
  int rc = Config_Connect(argv[7], Sql_Options_Default(), schema);
  if (rc == 0) {
    Pnr_Run_Init();
    Pnr_Days_Extend(argv[5], EndDat, argv[8], argv[9]);
    rc = Sql_Rt_Broken() != nullptr ? Stop_Broken("Personen", Pnr_Broken_Pnr()) : kExitOk;
    Sql_Rt_Disconnect();
  }
  std::fclose(RunLog);
  RunLog = nullptr;
  return rc;
}

}  // namespace

int Dayset_Main(int argc, char** argv, const SqlOptions& options) {
  if (argc > 1 && std::strcmp(argv[1], kWorkerOption) == 0) return Worker_Main(argc, argv);
  RunOptions opts;
  const char* bad = nullptr;
  const char* allowed = nullptr;
  const int first = Arg_Options_Parse(argc, argv, &opts, &bad, &allowed);
  // Help and version leave the last run's DAYSET.LOG alone.
  if (first > 0 && opts.help) {
    Usage_Help_Print();
    return kExitOk;
  }
  if (first > 0 && opts.version) {
    Usage_Version_Print();
    return kExitOk;
  }

  RunDate_Init();
  RunLog = std::fopen("DAYSET.LOG", "w");
  int open_errno = errno;
  RunLog_Tally_Reset();
  Progress_Init();

  if (RunLog == nullptr) {
    std::fprintf(stderr, "dayset: DAYSET.LOG kann nicht angelegt werden: %s\n", std::strerror(open_errno));
    return kExitFailed;
  }
  int rc = first < 0 ? Refuse("Option", bad, 0, allowed) : Run(opts, options, argc - first + 1, argv + first - 1);
  std::fclose(RunLog);
  RunLog = nullptr;
  return rc;
}
