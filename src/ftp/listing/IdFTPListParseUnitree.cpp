#include "ftp/listing/IdFTPListParseUnitree.h"

const TIdFTPLPUnitree* TIdFTPLPUnitree::Class() {
    static const TIdFTPLPUnitree instance;
    return &instance;
}

TIdFTPListItem& TIdFTPLPUnitree::NewEntry(TIdFTPListItems& entries) const {
    return entries.Add<TIdUnitreeFTPListItem>();
}

std::string TIdFTPLPUnitree::FormatIdent() const {
    return "Unitree";
}
