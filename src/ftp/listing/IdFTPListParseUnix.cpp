#include "ftp/listing/IdFTPListParseUnix.h"

#include "base/StrUtils.h"
#include "ftp/listing/IdFTPListParseUnitree.h"
#include "ftp/listing/IdListingClock.h"
#include "ftp/listing/IdListingText.h"

using namespace tavrin;
using namespace tavrin::listing;

namespace {

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsStorageType(std::string_view text) {
    return text == "AR" || text == "DK";
}

// Lines such as "-rw-r--r-- 1 512 Jan 15 10:30 x": a size right after the link count.
bool HasNeitherOwnerNorGroup(std::string_view rawLine) {
    Columns all(rawLine);
    size_t first = 0;
    if (all.Total() > 2) {
        if (IsNumeric(all[first]))
            ++first;
        if (IsNumeric(all[first]))
            ++first;
    }
    if (all.Total() - first <= 5)
        return false;
    std::string_view time = all[first + 5];
    return MonthFromName(all[first + 3]) != 0 && IsNumeric(all[first + 4]) &&
           (IsNumeric(time) || time.find(':') != std::string_view::npos);
}

// An entry line begins with its permission column, possibly after an inode number and a
// block count. Anything else is not an entry, however the columns after it look.
bool HasPermissionColumnUpFront(std::string_view line) {
    Columns columns(line);
    return IsPermissionColumn(columns[0]) || IsPermissionColumn(columns[1]) ||
           IsPermissionColumn(columns[2]);
}

EntryKind KindFromLetter(char letter) {
    switch (letter) {
    case 'D':
        return ekDirectory;
    case 'L':
        return ekSymbolicLink;
    case 'B':
        return ekBlockDevice;
    case 'C':
        return ekCharDevice;
    case 'P':
        return ekFifo;
    case 'S':
        return ekSocket;
    default:
        return ekFile;
    }
}

// Day and month fields may arrive as any 64-bit text; anything outside int stays invalid.
int ToField(int64_t value) {
    return value < -1000000 || value > 1000000 ? -1 : static_cast<int>(value);
}

// "hh:mm[:ss[:ms]]" after the hour: the minute, second and millisecond parts.
void ReadClockParts(std::string_view afterHour, int& minute, int& second, int& millisecond) {
    std::string_view parts[3];
    for (int i = 0; i < 3; ++i) {
        size_t colon = afterHour.find(':');
        parts[i] = afterHour.substr(0, colon);
        afterHour =
            colon == std::string_view::npos ? std::string_view() : afterHour.substr(colon + 1);
    }
    minute = IntDef(parts[0], 0);
    second = IntDef(parts[1], 0);
    millisecond = IntDef(parts[2], 999);
}

} // namespace

const TIdFTPLPUnix* TIdFTPLPUnix::Class() {
    static const TIdFTPLPUnix instance;
    return &instance;
}

TIdFTPListItem& TIdFTPLPUnix::NewEntry(TIdFTPListItems& entries) const {
    return entries.Add<TIdUnixFTPListItem>();
}

std::string TIdFTPLPUnix::FormatIdent() const {
    return "Unix";
}

bool TIdFTPLPUnix::IsUnitreeHeaderLine(const std::string& line) const {
    return line.size() >= 2 && line.front() == '/' && line.compare(line.size() - 2, 2, ").") == 0 &&
           line.find('(') != std::string::npos;
}

bool TIdFTPLPUnix::HasUnitreeStorageColumn(const std::string& line) const {
    Columns columns(line);
    if (columns.Total() >= 5 && IsStorageType(columns[4]))
        return true;
    return IsUnitreeHeaderLine(line);
}

bool TIdFTPLPUnix::LooksLikeUnixLine(const std::string& line) const {
    Columns columns(line);
    if (IsPermissionColumn(line)) {
        const char kind = UpperAscii(line[0]);
        if (kind == 'C' || kind == 'B')
            return true;
        if (columns.Total() <= 9)
            return true;
        // Ten columns with AM/PM or a month in the seventh: a Windows line that happens to
        // start like a permission column, or a name that does.
        if (EqualsNoCase(columns[9], "AM") || EqualsNoCase(columns[9], "PM"))
            return false;
        if (columns[8].find(':') == std::string_view::npos &&
            MonthFromName(columns[6].substr(0, 3)) != 0)
            return false;
        return true;
    }
    // Lines that begin with an inode number and possibly a block count.
    return columns.Total() > 3 && IsNumeric(columns[0]) &&
           (IsPermissionColumn(columns[1]) ||
            (IsNumeric(columns[1]) && IsPermissionColumn(columns[2])));
}

