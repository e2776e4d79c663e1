// dayset-view: one HTML page with a year of what the nightly calendar job
// wrote, for a person or for a work calendar.
//
//   dayset-view [-o FILE] -p PNR CONFIG YEAR   a person's days
//   dayset-view [-o FILE] -c KAL CONFIG YEAR   a work calendar's days
//
// It connects exactly as the job does (the four values of CONFIG, through
// the job's runtime, so on every backend the runtime has) and only reads.
// A person's page shows per day the day type (of the time-group row, else of
// the person's work calendar), the planned time and the working-time group;
// days without a day record (Hrs327Tag) or without a time-group row
// (Hrs329Ztg) are marked. A calendar's page shows the day type of each day
// and marks the days the calendar has no row for. Rows count while their
// status is below 4, as for the job.
//
// The page is self-contained: one file with its style sheet, no scripts,
// no fonts or images from elsewhere. Texts from the database are escaped.
//
// Exit status: 0 written, 1 the connect or a read failed or FILE could not
// be written, 2 usage error, a person or calendar that does not exist.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/ini.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "run/connect.h"
#include "run/usage.h"

namespace {

namespace chr = std::chrono;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// ---------------------------------------------------------------------------
// Statements (the runtime keeps them by their text: literals only)

const char kPnrNamSel[] = "select PnrNam into :b0:b1  from Hrs300Pnr where PnrNum=:b2";
const char kBsvCur[] =
    "select TO_CHAR(BsvGvo,'yyyymmdd') ,TO_CHAR(BsvGbi,'yyyymmdd') ,BsvKal  from Hrs310Bsv where (BsvPnr=:b0 "
    "and BsvSta<4) order by BsvGvo desc";
const char kTagCur[] =
    "select TO_CHAR(TagTag,'yyyymmdd')  from Hrs327Tag where ((TagPnr=:b0 and TagTag>=TO_DATE(:b1,'yyyymmdd')) "
    "and TagTag<TO_DATE(:b2,'yyyymmdd')+1)";
const char kZtgCur[] =
    "select TO_CHAR(ZtgVon,'yyyymmdd') ,ZtgTtp ,ZtgAgr ,ZtgTag ,ZtgAzt ,ZtgAbt ,ZtgKst  from Hrs329Ztg where "
    "(((ZtgPnr=:b0 and ZtgVon>=TO_DATE(:b1,'yyyymmdd')) and ZtgVon<TO_DATE(:b2,'yyyymmdd')+1) and ZtgSta<4)";
const char kMu2Sel[] = "select count(*) into :b0  from Hrs135Mu2 where (Mu2Kal=:b1 and Mu2Sta<4)";
const char kMuwSel[] = "select count(*) into :b0  from Hrs135Muw where (MuwKal=:b1 and MuwSta<4)";
const char kKa2Cur[] =
    "select TO_CHAR(Ka2Dtm,'yyyymmdd') ,Ka2Ttp  from Hrs133Ka2 where (((Ka2Num=:b0 and "
    "Ka2Dtm>=TO_DATE(:b1,'yyyymmdd')) and Ka2Dtm<TO_DATE(:b2,'yyyymmdd')+1) and Ka2Sta<4)";
const char kKalCur[] =
    "select TO_CHAR(KalDtm,'yyyymmdd') ,KalTtp  from HRSYSTEM.Hrs133Kal where (((KalNum=:b0 and "
    "KalDtm>=TO_DATE(:b1,'yyyymmdd')) and KalDtm<TO_DATE(:b2,'yyyymmdd')+1) and KalSta<4)";

// A failure of a read: the statement's purpose and its code.
struct ReadError {
  const char* what;
  int code;
};

// ---------------------------------------------------------------------------
// The year

// What the page shows of one day.
struct DayView {
  bool calendar_day = false;  // the work calendar has the day
  std::string calendar_ttp;
  bool tag = false;           // a day record exists
  bool ztg = false;           // a time-group row exists
  std::string ztg_ttp, agr, azt, abt, kst;
  int rotation_day = 0;
  bool employed = false;
};

struct Year {
  int year = 0;
  std::map<std::string, DayView> days;  // yyyymmdd of every day of the year
};

std::string Ymd(chr::year_month_day d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02u%02u", static_cast<int>(d.year()), static_cast<unsigned>(d.month()),
                static_cast<unsigned>(d.day()));
  return buf;
}

