#pragma once
// "Test connection" on a job's page: log in with the page's values, go to the remote folder,
// list it, and say in one line how that went. Blocking: the page runs it on a thread of its
// own so the dialog stays usable meanwhile.
#include "config/CommonTypesUnit.h"
#include "remote/RemoteSession.h"

#include <string>
#include <vector>

namespace tavrin {

struct TConnectionOutcome {
    bool Succeeded = false;
    // "Logged in, 12 files in /out", or "<host>:<port>: " and the failure as it was raised.
    std::string Text;
    // What the listing showed, for the page's preview of which files the job takes; empty
    // when the test failed.
    std::vector<remote::TRemoteEntry> Entries;
};

// Every wait for the server is bounded by `replyLimitMs`, so the outcome comes in time even
// from a server that went quiet.
TConnectionOutcome TestConnection(const RConfiguration& config, int replyLimitMs);

// "host:port", with IPv6 addresses in brackets.
std::string ServerAddress(const std::string& host, const std::string& port);

} // namespace tavrin
