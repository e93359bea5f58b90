// How the client reaches servers that differ from the common case, against the scripted
// server: EPSV first and PASV as the fallback, MLSD that is offered but refused, and a
// server that sends names in a legacy code page until asked for UTF-8. Each row compares the
// whole exchange after the login.
#include "FtpTestSupport.h"
#include "ftp/IdExceptions.h"
#include "ftp/listing/IdFTPList.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace std::chrono_literals;
using ftptest::MakeClient;
using ftptest::StatusLog;
using testsrv::ScriptedFtpServer;
using testsrv::ScriptedSession;
using Lines = std::vector<std::string>;

namespace {

const std::string kListing = "-rw-r--r--   1 u  g   5 Jan  1 2024 a.txt\r\n";

Lines CommandsAfterLogin(const ScriptedFtpServer& server) {
    Lines all = server.Commands();
    auto syst = std::find(all.begin(), all.end(), "SYST");
    return syst == all.end() ? all : Lines(syst + 1, all.end());
}

// The session's passive listener announced the extended way.
std::string ExtendedPassive(ScriptedSession& session) {
    unsigned h1, h2, h3, h4, p1, p2;
    const std::string pasv = session.OpenPassive();
    if (std::sscanf(pasv.c_str(), "227 Entering Passive Mode (%u,%u,%u,%u,%u,%u)", &h1, &h2, &h3,
                    &h4, &p1, &p2) != 6)
        throw std::runtime_error("unexpected passive line " + pasv);
    return "229 Entering Extended Passive Mode (|||" + std::to_string(p1 * 256 + p2) + "|)\r\n";
}

void ServeEpsv(ScriptedFtpServer& server) {
    server.Handle("EPSV",
                  [](ScriptedSession& s, const std::string&) { s.Send(ExtendedPassive(s)); });
}

// A port that takes no more connections: its backlog is full and nobody accepts, so a
// connect to it neither succeeds nor is refused (the system drops the SYN).
class BlackHolePort {
public:
    BlackHolePort() {
        listen_ = testsrv::ListenLoopback(port_);
        ::listen(listen_.Get(), 0);
        for (int i = 0; i < 8; ++i) {
            testsrv::UniqueFd filler = testsrv::ConnectWithin("127.0.0.1", port_, -1, 300ms);
            if (!filler.Valid())
                break; // the queue is full now
            fillers_.push_back(std::move(filler));
        }
    }
    uint16_t Port() const { return port_; }

private:
    uint16_t port_ = 0;
    testsrv::UniqueFd listen_;
    std::vector<testsrv::UniqueFd> fillers_;
};

struct ReachRow {
    const char* name;
    std::function<void(ScriptedFtpServer&)> script;
    std::function<void(TIdFTP&)> configure;
    int listings; // each lists "" with details
    Lines expected;
    const char* statusLine; // a verbose line that must show, or ""
};

TEST(FtpReach, PassiveDataConnectionsAndListingFallbacks) {
    BlackHolePort blackHole;
    const std::vector<ReachRow> rows = {
        {"PASV refused, EPSV used",
         [](ScriptedFtpServer& s) {
             s.Reply("PASV", "502 PASV not implemented; use EPSV.\r\n");
             ServeEpsv(s);
         },
         nullptr, 2, Lines{"TYPE A", "EPSV", "LIST", "TYPE I", "TYPE A", "EPSV", "LIST", "TYPE I"},
         ""},
        {"EPSV answered 500: PASV for the rest of the session",
         [](ScriptedFtpServer& s) { s.Reply("EPSV", "500 EPSV not understood\r\n"); }, nullptr, 2,
         Lines{"TYPE A", "EPSV", "PASV", "LIST", "TYPE I", "TYPE A", "PASV", "LIST", "TYPE I"},
         "EPSV refused; using PASV for the rest of this session"},
        {"EPSV port never connects: PASV within the connect time-out",
         [&blackHole](ScriptedFtpServer& s) {
             const std::string reply = "229 Entering Extended Passive Mode (|||" +
                                       std::to_string(blackHole.Port()) + "|)\r\n";
             s.Reply("EPSV", reply);
         },
         [](TIdFTP& c) { c.SetConnectTimeout(1000); }, 2,
         Lines{"TYPE A", "EPSV", "PASV", "LIST", "TYPE I", "TYPE A", "PASV", "LIST", "TYPE I"}, ""},
        {"ForcePASV never sends EPSV", ServeEpsv, [](TIdFTP& c) { c.SetForcePasv(true); }, 1,
         Lines{"TYPE A", "PASV", "LIST", "TYPE I"}, ""},
        {"MLSD refused: LIST from then on",
         [](ScriptedFtpServer& s) {
             ServeEpsv(s);
             s.Reply("FEAT", "211-Features:\r\n MLST type*;size*;modify*;\r\n211 End\r\n");
             s.Reply("MLSD", "500 MLSD not understood\r\n");
         },
         nullptr, 2,
         Lines{"EPSV", "MLSD", "TYPE A", "EPSV", "LIST", "TYPE I", "TYPE A", "EPSV", "LIST",
               "TYPE I"},
         "MLSD refused (500); listing with LIST from now on"},
        {"UseMLSD off lists with LIST although MLST is offered",
         [](ScriptedFtpServer& s) {
             ServeEpsv(s);
             s.Reply("FEAT", "211-Features:\r\n MLST type*;size*;modify*;\r\n211 End\r\n");
         },
         [](TIdFTP& c) { c.SetUseMLIS(false); }, 1, Lines{"TYPE A", "EPSV", "LIST", "TYPE I"}, ""},
    };
    for (const ReachRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedFtpServer server;
        server.Handle("LIST", testsrv::ServeData(kListing));
        row.script(server);
        StatusLog log;
        auto client = MakeClient(server.Port(), &log);
        if (row.configure)
            row.configure(*client);
        client->Connect();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < row.listings; ++i) {
            Lines lines;
            client->ListDirectory(&lines, "", true);
            ASSERT_EQ(client->DirectoryEntries().Count(), 1u);
            EXPECT_EQ(client->DirectoryEntries()[0].Name(), "a.txt");
        }
        // A data port that swallows the connect costs one connect time-out, not minutes.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        EXPECT_EQ(CommandsAfterLogin(server), row.expected);
        if (*row.statusLine) {
            EXPECT_TRUE(log.Has(row.statusLine));
        }
    }
}

