-- Tables of the time-management schema that the nightly calendar job reads
-- and writes, for the embedded database. One schema is one database file
-- (DIR/NAME.db); run this script with the sqlite3 shell to create one:
--   sqlite3 DIR/HRSYSTEM.db < db/schema.sql
-- Dates are DATE columns holding Julian day numbers (local time, midnight is
-- N.5), so that date(x) in the shell shows them and date + 1 is the next day.
-- Empty texts are stored as NULL. Key columns are NOT NULL, as a primary key is
-- elsewhere: an employment row without its first valid day is refused.

PRAGMA journal_mode = WAL;

-- Base calendar: one row per date with its attributes.
CREATE TABLE Hrs133Bak (
  BakDtm DATE NOT NULL PRIMARY KEY,
  BakJhr INTEGER, BakMon INTEGER, BakTag INTEGER, BakWch INTEGER,
  BakWtg INTEGER, BakJtg INTEGER, BakYow INTEGER, BakDat DATE
);

-- Work calendars, first family: days per calendar number, and the list.
CREATE TABLE Hrs133Kal (
  KalNum TEXT NOT NULL, KalDtm DATE NOT NULL, KalTtp TEXT, KalPtp TEXT, KalBtp TEXT,
  KalGwt INTEGER, KalDat DATE, KalSta INTEGER,
  PRIMARY KEY (KalNum, KalDtm)
);
CREATE TABLE Hrs135Muw (MuwKal TEXT, MuwSta INTEGER);
CREATE INDEX Hrs135Muw_Kal ON Hrs135Muw (MuwKal);

-- Work calendars, second family.
CREATE TABLE Hrs133Ka2 (
  Ka2Num TEXT NOT NULL, Ka2Dtm DATE NOT NULL, Ka2Ttp TEXT, Ka2Ptp TEXT, Ka2Btp TEXT,
  Ka2Gwt INTEGER, Ka2Dat DATE, Ka2Sta INTEGER,
  PRIMARY KEY (Ka2Num, Ka2Dtm)
);
CREATE TABLE Hrs135Mu2 (Mu2Kal TEXT, Mu2Sta INTEGER);
CREATE INDEX Hrs135Mu2_Kal ON Hrs135Mu2 (Mu2Kal);

-- Weekly patterns: day type per calendar number and weekday number.
CREATE TABLE Hrs137Wch (WchKal TEXT, WchTag INTEGER, WchTtp TEXT, WchSta INTEGER);
CREATE INDEX Hrs137Wch_KalTag ON Hrs137Wch (WchKal, WchTag);

-- Persons and their employment relationships.
CREATE TABLE Hrs300Pnr (PnrNum TEXT NOT NULL PRIMARY KEY, PnrNam TEXT, PnrSta INTEGER);
CREATE TABLE Hrs310Bsv (
  BsvPnr TEXT NOT NULL, BsvGvo DATE NOT NULL, BsvGbi DATE, BsvKal TEXT, BsvAkr TEXT,
  BsvAbr TEXT, BsvSta INTEGER,
  PRIMARY KEY (BsvPnr, BsvGvo)
);

-- Day records per person and day.
CREATE TABLE Hrs327Tag (
  TagPnr TEXT NOT NULL, TagTag DATE NOT NULL, TagVon DATE, TagUhr DATE, TagBis DATE,
  TagEnd DATE, TagDat DATE,
  PRIMARY KEY (TagPnr, TagTag)
);

-- Daily working-time-group records per person and day.
CREATE TABLE Hrs329Ztg (
  ZtgPnr TEXT NOT NULL, ZtgVon DATE NOT NULL, ZtgAkr TEXT, ZtgAbt TEXT, ZtgKst TEXT,
  ZtgKtr TEXT, ZtgKrt TEXT, ZtgAgr TEXT, ZtgTag INTEGER, ZtgBsd TEXT,
  ZtgVra TEXT, ZtgAzt TEXT, ZtgTtp TEXT, ZtgDat DATE, ZtgSta INTEGER,
  ZtgPnm TEXT,
  PRIMARY KEY (ZtgPnr, ZtgVon)
);

-- Assignments of persons to working-time groups, departments, cost centres.
CREATE TABLE Hrs311Zuo (
  ZuoPnr TEXT, ZuoGvo DATE, ZuoGbi DATE, ZuoSdt DATE, ZuoStg INTEGER,
  ZuoAgr TEXT, ZuoAbt TEXT, ZuoKst TEXT, ZuoKrt TEXT, ZuoKtr TEXT,
  ZuoVra TEXT
);
CREATE INDEX Hrs311Zuo_PnrGvo ON Hrs311Zuo (ZuoPnr, ZuoGvo);

-- Working-time groups and their plans per rotation day.
CREATE TABLE Hrs160Agr (AgrNum TEXT NOT NULL PRIMARY KEY, AgrTge INTEGER);
CREATE TABLE Hrs161Wpl (
  WplAgr TEXT NOT NULL, WplTag INTEGER NOT NULL, WplAzt TEXT, WplVra TEXT,
  PRIMARY KEY (WplAgr, WplTag)
);

-- Vacation carry-over years per person.
CREATE TABLE Hrs332Urv (UrvPnr TEXT NOT NULL, UrvJhr INTEGER NOT NULL, PRIMARY KEY (UrvPnr, UrvJhr));
