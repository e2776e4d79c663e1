-- Tables of the time-management schema that the nightly calendar job reads
-- and writes, for a PostgreSQL database. One schema of the job is one
-- PostgreSQL schema of the same name in lower case (HRSYSTEM is hrsystem, a
-- client schema HRCLIENT is hrclient). Run this script with psql into the
-- schema it is meant for, for example:
--   psql -v ON_ERROR_STOP=1 -c 'create schema hrsystem' \
--        -c 'set search_path = hrsystem' -f db/schema-postgresql.sql DBNAME
-- (psql runs the -c and -f options in one session, in order).
--
-- Dates are timestamp(0) columns holding local wall time, as the job's
-- clock gives it; the job never asks the server for the time. Texts are
-- varchar with the binary collation "C", so that person numbers and
-- calendar numbers compare and sort byte by byte whatever collation the
-- database was created with. Empty texts are stored as NULL. Key columns are
-- NOT NULL.

-- Base calendar: one row per date with its attributes.
CREATE TABLE Hrs133Bak (
  BakDtm timestamp(0) without time zone NOT NULL PRIMARY KEY,
  BakJhr integer, BakMon integer, BakTag integer, BakWch integer,
  BakWtg integer, BakJtg integer, BakYow integer, BakDat timestamp(0) without time zone
);

-- Work calendars, first family: days per calendar number, and the list.
CREATE TABLE Hrs133Kal (
  KalNum varchar COLLATE "C" NOT NULL, KalDtm timestamp(0) without time zone NOT NULL,
  KalTtp varchar COLLATE "C", KalPtp varchar COLLATE "C", KalBtp varchar COLLATE "C",
  KalGwt integer, KalDat timestamp(0) without time zone, KalSta integer,
  PRIMARY KEY (KalNum, KalDtm)
);
CREATE TABLE Hrs135Muw (MuwKal varchar COLLATE "C", MuwSta integer);
CREATE INDEX Hrs135Muw_Kal ON Hrs135Muw (MuwKal);

-- Work calendars, second family.
CREATE TABLE Hrs133Ka2 (
  Ka2Num varchar COLLATE "C" NOT NULL, Ka2Dtm timestamp(0) without time zone NOT NULL,
  Ka2Ttp varchar COLLATE "C", Ka2Ptp varchar COLLATE "C", Ka2Btp varchar COLLATE "C",
  Ka2Gwt integer, Ka2Dat timestamp(0) without time zone, Ka2Sta integer,
  PRIMARY KEY (Ka2Num, Ka2Dtm)
);
CREATE TABLE Hrs135Mu2 (Mu2Kal varchar COLLATE "C", Mu2Sta integer);
CREATE INDEX Hrs135Mu2_Kal ON Hrs135Mu2 (Mu2Kal);

-- Weekly patterns: day type per calendar number and weekday number.
CREATE TABLE Hrs137Wch (WchKal varchar COLLATE "C", WchTag integer, WchTtp varchar COLLATE "C", WchSta integer);
CREATE INDEX Hrs137Wch_KalTag ON Hrs137Wch (WchKal, WchTag);

-- Persons and their employment relationships.
CREATE TABLE Hrs300Pnr (PnrNum varchar COLLATE "C" NOT NULL PRIMARY KEY, PnrNam varchar COLLATE "C", PnrSta integer);
CREATE TABLE Hrs310Bsv (
  BsvPnr varchar COLLATE "C" NOT NULL, BsvGvo timestamp(0) without time zone NOT NULL,
  BsvGbi timestamp(0) without time zone, BsvKal varchar COLLATE "C", BsvAkr varchar COLLATE "C",
  BsvAbr varchar COLLATE "C", BsvSta integer,
  PRIMARY KEY (BsvPnr, BsvGvo)
);

-- Day records per person and day.
CREATE TABLE Hrs327Tag (
  TagPnr varchar COLLATE "C" NOT NULL, TagTag timestamp(0) without time zone NOT NULL,
  TagVon timestamp(0) without time zone, TagUhr timestamp(0) without time zone,
  TagBis timestamp(0) without time zone, TagEnd timestamp(0) without time zone,
  TagDat timestamp(0) without time zone,
  PRIMARY KEY (TagPnr, TagTag)
);

-- Daily working-time-group records per person and day. Every run rewrites
-- the rows of its end year, so the pages are filled only by half: a row's
-- new version then fits on the row's own page, takes no new index entry,
-- and the next run that comes by reclaims the old one. (Rewritten nightly,
-- the rows of a year take that room anyway: on full pages each new version
-- moves to another page and leaves a gap behind.)
CREATE TABLE Hrs329Ztg (
  ZtgPnr varchar COLLATE "C" NOT NULL, ZtgVon timestamp(0) without time zone NOT NULL,
  ZtgAkr varchar COLLATE "C", ZtgAbt varchar COLLATE "C", ZtgKst varchar COLLATE "C",
  ZtgKtr varchar COLLATE "C", ZtgKrt varchar COLLATE "C", ZtgAgr varchar COLLATE "C", ZtgTag integer,
  ZtgBsd varchar COLLATE "C", ZtgVra varchar COLLATE "C", ZtgAzt varchar COLLATE "C",
  ZtgTtp varchar COLLATE "C", ZtgDat timestamp(0) without time zone, ZtgSta integer,
  ZtgPnm varchar COLLATE "C",
  PRIMARY KEY (ZtgPnr, ZtgVon)
) WITH (fillfactor = 50);

-- Assignments of persons to working-time groups, departments, cost centres.
CREATE TABLE Hrs311Zuo (
  ZuoPnr varchar COLLATE "C", ZuoGvo timestamp(0) without time zone, ZuoGbi timestamp(0) without time zone,
  ZuoSdt timestamp(0) without time zone, ZuoStg integer,
  ZuoAgr varchar COLLATE "C", ZuoAbt varchar COLLATE "C", ZuoKst varchar COLLATE "C",
  ZuoKrt varchar COLLATE "C", ZuoKtr varchar COLLATE "C", ZuoVra varchar COLLATE "C"
);
CREATE INDEX Hrs311Zuo_PnrGvo ON Hrs311Zuo (ZuoPnr, ZuoGvo);

-- Working-time groups and their plans per rotation day.
CREATE TABLE Hrs160Agr (AgrNum varchar COLLATE "C" NOT NULL PRIMARY KEY, AgrTge integer);
CREATE TABLE Hrs161Wpl (
  WplAgr varchar COLLATE "C" NOT NULL, WplTag integer NOT NULL, WplAzt varchar COLLATE "C",
  WplVra varchar COLLATE "C",
  PRIMARY KEY (WplAgr, WplTag)
);

-- Vacation carry-over years per person.
CREATE TABLE Hrs332Urv (UrvPnr varchar COLLATE "C" NOT NULL, UrvJhr integer NOT NULL, PRIMARY KEY (UrvPnr, UrvJhr));
