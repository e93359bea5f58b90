#include "ftp/listing/IdFTPListParseWindowsNT.h"

#include "base/StrUtils.h"
#include "ftp/listing/IdListingClock.h"
#include "ftp/listing/IdListingText.h"

#include <exception>

using namespace tavrin;
using namespace tavrin::listing;

namespace {

// Characters `from`..`from + count - 1` of a line, 1-based; shorter near the end.
std::string_view Chars(std::string_view text, size_t from, size_t count) {
    return from - 1 < text.size() ? text.substr(from - 1, count) : std::string_view();
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "01-15-03": three parts, month 1..12, day 1..32, a numeric year.
bool IsMonthDayYear(std::string_view text, char delimiter) {
    std::string_view parts[3];
    size_t count = 0;
    while (!text.empty()) {
        size_t at = text.find(delimiter);
        if (count == 3)
            return false;
        parts[count++] = text.substr(0, at);
        if (at == std::string_view::npos)
            break;
        text.remove_prefix(at + 1); // a delimiter at the very end adds no part
    }
    if (count != 3)
        return false;
    const int month = IntDef(parts[0], 0), day = IntDef(parts[1], 0);
    return month >= 1 && month <= 12 && day >= 1 && day <= 32 && IsNumeric(parts[2]);
}

bool IsDateSeparator(std::string_view text, size_t position) {
    return position <= text.size() && (text[position - 1] == '/' || text[position - 1] == '-');
}

// "2003-01-15" or "03/01/15" at the start of the line.
bool IsYearMonthDay(std::string_view text) {
    if (IsDateSeparator(text, 5) && IsDateSeparator(text, 8) && IsNumeric(Chars(text, 1, 4)) &&
        IsNumeric(Chars(text, 6, 2)) && IsNumeric(Chars(text, 9, 2)))
        return true;
    return IsDateSeparator(text, 3) && IsDateSeparator(text, 6) && IsNumeric(Chars(text, 1, 2)) &&
           IsNumeric(Chars(text, 4, 2)) && IsNumeric(Chars(text, 7, 2));
}

// Every entry line begins with its date: "01-15-03", "01/15/03", "2003-01-15".
bool StartsWithDate(std::string_view line) {
    return IsMonthDayYear(line.substr(0, 8), '-') || IsMonthDayYear(line.substr(0, 8), '/') ||
           IsYearMonthDay(line) || IsMonthDayYear(line, '-');
}

// Lines whose third column is a lone "F" or "D" come from other servers.
bool HasFileOrDirectoryFlag(std::string_view line) {
    Columns columns(line);
    return columns.Total() >= 5 && (columns[2] == "F" || columns[2] == "D") && columns[4] != "-";
}

int ExpandTwoDigitYear(int year) {
    if (year >= 1000)
        return year;
    const int century = DecodeDateTime(ListingNow()).year / 100;
    return year > 50 ? year + (century - 1) * 100 : year + century * 100;
}

// The three parts of a date, split at its first non-digit.
void SplitDate(std::string_view text, int (&fields)[3]) {
    size_t at = 0;
    while (at < text.size() && IsDigit(text[at]))
        ++at;
    const char delimiter = at < text.size() ? text[at] : '\0';
    for (int& field : fields) {
        size_t end = delimiter ? text.find(delimiter) : std::string_view::npos;
        field = IntDef(Trim(text.substr(0, end)), 0);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
}

TDateTime YearFirstDate(std::string_view text) {
    int fields[3];
    SplitDate(text, fields);
    return EncodeDate(ExpandTwoDigitYear(fields[0]), fields[1], fields[2]);
}

TDateTime MonthFirstDate(std::string_view text) {
    int fields[3];
    SplitDate(text, fields);
    return EncodeDate(ExpandTwoDigitYear(fields[2]), fields[0], fields[1]);
}

// "02:05PM", "12:30 AM", "14:05", "14:05:30".
TDateTime ParseClockTime(std::string_view received) {
    std::string clock = UpperCase(received);
    bool afternoon = false, morning = false;
    auto cutAt = [&clock](std::string_view marker) {
        size_t at = clock.find(marker);
        if (at == std::string::npos)
            return false;
        clock.resize(at);
        return true;
    };
    if (cutAt("PM"))
        afternoon = true;
    if (cutAt("AM"))
        morning = true;
    if (cutAt("P"))
        afternoon = true;
    if (cutAt("A"))
        morning = true;
    clock = Trim(clock);

    size_t at = 0;
    while (at < received.size() && IsDigit(received[at]))
        ++at;
    const char separator = at < received.size() ? received[at] : '\0';
    int fields[4] = {0, 0, 0, 0};
    if (separator == '\0' || clock.find(separator) == std::string::npos) {
        // Digits only: "1030" is 10:30, "9" is 9:00.
        const int number = IntDef(clock, 0);
        if (clock.size() >= 3) {
            fields[0] = number / 100;
            fields[1] = number % 100;
        } else {
            fields[0] = number;
        }
    } else {
        std::string_view rest = clock;
        for (int& field : fields) {
            size_t end = rest.find(separator);
            field = IntDef(rest.substr(0, end), 0);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
    if (afternoon && fields[0] < 12)
        fields[0] += 12;
    else if (morning && fields[0] == 12)
        fields[0] = 0;
    return EncodeTime(fields[0], fields[1], fields[2], fields[3]);
}

} // namespace

const TIdFTPLPWindowsNT* TIdFTPLPWindowsNT::Class() {
    static const TIdFTPLPWindowsNT instance;
    return &instance;
}

TIdFTPListItem& TIdFTPLPWindowsNT::NewEntry(TIdFTPListItems& entries) const {
    return entries.Add<TIdWindowsNTFTPListItem>();
}

std::string TIdFTPLPWindowsNT::FormatIdent() const {
    return "Windows NT";
}

bool TIdFTPLPWindowsNT::Recognizes(const std::vector<std::string>& lines, const std::string&,
                                   bool) const {
    bool verdict = false;
    for (const std::string& line : lines) {
        if (line.empty() || IsDirectoryBanner(line))
            continue;
        const std::string upper = UpperCase(line);
        std::string_view marker = Chars(upper, 25, 5);
        if (marker == "  <DI")
            marker = Chars(upper, 27, 5);
        while (!marker.empty() && marker.front() == ' ')
            marker.remove_prefix(1);
        if (IsNumeric(marker))
            marker = {};

        const std::string_view upperView = upper;
        if (!StartsWithDate(upperView))
            continue;
        if (marker == "<DIR>") {
            verdict = !HasFileOrDirectoryFlag(upperView);
        } else if (marker.empty()) {
            std::string sizeText;
            for (char c : Chars(upper, 20, 19))
                if (c != ',' && !(sizeText.empty() && c == ' '))
                    sizeText.push_back(c);
            auto size = TryStrToInt64(sizeText);
            if (size && *size != -1)
                verdict = !HasFileOrDirectoryFlag(upperView);
        }
    }
    return verdict;
}

bool TIdFTPLPWindowsNT::ParseLines(const std::vector<std::string>& lines,
                                   TIdFTPListItems& entries) const {
    std::string path;
    for (const std::string& line : lines) {
        if (line.empty())
            continue;
        if (IsDirectoryBanner(line)) {
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

bool TIdFTPLPWindowsNT::ParseEntryLine(TIdFTPListItem& entry, const std::string& path) const {
    const std::string& raw = entry.RawLine();
    if (!StartsWithDate(raw))
        return false; // a stray piece of a name that held a line break, or a banner
    LineRest rest(raw);
    std::string dateText, timeText;
    bool yearFirst = false;
    if (IsNumeric(Chars(raw, 1, 4)) && raw.size() >= 5 && !IsDigit(raw[4])) {
        // "2003-01-15  10:30 ..."
        yearFirst = true;
        dateText.append(Chars(raw, 1, 4)).append("/");
        dateText.append(Chars(raw, 6, 2)).append("/").append(Chars(raw, 9, 2));
        rest.Drop(10);
        rest.Trim();
        timeText = rest.TakeColumnKeepSpaces();
    } else {
        dateText = rest.TakeColumnKeepSpaces();
        rest.SkipSpaces();
        timeText = rest.TakeColumnKeepSpaces();
    }
    try {
        const TDateTime date = yearFirst ? YearFirstDate(dateText) : MonthFirstDate(dateText);
        entry.SetModified(ComposeDateTime(date, ParseClockTime(timeText)));
        entry.SetModifiedKnown(true);
    } catch (const std::exception&) {
        entry.SetModified(0); // a date that does not exist still leaves the entry usable
        entry.SetModifiedKnown(false);
    }

    rest.Trim();
    std::string sizeText;
    for (char c : rest.TakeColumnKeepSpaces())
        if (c != ',')
            sizeText.push_back(c);
    std::string name;
    if (EqualsNoCase(sizeText, "<DIR>")) {
        entry.SetKind(ekDirectory);
        entry.SetByteSizeKnown(false);
        // Ten spaces follow "<DIR>"; one of them went with the column.
        std::string_view after = rest.View();
        name = after.size() > 9 ? after.substr(9) : std::string_view();
    } else {
        entry.SetKind(ekFile);
        entry.SetByteSize(Int64Def(sizeText, 0));
        name = rest.View();
    }

    if (name.empty())
        return false; // nothing we could ask the server for
    entry.SetLocalName(std::string());
    if (!path.empty()) {
        entry.SetLocalName(name);
        name = path + "\\" + name;
        if (name.starts_with(".\\"))
            name.erase(0, 2);
    }
    entry.SetName(name);
    return true;
}
