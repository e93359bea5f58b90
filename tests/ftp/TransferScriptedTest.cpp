// Transfers against the scripted loopback server: command sequences, refused commands,
// data that stalls or breaks, and local files that cannot be written.
#include "FtpTestSupport.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdStream.h"
#include "ftp/listing/IdFTPList.h"
#include "platform/SocketApi.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using ftptest::MakeClient;
using ftptest::StatusLog;
using testsrv::ScriptedFtpServer;
using testsrv::ScriptedSession;
using Lines = std::vector<std::string>;

namespace {

// Commands after the login exchange.
Lines CommandsAfterLogin(const ScriptedFtpServer& server) {
    Lines all = server.Commands();
    auto syst = std::find(all.begin(), all.end(), "SYST");
    return syst == all.end() ? all : Lines(syst + 1, all.end());
}

TEST(FtpTransfer, ListingSwitchesToAsciiOnlyInBinaryMode) {
    const std::string listing = "-rw-r--r--   1 u  g   5 Jan  1 2024 a.txt\r\n"
                                "drwxr-xr-x   2 u  g   0 Jan  1 2024 sub\r\n";
    ScriptedFtpServer server;
    server.Handle("LIST", testsrv::ServeData(listing));
    auto client = MakeClient(server.Port());
    client->Connect();
    Lines lines;
    client->ListDirectory(&lines, "", true);
    EXPECT_EQ(lines, (Lines{"-rw-r--r--   1 u  g   5 Jan  1 2024 a.txt",
                            "drwxr-xr-x   2 u  g   0 Jan  1 2024 sub"}));
    EXPECT_EQ(CommandsAfterLogin(server), (Lines{"TYPE A", "EPSV", "PASV", "LIST", "TYPE I"}));
    EXPECT_EQ(client->TransferType(), ftBinary);
    TIdFTPListItems& entries = client->DirectoryEntries();
    ASSERT_EQ(entries.Count(), 2u);
    EXPECT_EQ(entries[0].Name(), "a.txt");
    EXPECT_EQ(entries[1].Kind(), ekDirectory);

    client->SetTransferType(ftASCII);
    client->ListDirectory(nullptr, "sub", true);
    Lines after = CommandsAfterLogin(server);
    EXPECT_EQ(Lines(after.end() - 3, after.end()), (Lines{"TYPE A", "PASV", "LIST sub"}));
}

TEST(FtpTransfer, EmptyListingGivesNoLinesAndNoEntries) {
    ScriptedFtpServer server;
    server.Reply("FEAT", "211-Features:\r\n MLST type*;size*;\r\n211 End\r\n");
    server.Handle("MLSD", testsrv::ServeData(""));
    auto client = MakeClient(server.Port());
    client->Connect();
    Lines lines{"stale"};
    client->ListDirectory(&lines, "", true);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(client->DirectoryEntries().Count(), 0u);
    EXPECT_EQ(CommandsAfterLogin(server), (Lines{"EPSV", "PASV", "MLSD"}));
}

TEST(FtpTransfer, DownloadAndUploadPassiveAndActive) {
    const std::string payload = ftptest::RandomBytes(300 * 1024 + 7, 1);
    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        ScriptedFtpServer server;
        auto sink = std::make_shared<std::string>();
        server.Handle("RETR", testsrv::ServeData(payload));
        server.Handle("STOR", testsrv::ReceiveData(sink));
        StatusLog log;
        auto client = MakeClient(server.Port(), &log, passive);
        client->Connect();
        ftptest::TempDir dir;
        client->DownloadFile("/in/data.bin", dir.File("data.bin"), true, false);
        EXPECT_EQ(ftptest::ReadWholeFile(dir.File("data.bin")), payload);
        EXPECT_TRUE(log.Has("Starting FTP transfer"));
        EXPECT_TRUE(log.Has("Transfer complete"));
        client->UploadFile(dir.File("data.bin"), "/out/data.bin", false);
        EXPECT_EQ(*sink, payload);
        const std::string dataCommand = passive ? "PASV" : "PORT";
        Lines expected{dataCommand, "RETR /in/data.bin", dataCommand, "STOR /out/data.bin"};
        if (passive) // the scripted server refuses EPSV: PASV from then on
            expected.insert(expected.begin(), "EPSV");
        Lines actual = CommandsAfterLogin(server);
        for (std::string& line : actual)
            if (line.rfind("PORT ", 0) == 0)
                line = "PORT"; // its address is checked on its own below
        EXPECT_EQ(actual, expected);
    }
}

