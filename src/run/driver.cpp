#include "run/driver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "calendar/bak.h"
#include "calendar/kal.h"
#include "config/ini.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "person/pnr.h"
#include "run/args.h"
#include "run/tally.h"
#include "run/usage.h"
#include "base/progress.h"
#include "base/runlog.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr size_t kArgRoom = 8;      // BegDat, PnrVon, PnrBis
constexpr size_t kPfadRoom = 99;
constexpr size_t kValueRoom = 51;   // login, password, net service name
constexpr size_t kSchemaRoom = 20;

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

void Copy(char* target, size_t size, const char* text) { std::snprintf(target, size, "%s", text); }

// The configuration value `name` into target (room + 1 bytes), refused when
// longer. Returns 0 or the exit status of the refusal.
int ConfigValue(const char* name, const char* pfad, char* target, size_t room, bool secret) {
  Ini_Value_Get("", name, 0, pfad);
  size_t length = std::strlen(IniSatz.IniWrt);
  if (length > room) {
    char what[40];
    std::snprintf(what, sizeof what, "Konfigurationswert %s", name);
    // A net service name that carries a password is not shown either.
    const bool hide = secret || (std::strcmp(name, "NET8") == 0 && Sql_Net_Check(IniSatz.IniWrt) != nullptr);
    return RefuseLength(what, hide ? nullptr : IniSatz.IniWrt, length, room);
  }
  Copy(target, room + 1, IniSatz.IniWrt);
  return 0;
}

// argv[1..argc-1] are the positional arguments; argv[0] is not read.
int Run(const RunOptions& opts, int argc, char** argv) {
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

  Copy(BegDat, sizeof BegDat, argv[1]);
  std::snprintf(EndDat, sizeof EndDat, "%s1231", argv[2]);
  Copy(Pfad, sizeof Pfad, argv[3]);
  Copy(PnrVon, sizeof PnrVon, argv[4]);
  Copy(PnrBis, sizeof PnrBis, argv[5]);

  RunLog_Printf("Datum: %s\n", RunDate);

  char login[kValueRoom + 1] = {};
  char password[kValueRoom + 1] = {};
  char net[kValueRoom + 1] = {};
  char schema[kSchemaRoom + 1] = {};
  if (int rc = ConfigValue("LOGIN", Pfad, login, kValueRoom, false)) return rc;
  if (int rc = ConfigValue("PASS", Pfad, password, kValueRoom, true)) return rc;
  if (int rc = ConfigValue("NET8", Pfad, net, kValueRoom, false)) return rc;
  if (const char* allowed = Sql_Net_Check(net)) {
    // Not shown: it may hold the password.
    return Refuse("Konfigurationswert NET8", nullptr, std::strlen(net), allowed);
  }

  // The schema is stored with one trailing character that is not part of it.
  Ini_Value_Get("", "SCHEMA", 0, Pfad);
  size_t schema_length = std::strlen(IniSatz.IniWrt);
  if (schema_length > 0) --schema_length;
  if (schema_length > kSchemaRoom) {
    IniSatz.IniWrt[schema_length] = '\0';
    return RefuseLength("Konfigurationswert SCHEMA", IniSatz.IniWrt, schema_length, kSchemaRoom);
  }
  std::memcpy(schema, IniSatz.IniWrt, schema_length);
  schema[schema_length] = '\0';

  Str_Upper(schema);
  Copy(CurrentSchema, sizeof CurrentSchema, schema);

  int rc = Sql_Connect(login, password, net, schema);
  std::memset(password, 0, sizeof password);
  if (rc != 0) {
    RunLog_Printf("Fehler(DB-Connect)! RC:%d ", rc);
    RunLog_Printf("Name:%s Pwd:*** Net:%s \n", login, net);
    std::fprintf(stderr, "dayset: Verbindung zur Datenbank fehlgeschlagen (RC %d), siehe DAYSET.LOG\n", rc);
    return kExitFailed;
  }
  RunLog_Printf("Aktuelles Schema: %s \n", schema);

  if (std::strcmp(PnrVon, "0") == 0 || std::strcmp(PnrBis, "0") == 0) {
    Copy(PnrVon, sizeof PnrVon, "        ");
    Copy(PnrBis, sizeof PnrBis, "zzzzzzzz");
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
  Pnr_Days_Extend(BegDat, EndDat, PnrVon, PnrBis);
  if (Sql_Rt_Broken() != nullptr) return Stop_Broken("Personen", Pnr_Broken_Pnr());
  Progress_Done();

  int status = kExitOk;
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

}  // namespace

int Dayset_Main(int argc, char** argv) {
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
  int rc = first < 0 ? Refuse("Option", bad, 0, allowed) : Run(opts, argc - first + 1, argv + first - 1);
  std::fclose(RunLog);
  RunLog = nullptr;
  return rc;
}
