// Badge and terminal queries on the central schema ZrSystem: the badge
// cursor, the reader cursor, the permission counts, the terminal type and
// the location short text.
//
// Outputs reach the caller only when the lookup found a row; fetched texts
// are right-trimmed and cut to the width the statement binds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "installation/badge_record.h"
#include "db/runtime.h"

namespace plom {

// Every lookup below answers with a Status: ok, no row, or a failure the
// transport classified (a failing open or fetch is never the end of rows).

// Cursor ASW_VQDNL_C: the currently valid badges of a client schema,
// ordered by badge number, start of validity and access class.
Status OpenBadgeCursor(Connection& c, const std::string& schema);
// Fills badge number, validity, personnel number, class ("%-3s"), group,
// location number ("%08s") and AswAtp ("%d") of the record; no row at the end.
Status FetchBadge(Connection& c, BadgeRecord* r);
void CloseBadgeCursor(Connection& c);
// The same cursor read through once while it stays open: each row, as
// FetchBadge fills the record (cleared first), goes to take, which may run
// lookups on the connection meanwhile and answers false to stop. Ok when
// every row was read or take stopped; the cursor's failure otherwise.
Status ForEachBadgeRow(Connection& c, const std::string& schema,
                       const std::function<bool(BadgeRecord*)>& take);

// Cursor ZLS_ZLES_C: the readers of a terminal up to a highest number,
// in ascending reader number.
Status OpenReaderCursor(Connection& c, const std::string& terminal, int highest);
Status FetchReader(Connection& c, int* number, std::string* code);
void CloseReaderCursor(Connection& c);

// Permission rows of the access class (as held, blank-padded) on a reader
// code; the second counts only rows of type 3 (time recording blocked).
Status CountReaderPermissions(Connection& c, const std::string& code,
                              const std::string& access_class, int* count);
Status CountReaderTimeBlocks(Connection& c, const std::string& code,
                             const std::string& access_class, int* count);

// TSMTYP of the terminal, up to 10 characters.
Status GetTerminalType(Connection& c, const std::string& terminal, std::string* type);

// First 3 characters of the short text of the badge's location.
Status GetLocationShortText(Connection& c, BadgeRecord* r);

// Column helpers for fetched rows: a missing column reads as NULL. A text
// column arrives as a host variable of `width` bytes would hold it (cut to
// width - 1), then right-trimmed; NULL is the empty text.
const Value& Column(const Row& row, size_t index);
std::string ColumnText(const Row& row, size_t index, size_t width);
int32_t ColumnInt(const Row& row, size_t index);

// "%-3s": left-aligned, blank-padded to at least 3.
std::string PadClass(const std::string& cls);
// "%08s" as the location number needs it: right-aligned, zero-filled to 8.
std::string ZeroFill8(const std::string& s);

}  // namespace plom
