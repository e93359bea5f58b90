#include "base/IdException.h"
#include "base/StrUtils.h"
#include "ftp/IdFTP.h"

#include <algorithm>

namespace tavrin::ftp {

void ParsePasvReply(const std::string& firstLine, std::string& host, int& port) {
    const std::string line = Trim(firstLine);
    std::string address;
    const size_t open = line.find('(');
    const size_t close = line.find(')');
    if (open != std::string::npos && close != std::string::npos) {
        address = close > open ? line.substr(open + 1, close - open - 1) : std::string();
    } else {
        const size_t blank = line.rfind(' ');
        address = blank == std::string::npos ? line : line.substr(blank + 1);
    }
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = address.find(',', start);
        parts.push_back(address.substr(start, comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    parts.resize(std::max<size_t>(parts.size(), 6));
    host = parts[0] + "." + parts[1] + "." + parts[2] + "." + parts[3];
    const int64_t value =
        int64_t{StrToInt(Trim(parts[4]))} * 256 + int64_t{StrToInt(Trim(parts[5]))};
    // A port outside the TCP range is passed on as -1, which the connect refuses.
    port = value >= 0 && value <= 65535 ? static_cast<int>(value) : -1;
}

int ParseEpsvReply(const std::string& firstLine) {
    const size_t open = firstLine.find('(');
    const size_t close = firstLine.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos || close < open + 6)
        throw EConvertError("'" + firstLine + "' is not a valid extended passive reply");
    const std::string inside = firstLine.substr(open + 1, close - open - 1);
    const char delimiter = inside[0];
    // d d d port d: the network protocol and address fields stay empty.
    if (inside.size() < 5 || inside[1] != delimiter || inside[2] != delimiter ||
        inside.back() != delimiter)
        throw EConvertError("'" + firstLine + "' is not a valid extended passive reply");
    const std::string digits = inside.substr(3, inside.size() - 4);
    const auto port = TryStrToInt(digits);
    if (!port || *port <= 0 || *port > 65535 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        throw EConvertError("'" + digits + "' is not a valid port");
    return *port;
}

std::string EprtArgument(const std::string& ip, int port) {
    const char* family = ip.find(':') == std::string::npos ? "1" : "2";
    return std::string("|") + family + "|" + ip + "|" + std::to_string(port) + "|";
}

std::string PortArgument(const std::string& ip, int port) {
    std::string argument = ip;
    for (char& c : argument)
        if (c == '.')
            c = ',';
    return argument + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

std::vector<std::string> SplitListingLines(const std::string& text) {
    // A NUL ends the listing; CR LF, LF and a lone CR each end a line. Whole runs are copied
    // at once: a listing of 100,000 files is several megabytes.
    const size_t end = std::min(text.size(), text.find('\0'));
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(std::count(text.begin(), text.begin() + end, '\n')) + 1);
    size_t start = 0;
    while (start < end) {
        const size_t brk = text.find_first_of("\r\n", start);
        if (brk == std::string::npos || brk >= end) {
            lines.emplace_back(text, start, end - start);
            break;
        }
        lines.emplace_back(text, start, brk - start);
        start = brk + (text[brk] == '\r' && brk + 1 < end && text[brk + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

} // namespace tavrin::ftp