// Downloads and uploads take the same way as listings: EPSV with the data connection made
// before the command, and the 5xx fallback.
TEST(FtpReach, TransfersUseEpsvAndFallBack) {
    for (const bool epsvWorks : {true, false}) {
        SCOPED_TRACE(epsvWorks ? "EPSV works" : "EPSV refused");
        ScriptedFtpServer server;
        if (epsvWorks) {
            server.Reply("PASV", "502 PASV not implemented; use EPSV.\r\n");
            ServeEpsv(server);
        }
        auto sink = std::make_shared<std::string>();
        server.Handle("RETR", testsrv::ServeData("payload"));
        server.Handle("STOR", testsrv::ReceiveData(sink));
        auto client = MakeClient(server.Port());
        client->Connect();
        ftptest::TempDir dir;
        client->DownloadFile("f", dir.File("f"), true, false);
        client->UploadFile(dir.File("f"), "g", false);
        EXPECT_EQ(ftptest::ReadWholeFile(dir.File("f")), "payload");
        EXPECT_EQ(*sink, "payload");
        EXPECT_EQ(client->EpsvRefused(), !epsvWorks);
        const Lines expected = epsvWorks ? Lines{"EPSV", "RETR f", "EPSV", "STOR g"}
                                         : Lines{"EPSV", "PASV", "RETR f", "PASV", "STOR g"};
        EXPECT_EQ(CommandsAfterLogin(server), expected);
    }
}