void Year_Init(Year* y, int year) {
  y->year = year;
  chr::sys_days first{chr::year{year} / 1 / 1};
  chr::sys_days end{chr::year{year + 1} / 1 / 1};
  for (chr::sys_days d = first; d < end; d += chr::days{1}) y->days[Ymd(chr::year_month_day{d})] = DayView{};
}

// The day of a fetched date text, or null when it lies outside the year.
DayView* Day_Of(Year* y, const char* ymd) {
  auto it = y->days.find(ymd);
  return it == y->days.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------
// Reading

// Reads a work calendar's days of the year into calendar_day/calendar_ttp.
// second_family: Hrs133Ka2 in the current schema, else HRSYSTEM.Hrs133Kal.
int Calendar_Read(Year* y, const char* kal, bool second_family, const char* from, const char* to) {
  const char* cur = second_family ? kKa2Cur : kKalCur;
  int rc = Sql_Cur_Open(cur, {SqlStr(kal, 4), SqlStr(from, 16), SqlStr(to, 16)});
  if (rc != 0) return rc;
  char day[11], ttp[4];
  int16_t ind_day, ind_ttp;
  while ((rc = Sql_Cur_Fetch(cur, {SqlStr(day, sizeof day, &ind_day), SqlStr(ttp, sizeof ttp, &ind_ttp)})) ==
         0) {
    if (DayView* d = Day_Of(y, day)) {
      d->calendar_day = true;
      d->calendar_ttp = ind_ttp < 0 ? "" : ttp;
    }
  }
  Sql_Cur_Close(cur);
  return rc == 1403 ? 0 : rc;
}

// 1 when the calendar is in the second family's list, 0 when in the first's,
// -1 when in neither; a failed read gives its code in *rc.
int Calendar_Family(const char* kal, int* rc) {
  int32_t n = 0;
  *rc = Sql_Exec(kMu2Sel, {SqlInt(&n), SqlStr(kal, 4)});
  if (*rc == 0 && n > 0) return 1;
  if (*rc != 0 && *rc != -942) return -1;  // a missing list is no list
  *rc = Sql_Exec(kMuwSel, {SqlInt(&n), SqlStr(kal, 4)});
  if (*rc == -942) *rc = 0;
  return *rc == 0 && n > 0 ? 0 : -1;
}

struct Person {
  std::string pnr, name, kal;
  std::vector<std::pair<std::string, std::string>> employments;  // from, to ("" open)
};

// Fills the person's days. Returns 0, 1403 when the person does not exist,
// or a ReadError's code with *err set.
int Person_Read(Year* y, Person* p, ReadError* err) {
  char from[16], to[16];
  std::snprintf(from, sizeof from, "%04d0101", y->year);
  std::snprintf(to, sizeof to, "%04d1231", y->year);
  const char* pnr = p->pnr.c_str();
  auto fail = [err](const char* what, int code) {
    *err = ReadError{what, code};
    return code;
  };

  char name[51] = "";
  int16_t ind = 0;
  int rc = Sql_Exec(kPnrNamSel, {SqlStr(name, sizeof name, &ind), SqlStr(pnr, 9)});
  if (rc == 1403) return rc;
  if (rc != 0) return fail("person", rc);
  p->name = ind < 0 ? "" : name;

  rc = Sql_Cur_Open(kBsvCur, {SqlStr(pnr, 9)});
  if (rc != 0) return fail("employments", rc);
  char gvo[11], gbi[11], kal[4];
  int16_t i1, i2, i3;
  while ((rc = Sql_Cur_Fetch(kBsvCur, {SqlStr(gvo, sizeof gvo, &i1), SqlStr(gbi, sizeof gbi, &i2),
                                       SqlStr(kal, sizeof kal, &i3)})) == 0) {
    // The newest relationship's calendar is the one the job reads.
    if (p->employments.empty()) p->kal = i3 < 0 ? "" : kal;
    p->employments.emplace_back(i1 < 0 ? "" : gvo, i2 < 0 ? "" : gbi);
  }
  Sql_Cur_Close(kBsvCur);
  if (rc != 1403) return fail("employments", rc);
  for (auto& [ymd, d] : y->days) {
    for (const auto& [gvo_day, gbi_day] : p->employments) {
      if (gvo_day <= ymd && (gbi_day.empty() || ymd <= gbi_day)) d.employed = true;
    }
  }

  if (!p->kal.empty()) {
    rc = Calendar_Read(y, p->kal.c_str(), true, from, to);
    if (rc == -942) rc = Calendar_Read(y, p->kal.c_str(), false, from, to);
    if (rc != 0) return fail("work calendar", rc);
  }

  rc = Sql_Cur_Open(kTagCur, {SqlStr(pnr, 9), SqlStr(from, 16), SqlStr(to, 16)});
  if (rc != 0) return fail("day records", rc);
  char day[11];
  while ((rc = Sql_Cur_Fetch(kTagCur, {SqlStr(day, sizeof day, &ind)})) == 0) {
    if (DayView* d = Day_Of(y, day)) d->tag = true;
  }
  Sql_Cur_Close(kTagCur);
  if (rc != 1403) return fail("day records", rc);

  rc = Sql_Cur_Open(kZtgCur, {SqlStr(pnr, 9), SqlStr(from, 16), SqlStr(to, 16)});
  if (rc != 0) return fail("time-group rows", rc);
  char ttp[4], agr[11], azt[11], abt[11], kst[11];
  int32_t rot = 0;
  int16_t it, ia, ir, iz, ib, ik;
  while ((rc = Sql_Cur_Fetch(kZtgCur, {SqlStr(day, sizeof day, &ind), SqlStr(ttp, sizeof ttp, &it),
                                       SqlStr(agr, sizeof agr, &ia), SqlInt(&rot, &ir),
                                       SqlStr(azt, sizeof azt, &iz), SqlStr(abt, sizeof abt, &ib),
                                       SqlStr(kst, sizeof kst, &ik)})) == 0) {
    if (DayView* d = Day_Of(y, day)) {
      d->ztg = true;
      d->ztg_ttp = it < 0 ? "" : ttp;
      d->agr = ia < 0 ? "" : agr;
      d->rotation_day = ir < 0 ? 0 : rot;
      d->azt = iz < 0 ? "" : azt;
      d->abt = ib < 0 ? "" : abt;
      d->kst = ik < 0 ? "" : kst;
    }
  }
  Sql_Cur_Close(kZtgCur);
  if (rc != 1403) return fail("time-group rows", rc);
  return 0;
}

// ---------------------------------------------------------------------------
// The page

std::string Html(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // Database texts are Windows-1252 like the job's.
        if (c < 0x20) {
          out += ' ';
        } else {
          Str_Append_Utf8(&out, static_cast<unsigned char>(c));
        }
    }
  }
  return out;
}

