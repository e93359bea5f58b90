#pragma once
// Machine listings (the reply to MLSD): facts, each "name=value;", one space, then the name.
//
//   type=cdir;modify=20030115103045;perm=flcdmpe; .
//   type=pdir;modify=20030101000000; ..
//   type=dir;modify=20030114080000;UNIX.mode=0755; bin
//   type=file;size=1024;modify=20030115103045.250;unique=801U1A; report.txt
//   win32.ea=0x00000020;type=file;sizd=0;create=20030110090000; odd  name.txt
//   type=OS.unix=slink:/etc/motd;modify=20030115103045; motd
//   type=OS.unix=symlink;UNIX.mode=0777; latest
//
// Stamps are UTC (YYYYMMDDHHMMSS[.fff]); Modified is shifted into local time. Never chosen by
// detection: the client names it ("MLST") when it listed with MLSD.
#include "ftp/listing/IdFTPListParseBase.h"

class TIdFTPLPMList : public TIdFTPListBase {
public:
    static const TIdFTPLPMList* Class();

    TIdFTPListItem& NewEntry(TIdFTPListItems& entries) const override; // TIdMLSTFTPListItem
    // As the base, but the listed folder and its parent ("cdir", "pdir") are left out: they
    // are not entries of the folder.
    bool ParseLines(const std::vector<std::string>& lines, TIdFTPListItems& entries) const override;
    // A stamp that is no real date or time leaves that date 0 (for "modify": ModifiedKnown
    // false). False for a line without the space and a name after the facts.
    bool ParseEntryLine(TIdFTPListItem& entry, const std::string& path) const override;
    std::string FormatIdent() const override; // "MLST"
    bool Recognizes(const std::vector<std::string>& lines, const std::string& systemDescription,
                    bool detailed) const override; // always false

protected:
    TIdFTPLPMList() = default;
};
