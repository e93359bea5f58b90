// Which adapter a direction's settings get, and which settings fail the start at once.
#include "config/CommonTypesUnit.h"
#include "remote/RemoteSession.h"
#include "remote/ftp/FtpRemoteSession.h"
#include "remote/sftp/SftpRemoteSession.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tavrin::remote;

namespace {

TEST(RemoteSessionFactory, ProtocolPicksTheAdapterAndBadSettingsFailTheStart) {
    enum Made { Ftp, Sftp, StartFails };
    struct Row {
        const char* what;
        std::function<void(RConfiguration&)> set;
        Made made;
        const char* message = ""; // part of the start failure
    } rows[] = {
        {"no Protocol key", [](RConfiguration&) {}, Ftp},
        {"empty Protocol", [](RConfiguration& c) { c.Protocol = ""; }, Ftp},
        {"ftp in lower case", [](RConfiguration& c) { c.Protocol = "ftp"; }, Ftp},
        {"SFTP", [](RConfiguration& c) { c.Protocol = "SFTP"; }, Sftp},
        {"sftp in any case, with blanks", [](RConfiguration& c) { c.Protocol = " Sftp "; }, Sftp},
        {"unknown protocol", [](RConfiguration& c) { c.Protocol = "SCP"; }, StartFails,
         "Unknown protocol \"SCP\""},
        // The TLS files are FTP's alone.
        {"SFTP ignores unusable TLS files",
         [](RConfiguration& c) {
             c.Protocol = "SFTP";
             c.SSL = true;
             c.SSLCertificate = "/nonexistent/cert.pem";
         },
         Sftp},
        {"FTPS with unusable TLS files",
         [](RConfiguration& c) {
             c.SSL = true;
             c.SSLCertificate = "/nonexistent/cert.pem";
         },
         StartFails},
        {"SFTP with an unreadable key file",
         [](RConfiguration& c) {
             c.Protocol = "SFTP";
             c.SSHKey = "/nonexistent/id_ed25519";
         },
         StartFails, "/nonexistent/id_ed25519"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RConfiguration config;
        config.Host = "127.0.0.1";
        config.Port = "2222";
        row.set(config);
        if (row.made == StartFails) {
            try {
                CheckSessionSettings(config);
                ADD_FAILURE() << "the start went on";
            } catch (const EIdException& failure) {
                EXPECT_NE(std::string(failure.what()).find(row.message), std::string::npos)
                    << failure.what();
            }
            continue;
        }
        EXPECT_NO_THROW(CheckSessionSettings(config));
        const std::unique_ptr<TRemoteSession> session = MakeRemoteSession(config, {});
        EXPECT_EQ(dynamic_cast<TSftpRemoteSession*>(session.get()) != nullptr, row.made == Sftp);
        EXPECT_EQ(dynamic_cast<TFtpRemoteSession*>(session.get()) != nullptr, row.made == Ftp);
        EXPECT_FALSE(session->IsConnected());
    }
    RConfiguration noPort;
    noPort.Protocol = "SFTP";
    noPort.Port = "ssh";
    EXPECT_THROW(MakeRemoteSession(noPort, {}), EConvertError);
}

} // namespace
