#include "ftp/listing/IdFTPListParseMList.h"

#include "base/StrUtils.h"
#include "ftp/listing/IdListingClock.h"
#include "ftp/listing/IdListingText.h"

#include <vector>

using namespace tavrin;
using namespace tavrin::listing;

namespace {

struct Fact {
    std::string_view name, value;
};

// "type=file;size=10;" -> {type, file}, {size, 10}. The empty piece after the last ";" is no
// fact.
std::vector<Fact> SplitFacts(std::string_view text) {
    std::vector<Fact> facts;
    while (!text.empty()) {
        size_t end = text.find(';');
        std::string_view piece = text.substr(0, end);
        size_t equals = piece.find('=');
        facts.push_back({piece.substr(0, equals), equals == std::string_view::npos
                                                      ? std::string_view()
                                                      : piece.substr(equals + 1)});
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return facts;
}

const Fact* FindFact(const std::vector<Fact>& facts, std::string_view name) {
    for (const Fact& fact : facts)
        if (EqualsNoCase(fact.name, name))
            return &fact;
    return nullptr;
}

std::string_view ValueOf(const std::vector<Fact>& facts, std::string_view name) {
    const Fact* fact = FindFact(facts, name);
    return fact ? fact->value : std::string_view();
}

int Digits(std::string_view stamp, size_t from, size_t count) {
    return from < stamp.size() ? IntDef(stamp.substr(from, count), 0) : 0;
}

// YYYYMMDDHHMMSS[.fraction], UTC. The fraction is a decimal fraction of a second: ".5" is
// 500 ms, and digits beyond milliseconds are dropped rather than overflowing the time. False
// for a stamp that is no real date and time.
bool MachineStamp(std::string_view stamp, TDateTime& result) {
    int millisecond = 0;
    size_t dot = stamp.find('.');
    if (dot != std::string_view::npos) {
        std::string_view fraction = stamp.substr(dot + 1);
        int scale = 100;
        for (size_t i = 0; i < fraction.size() && i < 3; ++i, scale /= 10) {
            if (fraction[i] < '0' || fraction[i] > '9')
                break;
            millisecond += (fraction[i] - '0') * scale;
        }
    }
    TDateTime date = 0, time = 0;
    if (!TryEncodeDate(Digits(stamp, 0, 4), Digits(stamp, 4, 2), Digits(stamp, 6, 2), date) ||
        !TryEncodeTime(Digits(stamp, 8, 2), Digits(stamp, 10, 2), Digits(stamp, 12, 2), millisecond,
                       time))
        return false;
    result = ComposeDateTime(date, time);
    return true;
}

// The "type" fact's value, compared without regard to case. Links and devices come as
// system-specific types ("OS.unix=slink:/target", "OS.unix=symlink", "OS.unix=chr-13/29"); a
// link is never a file to fetch, whether or not its target is named.
EntryKind KindOfType(std::string_view type) {
    const std::string value = LowerCase(type);
    if (value == "dir" || value == "cdir" || value == "pdir")
        return ekDirectory;
    constexpr std::string_view unixPrefix = "os.unix=";
    if (value.compare(0, unixPrefix.size(), unixPrefix) != 0)
        return ekFile;
    const std::string_view unixType = std::string_view(value).substr(unixPrefix.size());
    auto startsWith = [&](std::string_view word) {
        return unixType.substr(0, word.size()) == word &&
               (unixType.size() == word.size() || unixType[word.size()] == ':' ||
                unixType[word.size()] == '-');
    };
    if (startsWith("symlink") || startsWith("slink"))
        return ekSymbolicLink;
    if (startsWith("chr"))
        return ekCharDevice;
    if (startsWith("blk"))
        return ekBlockDevice;
    if (startsWith("fifo"))
        return ekFifo;
    if (startsWith("socket"))
        return ekSocket;
    return ekFile;
}

// The listed folder itself and its parent: folders the caller asked about, not entries of it.
bool IsListedFolderOrParent(std::string_view line) {
    const std::string type = LowerCase(ValueOf(SplitFacts(line.substr(0, line.find(' '))), "type"));
    return type == "cdir" || type == "pdir";
}

char KindLetter(EntryKind kind) {
    switch (kind) {
    case ekDirectory:
        return 'd';
    case ekSymbolicLink:
    case ekSymbolicLinkDir:
        return 'l';
    case ekBlockDevice:
        return 'b';
    case ekCharDevice:
        return 'c';
    case ekFifo:
        return 'p';
    case ekSocket:
        return 's';
    default:
        return '-';
    }
}

// Octal-looking decimal digits: 4755 -> "-rwsr-xr-x".
std::string UnixModeText(EntryKind kind, int64_t mode) {
    const uint64_t n = mode < 0 ? 0 - static_cast<uint64_t>(mode) : static_cast<uint64_t>(mode);
    const uint64_t special = n / 1000;
    const uint64_t triplets[3] = {n / 100 % 10 & 7, n / 10 % 10 & 7, n % 10 & 7};
    const bool specialSet[3] = {(special & 4) != 0, (special & 2) != 0, (special & 1) != 0};
    std::string text(1, KindLetter(kind));
    for (int i = 0; i < 3; ++i) {
        text += (triplets[i] & 4) ? 'r' : '-';
        text += (triplets[i] & 2) ? 'w' : '-';
        if (specialSet[i])
            text += i == 2 ? 't' : 's';
        else
            text += (triplets[i] & 1) ? 'x' : '-';
    }
    return text;
}

bool HexWord(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 8)
        return false;
    value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return true;
}

} // namespace

