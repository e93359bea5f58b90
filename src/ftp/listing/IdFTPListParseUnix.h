#pragma once
// Unix "ls -l" style listings, as most servers send them to LIST:
//
//   total 12
//   drwxr-xr-x   2 owner  group      4096 Jan 15 10:30 docs
//   -rw-r--r--   1 owner  group       120 Mar  3  2001 my file.txt
//   lrwxrwxrwx   1 root   root          7 Feb  1  2002 lib -> usr/lib/
//   crw-rw-rw-   1 root   sys     13,   2 Apr  7  2004 null
//   12345 8 -rw-r--r-- 1 u g 10 May 1 1999 x          (inode and block count first)
//   -rw-r--r--   1 owner             512 Jan 15 10:30 no-group.txt   (group missing)
//   -rw-r--r--   1 o g 512 2003-01-15 10:30 iso.txt
//   drwxr-xr-x folder 0 Jan 15 10:30 Mac style       (no link count, owner or group)
//
//   ./sub:                                            (a section of a recursive listing)
//   -rw-r--r--   1 owner  group        10 Jan 15 10:30 x        -> named sub/x
//
// A line without a year is from the last twelve months; its year is inferred from today.
#include "ftp/listing/IdFTPListParseBase.h"

class TIdFTPLPUnix : public TIdFTPListBase {
public:
    static const TIdFTPLPUnix* Class();

    TIdFTPListItem& NewEntry(TIdFTPListItems& entries) const override; // TIdUnixFTPListItem
    // A date that does not exist (a month name in another language, day 32, hour 25) gives
    // Modified 0 and ModifiedKnown false. False for a line without a permission column in its
    // first three columns, or without a name.
    bool ParseEntryLine(TIdFTPListItem& entry, const std::string& path) const override;
    std::string FormatIdent() const override; // "Unix"
    // Decided by the first line that looks like a Unix entry: Unix when it has no storage
    // column, Unitree when it has one; whatever comes before it is looked past.
    bool Recognizes(const std::vector<std::string>& lines, const std::string& systemDescription,
                    bool detailed) const override;
    // Skips total lines, "/bin/ls:" complaints and storage-header lines; follows sections.
    // Lines that are no entries are counted in entries.SkippedLineCount().
    bool ParseLines(const std::vector<std::string>& lines, TIdFTPListItems& entries) const override;

    virtual bool LooksLikeUnixLine(const std::string& line) const;
    // The fifth column is a storage type ("AR" or "DK"), or the line is a storage header.
    virtual bool HasUnitreeStorageColumn(const std::string& line) const;
    // "/path (family ...)." lines that storage servers put above the entries.
    virtual bool IsUnitreeHeaderLine(const std::string& line) const;

protected:
    TIdFTPLPUnix() = default;
    bool IsUnitree() const { return FormatIdent() == "Unitree"; }
};
