// The keep-responsive step: a client on the thread that made the instance hands control to
// the event loop while it waits, and not at all on another thread.
#include "FtpTestSupport.h"
#include "ftp/IdAntiFreezeBase.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using testsrv::ScriptedFtpServer;
using testsrv::ScriptedSession;

namespace {

class CountingAntiFreeze : public TIdAntiFreezeBase {
public:
    std::atomic<int> calls{0};

protected:
    void Process(bool) override { ++calls; }
};

TEST(KeepResponsive, WaitsOnTheWindowThreadRunTheEventLoopInSlices) {
    ScriptedFtpServer server;
    server.Handle("NOOP", [](ScriptedSession& session, const std::string&) {
        std::this_thread::sleep_for(600ms); // a slow server, not a wait for anything
        session.Send("200 finally\r\n");
    });
    CountingAntiFreeze antiFreeze;
    antiFreeze.IdleTimeOut = 50;
    antiFreeze.OnlyWhenIdle = false;
    auto client = ftptest::MakeClient(server.Port());
    client->SetReadTimeout(0); // no limit: the wait runs in IdleTimeOut slices
    client->Connect();         // through the connect thread, as the window's thread does
    const int beforeNoop = antiFreeze.calls;
    EXPECT_EQ(client->SendNoop(), 200);
    EXPECT_GE(antiFreeze.calls - beforeNoop, 5);

    // Another thread never runs the window's event loop.
    const int beforeWorker = antiFreeze.calls;
    std::thread worker([&] { EXPECT_EQ(client->SendNoop(), 200); });
    worker.join();
    EXPECT_EQ(antiFreeze.calls, beforeWorker);
    client->Disconnect();
}

TEST(KeepResponsive, LimitedWaitsKeepTheEventLoopTurningToo) {
    // The control connection's 60 s read limit must not freeze the window while a reply is
    // awaited: the wait runs in slices from its start, not in one long first piece.
    ScriptedFtpServer server;
    server.Handle("NOOP", [](ScriptedSession& session, const std::string&) {
        std::this_thread::sleep_for(600ms);
        session.Send("200 finally\r\n");
    });
    CountingAntiFreeze antiFreeze;
    antiFreeze.IdleTimeOut = 50;
    antiFreeze.OnlyWhenIdle = false;
    auto client = ftptest::MakeClient(server.Port());
    client->SetReadTimeout(60000);
    client->Connect();
    const int beforeNoop = antiFreeze.calls;
    EXPECT_EQ(client->SendNoop(), 200);
    EXPECT_GE(antiFreeze.calls - beforeNoop, 5);
    client->Disconnect();
}

} // namespace
