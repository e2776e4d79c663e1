// Fixture for the calendar phase tests: the DbTest database with helpers to
// seed base calendars, calendar lists and weekly patterns, and to pick the
// session's territory (which numbers the weekdays). Runs on every backend.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "../support/testdb.h"

class CalTest : public testdb::DbTest {
 protected:
  void TearDown() override {
    DbTest::TearDown();
    unsetenv("NLS_TERRITORY");
  }

  // Reconnects with NLS_TERRITORY set to `territory`.
  void UseTerritory(const char* territory) {
    setenv("NLS_TERRITORY", territory, 1);
    ASSERT_EQ(Reconnect("HRSYSTEM"), 0);
  }

  // Base calendar rows for every day from..to (yyyy-mm-dd), weekday numbered
  // Monday = 1 as a German session does; the other attributes stay NULL.
  void SeedBak(const std::string& from, const std::string& to) {
    std::string values;
    for (const std::string& day : testdb::Days(from, to)) {
      values +=
          (values.empty() ? "" : ", ") + ("(" + D(day.c_str()) + ", ") + std::to_string(testdb::IsoWeekday(day)) + ")";
    }
    Exec("insert into Hrs133Bak (BakDtm, BakWtg) values " + values);
  }

  // Weekly pattern rows of calendar `kal`: types[i] for weekday i + 1, "-"
  // for none, "NULL" for a row without a day type.
  void SeedWch(const std::string& kal, const std::vector<std::string>& types, int sta = 1,
               const std::string& schema = "HRSYSTEM") {
    for (size_t i = 0; i < types.size(); ++i) {
      if (types[i] == "-") continue;
      std::string ttp = types[i] == "NULL" ? "NULL" : "'" + types[i] + "'";
      db_->Exec(schema, "insert into Hrs137Wch values ('" + kal + "', " + std::to_string(i + 1) + ", " + ttp + ", " +
                            std::to_string(sta) + ")");
    }
  }

  // The rows of a work calendar table (Kal or Ka2 tag), oldest first.
  std::vector<std::string> KalRows(const std::string& tag = "Kal", const std::string& schema = "HRSYSTEM") {
    return db_->Rows(schema, "select " + tag + "Num, " + db_->Ymd(tag + "Dtm") + ", " + tag + "Ttp, " + tag + "Ptp, " +
                                 tag + "Btp, " + tag + "Gwt, " + tag + "Sta from Hrs133" + tag + " order by 1, 2");
  }
};
