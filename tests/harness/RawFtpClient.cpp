#include "harness/RawFtpClient.h"

#include <cstdio>

namespace testsrv {

RawFtpClient::RawFtpClient(uint16_t port)
    : control_(ConnectWithin("127.0.0.1", port, -1, kLimit)) {}

std::string RawFtpClient::ReadReply() {
    std::string reply;
    for (;;) {
        size_t eol = pending_.find('\n');
        if (eol == std::string::npos) {
            if (!ReceiveSome(control_.Get(), pending_, -1, kLimit))
                return "";
            continue;
        }
        std::string line = pending_.substr(0, eol + 1);
        pending_.erase(0, eol + 1);
        reply += line;
        // The last line of a reply is "ddd " (a multi-line one starts with "ddd-").
        if (line.size() >= 4 && line[3] == ' ' && reply.compare(0, 3, line, 0, 3) == 0)
            return reply;
    }
}

std::string RawFtpClient::Command(const std::string& line) {
    if (!SendAll(control_.Get(), line + "\r\n", -1, kLimit))
        return "";
    return ReadReply();
}

UniqueFd RawFtpClient::OpenPassiveData(const std::string& reply227) {
    unsigned h1, h2, h3, h4, p1, p2;
    size_t open = reply227.find('(');
    if (open == std::string::npos ||
        std::sscanf(reply227.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &h1, &h2, &h3, &h4, &p1, &p2) !=
            6 ||
        h1 != 127 || h2 != 0 || h3 != 0 || h4 != 1)
        return UniqueFd();
    return ConnectWithin("127.0.0.1", static_cast<uint16_t>(p1 * 256 + p2), -1, kLimit);
}

std::string RawFtpClient::ReadAll(UniqueFd& data) {
    std::string all;
    while (ReceiveSome(data.Get(), all, -1, kLimit)) {
    }
    return all;
}

} // namespace testsrv
