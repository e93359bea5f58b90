// The FTP session as the monitors see it, against real servers (pyftpdlib with LIST and with
// MLSD, vsftpd) and against a scripted Windows NT server: what a listing tells of each entry,
// the transfers both ways (a resumed download too), rename, delete, size, keep-alive, the path
// form of each kind of server, and the failures the monitors tell apart.
#include "config/CommonTypesUnit.h"
#include "remote/RemoteSession.h"
#include "servers/RealServers.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using tavrin::remote::ELocalFileFailed;
using tavrin::remote::ERemoteRefused;
using tavrin::remote::MakeRemoteSession;
using tavrin::remote::TRemoteEntry;
using tavrin::remote::TRemoteKind;
using tavrin::remote::TRemoteSession;

namespace {

namespace fs = std::filesystem;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

RConfiguration Settings(uint16_t port, const std::string& user, const std::string& password) {
    RConfiguration c;
    c.Host = "127.0.0.1";
    c.Port = std::to_string(port);
    c.Username = user;
    c.Password = password;
    c.PassiveMode = true;
    c.BinaryMode = true;
    return c;
}

const TRemoteEntry* Find(const std::vector<TRemoteEntry>& entries, const std::string& name) {
    for (const TRemoteEntry& entry : entries)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

// Days since 30 December 1899 of a calendar day (the listings are in UTC on this machine's
// servers, and the tests run with UTC as local time).
double DayNumber(std::chrono::year_month_day day) {
    using namespace std::chrono;
    return static_cast<double>((sys_days{day} - sys_days{year{1899} / December / 30}).count());
}

TEST(FtpRemoteSession, RealServersListTransferRenameDeleteAndSize) {
    using namespace std::chrono;
    enum class Server { PyList, PyMachineListing, Vsftpd };
    const struct Row {
        const char* name;
        Server server;
        TRemoteKind link; // pyftpdlib's machine listing gives a link its target's type
    } rows[] = {{"pyftpdlib, LIST", Server::PyList, TRemoteKind::Link},
                {"pyftpdlib, MLSD", Server::PyMachineListing, TRemoteKind::File},
                {"vsftpd, LIST", Server::Vsftpd, TRemoteKind::Link}};
    const std::string content(70000, 'x');
    const sys_seconds listedTime = sys_days{2020y / March / 4} + 5h + 6min;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string root = testsrv::MakeTempDir("tavrin-session-");
        const std::string local = testsrv::MakeTempDir("tavrin-session-local-");
        Write(root + "/a.bin", content);
        const timespec times[2] = {{listedTime.time_since_epoch().count(), 0},
                                   {listedTime.time_since_epoch().count(), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (root + "/a.bin").c_str(), times, 0), 0);
        fs::create_directory(root + "/sub");
        fs::create_symlink("a.bin", root + "/link");
        Write(local + "/up.bin", "uploaded bytes");

        std::unique_ptr<testsrv::PyFtpdServer> py;
        std::unique_ptr<testsrv::VsftpdServer> vs;
        RConfiguration config;
        if (row.server == Server::Vsftpd) {
            testsrv::VsftpdOptions options;
            options.root = root;
            vs = std::make_unique<testsrv::VsftpdServer>(options);
            config = Settings(vs->Port(), vs->User(), vs->Password());
        } else {
            testsrv::PyFtpdOptions options;
            options.root = root;
            py = std::make_unique<testsrv::PyFtpdServer>(options);
            config = Settings(py->Port(), "tavrin", "secret");
        }
        config.UseMLSD = row.server == Server::PyMachineListing;
        std::vector<std::string> status;
        bool sawConnected = false;
        tavrin::remote::TRemoteEvents events;
        events.OnStatus = [&](tavrin::remote::TSessionStatus kind, const std::string& text) {
            sawConnected |= kind == tavrin::remote::TSessionStatus::Connected;
            status.push_back(text);
        };
        std::unique_ptr<TRemoteSession> session = MakeRemoteSession(config, events);
        session->SetReplyTimeout(20000);
        ASSERT_NO_THROW(session->Connect());
        EXPECT_TRUE(session->IsConnected());
        EXPECT_TRUE(sawConnected);
        EXPECT_NE(session->SystemDescription().find("UNIX"), std::string::npos);
        EXPECT_EQ(session->PathJoin("out", "f"), "out/f");
        EXPECT_EQ(session->PathJoin("", "f"), "f");

        const std::vector<TRemoteEntry> entries = session->List();
        const TRemoteEntry* file = Find(entries, "a.bin");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->kind, TRemoteKind::File);
        EXPECT_TRUE(file->sizeKnown);
        EXPECT_EQ(file->size, 70000);
        EXPECT_TRUE(file->modifiedKnown);
        // A year-old file is listed by LIST with its day only; a machine listing to the second.
        const double day = DayNumber(2020y / March / 4);
        if (config.UseMLSD)
            EXPECT_NEAR(file->modified, day + (5 * 60 + 6) / 1440.0, 1.0 / 86400);
        else
            EXPECT_EQ(std::floor(file->modified), day);
        ASSERT_NE(Find(entries, "sub"), nullptr);
        EXPECT_EQ(Find(entries, "sub")->kind, TRemoteKind::Directory);
        ASSERT_NE(Find(entries, "link"), nullptr);
        EXPECT_EQ(Find(entries, "link")->kind, row.link);

        // A whole download, then one that goes on from a part already here.
        ASSERT_NO_THROW(session->Download("a.bin", local + "/a.bin", false));
        EXPECT_EQ(Read(local + "/a.bin"), content);
        ASSERT_TRUE(session->CanResume());
        // The part's own bytes stay: only the rest comes from the server.
        Write(local + "/part", std::string(1000, 'p'));
        ASSERT_NO_THROW(session->Download("a.bin", local + "/part", true));
        EXPECT_EQ(Read(local + "/part"), std::string(1000, 'p') + content.substr(1000));
        // A download from the start replaces what is there.
        Write(local + "/old", std::string(90000, 'o'));
        ASSERT_NO_THROW(session->Download("a.bin", local + "/old", false));
        EXPECT_EQ(Read(local + "/old"), content);

        ASSERT_NO_THROW(session->Upload(local + "/up.bin", "up.bin"));
        EXPECT_EQ(Read(root + "/up.bin"), "uploaded bytes");
        EXPECT_EQ(session->Size("up.bin"), std::optional<int64_t>(14));
        ASSERT_NO_THROW(session->Rename("up.bin", "sub/moved.bin"));
        EXPECT_EQ(Read(root + "/sub/moved.bin"), "uploaded bytes");
        ASSERT_NO_THROW(session->Delete("sub/moved.bin"));
        EXPECT_FALSE(fs::exists(root + "/sub/moved.bin"));

        // Refusals keep the session; a local file failure too.
        for (const auto& refused : std::vector<std::function<void()>>{
                 [&] { session->Delete("missing"); }, [&] { session->Rename("missing", "other"); },
                 [&] { session->Download("missing", local + "/missing", false); },
                 [&] { session->ChangeFolder("missing"); }}) {
            try {
                refused();
                ADD_FAILURE() << "no refusal";
            } catch (const ERemoteRefused& failure) {
                EXPECT_EQ(failure.Code() / 100, 5);
            }
        }
        EXPECT_THROW(session->Download("a.bin", local + "/no/such/folder/a.bin", false),
                     ELocalFileFailed);
        EXPECT_THROW(session->Upload(local + "/no-such-file", "x"), ELocalFileFailed);
        EXPECT_FALSE(session->Size("missing").has_value());
        EXPECT_EQ(session->KeepAlive().code, 200);

        ASSERT_NO_THROW(session->ChangeFolder("sub"));
        EXPECT_EQ(session->CurrentFolder().substr(session->CurrentFolder().size() - 4), "/sub");
        EXPECT_TRUE(session->List().empty());
        ASSERT_NO_THROW(session->Close(true));
        EXPECT_FALSE(session->IsConnected());
        EXPECT_FALSE(status.empty());

        py.reset();
        vs.reset();
        std::error_code ignored;
        fs::remove_all(root, ignored);
        fs::remove_all(local, ignored);
    }
}

