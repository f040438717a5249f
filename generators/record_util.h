// Helpers that the generators share: filling fixed-width records, storing
// lines, and the messages every generator prints the same way.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "installation/badge_record.h"
#include "generators/generators.h"

namespace plom {

// Room for a badge number and an access class in the fixed layouts.
constexpr size_t kBadgeNumberRoom = 13;
constexpr size_t kClassRoom = 3;
// A date as the records carry it (yyyymmdd), and its stand-in when empty.
constexpr size_t kDateRoom = 8;
constexpr char kNoDate[] = "00000000";
// Balance and vacation texts.
constexpr size_t kDisplayRoom = 7;

// Copies up to max_len characters of text into the line from column
// (counted from 1), never past the end of the line. A shorter text leaves
// the columns after it as they were.
void PutText(std::string* line, size_t column, const std::string& text, size_t max_len);

// Fills len columns from column with blanks (within the line).
void PutBlanks(std::string* line, size_t column, size_t len);

// Whether len columns from column are all blanks.
bool IsBlank(const std::string& line, size_t column, size_t len);

// Writes a date of the record from column: its characters, or "00000000"
// when it leaves the eight columns blank.
void PutDate(std::string* line, size_t column, const std::string& date);

// Today's local date as the display records show it ("%d.%m.%y").
std::string TodayAsDisplayed();

// Writes a permission flag: "1" when on, else "0".
void PutFlag(std::string* line, size_t column, bool on);

// Whether the badge fits the fixed layouts: badge number of at most 13
// characters and, with check_class, an access class of at most 3. Prints
// why a badge does not fit; such a badge is not stored. A layout that
// writes the class only in some records asks ClassFits where it writes it.
bool FitsFixedLayout(RunContext& ctx, const BadgeRecord& r, bool check_class);

// Whether the access class has at most 3 characters; prints why not.
bool ClassFits(RunContext& ctx, const BadgeRecord& r);

// Adds the line to the run's output (the driver stores it later). Returns
// true: the badge made its line.
bool StoreLine(RunContext& ctx, const std::string& line);

// Whether the text holds a control character (a byte below 0x20, or 0x7F).
bool HasControlCharacter(std::string_view s);

// Adds a fixed-width record of the badge. A record with a control
// character in it (a line feed in the data would be written as CR LF and
// shift every record behind it) is not added: the badge is reported.
bool StoreRecord(RunContext& ctx, const BadgeRecord& r, const std::string& line);

// "Ausweis ... ohne Zeit-/Zutrittsberechtigung auf Terminal ..."
void ReportNotAdmitted(RunContext& ctx, const BadgeRecord& r, const std::string& terminal);


// Reader entries of a record: from first_column on, kReaderEntryLen
// characters per reader n (1 up): the reader number (kReaderNumberLen) and
// the access class. ReaderEntryColumn is where entry n starts.
constexpr size_t kReaderEntryLen = 5;
constexpr size_t kReaderNumberLen = 2;
size_t ReaderEntryColumn(size_t first_column, int n);
// Writes the entries of readers 1 to highest_reader that the terminal has
// (a reader slot of two blanks: none; its entry stays blank).
void PutReaderEntries(const BadgeRecord& r, size_t first_column, int highest_reader,
                      std::string* line);

// The record VQDNL17P and VQDNL60P share (columns counted from 1): badge
// number, start of validity, the time and access flags, the balance text
// and an entry (reader number and access class) per reader of the
// terminal up to the highest reader.
namespace reader_record {
constexpr size_t kColBadge = 1;
constexpr size_t kColValidFrom = 14;
constexpr size_t kColTimeFlag = 22;
constexpr size_t kColAccessFlag = 23;
constexpr size_t kColBalance = 24;
constexpr size_t kColReaders = 31;
}  // namespace reader_record

// Fills *line (blanks of the record's width) for the badge, in the order
// of its lookups: access class resolution, the layout check, the balance
// (put_balance writes it), access permission with the class check, time
// permission. Returns false, having said why, when the badge does not go
// into the file, or when the database failed (ctx.failed()).
bool BuildReaderRecord(
    RunContext& ctx, BadgeRecord* r, const std::string& terminal, int highest_reader,
    const std::function<void(RunContext&, BadgeRecord*, std::string*)>& put_balance,
    std::string* line);

// One generator pass over the current badges of ctx.scope.schema: hands
// each fetched badge row to store_badge, which returns whether it made a
// line, then adds the count. The record is cleared before the first fetch
// and after every badge. A failure of the badge cursor or of any lookup
// records the run's failure and ends the pass at once (no count).
void ForEachBadge(RunContext& ctx, const std::function<bool(BadgeRecord*)>& store_badge);

// A badge's lookups as the run answers them: from the schema's answers read
// at once when the run has them (ctx.bulk), else from the batch's kept
// answers of the badge row (ctx.kept), else by the per-badge statement.
// Each answers as GetBalances, GetVacation, GetPersonSprSal and
// GetLocationShortText do.
Status LookupBalances(RunContext& ctx, BadgeRecord* r);
Status LookupVacation(RunContext& ctx, BadgeRecord* r);
Status LookupPerson(RunContext& ctx, BadgeRecord* r);
Status LookupLocation(RunContext& ctx, BadgeRecord* r);

}  // namespace plom
