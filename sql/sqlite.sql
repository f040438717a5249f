-- Embedded database of plomvarde (SQLite 3).
--
-- Table T of schema S is the table named "S.T" (one quoted identifier with
-- the dot inside). Dates and times are text 'YYYY-MM-DD HH:MM:SS' in local
-- time, or NULL. Text columns compare and sort without regard to trailing
-- blanks (COLLATE RTRIM). Text is stored as UTF-8.
--
-- The first section holds the central tables; the section after the line
-- "-- @client" is laid out once per client schema, with {SCHEMA} replaced by
-- the schema name.

PRAGMA journal_mode = WAL;

-- Clients. MndSch is the client's schema; MndKon = 1 leaves a client out.
CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt112Mnd" (
  MndLiz INTEGER NOT NULL,
  MndNum INTEGER NOT NULL,
  MndSch TEXT COLLATE RTRIM,
  MndKon INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (MndLiz, MndNum)
);
-- A schema belongs to one client. Unique, so that the badge cursor reads a
-- client's badges in index order without sorting them.
CREATE UNIQUE INDEX IF NOT EXISTS "ZrSystem.Zrt112Mnd_Sch" ON "ZrSystem.Zrt112Mnd" (MndSch);

-- Terminals assigned to clients.
CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt115Tfz" (
  TfzTrm TEXT COLLATE RTRIM NOT NULL,
  TfzLiz INTEGER NOT NULL,
  TfzMnd INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS "ZrSystem.Zrt115Tfz_Trm" ON "ZrSystem.Zrt115Tfz" (TfzTrm);

-- Terminals and their types.
CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt114Tsm" (
  TsmNam TEXT COLLATE RTRIM NOT NULL PRIMARY KEY,
  TsmTyp TEXT COLLATE RTRIM
);

-- Readers of a terminal.
CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt401Zls" (
  ZlsTrm TEXT COLLATE RTRIM NOT NULL,
  ZlsLes INTEGER NOT NULL,
  ZlsZko TEXT COLLATE RTRIM
);
CREATE INDEX IF NOT EXISTS "ZrSystem.Zrt401Zls_TrmLes" ON "ZrSystem.Zrt401Zls" (ZlsTrm, ZlsLes);

-- Permissions: access class on a reader code, with a type code (3 blocks
-- time recording on reader 1).
CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt404Zbr" (
  ZbrZbk TEXT COLLATE RTRIM NOT NULL,
  ZbrZko TEXT COLLATE RTRIM NOT NULL,
  ZbrZtb INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS "ZrSystem.Zrt404Zbr_ZbkZko" ON "ZrSystem.Zrt404Zbr" (ZbrZbk, ZbrZko);

-- Badges.
CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt301Asw" (
  AswNum TEXT COLLATE RTRIM NOT NULL,
  AswGvo TEXT,
  AswGbi TEXT,
  AswPnr TEXT COLLATE RTRIM,
  AswBkl TEXT COLLATE RTRIM,
  AswGrp TEXT COLLATE RTRIM,
  AswAan TEXT COLLATE RTRIM,
  AswAtp INTEGER,
  AswLiz INTEGER NOT NULL,
  AswMnd INTEGER NOT NULL
);
-- In the order the badge cursor delivers a client's badges.
CREATE INDEX IF NOT EXISTS "ZrSystem.Zrt301Asw_Mnd" ON "ZrSystem.Zrt301Asw" (AswLiz, AswMnd, AswNum, AswGvo, AswBkl);

-- Badge-to-location assignments and locations.
CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt113Awv" (
  AwvNum TEXT COLLATE RTRIM NOT NULL,
  AwvSto TEXT COLLATE RTRIM
);
CREATE INDEX IF NOT EXISTS "ZrSystem.Zrt113Awv_Num" ON "ZrSystem.Zrt113Awv" (AwvNum);

CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt113Sto" (
  StoNum TEXT COLLATE RTRIM NOT NULL PRIMARY KEY,
  StoKtx TEXT COLLATE RTRIM
);

-- Display labels (301 to 308 are the balance display's).
CREATE TABLE IF NOT EXISTS "ZrSystem.O2001SALTEXTE" (
  StxNum INTEGER NOT NULL PRIMARY KEY,
  StxTxt TEXT COLLATE RTRIM
);

-- The line store of the download files. Lines sort by their Windows-1252
-- bytes (collation WIN1252, trailing blanks ignored), as on SQL Server; the
-- tool registers it, other SQLite clients load it from the extension module
-- libplomvarde-collation.
CREATE TABLE IF NOT EXISTS "ZrSystem.Zrt999Tmp" (
  TmpUsr TEXT COLLATE RTRIM NOT NULL,
  TmpStr TEXT COLLATE WIN1252 NOT NULL
);
-- Keyed by path only: the lines of one path are few enough to sort when
-- they are read back, and each insert then writes one index entry the
-- size of a path, not of a line.
CREATE INDEX IF NOT EXISTS "ZrSystem.Zrt999Tmp_Usr" ON "ZrSystem.Zrt999Tmp" (TmpUsr);

-- Daily balances (named without a schema by the statements).
CREATE TABLE IF NOT EXISTS Zrt320Tgb (
  TgbPnr TEXT COLLATE RTRIM NOT NULL,
  TgbZtr INTEGER NOT NULL,
  TgbDtm TEXT NOT NULL,
  TgbVt1 INTEGER, TgbSa1 INTEGER,
  TgbVt2 INTEGER, TgbSa2 INTEGER,
  TgbVt3 INTEGER, TgbSa3 INTEGER,
  TgbVt4 INTEGER, TgbSa4 INTEGER,
  TgbVt5 INTEGER, TgbSa5 INTEGER,
  TgbVt6 INTEGER, TgbSa6 INTEGER,
  TgbVt7 INTEGER, TgbSa7 INTEGER
);
CREATE INDEX IF NOT EXISTS Zrt320Tgb_PnrDtm ON Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm);

