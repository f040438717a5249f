-- SQL Server database of plomvarde: every table and column that the tool's
-- statements read or write, for setting up a test installation.
--
-- Run it in the database that the configured schema names, e.g.
--   sqlcmd -S sqlsrv01 -U sa -d Korvantis -i sql/sqlserver.sql
-- (or through FreeTDS: tsql / fisql, or any client that understands "GO").
--
-- The database must compare names without regard to case (the statements
-- write ZrSystem and ZRSystem, MndSch and MNDSCH): create it with a
-- case-insensitive collation, e.g.
--   CREATE DATABASE Korvantis COLLATE Latin1_General_CI_AS;
--
-- Central tables live in the schema ZrSystem; every client (Mandant) has the
-- same set of per-client tables in its own schema. The second part below
-- lays them out for the client schema M01; for another client, run it again
-- with M01 replaced by that client's schema (at most 20 characters), and add
-- the client to ZrSystem.Zrt112Mnd.
--
-- The daily balance table Zrt320Tgb is named by the tool without a schema,
-- so SQL Server looks for it in the connecting user's default schema
-- (normally dbo); it is created as dbo.Zrt320Tgb here.
--
-- Widths follow what the tool binds: a column is at least as wide as the
-- value the tool sends or receives (a badge number 50 characters, a
-- terminal name 10, a client schema 20, a download file path 100, a line
-- 512). Dates are datetime; vacation figures float.
--
-- The line store's columns use a binary collation, so that the lines of a
-- download file come back in the order of their bytes whatever the
-- database's collation (the embedded database sorts the same way), and a
-- download file path matches only itself.
--
-- Every lookup the tool makes per badge has an index led by the columns it
-- filters on, so that it seeks. The tool sends its text parameters as
-- varchar, the type of the key columns: keep them varchar (an nvarchar
-- column would be compared by conversion and scanned).

IF SCHEMA_ID('ZrSystem') IS NULL EXEC('CREATE SCHEMA ZrSystem');
GO

-- Clients. MndSch is the client's schema; MndKon = 1 leaves a client out.
IF OBJECT_ID('ZrSystem.Zrt112Mnd') IS NULL
CREATE TABLE ZrSystem.Zrt112Mnd (
  MndLiz int NOT NULL,
  MndNum int NOT NULL,
  MndSch varchar(20) NULL,
  MndKon int NOT NULL CONSTRAINT DF_Zrt112Mnd_MndKon DEFAULT 0,
  CONSTRAINT PK_Zrt112Mnd PRIMARY KEY (MndLiz, MndNum)
);
GO
-- A schema belongs to one client; the badge cursor finds its client by it.
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'UX_Zrt112Mnd_Sch')
CREATE UNIQUE INDEX UX_Zrt112Mnd_Sch ON ZrSystem.Zrt112Mnd (MndSch) WHERE MndSch IS NOT NULL;
GO

