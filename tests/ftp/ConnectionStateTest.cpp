// The connection state a monitor relies on to reconnect: after every kind of failure, and
// after a server that drops an idle connection, the client says it is disconnected and the
// next Connect on the same object works, on a worker thread and on the window's thread.
#include "FtpTestSupport.h"
#include "ftp/IdAntiFreezeBase.h"
#include "ftp/IdExceptions.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using testsrv::ScriptedFtpServer;
using testsrv::ScriptedSession;

namespace {

class IdleAntiFreeze : public TIdAntiFreezeBase {
protected:
    void Process(bool) override {}
};

// The server misbehaves on the first NOOP only; later sessions get a plain answer.
struct Misbehaviour {
    const char* name;
    std::function<void(ScriptedSession&)> firstNoop;
    bool noopFails;
};

void HoldOpen(ScriptedSession&) {
    // The connection stays up, so only the client's own bookkeeping can say it is unusable.
}

const Misbehaviour kMisbehaviours[] = {
    {"line over the limit",
     [](ScriptedSession& s) {
         s.Send("200 " + std::string(20000, 'a') + "\r\n");
         HoldOpen(s);
     },
     true},
    {"reply over 1 MiB",
     [](ScriptedSession& s) {
         const std::string block = std::string(1000, '-') + "\r\n";
         try {
             for (int i = 0; i < 1100; ++i)
                 s.Send("200-" + block);
         } catch (const std::exception&) {
         }
     },
     true},
    {"read time-out in the middle of a line", [](ScriptedSession& s) { s.Send("200 par"); }, true},
    {"server hangs up in the middle of a line",
     [](ScriptedSession& s) {
         s.Send("200 par");
         s.CloseControl();
     },
     true},
    {"server answers, says goodbye and hangs up",
     [](ScriptedSession& s) {
         s.Send("200 NOOP ok\r\n421 Idle timeout\r\n");
         s.CloseControl();
     },
     false},
    {"server answers and drops the idle connection",
     [](ScriptedSession& s) {
         s.Send("200 NOOP ok\r\n");
         s.CloseControl();
     },
     false},
};

bool BecomesDisconnected(TIdFTP& client) {
    for (int i = 0; i < 250; ++i) {
        if (!client.IsConnected())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

TEST(ConnectionState, AfterEveryFailureTheSameClientConnectsAgain) {
    for (bool windowThread : {false, true}) {
        for (const Misbehaviour& m : kMisbehaviours) {
            SCOPED_TRACE(std::string(m.name) + (windowThread ? ", window thread" : ", worker"));
            std::optional<IdleAntiFreeze> antiFreeze;
            if (windowThread) {
                antiFreeze.emplace();
                antiFreeze->OnlyWhenIdle = false;
                antiFreeze->IdleTimeOut = 50;
            }
            auto noops = std::make_shared<std::atomic<int>>(0);
            ScriptedFtpServer server;
            server.Handle("NOOP", [noops, &m](ScriptedSession& s, const std::string&) {
                if (noops->fetch_add(1) == 0)
                    m.firstNoop(s);
                else
                    s.Send("200 NOOP ok\r\n");
            });
            auto client = ftptest::MakeClient(server.Port());
            client->SetReadTimeout(400);
            client->Connect();
            if (m.noopFails) {
                EXPECT_THROW(client->SendNoop(), EIdException);
            } else {
                EXPECT_EQ(client->SendNoop(), 200);
            }
            // What the import monitor does after a failure, then on its next tick.
            if (client->IsConnected() && m.noopFails)
                client->Disconnect(false);
            EXPECT_TRUE(BecomesDisconnected(*client));
            try {
                client->Connect();
            } catch (const std::exception& failure) {
                ADD_FAILURE() << "reconnect failed: " << failure.what();
                continue;
            }
            EXPECT_TRUE(client->IsConnected());
            EXPECT_EQ(client->SendNoop(), 200);
            EXPECT_EQ(server.SessionsAccepted(), 2);
            client->Disconnect();
        }
    }
}

} // namespace
