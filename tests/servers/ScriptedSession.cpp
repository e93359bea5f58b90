#include "servers/ScriptedFtpServer.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

namespace testsrv {

ScriptedSession::ScriptedSession(UniqueFd control, int stopFd, std::string address)
    : control_(std::move(control)), stopFd_(stopFd), address_(std::move(address)) {}

void ScriptedSession::Send(const std::string& raw) {
    if (control_.Valid())
        SendAll(control_.Get(), raw, stopFd_, kSendLimit);
}

void ScriptedSession::CloseControl() {
    if (control_.Valid())
        ::shutdown(control_.Get(), SHUT_RDWR);
    control_.Reset();
}

bool ScriptedSession::ReadLine(std::string& line) {
    for (;;) {
        size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        // An idle client may keep its control connection for as long as the test runs;
        // the stop descriptor ends the wait when the server goes away.
        if (!control_.Valid() ||
            !ReceiveSome(control_.Get(), pending_, stopFd_, std::chrono::hours(1)))
            return false;
    }
}

bool ScriptedSession::RememberPort(const std::string& argument) {
    lastPortArgument_ = argument;
    activeHost_.clear();
    unsigned h1, h2, h3, h4, p1, p2;
    char tail;
    if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u%c", &h1, &h2, &h3, &h4, &p1, &p2, &tail) !=
            6 ||
        h1 > 255 || h2 > 255 || h3 > 255 || h4 > 255 || p1 > 255 || p2 > 255)
        return false;
    // Never connect anywhere but the loopback network.
    if (h1 != 127)
        return false;
    activeHost_ = std::to_string(h1) + "." + std::to_string(h2) + "." + std::to_string(h3) + "." +
                  std::to_string(h4);
    activePort_ = static_cast<uint16_t>(p1 * 256 + p2);
    activeMode_ = true;
    passiveListen_.Reset();
    data_.Reset();
    return true;
}

std::string ScriptedSession::OpenPassive() {
    data_.Reset();
    uint16_t port = 0;
    passiveListen_ = ListenLoopback(port);
    activeMode_ = false;
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
           std::to_string(port % 256) + ").\r\n";
}

std::string ScriptedSession::OpenExtendedPassive() {
    data_.Reset();
    uint16_t port = 0;
    passiveListen_ = ListenLoopback(port, address_);
    activeMode_ = false;
    return "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n";
}

bool ScriptedSession::RememberExtendedPort(const std::string& argument) {
    lastPortArgument_ = argument;
    activeHost_.clear();
    // d family d address d port d
    if (argument.size() < 7)
        return false;
    const char d = argument[0];
    std::vector<std::string> fields;
    size_t start = 1;
    for (size_t at; (at = argument.find(d, start)) != std::string::npos; start = at + 1)
        fields.push_back(argument.substr(start, at - start));
    if (fields.size() != 3 || start != argument.size())
        return false;
    const bool loopback = (fields[0] == "1" && fields[1].rfind("127.", 0) == 0) ||
                          (fields[0] == "2" && fields[1] == "::1");
    unsigned port = 0;
    char tail;
    if (!loopback || std::sscanf(fields[2].c_str(), "%u%c", &port, &tail) != 1 || port == 0 ||
        port > 65535)
        return false;
    activeHost_ = fields[1];
    activePort_ = static_cast<uint16_t>(port);
    activeMode_ = true;
    passiveListen_.Reset();
    data_.Reset();
    return true;
}

void ScriptedSession::EnsureData() {
    if (data_.Valid())
        return;
    if (activeMode_) {
        if (activeHost_.empty())
            throw DataConnectionError("no usable PORT address");
        data_ = ConnectWithin(activeHost_, activePort_, stopFd_, kDataConnectLimit);
        if (!data_.Valid())
            throw DataConnectionError("cannot connect to " + activeHost_ + ":" +
                                      std::to_string(activePort_));
        return;
    }
    if (!passiveListen_.Valid())
        throw DataConnectionError("neither PASV nor PORT came first");
    data_ = AcceptWithin(passiveListen_.Get(), stopFd_, kDataConnectLimit);
    if (!data_.Valid())
        throw DataConnectionError("the client did not connect to the passive port");
}

void ScriptedSession::DataSend(const std::string& bytes) {
    EnsureData();
    // A client that closes early (ABOR, a failed write on its side) is not our failure.
    SendAll(data_.Get(), bytes, stopFd_, kSendLimit);
}

bool ScriptedSession::DataTrySend(const std::string& bytes) {
    EnsureData();
    return SendAll(data_.Get(), bytes, stopFd_, kSendLimit);
}

std::string ScriptedSession::DataReceiveAll(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    EnsureData();
    std::string received;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !ReceiveSome(data_.Get(), received, stopFd_, left))
            return received;
    }
}

void ScriptedSession::DataClose() {
    if (data_.Valid())
        ::shutdown(data_.Get(), SHUT_WR);
    data_.Reset();
    passiveListen_.Reset();
}

void ScriptedSession::DataAbort() {
    AbortiveClose(data_);
    passiveListen_.Reset();
}

} // namespace testsrv