-- Terminals assigned to clients.
IF OBJECT_ID('ZrSystem.Zrt115Tfz') IS NULL
CREATE TABLE ZrSystem.Zrt115Tfz (
  TfzTrm varchar(10) NOT NULL,
  TfzLiz int NOT NULL,
  TfzMnd int NOT NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt115Tfz_Trm')
CREATE INDEX IX_Zrt115Tfz_Trm ON ZrSystem.Zrt115Tfz (TfzTrm);
GO

-- Terminals and their types.
IF OBJECT_ID('ZrSystem.Zrt114Tsm') IS NULL
CREATE TABLE ZrSystem.Zrt114Tsm (
  TsmNam varchar(10) NOT NULL CONSTRAINT PK_Zrt114Tsm PRIMARY KEY,
  TsmTyp varchar(10) NULL
);
GO

-- Readers of a terminal: reader number and reader code.
IF OBJECT_ID('ZrSystem.Zrt401Zls') IS NULL
CREATE TABLE ZrSystem.Zrt401Zls (
  ZlsTrm varchar(10) NOT NULL,
  ZlsLes int NOT NULL,
  ZlsZko varchar(5) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt401Zls_TrmLes')
CREATE INDEX IX_Zrt401Zls_TrmLes ON ZrSystem.Zrt401Zls (ZlsTrm, ZlsLes);
GO

-- Permissions: access class on a reader code, with a type code (3 blocks
-- time recording on reader 1).
IF OBJECT_ID('ZrSystem.Zrt404Zbr') IS NULL
CREATE TABLE ZrSystem.Zrt404Zbr (
  ZbrZbk varchar(5) NOT NULL,
  ZbrZko varchar(5) NOT NULL,
  ZbrZtb int NOT NULL CONSTRAINT DF_Zrt404Zbr_ZbrZtb DEFAULT 0
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt404Zbr_ZbkZko')
CREATE INDEX IX_Zrt404Zbr_ZbkZko ON ZrSystem.Zrt404Zbr (ZbrZbk, ZbrZko);
GO

-- Badges.
IF OBJECT_ID('ZrSystem.Zrt301Asw') IS NULL
CREATE TABLE ZrSystem.Zrt301Asw (
  AswNum varchar(50) NOT NULL,
  AswGvo datetime NULL,
  AswGbi datetime NULL,
  AswPnr varchar(8) NULL,
  AswBkl varchar(5) NULL,
  AswGrp varchar(5) NULL,
  AswAan varchar(50) NULL,
  AswAtp int NULL,
  AswLiz int NOT NULL,
  AswMnd int NOT NULL
);
GO
-- A client's badges in the order the badge cursor delivers them: no sort.
IF EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt301Asw_Mnd'
           AND object_id = OBJECT_ID('ZrSystem.Zrt301Asw'))
   AND NOT EXISTS (SELECT 1 FROM sys.index_columns ic JOIN sys.indexes i
                   ON i.object_id = ic.object_id AND i.index_id = ic.index_id
                   WHERE i.name = 'IX_Zrt301Asw_Mnd' AND ic.key_ordinal = 5)
DROP INDEX IX_Zrt301Asw_Mnd ON ZrSystem.Zrt301Asw;
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt301Asw_Mnd')
CREATE INDEX IX_Zrt301Asw_Mnd ON ZrSystem.Zrt301Asw (AswLiz, AswMnd, AswNum, AswGvo, AswBkl);
GO

-- Badge-to-location assignments and locations.
IF OBJECT_ID('ZrSystem.Zrt113Awv') IS NULL
CREATE TABLE ZrSystem.Zrt113Awv (
  AwvNum varchar(50) NOT NULL,
  AwvSto varchar(8) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt113Awv_Num')
CREATE INDEX IX_Zrt113Awv_Num ON ZrSystem.Zrt113Awv (AwvNum);
GO

IF OBJECT_ID('ZrSystem.Zrt113Sto') IS NULL
CREATE TABLE ZrSystem.Zrt113Sto (
  StoNum varchar(8) NOT NULL CONSTRAINT PK_Zrt113Sto PRIMARY KEY,
  StoKtx varchar(10) NULL
);
GO

-- Display labels (301 to 308 are the balance display's).
IF OBJECT_ID('ZrSystem.O2001SALTEXTE') IS NULL
CREATE TABLE ZrSystem.O2001SALTEXTE (
  StxNum int NOT NULL CONSTRAINT PK_O2001SALTEXTE PRIMARY KEY,
  StxTxt varchar(40) NULL
);
GO

-- The line store of the download files.
IF OBJECT_ID('ZrSystem.Zrt999Tmp') IS NULL
CREATE TABLE ZrSystem.Zrt999Tmp (
  TmpUsr varchar(100) COLLATE Latin1_General_BIN2 NOT NULL,
  TmpStr varchar(512) COLLATE Latin1_General_BIN2 NOT NULL
);
GO
-- Clustered: the table is emptied and refilled every run, and a heap would
-- keep its emptied pages; the lines of a path are read back in this order.
IF EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt999Tmp_UsrStr')
DROP INDEX IX_Zrt999Tmp_UsrStr ON ZrSystem.Zrt999Tmp;
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'CX_Zrt999Tmp_UsrStr')
CREATE CLUSTERED INDEX CX_Zrt999Tmp_UsrStr ON ZrSystem.Zrt999Tmp (TmpUsr, TmpStr);
GO

-- Daily balances in minutes, one row per person, time type and day.
IF OBJECT_ID('dbo.Zrt320Tgb') IS NULL
CREATE TABLE dbo.Zrt320Tgb (
  TgbPnr varchar(8) NOT NULL,
  TgbZtr int NOT NULL,
  TgbDtm datetime NOT NULL,
  TgbVt1 int NULL, TgbSa1 int NULL,
  TgbVt2 int NULL, TgbSa2 int NULL,
  TgbVt3 int NULL, TgbSa3 int NULL,
  TgbVt4 int NULL, TgbSa4 int NULL,
  TgbVt5 int NULL, TgbSa5 int NULL,
  TgbVt6 int NULL, TgbSa6 int NULL,
  TgbVt7 int NULL, TgbSa7 int NULL
);
GO
-- Clustered on the lookup's key: one seek reads the day's row.
IF EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt320Tgb_PnrDtm')
DROP INDEX IX_Zrt320Tgb_PnrDtm ON dbo.Zrt320Tgb;
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'CX_Zrt320Tgb_PnrZtrDtm')
CREATE CLUSTERED INDEX CX_Zrt320Tgb_PnrZtrDtm ON dbo.Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm);
GO

-- ---------------------------------------------------------------------
-- Per-client tables of the client schema M01.
-- ---------------------------------------------------------------------

IF SCHEMA_ID('M01') IS NULL EXEC('CREATE SCHEMA M01');
GO

-- Access-right assignments: an access class, valid from BzuGvo to BzuGbi,
-- given to a badge group, a cost centre, a cost-centre group, a department,
-- a department group or an Akr key.
IF OBJECT_ID('M01.Zrt408Bzu') IS NULL
CREATE TABLE M01.Zrt408Bzu (
  BzuZau varchar(5) NULL,
  BzuKst varchar(30) NULL,
  BzuVks varchar(30) NULL,
  BzuAbt varchar(15) NULL,
  BzuVab varchar(15) NULL,
  BzuAkr varchar(20) NULL,
  BzuBkl varchar(5) NULL,
  BzuGvo datetime NULL,
  BzuGbi datetime NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt408Bzu_Zau'
               AND object_id = OBJECT_ID('M01.Zrt408Bzu'))
BEGIN
  CREATE INDEX IX_Zrt408Bzu_Zau ON M01.Zrt408Bzu (BzuZau);
  CREATE INDEX IX_Zrt408Bzu_Kst ON M01.Zrt408Bzu (BzuKst);
  CREATE INDEX IX_Zrt408Bzu_Vks ON M01.Zrt408Bzu (BzuVks);
  CREATE INDEX IX_Zrt408Bzu_Abt ON M01.Zrt408Bzu (BzuAbt);
  CREATE INDEX IX_Zrt408Bzu_Vab ON M01.Zrt408Bzu (BzuVab);
  CREATE INDEX IX_Zrt408Bzu_Akr ON M01.Zrt408Bzu (BzuAkr);
END
GO

-- A person's cost centre and department.
IF OBJECT_ID('M01.Zrt311Zuo') IS NULL
CREATE TABLE M01.Zrt311Zuo (
  ZuoPnr varchar(8) NOT NULL,
  ZuoKst varchar(30) NULL,
  ZuoAbt varchar(15) NULL,
  ZuoGvo datetime NULL,
  ZuoGbi datetime NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt311Zuo_Pnr'
               AND object_id = OBJECT_ID('M01.Zrt311Zuo'))
CREATE INDEX IX_Zrt311Zuo_Pnr ON M01.Zrt311Zuo (ZuoPnr);
GO

-- Cost centres and their groups.
IF OBJECT_ID('M01.O1003Kststelle') IS NULL
CREATE TABLE M01.O1003Kststelle (
  KstNum varchar(30) NOT NULL,
  KstVws varchar(30) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_O1003Kststelle_Num'
               AND object_id = OBJECT_ID('M01.O1003Kststelle'))
CREATE INDEX IX_O1003Kststelle_Num ON M01.O1003Kststelle (KstNum);
GO

-- Departments and their groups.
IF OBJECT_ID('M01.G1102AbtLst') IS NULL
CREATE TABLE M01.G1102AbtLst (
  AblAbt varchar(15) NOT NULL,
  AblVab varchar(15) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_G1102AbtLst_Abt'
               AND object_id = OBJECT_ID('M01.G1102AbtLst'))
CREATE INDEX IX_G1102AbtLst_Abt ON M01.G1102AbtLst (AblAbt);
GO

-- A person's Akr keys.
IF OBJECT_ID('M01.Zrt310Bsv') IS NULL
CREATE TABLE M01.Zrt310Bsv (
  BsvPnr varchar(8) NOT NULL,
  BsvAkr varchar(20) NULL,
  BsvGvo datetime NULL,
  BsvGbi datetime NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt310Bsv_Pnr'
               AND object_id = OBJECT_ID('M01.Zrt310Bsv'))
CREATE INDEX IX_Zrt310Bsv_Pnr ON M01.Zrt310Bsv (BsvPnr);
GO

-- Persons.
IF OBJECT_ID('M01.Zrt300Pnr') IS NULL
CREATE TABLE M01.Zrt300Pnr (
  PnrNum varchar(8) NOT NULL,
  PnrSpr int NULL,
  PnrSal varchar(10) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt300Pnr_Num'
               AND object_id = OBJECT_ID('M01.Zrt300Pnr'))
CREATE INDEX IX_Zrt300Pnr_Num ON M01.Zrt300Pnr (PnrNum);
GO

-- Vacation day records and yearly vacation accounts (days).
IF OBJECT_ID('M01.Zrt332Utg') IS NULL
CREATE TABLE M01.Zrt332Utg (
  UtgPnr varchar(8) NOT NULL,
  UtgDtm datetime NOT NULL,
  UtgVtg float NULL,
  UtgRtg float NULL,
  UtgGut float NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt332Utg_PnrDtm'
               AND object_id = OBJECT_ID('M01.Zrt332Utg'))
CREATE INDEX IX_Zrt332Utg_PnrDtm ON M01.Zrt332Utg (UtgPnr, UtgDtm);
GO

IF OBJECT_ID('M01.Zrt332Urv') IS NULL
CREATE TABLE M01.Zrt332Urv (
  UrvPnr varchar(8) NOT NULL,
  UrvJhr int NOT NULL,
  UrvGur float NULL,
  UrvVjr float NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = 'IX_Zrt332Urv_PnrJhr'
               AND object_id = OBJECT_ID('M01.Zrt332Urv'))
CREATE INDEX IX_Zrt332Urv_PnrJhr ON M01.Zrt332Urv (UrvPnr, UrvJhr);
GO
