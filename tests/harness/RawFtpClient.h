#pragma once
// A deliberately dumb FTP client for checking the test servers themselves: it sends lines
// and reads replies, nothing more, so a fault it finds is the server's.

#include "servers/LoopbackSocket.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace testsrv {

class RawFtpClient {
public:
    explicit RawFtpClient(uint16_t port);
    bool Connected() const { return control_.Valid(); }
    // One whole reply (all lines of a multi-line one), CR LF kept; "" on time-out or close.
    std::string ReadReply();
    std::string Command(const std::string& line); // sends line + CR LF, returns the reply
    // Connects to the port of a 227 reply (only ever 127.0.0.1).
    UniqueFd OpenPassiveData(const std::string& reply227);
    std::string ReadAll(UniqueFd& data);

private:
    UniqueFd control_;
    std::string pending_;
    static constexpr std::chrono::milliseconds kLimit{10000};
};

} // namespace testsrv