TEST(FtpTransfer, ActiveModeAnnouncesTheControlConnectionsLocalAddress) {
    ScriptedFtpServer server;
    server.Handle("LIST", testsrv::ServeData("x\r\n"));
    std::string portArgument;
    server.Handle("PORT", [&portArgument](ScriptedSession& session, const std::string& line) {
        session.RememberPort(line.substr(5));
        portArgument = session.LastPortArgument();
        session.Send("200 PORT ok\r\n");
    });
    auto client = MakeClient(server.Port(), nullptr, false);
    client->SetTransferType(ftASCII);
    client->Connect();
    client->ListDirectory(nullptr, "", true);
    auto* control = dynamic_cast<TIdIOHandlerSocket*>(client->IOHandler());
    ASSERT_NE(control, nullptr);
    const std::string local = tavrin::net::LocalAddress(control->SocketHandle()).ip;
    std::string announced = local;
    std::replace(announced.begin(), announced.end(), '.', ',');
    EXPECT_EQ(portArgument.rfind(announced + ",", 0), 0u) << portArgument;
    EXPECT_EQ(client->ListingLines(), (Lines{"x"}));
}

// Connects from 127.0.0.2 (another host, as far as the client can tell) to the address of
// a PORT argument and sends `bytes`.
void ConnectFromAnotherHost(const std::string& portArgument, const std::string& bytes) {
    unsigned h[4], p1, p2;
    ASSERT_EQ(std::sscanf(portArgument.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3],
                          &p1, &p2),
              6);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(p1 * 256 + p2));
    const std::string ip = std::to_string(h[0]) + "." + std::to_string(h[1]) + "." +
                           std::to_string(h[2]) + "." + std::to_string(h[3]);
    ::inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST(FtpTransfer, DataGoesOnlyToAndComesOnlyFromTheControlConnectionsPeer) {
    const std::string payload = ftptest::RandomBytes(70000, 9);
    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "PASV names another host" : "another host connects first");
        ScriptedFtpServer server;
        server.Handle("PASV", [](ScriptedSession& session, const std::string&) {
            std::string reply = session.OpenPassive();
            reply.replace(reply.find("127,0,0,1"), 9, "127,0,0,2");
            session.Send(reply);
        });
        server.Handle("RETR", [&payload](ScriptedSession& session, const std::string&) {
            session.Send("150 Opening\r\n");
            if (!session.LastPortArgument().empty())
                ConnectFromAnotherHost(session.LastPortArgument(), "not from the server");
            try {
                session.DataSend(payload);
            } catch (const testsrv::DataConnectionError&) {
                session.Send("425 Can't open data connection\r\n");
                return;
            }
            session.DataClose();
            session.Send("226 Transfer complete\r\n");
        });
        StatusLog log;
        auto client = MakeClient(server.Port(), &log, passive);
        client->Connect();
        TIdStringStream target;
        client->DownloadToStream("a", target, false);
        EXPECT_TRUE(target.Data() == payload) << target.Data().size() << " bytes";
        const bool told =
            std::any_of(log.texts.begin(), log.texts.end(), [](const std::string& text) {
                return text.rfind("Server named 127.0.0.2 for the data connection; using "
                                  "127.0.0.1 port ",
                                  0) == 0;
            });
        EXPECT_EQ(told, passive);
        EXPECT_EQ(client->SendNoop(), 200);
    }
}

TEST(FtpTransfer, RefusedRetrIsAbortedWithoutAwaitingAFinalReply) {
    ScriptedFtpServer server;
    server.Reply("RETR", "550 No such file\r\n");
    StatusLog log;
    auto client = MakeClient(server.Port(), &log);
    client->Connect();
    ftptest::TempDir dir;
    try {
        client->DownloadFile("gone.txt", dir.File("gone.txt"), true, false);
        FAIL() << "no exception";
    } catch (const EIdReplyRFCError& error) {
        EXPECT_STREQ(error.what(), "No such file\r\n");
        EXPECT_EQ(error.ErrorCode(), 550);
    }
    EXPECT_TRUE(log.Has("Transfer aborted"));
    EXPECT_FALSE(log.Has("Transfer complete"));
    EXPECT_EQ(ftptest::ReadWholeFile(dir.File("gone.txt")), "");
    EXPECT_EQ(client->SendNoop(), 200); // the next reply is NOOP's, not a stray final reply
}

