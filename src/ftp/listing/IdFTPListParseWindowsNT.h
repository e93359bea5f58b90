#pragma once
// Listings of Windows servers: date, time with AM/PM, "<DIR>" or a size, then the name.
//
//   01-15-03  10:30AM       <DIR>          docs
//   01-15-03  02:05PM                 1,234 report.txt
//   01-15-2003  12:30AM              512  leading space.txt
//   2003-01-15  10:30  1234 data.bin                   (year first, 24-hour clock)
//
//   sub:                                               (a section of a recursive listing)
//   01-15-03  10:30AM                   10 x           -> named sub\x
//
// Two-digit years 00..50 are this century, 51..99 the previous one. A date or time that does
// not exist gives Modified 0 and ModifiedKnown false; the line is still an entry. A line that
// does not begin with a date, or has no name, is no entry.
#include "ftp/listing/IdFTPListParseBase.h"

class TIdFTPLPWindowsNT : public TIdFTPListBase {
public:
    static const TIdFTPLPWindowsNT* Class();

    TIdFTPListItem& NewEntry(TIdFTPListItems& entries) const override; // TIdWindowsNTFTPListItem
    bool ParseEntryLine(TIdFTPListItem& entry, const std::string& path) const override;
    std::string FormatIdent() const override; // "Windows NT"
    // Every line is looked at; the last line with a date decides.
    bool Recognizes(const std::vector<std::string>& lines, const std::string& systemDescription,
                    bool detailed) const override;
    // Follows "name:" section lines of recursive listings.
    bool ParseLines(const std::vector<std::string>& lines, TIdFTPListItems& entries) const override;

protected:
    TIdFTPLPWindowsNT() = default;
};
