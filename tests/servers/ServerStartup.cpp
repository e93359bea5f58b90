#include "servers/LoopbackSocket.h"
#include "servers/RealServers.h"

#include <thread>

namespace testsrv {

bool WaitForGreeting(uint16_t port, std::chrono::milliseconds limit, ChildProcess* process,
                     const std::string& host, bool tls) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (process && !process->Running())
            return false;
        UniqueFd control = ConnectWithin(host, port, -1, std::chrono::milliseconds(1000));
        if (control.Valid() && tls)
            return true;
        if (control.Valid()) {
            std::string greeting;
            while (greeting.find('\n') == std::string::npos &&
                   ReceiveSome(control.Get(), greeting, -1, std::chrono::milliseconds(2000))) {
            }
            // Only the final line of a multi-line greeting matters; "220-" lines come first.
            if (greeting.rfind("220", 0) == 0)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

} // namespace testsrv