TEST(FtpTransfer, RefusedStorIsAborted) {
    ScriptedFtpServer server;
    server.Reply("STOR", "553 Not allowed\r\n");
    StatusLog log;
    auto client = MakeClient(server.Port(), &log);
    client->Connect();
    TIdStringStream source("data");
    try {
        client->UploadFromStream(source, "x.txt", false);
        FAIL() << "no exception";
    } catch (const EIdReplyRFCError& error) {
        EXPECT_STREQ(error.what(), "Not allowed\r\n");
    }
    EXPECT_TRUE(log.Has("Transfer aborted"));
    EXPECT_EQ(client->SendNoop(), 200);
    EXPECT_EQ(CommandsAfterLogin(server), (Lines{"EPSV", "PASV", "STOR x.txt", "NOOP"}));
}

TEST(FtpTransfer, RenameStopsWhenRnfrIsRefusedAndDeleteNeeds250) {
    ScriptedFtpServer server;
    server.Reply("RNFR", "550 No such file\r\n");
    server.Reply("DELE", "550 Permission denied\r\n");
    auto client = MakeClient(server.Port());
    client->Connect();
    EXPECT_THROW(client->RenameRemoteFile("tmp/a", "a"), EIdReplyRFCError);
    EXPECT_THROW(client->DeleteRemoteFile("a"), EIdReplyRFCError);
    EXPECT_EQ(CommandsAfterLogin(server), (Lines{"RNFR tmp/a", "DELE a"}));
}

TEST(FtpTransfer, UnreachablePassivePortFailsTheDownloadAtOnce) {
    uint16_t closedPort;
    {
        ScriptedFtpServer gone;
        closedPort = gone.Port();
    }
    ScriptedFtpServer server;
    server.Reply("PASV", "227 Entering Passive Mode (127,0,0,1," +
                             std::to_string(closedPort / 256) + "," +
                             std::to_string(closedPort % 256) + ")\r\n");
    auto client = MakeClient(server.Port());
    client->Connect();
    TIdStringStream target;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client->DownloadToStream("a", target, false), EIdSocketError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(CommandsAfterLogin(server), (Lines{"EPSV", "PASV"})); // RETR never sent
    EXPECT_EQ(client->SendNoop(), 200);
}

TEST(FtpTransfer, StalledDataConnectionFailsInBoundedTime) {
    ScriptedFtpServer server;
    server.Handle("RETR", [](ScriptedSession& session, const std::string&) {
        session.Send("150 Opening\r\n");
        session.DataSend("the first bytes, then nothing");
    });
    auto client = MakeClient(server.Port());
    client->SetReadTimeout(500);
    client->SetTransferTimeout(300);
    client->Connect();
    TIdStringStream target;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client->DownloadToStream("a", target, false), EIdReadTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(FtpTransfer, DataConnectionDroppedMidDownloadFailsTheDownload) {
    const std::string payload = ftptest::RandomBytes(64 * 1024, 2);
    ScriptedFtpServer server;
    server.Handle("RETR", [&payload](ScriptedSession& session, const std::string&) {
        session.Send("150 Opening\r\n");
        session.DataSend(payload.substr(0, payload.size() / 2));
        session.DataAbort();
        session.Send("426 Connection closed; transfer aborted\r\n");
    });
    auto client = MakeClient(server.Port());
    client->Connect();
    ftptest::TempDir dir;
    try {
        client->DownloadFile("a", dir.File("a"), true, false);
        FAIL() << "no exception";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.LastError(), ECONNRESET); // our failure, not the server's 426
    }
    EXPECT_EQ(client->SendNoop(), 200);
}