// Colours of the day types. The usual types have fixed colours so that
// pages of different persons compare at a glance; others take the spare
// colours in order of first appearance.
struct TypeColour {
  const char* ttp;
  const char* colour;
  const char* meaning;
};
constexpr TypeColour kTypeColours[] = {
    {"AT", "#8fd18f", "working day"}, {"SD", "#8fbfef", "shift day"},   {"SA", "#f3d27a", "Saturday"},
    {"SO", "#ef9a9a", "Sunday"},      {"FT", "#c99be6", "holiday"},
};
constexpr const char* kSpareColours[] = {"#b0c4a0", "#e0b890", "#a0d0d0", "#d0a0c0", "#c0c0e8", "#e8e0a0"};
constexpr const char* kNoTypeColour = "#ffffff";

// The planned time "0800" as 8:00; other texts as they are.
std::string Azt_Text(const std::string& azt) {
  if (azt.size() == 4 && azt.find_first_not_of("0123456789") == std::string::npos) {
    return std::to_string(std::stoi(azt.substr(0, 2))) + ":" + azt.substr(2);
  }
  return azt;
}

struct Page {
  std::string title, subtitle;
  bool person = false;
};

std::string Page_Render(const Year& y, const Page& page) {
  // Day types in the order they appear, each with its colour.
  std::vector<std::string> types;
  std::map<std::string, std::string> colour;
  std::map<std::string, long> count;
  size_t spare = 0;
  auto type_of = [&](const DayView& d) { return d.ztg ? d.ztg_ttp : d.calendar_ttp; };
  for (const auto& [ymd, d] : y.days) {
    const std::string t = type_of(d);
    if (t.empty()) continue;
    if (!colour.count(t)) {
      types.push_back(t);
      const char* c = nullptr;
      for (const TypeColour& tc : kTypeColours) {
        if (t == tc.ttp) c = tc.colour;
      }
      if (c == nullptr) c = kSpareColours[spare++ % (sizeof kSpareColours / sizeof kSpareColours[0])];
      colour[t] = c;
    }
    ++count[t];
  }
  long no_tag = 0, no_ztg = 0, no_cal = 0;
  for (const auto& [ymd, d] : y.days) {
    if (page.person && !d.tag) ++no_tag;
    if (page.person && !d.ztg) ++no_ztg;
    if (!page.person && !d.calendar_day) ++no_cal;
  }

  std::string h;
  h += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  h += "<title>" + Html(page.title) + "</title>\n<style>\n";
  h += "body{font-family:sans-serif;margin:16px;color:#222;background:#fafafa}\n"
       "h1{font-size:20px;margin:0 0 4px}p.sub{margin:0 0 10px;color:#555;font-size:13px}\n"
       ".legend{display:flex;flex-wrap:wrap;gap:6px 16px;list-style:none;padding:0;margin:0 0 12px;"
       "font-size:12px}\n"
       ".legend li{display:flex;align-items:center;gap:5px}\n"
       ".sw{display:inline-block;width:16px;height:14px;border:1px solid #888}\n"
       ".year{display:grid;grid-template-columns:repeat(3,max-content);gap:14px 22px}\n"
       ".month h2{font-size:14px;margin:0 0 3px}\n"
       ".month table{border-collapse:separate;border-spacing:2px;table-layout:fixed}\n"
       ".month th{font-size:10px;font-weight:normal;color:#666}\n"
       "td.day{width:50px;min-width:50px;max-width:50px;height:34px;vertical-align:top;padding:1px 2px;"
       "font-size:10px;line-height:12px;border:1px solid #bbb;overflow:hidden;box-sizing:border-box}\n"
       "td.pad{border:none}\n"
       "td.day .d{font-weight:bold}td.day .azt{float:right}\n"
       "td.day .agr{display:block;white-space:nowrap;overflow:hidden;text-overflow:ellipsis;max-width:46px}\n"
       "td.out{opacity:.45}\n"
       "td.no-tag{border:2px dashed #c00000}\n"
       "td.no-ztg{outline:2px dotted #d06000;outline-offset:-4px}\n"
       "td.no-cal{border:2px dashed #c00000}\n"
       ".mark{display:inline-block;width:16px;height:14px}\n"
       ".note{max-width:60em;color:#444;margin:0 0 12px}\n";
  h += std::string("td.day{background:") + kNoTypeColour + "}\n";
  for (size_t i = 0; i < types.size(); ++i) {
    const std::string n = std::to_string(i);
    h += "td.day.t" + n + ",.sw.t" + n + "{background:" + colour[types[i]] + "}\n";
  }
  h += "td.day.no-type{background:repeating-linear-gradient(45deg,#fff 0 4px,#e4e4e4 4px 8px)}\n";
  h += "</style>\n</head>\n<body>\n";
  h += "<h1>" + Html(page.title) + "</h1>\n<p class=\"sub\">" + Html(page.subtitle) + "</p>\n";

  h += "<ul class=\"legend\">\n";
  for (size_t i = 0; i < types.size(); ++i) {
    std::string meaning;
    for (const TypeColour& tc : kTypeColours) {
      if (types[i] == tc.ttp) meaning = std::string(" (") + tc.meaning + ")";
    }
    h += "<li data-type=\"" + Html(types[i]) + "\"><span class=\"sw t" + std::to_string(i) + "\"></span>" +
         Html(types[i]) + meaning + ": " + std::to_string(count[types[i]]) + " days</li>\n";
  }
  if (page.person) {
    h += "<li data-mark=\"no-tag\"><span class=\"mark\" style=\"border:2px dashed #c00000\"></span>"
         "no day record: " + std::to_string(no_tag) + "</li>\n";
    h += "<li data-mark=\"no-ztg\"><span class=\"mark\" style=\"outline:2px dotted #d06000;outline-offset:-4px\">"
         "</span>no time-group row: " + std::to_string(no_ztg) + "</li>\n";
    h += "<li data-mark=\"out\"><span class=\"sw\" style=\"opacity:.45\"></span>not employed</li>\n";
  } else {
    h += "<li data-mark=\"no-cal\"><span class=\"mark\" style=\"border:2px dashed #c00000\"></span>no calendar "
         "day: " + std::to_string(no_cal) + "</li>\n";
  }
  h += "<li data-mark=\"no-type\"><span class=\"sw\" style=\"background:repeating-linear-gradient(45deg,#fff 0 4px,"
       "#e4e4e4 4px 8px)\"></span>no day type</li>\n";
  h += "</ul>\n";
  if (page.person) {
    // Days before the person's window are never filled by a later run: say
    // so where the marks would otherwise read as the job's failure.
    h += "<p class=\"note\">Days without a day record before the first one shown lie before the person's "
         "window: each run fills a person's days from the earlier of the last day record and the last "
         "time-group row (at the latest 31 December of the year before the end year, or BegDat when it is "
         "earlier) up to the end date. A run with BegDat 0 never goes back to them; give BegDat as a date "
         "(yyyymmdd) to fill them.</p>\n";
  }
  h += "<div class=\"year\">\n";

  static const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};
  for (unsigned m = 1; m <= 12; ++m) {
    h += "<section class=\"month\" data-month=\"" + std::to_string(m) + "\"><h2>" + kMonths[m - 1] + " " +
         std::to_string(y.year) + "</h2>\n<table><thead><tr>";
    for (const char* wd : {"Mo", "Tu", "We", "Th", "Fr", "Sa", "Su"}) h += std::string("<th>") + wd + "</th>";
    h += "</tr></thead><tbody>\n<tr>";
    chr::year_month_day first{chr::year{y.year} / chr::month{m} / 1};
    const unsigned lead = chr::weekday{chr::sys_days{first}}.iso_encoding() - 1;
    for (unsigned i = 0; i < lead; ++i) h += "<td class=\"pad\"></td>";
    unsigned col = lead;
    const unsigned last =
        static_cast<unsigned>(chr::year_month_day_last{chr::year{y.year} / chr::month{m} / chr::last}.day());
    for (unsigned dnum = 1; dnum <= last; ++dnum) {
      if (col == 7) {
        h += "</tr>\n<tr>";
        col = 0;
      }
      const std::string ymd = Ymd(chr::year{y.year} / chr::month{m} / chr::day{dnum});
      const DayView& d = y.days.at(ymd);
      const std::string t = type_of(d);
      std::string cls = "day";
      if (!t.empty()) {
        for (size_t i = 0; i < types.size(); ++i) {
          if (types[i] == t) cls += " t" + std::to_string(i);
        }
      } else {
        cls += " no-type";
      }
      std::string tip = ymd.substr(6, 2) + "." + ymd.substr(4, 2) + "." + ymd.substr(0, 4);
      tip += t.empty() ? ", no day type" : ", day type " + t;
      if (page.person) {
        if (!d.tag) cls += " no-tag";
        if (!d.ztg) cls += " no-ztg";
        if (!d.employed) cls += " out";
        if (d.ztg) {
          tip += ", group " + d.agr + " day " + std::to_string(d.rotation_day) + ", planned " + Azt_Text(d.azt);
          if (!d.abt.empty()) tip += ", department " + d.abt;
          if (!d.kst.empty()) tip += ", cost centre " + d.kst;
        }
        if (!d.tag) tip += ", no day record";
        if (!d.ztg) tip += ", no time-group row";
        if (!d.employed) tip += ", not employed";
      } else if (!d.calendar_day) {
        cls += " no-cal";
        tip += ", no calendar day";
      }
      h += "<td class=\"" + cls + "\" data-date=\"" + ymd + "\" title=\"" + Html(tip) + "\"><span class=\"d\">" +
           std::to_string(dnum) + "</span>";
      if (page.person && d.ztg) {
        h += "<span class=\"azt\">" + Html(Azt_Text(d.azt)) + "</span><span class=\"agr\">" + Html(d.agr) +
             "</span>";
      } else if (!page.person && !t.empty()) {
        h += "<span class=\"agr\">" + Html(t) + "</span>";
      }
      h += "</td>";
      ++col;
    }
    h += "</tr>\n</tbody></table></section>\n";
  }
  h += "</div>\n</body>\n</html>\n";
  return h;
}