const TIdFTPLPMList* TIdFTPLPMList::Class() {
    static const TIdFTPLPMList instance;
    return &instance;
}

TIdFTPListItem& TIdFTPLPMList::NewEntry(TIdFTPListItems& entries) const {
    return entries.Add<TIdMLSTFTPListItem>();
}

std::string TIdFTPLPMList::FormatIdent() const {
    return "MLST";
}

bool TIdFTPLPMList::Recognizes(const std::vector<std::string>&, const std::string&, bool) const {
    return false;
}

bool TIdFTPLPMList::ParseLines(const std::vector<std::string>& lines,
                               TIdFTPListItems& entries) const {
    for (const std::string& line : lines) {
        if (line.empty() || IsListedFolderOrParent(line))
            continue;
        TIdFTPListItem& entry = NewEntry(entries);
        entry.SetRawLine(line);
        if (!ParseEntryLine(entry, std::string()))
            entries.DropLastAsSkipped();
    }
    return true;
}

bool TIdFTPLPMList::ParseEntryLine(TIdFTPListItem& item, const std::string&) const {
    auto* entry = dynamic_cast<TIdMLSTFTPListItem*>(&item);
    if (!entry)
        return false; // not made by NewEntry of this parser
    std::string_view line = entry->RawLine();
    const size_t space = line.find(' ');
    // Without the space and a name after it the line is no entry: most often the second half
    // of a name that held a line break.
    if (space == std::string_view::npos || space + 1 == line.size())
        return false;
    const std::vector<Fact> facts = SplitFacts(line.substr(0, space));
    const std::string name(line.substr(space + 1));
    entry->SetName(name);
    entry->SetLocalName(name); // machine listings give exact names: no case folding

    entry->SetKind(KindOfType(ValueOf(facts, "type")));

    // A stamp that is no real date leaves that date unknown (0); the entry stays.
    TDateTime stamp = 0;
    const bool modified = MachineStamp(ValueOf(facts, "modify"), stamp);
    if (modified) {
        entry->SetModifiedGMT(stamp);
        entry->SetModified(stamp + LocalUtcOffset());
    }
    entry->SetModifiedKnown(modified);
    if (MachineStamp(ValueOf(facts, "create"), stamp)) {
        entry->SetCreatedGMT(stamp);
        entry->SetCreated(stamp + LocalUtcOffset());
    }
    if (MachineStamp(ValueOf(facts, "windows.lastaccesstime"), stamp)) {
        entry->SetLastAccessGMT(stamp);
        entry->SetLastAccess(stamp + LocalUtcOffset());
    }

    std::string_view size = ValueOf(facts, "size");
    if (size.empty())
        size = ValueOf(facts, "sizd");
    entry->SetByteSizeKnown(!size.empty());
    if (!size.empty())
        entry->SetByteSize(Int64Def(size, 0));

    if (const Fact* perm = FindFact(facts, "perm")) {
        entry->SetPermFact(std::string(perm->value));
        entry->SetModeText(std::string(perm->value));
    } else if (const Fact* mode = FindFact(facts, "UNIX.mode")) {
        auto number = TryStrToInt64(mode->value);
        entry->SetModeText(number ? UnixModeText(entry->Kind(), *number)
                                  : std::string(mode->value));
    }
    entry->SetUniqueKey(std::string(ValueOf(facts, "unique")));

    if (const Fact* attributes = FindFact(facts, "win32.ea")) {
        std::string_view hex = attributes->value;
        if (size_t x = hex.find('x'); x != std::string_view::npos)
            hex.remove_prefix(x + 1);
        uint32_t word = 0;
        if (HexWord(hex, word)) {
            entry->Win32Attributes().SetFileAttributes(word);
            entry->SetAttributesKnown(true);
        }
    }
    return true;
}