// Over IPv6 PASV cannot name the address: passive mode is EPSV alone (a refusal fails the
// transfer, ForcePASV does not apply) and active mode announces itself with EPRT.
TEST(FtpReach, IPv6UsesOnlyEpsvAndEprt) {
    struct Row {
        const char* name;
        bool passive;
        bool forcePasv;
        const char* epsvReply; // "" = the server's own
        bool succeeds;
        Lines expected;
    };
    const std::vector<Row> rows = {
        {"passive", true, false, "", true, Lines{"EPSV", "RETR f"}},
        {"passive with ForcePASV", true, true, "", true, Lines{"EPSV", "RETR f"}},
        {"EPSV refused", true, false, "500 EPSV not understood\r\n", false, Lines{"EPSV"}},
        {"active", false, false, "", true, Lines{"EPRT", "RETR f"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedFtpServer server("220 Scripted server ready\r\n", "::1");
        server.Handle("RETR", testsrv::ServeData("over six"));
        if (*row.epsvReply)
            server.Reply("EPSV", row.epsvReply);
        auto client = MakeClient(server.Port(), nullptr, row.passive);
        client->SetHost("::1");
        client->SetForcePasv(row.forcePasv);
        client->Connect();
        ftptest::TempDir dir;
        if (row.succeeds) {
            client->DownloadFile("f", dir.File("f"), true, false);
            EXPECT_EQ(ftptest::ReadWholeFile(dir.File("f")), "over six");
        } else {
            EXPECT_THROW(client->DownloadFile("f", dir.File("f"), true, false), EIdReplyRFCError);
        }
        Lines commands = CommandsAfterLogin(server);
        for (std::string& line : commands)
            if (line.rfind("EPRT |2|::1|", 0) == 0)
                line = "EPRT"; // the port is the listener's own
        EXPECT_EQ(commands, row.expected);
    }
}

// A load-balanced server names another host for its data port: followed only when asked,
// otherwise the data connection goes to the control peer as always.
TEST(FtpReach, PasvAddressIsFollowedOnlyWhenAsked) {
    for (const bool follow : {true, false}) {
        SCOPED_TRACE(follow ? "UsePasvAddress" : "control peer");
        ScriptedFtpServer server;
        auto elsewhere = std::make_shared<testsrv::UniqueFd>();
        auto port = std::make_shared<uint16_t>(0);
        server.Handle("PASV", [elsewhere, port](ScriptedSession& s, const std::string&) {
            *elsewhere = testsrv::ListenLoopback(*port, "127.0.0.2");
            s.Send("227 Entering Passive Mode (127,0,0,2," + std::to_string(*port / 256) + "," +
                   std::to_string(*port % 256) + ").\r\n");
        });
        server.Handle("LIST", [elsewhere](ScriptedSession& s, const std::string&) {
            s.Send("150 Here it comes\r\n");
            testsrv::UniqueFd data = testsrv::AcceptWithin(elsewhere->Get(), -1, 5s);
            if (!data.Valid()) {
                s.Send("425 No data connection\r\n");
                return;
            }
            testsrv::SendAll(data.Get(), kListing, -1, 5s);
            data.Reset();
            s.Send("226 Done\r\n");
        });
        StatusLog log;
        auto client = MakeClient(server.Port(), &log);
        client->SetForcePasv(true);
        client->SetUsePasvAddress(follow);
        client->Connect();
        Lines lines;
        if (follow) {
            client->ListDirectory(&lines, "", true);
            EXPECT_EQ(lines.size(), 1u);
            EXPECT_EQ(CommandsAfterLogin(server), (Lines{"TYPE A", "PASV", "LIST", "TYPE I"}));
            EXPECT_TRUE(log.Has("Using the address the server named for the data connection: "
                                "127.0.0.2 port " +
                                std::to_string(*port)));
        } else {
            EXPECT_ANY_THROW(client->ListDirectory(&lines, "", true));
            EXPECT_EQ(CommandsAfterLogin(server), (Lines{"TYPE A", "PASV", "TYPE I"}));
            EXPECT_TRUE(log.Has("Server named 127.0.0.2 for the data connection; using "
                                "127.0.0.1 port " +
                                std::to_string(*port) + " instead"));
        }
    }
}

// A server that speaks Latin-1 until asked: after OPTS UTF8 ON the names come as UTF-8. A
// refusal is a note in the log and the session goes on.
TEST(FtpReach, Utf8IsAskedForWhenOffered) {
    struct Row {
        const char* name;
        const char* feat;
        const char* optsReply; // "" = the server accepts and switches
        Lines expected;
        std::string listedName;
        const char* statusLine;
    };
    const std::vector<Row> rows = {
        {"offered and accepted", "211-Features:\r\n UTF8\r\n211 End\r\n", "",
         Lines{"USER u", "PASS p", "FEAT", "OPTS UTF8 ON", "TYPE I", "SYST"}, "caf\xc3\xa9.txt",
         ""},
        {"offered and refused", "211-Features:\r\n UTF8\r\n211 End\r\n",
         "501 Option not understood\r\n",
         Lines{"USER u", "PASS p", "FEAT", "OPTS UTF8 ON", "TYPE I", "SYST"}, "caf\xe9.txt",
         "The server refused OPTS UTF8 ON: 501 Option not understood"},
        {"not offered", "211-Features:\r\n MDTM\r\n211 End\r\n", "",
         Lines{"USER u", "PASS p", "FEAT", "TYPE I", "SYST"}, "caf\xe9.txt", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedFtpServer server;
        auto utf8 = std::make_shared<bool>(false);
        server.Reply("FEAT", row.feat);
        const std::string optsReply = row.optsReply;
        server.Handle("OPTS", [utf8, optsReply](ScriptedSession& s, const std::string& line) {
            if (!optsReply.empty()) {
                s.Send(optsReply);
                return;
            }
            *utf8 = line == "OPTS UTF8 ON";
            s.Send("200 Always in UTF8 mode.\r\n");
        });
        server.Handle("NLST", [utf8](ScriptedSession& s, const std::string& line) {
            testsrv::ServeData (*utf8 ? "caf\xc3\xa9.txt\r\n" : "caf\xe9.txt\r\n")(s, line);
        });
        StatusLog log;
        auto client = MakeClient(server.Port(), &log);
        client->SetForcePasv(true);
        client->Connect();
        EXPECT_EQ(server.Commands(), row.expected);
        Lines names;
        client->ListDirectory(&names, "", false);
        EXPECT_EQ(names, Lines{row.listedName});
        if (*row.statusLine) {
            EXPECT_TRUE(log.Has(row.statusLine));
        }
    }
}

} // namespace
