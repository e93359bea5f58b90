#pragma once
// Listing parsers and the registry that picks one for a listing.
//
// A parser is one stateless const object per format (its class's Class() singleton): it keeps
// nothing between calls, so one parser serves any number of listings and threads.
#include "ftp/listing/IdFTPList.h"

#include <string>
#include <vector>

class TIdFTPListBase {
public:
    virtual ~TIdFTPListBase() = default;
    TIdFTPListBase(const TIdFTPListBase&) = delete;
    TIdFTPListBase& operator=(const TIdFTPListBase&) = delete;

    // Appends a new entry of this format's entry class to `entries` and returns it.
    virtual TIdFTPListItem& NewEntry(TIdFTPListItems& entries) const;
    // Fills `entry` from its RawLine; `path` is the section of a recursive listing the line
    // belongs to, empty otherwise. False when the line is no entry of this format (a stray
    // piece of a name that held a line break, a line without a name). Never raises for a
    // bad date: the entry keeps Modified 0 and ModifiedKnown false. Base: does nothing, false.
    virtual bool ParseEntryLine(TIdFTPListItem& entry, const std::string& path) const;
    // "NLIST", "MLST", "Unix", "Unitree", "Windows NT"; base: empty.
    virtual std::string FormatIdent() const;
    // Whether `lines` look like this format. `detailed` says the listing was asked for with
    // details (LIST) rather than as bare names. Base: false.
    virtual bool Recognizes(const std::vector<std::string>& lines,
                            const std::string& systemDescription, bool detailed) const;
    // Appends one entry per entry line; never clears `entries`. Base: every non-empty line
    // is parsed with an empty path. A line ParseEntryLine refuses leaves no entry and is
    // counted in entries.SkippedLineCount(), so one bad line never costs the whole folder.
    virtual bool ParseLines(const std::vector<std::string>& lines, TIdFTPListItems& entries) const;

protected:
    TIdFTPListBase() = default;
};

// A parser "class": its singleton, or nullptr for none.
using TIdFTPListParseClass = const TIdFTPListBase*;

class TIdFTPRegParseList {
public:
    TIdFTPRegParseList() = default; // empty; ParserRegistry() is the filled process-wide one

    void RegisterParser(TIdFTPListParseClass parserClass);   // appends
    void UnregisterParser(TIdFTPListParseClass parserClass); // removes; absent: nothing
    size_t Count() const { return parsers_.size(); }
    TIdFTPListParseClass Items(size_t index) const { return parsers_.at(index); }

    // The first registered parser whose FormatIdent equals `formatIdent` exactly, or nullptr.
    TIdFTPListParseClass FindParser(const std::string& formatIdent) const;

    // Clears `entries` and parses with the parser named `formatIdent`; an unknown name gives
    // true and no entries.
    bool ParseWithFormat(const std::vector<std::string>& lines, TIdFTPListItems& entries,
                         const std::string& formatIdent) const;

    // Asks the parsers in registry order; the first that recognizes the lines parses them
    // (appending to `entries`) and is stored in `parserClass`, its name in `formatIdent`.
    // Nobody: `entries` cleared, every non-empty line counted as skipped, `parserClass`
    // nullptr, `formatIdent` empty, false.
    bool DetectAndParse(const std::vector<std::string>& lines, TIdFTPListItems& entries,
                        std::string& formatIdent, bool detailed,
                        const std::string& systemDescription,
                        TIdFTPListParseClass& parserClass) const;

private:
    std::vector<TIdFTPListParseClass> parsers_;
};

// The process-wide registry. On first use it holds the built-in parsers in this order:
// NLIST, MLST, Unix, Unitree, Windows NT. After start-up it is only read.
TIdFTPRegParseList& ParserRegistry();