-- @client
-- Access-right assignments.
CREATE TABLE IF NOT EXISTS "{SCHEMA}.Zrt408Bzu" (
  BzuZau TEXT COLLATE RTRIM,
  BzuKst TEXT COLLATE RTRIM,
  BzuVks TEXT COLLATE RTRIM,
  BzuAbt TEXT COLLATE RTRIM,
  BzuVab TEXT COLLATE RTRIM,
  BzuAkr TEXT COLLATE RTRIM,
  BzuBkl TEXT COLLATE RTRIM,
  BzuGvo TEXT,
  BzuGbi TEXT
);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt408Bzu_Zau" ON "{SCHEMA}.Zrt408Bzu" (BzuZau);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt408Bzu_Kst" ON "{SCHEMA}.Zrt408Bzu" (BzuKst);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt408Bzu_Vks" ON "{SCHEMA}.Zrt408Bzu" (BzuVks);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt408Bzu_Abt" ON "{SCHEMA}.Zrt408Bzu" (BzuAbt);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt408Bzu_Vab" ON "{SCHEMA}.Zrt408Bzu" (BzuVab);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt408Bzu_Akr" ON "{SCHEMA}.Zrt408Bzu" (BzuAkr);

-- A person's cost centre and department.
CREATE TABLE IF NOT EXISTS "{SCHEMA}.Zrt311Zuo" (
  ZuoPnr TEXT COLLATE RTRIM NOT NULL,
  ZuoKst TEXT COLLATE RTRIM,
  ZuoAbt TEXT COLLATE RTRIM,
  ZuoGvo TEXT,
  ZuoGbi TEXT
);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt311Zuo_Pnr" ON "{SCHEMA}.Zrt311Zuo" (ZuoPnr);

-- Cost centres and their groups.
CREATE TABLE IF NOT EXISTS "{SCHEMA}.O1003Kststelle" (
  KstNum TEXT COLLATE RTRIM NOT NULL,
  KstVws TEXT COLLATE RTRIM
);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.O1003Kststelle_Num" ON "{SCHEMA}.O1003Kststelle" (KstNum);

-- Departments and their groups.
CREATE TABLE IF NOT EXISTS "{SCHEMA}.G1102AbtLst" (
  AblAbt TEXT COLLATE RTRIM NOT NULL,
  AblVab TEXT COLLATE RTRIM
);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.G1102AbtLst_Abt" ON "{SCHEMA}.G1102AbtLst" (AblAbt);

-- A person's Akr keys.
CREATE TABLE IF NOT EXISTS "{SCHEMA}.Zrt310Bsv" (
  BsvPnr TEXT COLLATE RTRIM NOT NULL,
  BsvAkr TEXT COLLATE RTRIM,
  BsvGvo TEXT,
  BsvGbi TEXT
);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt310Bsv_Pnr" ON "{SCHEMA}.Zrt310Bsv" (BsvPnr);

-- Persons.
CREATE TABLE IF NOT EXISTS "{SCHEMA}.Zrt300Pnr" (
  PnrNum TEXT COLLATE RTRIM NOT NULL,
  PnrSpr INTEGER,
  PnrSal TEXT COLLATE RTRIM
);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt300Pnr_Num" ON "{SCHEMA}.Zrt300Pnr" (PnrNum);

-- Vacation day records and yearly vacation accounts.
CREATE TABLE IF NOT EXISTS "{SCHEMA}.Zrt332Utg" (
  UtgPnr TEXT COLLATE RTRIM NOT NULL,
  UtgDtm TEXT NOT NULL,
  UtgVtg REAL,
  UtgRtg REAL,
  UtgGut REAL
);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt332Utg_PnrDtm" ON "{SCHEMA}.Zrt332Utg" (UtgPnr, UtgDtm);

CREATE TABLE IF NOT EXISTS "{SCHEMA}.Zrt332Urv" (
  UrvPnr TEXT COLLATE RTRIM NOT NULL,
  UrvJhr INTEGER NOT NULL,
  UrvGur REAL,
  UrvVjr REAL
);
CREATE INDEX IF NOT EXISTS "{SCHEMA}.Zrt332Urv_PnrJhr" ON "{SCHEMA}.Zrt332Urv" (UrvPnr, UrvJhr);