// ---------------------------------------------------------------------------
// The command

void Usage(FILE* out) {
  std::fprintf(out,
               "Usage: dayset-view [-o FILE] -p PNR CONFIG YEAR\n"
               "       dayset-view [-o FILE] -c KAL CONFIG YEAR\n"
               "       dayset-view --help | --version\n"
               "\n"
               "Writes one self-contained HTML page with the year YEAR as the nightly calendar job\n"
               "left it: for person PNR (-p) the day type, planned time and working-time group of\n"
               "every day, marking days without a day record or time-group row; for work calendar\n"
               "KAL (-c) the day type of every day, marking days the calendar lacks. It connects\n"
               "with the configuration file CONFIG exactly as the job does (run it where the job\n"
               "runs) and only reads.\n"
               "  -o FILE   write the page to FILE (default: standard output)\n"
               "\n"
               "Exit status: 0 written, 1 connect, read or write failure, 2 usage error or a person\n"
               "or calendar that does not exist.\n");
}

int UsageError(const char* message) {
  std::fprintf(stderr, "dayset-view: %s\n", message);
  std::fprintf(stderr, "Try 'dayset-view --help'.\n");
  return kExitUsage;
}

// Connects exactly as the job does (Cfg_Connect). A refused value is named,
// and shown only where the job would show it.
int Connect(const char* config, std::string* schema_out) {
  CfgConnect c;
  switch (Cfg_Connect(config, Sql_Options_Default(), &c)) {
    case kCfgConnected:
      *schema_out = c.schema;
      return kExitOk;
    case kCfgRefused:
      if (c.hidden) {
        std::fprintf(stderr, "dayset-view: %s: the value %s (%zu characters, not shown) is refused: %s\n", config,
                     c.name, c.length, c.allowed.c_str());
      } else {
        std::fprintf(stderr, "dayset-view: %s: the value %s \"%s\" is refused: %s\n", config, c.name,
                     Str_Shown(c.shown.c_str(), 120).c_str(), c.allowed.c_str());
      }
      return kExitUsage;
    case kCfgFileRefused:
      std::fprintf(stderr, "dayset-view: %s: not a regular file, refused\n", Str_Shown(config, 120).c_str());
      return kExitUsage;
    case kCfgConnectFailed:
      break;
  }
  std::fprintf(stderr, "dayset-view: connect as %s to %s, schema %s failed (RC %d)\n", c.login, c.net, c.schema,
               c.rc);
  if (c.file_errno != 0) {
    std::fprintf(stderr, "dayset-view: %s: %s\n", Str_Shown(config, 120).c_str(), std::strerror(c.file_errno));
  }
  return kExitFailed;
}

