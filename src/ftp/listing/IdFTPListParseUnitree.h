#pragma once
// Unix listings of hierarchical storage servers: a storage column ("AR" on tape, migrated;
// "DK" on disk) and a file family stand between the group and the size.
//
//   /home/user (family default).
//   drwxr-xr-x   2 user   staff  DK  fam1     4096 Jan 15 10:30 docs
//   -rw-r--r--   1 user   staff  AR  fam1  1048576 Mar  3  2001 old.tar
//
// Parsed like Unix listings, except that a missing size column is never taken for a shifted
// name.
#include "ftp/listing/IdFTPListParseUnix.h"

class TIdFTPLPUnitree : public TIdFTPLPUnix {
public:
    static const TIdFTPLPUnitree* Class();

    TIdFTPListItem& NewEntry(TIdFTPListItems& entries) const override; // TIdUnitreeFTPListItem
    std::string FormatIdent() const override;                          // "Unitree"

protected:
    TIdFTPLPUnitree() = default;
};