bool TIdFTPLPUnix::Recognizes(const std::vector<std::string>& lines, const std::string&,
                              bool) const {
    // Lines before the first entry (a banner, a stray piece of a name that held a line break,
    // a server's complaint) do not decide: the first line that looks like an entry does.
    for (const std::string& line : lines) {
        if (line.empty() || !LooksLikeUnixLine(line))
            continue;
        bool storage = HasUnitreeStorageColumn(line);
        return IsUnitree() ? storage : !storage;
    }
    return false;
}

bool TIdFTPLPUnix::ParseLines(const std::vector<std::string>& lines,
                              TIdFTPListItems& entries) const {
    std::string path;
    for (const std::string& line : lines) {
        if (line.empty() || IsTotalLine(line) || line.starts_with("/bin/ls:") ||
            IsUnitreeHeaderLine(line))
            continue;
        if (!LooksLikeUnixLine(line) && IsDirectoryBanner(line)) {
            path = line.substr(0, line.size() - 1);
            continue;
        }
        TIdFTPListItem& entry = NewEntry(entries);
        entry.SetRawLine(line);
        if (!ParseEntryLine(entry, path))
            entries.DropLastAsSkipped();
    }
    return true;
}

bool TIdFTPLPUnix::ParseEntryLine(TIdFTPListItem& item, const std::string& path) const {
    auto* unixEntry = dynamic_cast<TIdUnixFTPListItem*>(&item);
    if (!unixEntry)
        return false; // not made by NewEntry of this family
    TIdUnixFTPListItem& entry = *unixEntry;
    auto* unitree = dynamic_cast<TIdUnitreeFTPListItem*>(&item);
    const std::string& raw = entry.RawLine();
    if (!HasPermissionColumnUpFront(raw))
        return false;
    const TDateParts today = DecodeDateTime(ListingNow());

    LineRest rest(raw);
    rest.SkipSpaces();

    // Inode number and block count, when the line starts with them.
    std::string_view inodeText, blockText;
    if (!IsPermissionColumn(rest.PeekColumn())) {
        inodeText = rest.TakeColumn();
        if (!IsPermissionColumn(rest.PeekColumn()))
            blockText = rest.TakeColumn();
    }
    // Keep copies: PutBack below rebuilds the text the views point into.
    const std::string inode(inodeText), blocks(blockText);

    const std::string permissions(rest.TakeColumn());
    entry.SetModeText(permissions.substr(0, 10));
    const char kindLetter = permissions.empty() ? '\0' : UpperAscii(permissions[0]);
    entry.SetUserPerms(permissions.size() > 1 ? permissions.substr(1, 3) : std::string());
    entry.SetGroupPerms(permissions.size() > 4 ? permissions.substr(4, 3) : std::string());
    entry.SetOtherPerms(permissions.size() > 7 ? permissions.substr(7, 3) : std::string());

    std::string linkText, owner, group;
    const std::string linkColumn(rest.TakeColumn());
    if (!EqualsNoCase(linkColumn, "folder")) {
        if (linkColumn.size() > 3 && linkColumn[0] == '0') {
            // "0owner": a zero link count run together with the owner.
            linkText = "0";
            rest.PutBack(std::string_view(linkColumn).substr(1));
        } else {
            linkText = linkColumn;
        }
        if (!HasNeitherOwnerNorGroup(raw)) {
            owner = rest.TakeColumn();
            group = rest.TakeColumn();
        }
    }

    std::string sizeText;
    if (!IsUnitree() && IsLetter(rest.Front())) {
        // The size is not where it should be: the group is missing (its place holds the
        // size), or owner and group names contain spaces.
        sizeText = std::move(group);
        group = std::move(owner);
        owner.clear();
        if (!IsNumeric(sizeText)) {
            owner = std::move(group);
            group = std::move(sizeText);
            sizeText.clear();
            while (!rest.Empty()) {
                std::string_view column = rest.TakeColumn();
                if (IsNumeric(column)) {
                    sizeText = column;
                    break;
                }
                group.append(1, ' ').append(column);
            }
        }
    } else {
        std::string_view column = rest.TakeColumn();
        if (column.find(',') != std::string_view::npos) {
            rest.TakeColumn(); // a device: major and minor numbers instead of a size
        } else {
            sizeText = column;
        }
        if (IsStorageType(sizeText)) {
            if (unitree) {
                unitree->SetMigrated(sizeText == "AR");
                unitree->SetFileFamily(std::string(rest.TakeColumn()));
            }
            sizeText = rest.TakeColumn();
        }
    }

    // Date: "Jan 15", "15 Jan", "2003-01-15", "01/15/03".
    int year = today.year, month = 0, day = today.day;
    bool yearGiven = false;
    rest.RewriteFirstColumn("-/", ' ');
    std::string_view column = rest.TakeColumn();
    if (column.size() > 3) {
        year = IntDef(column, today.year);
        yearGiven = true;
        column = rest.TakeColumn();
    }
    if (auto number = TryStrToInt64(column)) {
        if (*number <= 12) {
            month = ToField(*number);
            day = IntDef(rest.TakeColumn(), today.day);
        } else {
            day = ToField(*number);
            month = IntDef(rest.TakeColumn(), day);
        }
    } else {
        month = MonthFromName(column);
        day = IntDef(rest.TakeColumn(), today.day);
    }

    // Year or time of day; only one space goes with it, as names may begin with spaces.
    int hour = 0, minute = 0, second = 0, millisecond = 999;
    std::string_view yearOrTime = rest.TakeColumnKeepSpaces();
    size_t colon = yearOrTime.find(':');
    if (colon == std::string_view::npos) {
        year = IntDef(yearOrTime, year);
    } else {
        hour = IntDef(yearOrTime.substr(0, colon), 0);
        if (!yearGiven) {
            // Without a year the entry is from the last twelve months.
            year = today.year;
            if (month > today.month || (month == today.month && day > today.day))
                --year;
        }
        std::string_view afterHour = yearOrTime.substr(colon + 1);
        ReadClockParts(afterHour, minute, second, millisecond);
        if (afterHour.find(':') != std::string_view::npos && IsNumeric(rest.PeekColumn()))
            year = IntDef(rest.TakeColumnKeepSpaces(), year); // "10:30:45 2003"
    }
    std::string name(rest.View());

    entry.SetKind(KindFromLetter(kindLetter));
    entry.SetLinkCount(IntDef(linkText, 0));
    entry.SetOwnerName(owner);
    entry.SetGroupName(group);
    entry.SetByteSize(Int64Def(sizeText, 0));
    // A date we cannot read (a month name in another language, 31 February) costs the date,
    // not the entry: its name, kind and size are still good.
    TDateTime date = 0, time = 0;
    const bool dateRead = TryEncodeDate(year, month, day, date) &&
                          TryEncodeTime(hour, minute, second, millisecond, time);
    entry.SetModified(dateRead ? ComposeDateTime(date, time) : 0);
    entry.SetModifiedKnown(dateRead);

    if (entry.Kind() == ekSymbolicLink) {
        size_t arrow = name.find(" -> ");
        if (arrow != std::string::npos) {
            std::string target = name.substr(arrow + 4);
            name.resize(arrow);
            if (!target.empty() && target.back() == '/') {
                entry.SetKind(ekSymbolicLinkDir);
                target.pop_back();
            }
            entry.SetLinkTarget(target);
        }
    }
    entry.SetBlockCount(IntDef(blocks, 0));
    entry.SetInodeNumber(IntDef(inode, 0));

    // "ls -F" marks directories with "/" and executables with "*".
    if (!name.empty() && (name.back() == '/' || name.back() == '*'))
        name.pop_back();
    if (name.empty())
        return false; // nothing we could ask the server for
    if (!path.empty()) {
        entry.SetLocalName(name);
        name = path + "/" + name;
        if (name.starts_with("./"))
            name.erase(0, 2);
    }
    entry.SetName(name);
    return true;
}