// Servers that do not call themselves UNIX (also one that would not answer SYST) list in the
// Windows NT form and take backslash paths; a SIZE answer is used only when it is a number.
TEST(FtpRemoteSession, WindowsNtServersListAndJoinTheirWay) {
    const std::string listing = "03-04-20  05:06AM                70000 a.bin\r\n"
                                "12-01-26  11:30PM       <DIR>          sub\r\n";
    const struct Row {
        const char* syst;
        const char* sizeReply;
        std::optional<int64_t> size;
    } rows[] = {{"215 Windows_NT\r\n", "213 70000\r\n", 70000},
                {"500 SYST not understood\r\n", "550 No such file\r\n", std::nullopt},
                {"215 Windows_NT\r\n", "213 seventy\r\n", std::nullopt},
                {"215 Windows_NT\r\n", "502 Not implemented\r\n", std::nullopt}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.syst + std::string(" / ") + row.sizeReply);
        testsrv::ScriptedFtpServer server;
        server.Reply("SYST", row.syst);
        server.Reply("SIZE", row.sizeReply);
        server.Handle("LIST", testsrv::ServeData(listing));
        RConfiguration config = Settings(server.Port(), "u", "p");
        config.UseMLSD = false;
        std::unique_ptr<TRemoteSession> session = MakeRemoteSession(config, {});
        session->SetReplyTimeout(20000);
        ASSERT_NO_THROW(session->Connect());
        EXPECT_EQ(session->PathJoin("out", "f"), "out\\f");
        EXPECT_EQ(session->PathJoin("", "f"), "f");
        const std::vector<TRemoteEntry> entries = session->List();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].name, "a.bin");
        EXPECT_EQ(entries[0].kind, TRemoteKind::File);
        EXPECT_TRUE(entries[0].sizeKnown);
        EXPECT_EQ(entries[0].size, 70000);
        EXPECT_TRUE(entries[0].modifiedKnown);
        EXPECT_NEAR(entries[0].modified,
                    DayNumber(std::chrono::year{2020} / 3 / 4) + (5 * 60 + 6) / 1440.0, 1e-6);
        EXPECT_EQ(entries[1].name, "sub");
        EXPECT_EQ(entries[1].kind, TRemoteKind::Directory);
        EXPECT_EQ(session->Size("out\\a.bin"), row.size);
        session->Close(false);
    }
}

} // namespace
