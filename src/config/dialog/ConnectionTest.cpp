#include "config/dialog/ConnectionTest.h"

#include "base/IdException.h"
#include "base/StrUtils.h"
#include "remote/RemoteSession.h"

#include <algorithm>
#include <exception>

namespace tavrin {
namespace {

std::string CountedFiles(const std::vector<remote::TRemoteEntry>& entries) {
    const auto files = std::count_if(entries.begin(), entries.end(), [](const auto& entry) {
        return entry.kind == remote::TRemoteKind::File;
    });
    return std::to_string(files) + (files == 1 ? " file" : " files");
}

} // namespace

std::string ServerAddress(const std::string& host, const std::string& port) {
    const std::string bare = Trim(host);
    const bool ipv6 = bare.find(':') != std::string::npos;
    return (ipv6 ? "[" + bare + "]" : bare) + ":" + Trim(port);
}

TConnectionOutcome TestConnection(const RConfiguration& config, int replyLimitMs) {
    try {
        remote::CheckSessionSettings(config);
        std::unique_ptr<remote::TRemoteSession> session =
            remote::MakeRemoteSession(config, remote::TRemoteEvents{});
        session->SetReplyTimeout(replyLimitMs);
        session->Connect();
        if (!config.RemoteFolder.empty())
            session->ChangeFolder(config.RemoteFolder);
        const std::string folder =
            config.RemoteFolder.empty() ? session->CurrentFolder() : config.RemoteFolder;
        std::vector<remote::TRemoteEntry> entries = session->List();
        try {
            session->Close(true);
        } catch (const std::exception&) {
            // The answer is in; a server that hangs up before the goodbye changes nothing.
        }
        return {true, "Logged in, " + CountedFiles(entries) + " in " + folder, std::move(entries)};
    } catch (const remote::ERemoteRefused& refused) {
        // The reply code tells a refused login from a missing folder at a glance; the reply's
        // own line end would only add an empty line under it.
        return {false,
                ServerAddress(config.Host, config.Port) + ": " + std::to_string(refused.Code()) +
                    " " + TrimRight(refused.what()),
                {}};
    } catch (const std::exception& failure) {
        return {false, ServerAddress(config.Host, config.Port) + ": " + failure.what(), {}};
    }
}

} // namespace tavrin
