// Several files of one cycle at once: the cycle's own session and up to Connections - 1 more,
// each taking the next file of the cycle until none is left, the cycle stops or its
// connection breaks.
#include "import/MonitorFTPUnit.h"

#include "config/LogSwitches.h"
#include "import/ImportTexts.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

namespace {

// As many as an export may use: enough for bursts of small files, few enough for any server.
constexpr int32_t kMostConnections = 8;

} // namespace

std::unique_ptr<tavrin::remote::TRemoteSession> TFTPChecker::OpenParallelSession() {
    tavrin::remote::TRemoteEvents events;
    events.OnStatus = [this](tavrin::remote::TSessionStatus, const std::string& text) {
        if (LogVerbose)
            LogMessage(text, clHotLight);
    };
    events.OnTlsInfo = [this](const std::string& text) { TlsStatusInfo(text); };
    events.OnKeyPassword = [this](std::string& password) { KeyPassword(password); };
    try {
        auto session = tavrin::remote::MakeRemoteSession(config_, events);
        session->Connect();
        if (!session->IsConnected())
            return nullptr;
        // The same folder the cycle's own session went to at its login.
        if (!config_.RemoteFolder.empty())
            session->ChangeFolder(config_.RemoteFolder);
        return session;
    } catch (const std::exception& failure) {
        // The files go over the connections there are; the cycle's own one always is.
        LogMessage("A further connection to " + HostPort() +
                       " could not be opened: " + tavrin::importtext::OneLine(failure.what()),
                   clHotLight);
        return nullptr;
    }
}

bool TFTPChecker::FetchInParallel(const std::vector<tavrin::remote::TRemoteEntry>& due) {
    const size_t count =
        std::min(due.size(), static_cast<size_t>(std::min(config_.Connections, kMostConnections)));
    std::atomic<size_t> next{0};
    std::atomic<bool> broken{false};
    // As with one connection, a stop lets the cycle's files finish; the job cuts the
    // connections when that takes too long, and a cut connection ends its share at once.
    auto fetchOver = [&](tavrin::remote::TRemoteSession& session) {
        for (;;) {
            const size_t at = next++;
            if (at >= due.size())
                return;
            FetchEntry(session, due[at]);
            // A transfer that broke this connection ends its fetching; the others go on.
            if (!session.IsConnected()) {
                broken = true;
                return;
            }
        }
    };
    std::vector<std::thread> helpers;
    for (size_t helper = 1; helper < count; ++helper)
        helpers.emplace_back([this, &fetchOver] {
            // A stop cuts these sockets as it cuts the cycle's own.
            tavrin::net::TSocketGroupScope grouped(stop_->sockets_);
            auto session = OpenParallelSession();
            if (!session)
                return;
            fetchOver(*session);
            try {
                if (session->IsConnected())
                    session->Close(true);
            } catch (const std::exception&) {
            }
        });
    fetchOver(*session_);
    for (std::thread& helper : helpers)
        helper.join();
    return !broken;
}
