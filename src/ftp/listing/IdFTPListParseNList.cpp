#include "ftp/listing/IdFTPListParseNList.h"

const TIdFTPLPNList* TIdFTPLPNList::Class() {
    static const TIdFTPLPNList instance;
    return &instance;
}

bool TIdFTPLPNList::ParseEntryLine(TIdFTPListItem& entry, const std::string&) const {
    entry.SetName(entry.RawLine());
    return true;
}

std::string TIdFTPLPNList::FormatIdent() const {
    return "NLIST";
}

bool TIdFTPLPNList::Recognizes(const std::vector<std::string>&, const std::string&,
                               bool detailed) const {
    return !detailed;
}