int Write(const char* path, const std::string& page) {
  FILE* f = path != nullptr ? std::fopen(path, "w") : stdout;
  if (f == nullptr) {
    std::fprintf(stderr, "dayset-view: cannot write %s: %s\n", path, std::strerror(errno));
    return kExitFailed;
  }
  const bool ok = std::fwrite(page.data(), 1, page.size(), f) == page.size();
  const bool closed = path != nullptr ? std::fclose(f) == 0 : std::fflush(f) == 0;
  if (!ok || !closed) {
    std::fprintf(stderr, "dayset-view: cannot write %s\n", path != nullptr ? path : "standard output");
    return kExitFailed;
  }
  return kExitOk;
}

int Main(int argc, char** argv) {
  const char* out = nullptr;
  const char* pnr = nullptr;
  const char* kal = nullptr;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const std::string opt = argv[i];
    if (opt == "--help" || opt == "-h") {
      Usage(stdout);
      return kExitOk;
    }
    if (opt == "--") {
      ++i;
      break;
    }
    if (opt != "-o" && opt != "-p" && opt != "-c") return UsageError(("unknown option " + opt).c_str());
    if (i + 1 >= argc) return UsageError((opt + " wants a value").c_str());
    const char* value = argv[++i];
    (opt == "-o" ? out : opt == "-p" ? pnr : kal) = value;
  }
  if (argc - i != 2) return UsageError("wants CONFIG and YEAR");
  if ((pnr == nullptr) == (kal == nullptr)) return UsageError("wants either -p PNR or -c KAL");
  const char* config = argv[i];
  const char* year_text = argv[i + 1];
  if (std::strlen(year_text) != 4 || std::strspn(year_text, "0123456789") != 4 || year_text[0] == '0') {
    return UsageError("YEAR is a year of 4 digits");
  }
  if (pnr != nullptr && (*pnr == '\0' || std::strlen(pnr) > 8)) {
    return UsageError("a person number has 1 to 8 characters");
  }
  if (kal != nullptr && (*kal == '\0' || std::strlen(kal) > 3)) {
    return UsageError("a calendar number has 1 to 3 characters");
  }
  const int year = std::stoi(year_text);

  std::string schema;
  if (int rc = Connect(config, &schema)) return rc;

  Year y;
  Year_Init(&y, year);
  Page page;
  if (pnr != nullptr) {
    Person p;
    p.pnr = pnr;
    ReadError err{"", 0};
    const int rc = Person_Read(&y, &p, &err);
    if (rc == 1403) {
      std::fprintf(stderr, "dayset-view: no person %s in schema %s\n", pnr, schema.c_str());
      return kExitUsage;
    }
    if (rc != 0) {
      std::fprintf(stderr, "dayset-view: reading the %s of person %s failed (RC %d)\n", err.what, pnr, rc);
      return kExitFailed;
    }
    page.person = true;
    page.title = "Person " + p.pnr + (p.name.empty() ? "" : " " + p.name) + ", " + year_text;
    page.subtitle = "Schema " + schema + ", work calendar " + (p.kal.empty() ? "none" : p.kal) + ", employed";
    if (p.employments.empty()) page.subtitle += ": never";
    for (size_t e = p.employments.size(); e-- > 0;) {
      const auto& [gvo, gbi] = p.employments[e];
      page.subtitle += " " + gvo + "-" + gbi;
    }
  } else {
    int rc = 0;
    const int family = Calendar_Family(kal, &rc);
    if (rc != 0) {
      std::fprintf(stderr, "dayset-view: reading the calendar lists failed (RC %d)\n", rc);
      return kExitFailed;
    }
    if (family < 0) {
      std::fprintf(stderr, "dayset-view: no work calendar %s in schema %s (Hrs135Mu2, Hrs135Muw)\n", kal,
                   schema.c_str());
      return kExitUsage;
    }
    char from[16], to[16];
    std::snprintf(from, sizeof from, "%04d0101", year);
    std::snprintf(to, sizeof to, "%04d1231", year);
    rc = Calendar_Read(&y, kal, family == 1, from, to);
    if (rc != 0) {
      std::fprintf(stderr, "dayset-view: reading work calendar %s failed (RC %d)\n", kal, rc);
      return kExitFailed;
    }
    page.title = std::string("Work calendar ") + kal + ", " + year_text;
    page.subtitle = "Schema " + schema + ", " + (family == 1 ? "Hrs133Ka2" : "HRSYSTEM.Hrs133Kal");
  }
  Sql_Rt_Disconnect();
  return Write(out, Page_Render(y, page));
}

}  // namespace

int main(int argc, char** argv) {
  if (Usage_Version_Asked(argc, argv, "dayset-view")) return 0;
  return Main(argc, argv);
}
