-- Tables of the time-management schema that the nightly calendar job reads
-- and writes, for an Oracle database reached through ODBC. One schema of the
-- job is one Oracle schema (user) of the same name (HRSYSTEM, a client
-- schema HRCLIENT). Run this script with SQL*Plus, or any tool that runs a
-- script, as the schema's owner or with CURRENT_SCHEMA set to it, e.g.:
--   ALTER SESSION SET CURRENT_SCHEMA = HRSYSTEM;
--   @schema-oracle.sql
--
-- The same tables, columns, keys, NOT NULLs and indexes as db/schema.sql and
-- db/schema-postgresql.sql. Dates are DATE (local wall time, to the second).
-- Numbers are NUMBER(10), which holds every value of the job's 32-bit host
-- variables. Texts are VARCHAR2(1000): the other schemas bound no text, and
-- the job reads values longer than its own buffers (and cuts them), so no
-- length of its own is imposed here, only a bound far above any code or
-- name that keeps every key well within Oracle's index key limit. Oracle stores an empty text as NULL,
-- as the other backends do by the job's rule. Texts compare byte by byte
-- because the job's session sets NLS_SORT and NLS_COMP to BINARY.

-- Base calendar: one row per date with its attributes.
CREATE TABLE Hrs133Bak (
  BakDtm DATE NOT NULL PRIMARY KEY,
  BakJhr NUMBER(10), BakMon NUMBER(10), BakTag NUMBER(10), BakWch NUMBER(10),
  BakWtg NUMBER(10), BakJtg NUMBER(10), BakYow NUMBER(10), BakDat DATE
);

-- Work calendars, first family: days per calendar number, and the list.
CREATE TABLE Hrs133Kal (
  KalNum VARCHAR2(1000) NOT NULL, KalDtm DATE NOT NULL,
  KalTtp VARCHAR2(1000), KalPtp VARCHAR2(1000), KalBtp VARCHAR2(1000),
  KalGwt NUMBER(10), KalDat DATE, KalSta NUMBER(10),
  PRIMARY KEY (KalNum, KalDtm)
);
CREATE TABLE Hrs135Muw (MuwKal VARCHAR2(1000), MuwSta NUMBER(10));
CREATE INDEX Hrs135Muw_Kal ON Hrs135Muw (MuwKal);

-- Work calendars, second family.
CREATE TABLE Hrs133Ka2 (
  Ka2Num VARCHAR2(1000) NOT NULL, Ka2Dtm DATE NOT NULL,
  Ka2Ttp VARCHAR2(1000), Ka2Ptp VARCHAR2(1000), Ka2Btp VARCHAR2(1000),
  Ka2Gwt NUMBER(10), Ka2Dat DATE, Ka2Sta NUMBER(10),
  PRIMARY KEY (Ka2Num, Ka2Dtm)
);
CREATE TABLE Hrs135Mu2 (Mu2Kal VARCHAR2(1000), Mu2Sta NUMBER(10));
CREATE INDEX Hrs135Mu2_Kal ON Hrs135Mu2 (Mu2Kal);

-- Weekly patterns: day type per calendar number and weekday number.
CREATE TABLE Hrs137Wch (WchKal VARCHAR2(1000), WchTag NUMBER(10), WchTtp VARCHAR2(1000), WchSta NUMBER(10));
CREATE INDEX Hrs137Wch_KalTag ON Hrs137Wch (WchKal, WchTag);

-- Persons and their employment relationships.
CREATE TABLE Hrs300Pnr (PnrNum VARCHAR2(1000) NOT NULL PRIMARY KEY, PnrNam VARCHAR2(1000), PnrSta NUMBER(10));
CREATE TABLE Hrs310Bsv (
  BsvPnr VARCHAR2(1000) NOT NULL, BsvGvo DATE NOT NULL,
  BsvGbi DATE, BsvKal VARCHAR2(1000), BsvAkr VARCHAR2(1000),
  BsvAbr VARCHAR2(1000), BsvSta NUMBER(10),
  PRIMARY KEY (BsvPnr, BsvGvo)
);

-- Day records per person and day.
CREATE TABLE Hrs327Tag (
  TagPnr VARCHAR2(1000) NOT NULL, TagTag DATE NOT NULL,
  TagVon DATE, TagUhr DATE,
  TagBis DATE, TagEnd DATE,
  TagDat DATE,
  PRIMARY KEY (TagPnr, TagTag)
);

-- Daily working-time-group records per person and day.
CREATE TABLE Hrs329Ztg (
  ZtgPnr VARCHAR2(1000) NOT NULL, ZtgVon DATE NOT NULL,
  ZtgAkr VARCHAR2(1000), ZtgAbt VARCHAR2(1000), ZtgKst VARCHAR2(1000),
  ZtgKtr VARCHAR2(1000), ZtgKrt VARCHAR2(1000), ZtgAgr VARCHAR2(1000), ZtgTag NUMBER(10),
  ZtgBsd VARCHAR2(1000), ZtgVra VARCHAR2(1000), ZtgAzt VARCHAR2(1000),
  ZtgTtp VARCHAR2(1000), ZtgDat DATE, ZtgSta NUMBER(10),
  ZtgPnm VARCHAR2(1000),
  PRIMARY KEY (ZtgPnr, ZtgVon)
);

-- Assignments of persons to working-time groups, departments, cost centres.
CREATE TABLE Hrs311Zuo (
  ZuoPnr VARCHAR2(1000), ZuoGvo DATE, ZuoGbi DATE,
  ZuoSdt DATE, ZuoStg NUMBER(10),
  ZuoAgr VARCHAR2(1000), ZuoAbt VARCHAR2(1000), ZuoKst VARCHAR2(1000),
  ZuoKrt VARCHAR2(1000), ZuoKtr VARCHAR2(1000), ZuoVra VARCHAR2(1000)
);
CREATE INDEX Hrs311Zuo_PnrGvo ON Hrs311Zuo (ZuoPnr, ZuoGvo);

-- Working-time groups and their plans per rotation day.
CREATE TABLE Hrs160Agr (AgrNum VARCHAR2(1000) NOT NULL PRIMARY KEY, AgrTge NUMBER(10));
CREATE TABLE Hrs161Wpl (
  WplAgr VARCHAR2(1000) NOT NULL, WplTag NUMBER(10) NOT NULL, WplAzt VARCHAR2(1000),
  WplVra VARCHAR2(1000),
  PRIMARY KEY (WplAgr, WplTag)
);

-- Vacation carry-over years per person.
CREATE TABLE Hrs332Urv (UrvPnr VARCHAR2(1000) NOT NULL, UrvJhr NUMBER(10) NOT NULL, PRIMARY KEY (UrvPnr, UrvJhr));
