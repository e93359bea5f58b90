#include "ftp/listing/IdFTPListParseBase.h"

#include "ftp/listing/IdFTPListParseMList.h"
#include "ftp/listing/IdFTPListParseNList.h"
#include "ftp/listing/IdFTPListParseUnitree.h"
#include "ftp/listing/IdFTPListParseUnix.h"
#include "ftp/listing/IdFTPListParseWindowsNT.h"

#include <algorithm>

TIdFTPListItem& TIdFTPListBase::NewEntry(TIdFTPListItems& entries) const {
    return entries.Add<TIdFTPListItem>();
}

bool TIdFTPListBase::ParseEntryLine(TIdFTPListItem&, const std::string&) const {
    return false;
}

std::string TIdFTPListBase::FormatIdent() const {
    return {};
}

bool TIdFTPListBase::Recognizes(const std::vector<std::string>&, const std::string&, bool) const {
    return false;
}

bool TIdFTPListBase::ParseLines(const std::vector<std::string>& lines,
                                TIdFTPListItems& entries) const {
    for (const std::string& line : lines) {
        if (line.empty())
            continue;
        TIdFTPListItem& entry = NewEntry(entries);
        entry.SetRawLine(line);
        if (!ParseEntryLine(entry, std::string()))
            entries.DropLastAsSkipped();
    }
    return true;
}

void TIdFTPRegParseList::RegisterParser(TIdFTPListParseClass parserClass) {
    parsers_.push_back(parserClass);
}

void TIdFTPRegParseList::UnregisterParser(TIdFTPListParseClass parserClass) {
    auto found = std::find(parsers_.begin(), parsers_.end(), parserClass);
    if (found != parsers_.end())
        parsers_.erase(found);
}

TIdFTPListParseClass TIdFTPRegParseList::FindParser(const std::string& formatIdent) const {
    for (TIdFTPListParseClass parser : parsers_)
        if (parser && parser->FormatIdent() == formatIdent)
            return parser;
    return nullptr;
}

bool TIdFTPRegParseList::ParseWithFormat(const std::vector<std::string>& lines,
                                         TIdFTPListItems& entries,
                                         const std::string& formatIdent) const {
    entries.Clear();
    TIdFTPListParseClass parser = FindParser(formatIdent);
    return parser ? parser->ParseLines(lines, entries) : true;
}

bool TIdFTPRegParseList::DetectAndParse(const std::vector<std::string>& lines,
                                        TIdFTPListItems& entries, std::string& formatIdent,
                                        bool detailed, const std::string& systemDescription,
                                        TIdFTPListParseClass& parserClass) const {
    formatIdent.clear();
    parserClass = nullptr;
    for (TIdFTPListParseClass parser : parsers_) {
        if (parser && parser->Recognizes(lines, systemDescription, detailed)) {
            parserClass = parser;
            break;
        }
    }
    if (!parserClass) {
        entries.Clear();
        // Said aloud, so a listing nobody could read is not taken for an empty folder.
        entries.CountSkippedLines(static_cast<size_t>(
            std::count_if(lines.begin(), lines.end(), [](const auto& l) { return !l.empty(); })));
        return false;
    }
    formatIdent = parserClass->FormatIdent();
    return parserClass->ParseLines(lines, entries);
}

TIdFTPRegParseList& ParserRegistry() {
    // Filled here rather than by static initialisers in each parser's file: a static library
    // drops object files nobody references, and with them their registrations.
    static TIdFTPRegParseList registry = [] {
        TIdFTPRegParseList list;
        list.RegisterParser(TIdFTPLPNList::Class());
        list.RegisterParser(TIdFTPLPMList::Class());
        list.RegisterParser(TIdFTPLPUnix::Class());
        list.RegisterParser(TIdFTPLPUnitree::Class());
        list.RegisterParser(TIdFTPLPWindowsNT::Class());
        return list;
    }();
    return registry;
}