TEST(FtpTransfer, UploadWithoutTheServersConfirmationIsAFailure) {
    ScriptedFtpServer server;
    server.Handle("STOR", [](ScriptedSession& session, const std::string&) {
        session.Send("150 Ok to send\r\n");
        session.DataReceiveAll(5000ms);
        session.CloseControl(); // gone before saying 226
    });
    auto client = MakeClient(server.Port());
    client->Connect();
    TIdStringStream source(ftptest::RandomBytes(100000, 4));
    EXPECT_THROW(client->UploadFromStream(source, "x.bin", false), EIdConnClosedGracefully);
}

TEST(FtpTransfer, UploadToAServerThatStopsReadingFailsInBoundedTime) {
    // The server takes the data connection but never reads it: once the socket buffers are
    // full every send would block, and a blocking send has no limit of its own.
    auto release = std::make_shared<std::atomic<bool>>(false);
    ScriptedFtpServer server;
    server.Handle("STOR", [release](ScriptedSession& session, const std::string&) {
        session.Send("150 Ok to send\r\n");
        session.DataSend("");
        for (int i = 0; i < 300 && !release->load(); ++i)
            std::this_thread::sleep_for(50ms);
        session.DataAbort();
        session.Send("426 Transfer aborted\r\n");
    });
    auto client = MakeClient(server.Port());
    client->SetReadTimeout(1000);
    client->SetTransferTimeout(300);
    client->Connect();
    TIdStringStream source(std::string(32 * 1024 * 1024, 'x')); // far more than the buffers
    const auto start = std::chrono::steady_clock::now();
    try {
        client->UploadFromStream(source, "x.bin", false);
        ADD_FAILURE() << "no exception";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.LastError(), ETIMEDOUT);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    release->store(true);
}

TEST(FtpTransfer, UploadEndsWithAnOrderlyCloseEvenWithUnreadBytesFromTheServer) {
    // Like a TLS 1.3 server's session ticket: bytes on the data connection that an upload
    // never reads. Closing over them would reset the connection and lose the upload's end.
    const std::string payload = ftptest::RandomBytes(2 * 1024 * 1024, 5);
    auto received = std::make_shared<std::string>();
    ScriptedFtpServer server;
    server.Handle("STOR", [received](ScriptedSession& session, const std::string&) {
        session.Send("150 Ok to send\r\n");
        session.DataSend("unread");
        std::this_thread::sleep_for(300ms); // let the whole upload queue up on our side
        *received = session.DataReceiveAll(10000ms);
        session.Send("226 Transfer complete\r\n");
    });
    auto client = MakeClient(server.Port());
    client->Connect();
    TIdStringStream source(payload);
    client->UploadFromStream(source, "x.bin", false);
    EXPECT_EQ(received->size(), payload.size());
    EXPECT_TRUE(*received == payload);
}

TEST(FtpTransfer, LocalWriteFailureFailsTheDownload) {
    ScriptedFtpServer server;
    server.Handle("RETR", testsrv::ServeData(ftptest::RandomBytes(100000, 3)));
    auto client = MakeClient(server.Port());
    client->Connect();
    try {
        client->DownloadFile("a", "/dev/full", true, false);
        FAIL() << "no exception";
    } catch (const EIdFileError& error) {
        EXPECT_NE(std::string(error.what()).find("/dev/full"), std::string::npos);
    }
}

TEST(FtpTransfer, LocalTargetAndNameChecks) {
    ScriptedFtpServer server;
    auto client = MakeClient(server.Port());
    client->Connect();
    ftptest::TempDir dir;
    try {
        client->DownloadFile("a", dir.File("a"), false, false);
        FAIL() << "no exception";
    } catch (const EIdFTPFileAlreadyExists& error) {
        EXPECT_STREQ(error.what(), "Destination file already exists.");
    }
    TIdStringStream source("x");
    try {
        client->UploadFromStream(source, "", false);
        FAIL() << "no exception";
    } catch (const EIdFTPUploadFileNameCanNotBeEmpty& error) {
        EXPECT_STREQ(error.what(), "The destination filename can not be empty");
    }
    EXPECT_THROW(client->UploadFile(dir.File("missing"), "m", false), EIdFileError);
    EXPECT_TRUE(CommandsAfterLogin(server).empty());
}

} // namespace
