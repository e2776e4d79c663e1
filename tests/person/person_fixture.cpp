#include "person_fixture.h"

#include "person/pnr_hook.h"

namespace persontest {

std::string Q(const char* text) {
  if (text == nullptr) return "NULL";
  std::string s = "'";
  for (const char* p = text; *p != '\0'; ++p) {
    s += *p;
    if (*p == '\'') s += '\'';
  }
  return s + "'";
}

void PersonTest::SetUp() {
  DbTest::SetUp();
  if (Ready()) Pnr_Run_Init();
}

void PersonTest::TearDown() {
  Pnr_Hook_Set(nullptr);
  Pnr_Day_Reads_Set(false);
  Pnr_Slice_Days_Set(0);
  DbTest::TearDown();
}

void PersonTest::AddPerson(const char* pnr, const char* nam, int sta) {
  ExecCur("insert into Hrs300Pnr values (" + Q(pnr) + "," + Q(nam) + "," + std::to_string(sta) + ")");
}

void PersonTest::AddBsv(const char* pnr, const char* gvo, const char* gbi, const char* kal,
                        const char* akr, const char* abr, int sta) {
  ExecCur("insert into Hrs310Bsv values (" + Q(pnr) + "," + D(gvo) + "," + D(gbi) + "," + Q(kal) + "," + Q(akr) + "," +
          Q(abr) + "," + std::to_string(sta) + ")");
}

void PersonTest::AddEmployee(const char* pnr, const char* nam, const char* gvo, const char* kal,
                             const char* akr, const char* abr) {
  AddPerson(pnr, nam);
  AddBsv(pnr, gvo, nullptr, kal, akr, abr);
}

void PersonTest::AddDays(const std::string& table, const char* kal, const char* from, const char* to, const char* ttp,
                         int sta, const std::string& schema) {
  std::string p = table == "Hrs133Ka2" ? "Ka2" : "Kal";
  std::string values;
  for (const std::string& day : testdb::Days(from, to)) {
    values += (values.empty() ? "(" : ", (") + Q(kal) + ", " + D(day.c_str()) + ", " + Q(ttp) + ", " +
              std::to_string(sta) + ")";
  }
  db_->Exec(schema.empty() ? schema_ : schema,
            "insert into " + table + " (" + p + "Num," + p + "Dtm," + p + "Ttp," + p + "Sta) values " + values);
}

void PersonTest::AddZuo(const char* pnr, const char* gvo, const char* gbi, const char* sdt, int stg,
                        const char* agr, const char* abt, const char* kst, const char* krt,
                        const char* ktr, const char* vra) {
  ExecCur("insert into Hrs311Zuo values (" + Q(pnr) + "," + D(gvo) + "," + D(gbi) + "," + D(sdt) + "," +
          std::to_string(stg) + "," + Q(agr) + "," + Q(abt) + "," + Q(kst) + "," + Q(krt) + "," + Q(ktr) + "," +
          Q(vra) + ")");
}

void PersonTest::AddAgr(const char* num, int tge) {
  ExecCur("insert into Hrs160Agr values (" + Q(num) + "," + std::to_string(tge) + ")");
}

void PersonTest::AddWpl(const char* agr, int tag, const char* azt, const char* vra) {
  ExecCur("insert into Hrs161Wpl values (" + Q(agr) + "," + std::to_string(tag) + "," + Q(azt) + "," + Q(vra) + ")");
}

void PersonTest::AddAssigned(const char* pnr) {
  ExecCur(
      "insert into Hrs160Agr select 'G0', 1 where not exists (select 1 from Hrs160Agr where AgrNum = 'G0'); "
      "insert into Hrs161Wpl select 'G0', 1, '0800', NULL where not exists "
      "(select 1 from Hrs161Wpl where WplAgr = 'G0')");
  AddZuo(pnr, "2000-01-01", nullptr, "2000-01-01", 1, "G0", "ABT", "KST", "KR", "KTR", nullptr);
}

int PersonTest::Run(const char* beg, const char* end_year, const char* von, const char* bis) {
  std::string end = std::string(end_year) + "1231";
  return Pnr_Days_Extend(beg, end.c_str(), von, bis);
}

std::vector<std::string> PersonTest::Tags(const std::string& schema) {
  return db_->Rows(schema.empty() ? schema_ : schema,
                   "select TagPnr, date(TagTag), date(TagVon), " + db_->DateTime("TagUhr") + ", date(TagBis), " +
                       db_->DateTime("TagEnd") + " from Hrs327Tag order by TagPnr, TagTag");
}

std::vector<std::string> PersonTest::Ztgs(const std::string& schema) {
  return db_->Rows(schema.empty() ? schema_ : schema,
                   "select ZtgPnr, date(ZtgVon), ZtgAkr, ZtgAbt, ZtgKst, ZtgKtr, ZtgKrt, "
                   "ZtgAgr, ZtgTag, ZtgBsd, ZtgVra, ZtgAzt, ZtgTtp, ZtgSta, ZtgPnm "
                   "from Hrs329Ztg order by ZtgPnr, ZtgVon");
}

std::vector<std::string> PersonTest::Urvs(const std::string& schema) {
  return db_->Rows(schema.empty() ? schema_ : schema, "select UrvPnr, UrvJhr from Hrs332Urv order by UrvPnr, UrvJhr");
}

}  // namespace persontest
