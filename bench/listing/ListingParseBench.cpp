// Parse rate of the listing parsers on 100,000-line listings of each format, as the client
// parses them (detection included, where the client detects). The bare-name parser, which only
// copies each line into an entry, is the floor the others are measured against. Long lines
// show that the cost per byte does not grow with the line's length.
#include "ftp/listing/IdFTPListParseMList.h"
#include "ftp/listing/IdFTPListParseNList.h"
#include "ftp/listing/IdFTPListParseUnix.h"
#include "ftp/listing/IdFTPListParseWindowsNT.h"
#include "ftp/listing/IdListingClock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kLines = 100000;
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::vector<std::string> UnixListing() {
    std::vector<std::string> lines = {"total 400000"};
    char line[200];
    for (int i = 0; lines.size() < kLines; ++i) {
        const char* month = kMonths[i % 12];
        switch (i % 4) {
        case 0:
            std::snprintf(line, sizeof line,
                          "drwxr-xr-x    2 ftpuser  ftpgroup     4096 %s %2d %02d:%02d dir%06d",
                          month, i % 28 + 1, i % 24, i % 60, i);
            break;
        case 1:
            std::snprintf(line, sizeof line,
                          "-rw-r--r--    1 ftpuser  ftpgroup %8d %s %2d  %d report %06d.csv",
                          i * 37 % 99999999, month, i % 28 + 1, 1990 + i % 30, i);
            break;
        case 2:
            std::snprintf(
                line, sizeof line,
                "lrwxrwxrwx    1 ftpuser  ftpgroup        9 %s %2d %02d:%02d link%06d -> target/",
                month, i % 28 + 1, i % 24, i % 60, i);
            break;
        default:
            std::snprintf(line, sizeof line,
                          "-rw-r--r--    1 ftpuser  ftpgroup %8d %s %2d %02d:%02d DATA%06d.TXT",
                          i * 13 % 99999999, month, i % 28 + 1, i % 24, i % 60, i);
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> WindowsListing() {
    std::vector<std::string> lines;
    char line[200];
    for (int i = 0; lines.size() < kLines; ++i) {
        const int hour = i % 12 + 1;
        const char* half = i % 2 ? "PM" : "AM";
        if (i % 5 == 0)
            std::snprintf(line, sizeof line,
                          "%02d-%02d-%02d  %02d:%02d%s       <DIR>          folder %06d",
                          i % 12 + 1, i % 28 + 1, i % 100, hour, i % 60, half, i);
        else
            std::snprintf(line, sizeof line, "%02d-%02d-%02d  %02d:%02d%s %20d report%06d.txt",
                          i % 12 + 1, i % 28 + 1, i % 100, hour, i % 60, half, i * 37 % 99999999,
                          i);
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> MachineListing() {
    std::vector<std::string> lines = {"type=cdir;modify=20240101000000;perm=flcdmpe; .",
                                      "type=pdir;modify=20240101000000;perm=flcdmpe; .."};
    char line[200];
    for (int i = 0; lines.size() < kLines; ++i) {
        if (i % 5 == 0)
            std::snprintf(line, sizeof line,
                          "type=dir;modify=2024%02d%02d%02d%02d%02d;UNIX.mode=0755; folder%06d",
                          i % 12 + 1, i % 28 + 1, i % 24, i % 60, i % 60, i);
        else
            std::snprintf(line, sizeof line,
                          "type=file;size=%d;modify=2024%02d%02d%02d%02d%02d.%03d;unique=%XU%X;"
                          "UNIX.mode=0644; "
                          "report %06d.csv",
                          i * 37 % 99999999, i % 12 + 1, i % 28 + 1, i % 24, i % 60, i % 60,
                          i % 1000, i, i * 7, i);
        lines.push_back(line);
    }
    return lines;
}

// Best of a few runs, in lines per second.
double LinesPerSecond(size_t lineCount, const std::function<void(TIdFTPListItems&)>& parse) {
    double best = 0;
    for (int run = 0; run < 5; ++run) {
        TIdFTPListItems entries;
        const auto start = std::chrono::steady_clock::now();
        parse(entries);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (entries.Count() == 0)
            std::fprintf(stderr, "no entries were made\n");
        best = std::max(best, static_cast<double>(lineCount) / took.count());
    }
    return best;
}

void Report(const char* what, double rate, double floor) {
    std::printf("%-34s %12.0f lines/s  %5.2fx the time of bare names  goal 1000000: %s\n", what,
                rate, floor / rate, rate >= 1e6 ? "met" : "MISSED");
}

} // namespace

int main() {
    tavrin::PinLocalUtcOffset(std::nullopt);
    const auto unix = UnixListing();
    const auto windows = WindowsListing();
    const auto machine = MachineListing();

    const double floor = LinesPerSecond(unix.size(), [&](TIdFTPListItems& entries) {
        TIdFTPLPNList::Class()->ParseLines(unix, entries);
    });
    std::printf("%-34s %12.0f lines/s  (copies each line into an entry)\n", "bare names (floor)",
                floor);

    auto detect = [](const std::vector<std::string>& lines) {
        return [&lines](TIdFTPListItems& entries) {
            std::string ident;
            TIdFTPListParseClass parser = nullptr;
            ParserRegistry().DetectAndParse(lines, entries, ident, true, "", parser);
        };
    };
    Report("Unix, detected", LinesPerSecond(unix.size(), detect(unix)), floor);
    Report("Windows NT, detected", LinesPerSecond(windows.size(), detect(windows)), floor);
    Report("MLSD, by name",
           LinesPerSecond(machine.size(),
                          [&](TIdFTPListItems& entries) {
                              ParserRegistry().ParseWithFormat(machine, entries, "MLST");
                          }),
           floor);

    // Cost per byte on 16 KB lines against ordinary ones: linear parsing keeps them close.
    std::vector<std::string> longLines;
    for (int i = 0; i < 2000; ++i)
        longLines.push_back("-rw-r--r-- 1 o g 10 Jan 15 10:30 " + std::string(16384, 'a' + i % 26) +
                            std::string(i % 7, ' ') + "x y z");
    size_t shortBytes = 0, longBytes = 0;
    for (const auto& line : unix)
        shortBytes += line.size();
    for (const auto& line : longLines)
        longBytes += line.size();
    const double shortRate = LinesPerSecond(unix.size(),
                                            [&](TIdFTPListItems& entries) {
                                                TIdFTPLPUnix::Class()->ParseLines(unix, entries);
                                            }) *
                             shortBytes / unix.size();
    const double longRate =
        LinesPerSecond(longLines.size(),
                       [&](TIdFTPListItems& entries) {
                           TIdFTPLPUnix::Class()->ParseLines(longLines, entries);
                       }) *
        longBytes / longLines.size();
    std::printf("Unix bytes/s: %.0f MB/s on ~70-byte lines, %.0f MB/s on 16 KB lines\n",
                shortRate / 1e6, longRate / 1e6);
    return 0;
}
