#include "export/FailureReason.h"

#include "base/StrUtils.h"
#include "remote/RemoteSession.h"

std::string FailureReason(const std::exception* failure, const std::string& doing,
                          const std::string& host, const std::string& port) {
    // Reply texts end with their line break, which has no place inside a log line.
    std::string text = failure ? tavrin::TrimRight(failure->what()) : std::string();
    if (!text.empty())
        return text;
    if (host.empty())
        return "Connecting failed: no export host is set.";
    const std::string where = doing + " " + host + ":" + port + " failed";
    if (const auto* reply = dynamic_cast<const tavrin::remote::ERemoteRefused*>(failure))
        return where + ": the server answered " + std::to_string(reply->Code()) +
               " without a text.";
    return where + " without a message.";
}
