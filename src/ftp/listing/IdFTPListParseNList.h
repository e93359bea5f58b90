#pragma once
// Bare name lists (the reply to NLST): one name per line, nothing else.
//
//   report.txt
//   archive 2003.zip
//   README
//
// Every non-empty line becomes a file entry named by the whole line. Chosen by detection only
// when the caller says the listing is not detailed.
#include "ftp/listing/IdFTPListParseBase.h"

class TIdFTPLPNList : public TIdFTPListBase {
public:
    static const TIdFTPLPNList* Class();

    bool ParseEntryLine(TIdFTPListItem& entry, const std::string& path) const override;
    std::string FormatIdent() const override; // "NLIST"
    bool Recognizes(const std::vector<std::string>& lines, const std::string& systemDescription,
                    bool detailed) const override;

protected:
    TIdFTPLPNList() = default;
};
