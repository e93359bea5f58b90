// Host keys against a real sshd: trusted on first use and stored, accepted from the user's
// (hashed) known_hosts or our own file, and a changed key refused before any login.
#include "SftpTestSupport.h"

#include <sys/stat.h>
#include <thread>

using namespace tavrin::sftp;

namespace {

class SftpHostKeys : public sftptest::SftpTest {
protected:
    std::string Fingerprint(const std::string& publicKeyFile) {
        std::string output;
        EXPECT_EQ(testsrv::RunCommand({"/usr/bin/ssh-keygen", "-lf", publicKeyFile}, output), 0);
        const size_t start = output.find("SHA256:");
        return output.substr(start, output.find(' ', start) - start);
    }
    void WriteKnownHosts(const std::string& path, const std::string& line, bool hashed) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        testsrv::WriteWholeFile(path, line + "\n");
        if (hashed) {
            std::string output;
            ASSERT_EQ(testsrv::RunCommand({"/usr/bin/ssh-keygen", "-H", "-f", path}, output), 0)
                << output;
            ASSERT_EQ(testsrv::ReadWholeFile(path).find("127.0.0.1"), std::string::npos);
        }
    }
};

enum class Stored { Nowhere, UserHashed, Own, UserChangedHashed, OwnChanged, OwnOtherType };

struct HostKeyRow {
    const char* name;
    Stored stored;
    bool accepted;
    bool storesNew; // our own file gets the key and the status line says so
};

TEST_F(SftpHostKeys, KnownUnknownAndChangedKeys) {
    const std::vector<HostKeyRow> rows = {
        {"unknown: trusted on first use", Stored::Nowhere, true, true},
        {"in the user's hashed known_hosts", Stored::UserHashed, true, false},
        {"in our own file", Stored::Own, true, false},
        {"changed in the user's file", Stored::UserChangedHashed, false, false},
        {"changed in our own file", Stored::OwnChanged, false, false},
        {"another key type stored", Stored::OwnOtherType, false, false},
    };
    const std::string otherKey = dir_ + "/other_ed25519";
    testsrv::MakeSshKey(otherKey, "ed25519");
    std::string otherPublic = testsrv::ReadWholeFile(otherKey + ".pub");
    otherPublic.pop_back(); // its newline
    const std::string otherRsa = dir_ + "/other_rsa";
    testsrv::MakeSshKey(otherRsa, "rsa");
    for (const HostKeyRow& row : rows) {
        SCOPED_TRACE(row.name);
        testsrv::SshdServer server({.root = root_});
        TSftpSettings settings = SettingsFor(server);
        std::filesystem::remove(settings.UserKnownHosts);
        std::filesystem::remove(settings.OwnKnownHosts);
        const std::string host = "[127.0.0.1]:" + std::to_string(server.Port()) + " ";
        const std::string serverLine = host + server.HostPublicKey();
        const std::string otherLine = host + testsrv::ReadWholeFile(otherKey + ".pub");
        const std::string serverPrint = Fingerprint(server.HostKeyFile() + ".pub");
        std::string storedPrint = Fingerprint(otherKey + ".pub");
        std::string fileToEdit = settings.OwnKnownHosts;
        switch (row.stored) {
        case Stored::Nowhere:
            // Lines of other servers and comments stay as they are when a key is added.
            WriteKnownHosts(settings.OwnKnownHosts, "# kept\n[127.0.0.2]:2222 " + otherPublic,
                            false);
            break;
        case Stored::UserHashed:
            WriteKnownHosts(settings.UserKnownHosts, serverLine, true);
            break;
        case Stored::Own:
            WriteKnownHosts(settings.OwnKnownHosts, serverLine, false);
            break;
        case Stored::UserChangedHashed:
            WriteKnownHosts(settings.UserKnownHosts, otherLine, true);
            fileToEdit = settings.UserKnownHosts;
            break;
        case Stored::OwnChanged:
            WriteKnownHosts(settings.OwnKnownHosts, otherLine, false);
            break;
        case Stored::OwnOtherType:
            WriteKnownHosts(settings.OwnKnownHosts,
                            host + testsrv::ReadWholeFile(otherRsa + ".pub"), false);
            storedPrint = Fingerprint(otherRsa + ".pub");
            break;
        }
        const std::string ownBefore = testsrv::ReadWholeFile(settings.OwnKnownHosts);
        std::vector<std::string> statusLines;
        TSftpSession session;
        session.SetStatusCallback([&](const std::string& line) { statusLines.push_back(line); });
        if (!row.accepted) {
            try {
                session.Connect(settings);
                ADD_FAILURE() << "connected despite a changed key";
            } catch (const ESftpHostKeyChanged& e) {
                const std::string text = e.what();
                for (const std::string& part :
                     {Where(server), serverPrint, storedPrint, fileToEdit})
                    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
            }
            // Refused before authentication: the password never reached the server.
            EXPECT_EQ(server.Output().find("password for"), std::string::npos) << server.Output();
            EXPECT_EQ(testsrv::ReadWholeFile(settings.OwnKnownHosts), ownBefore);
            continue;
        }
        ASSERT_NO_THROW(session.Connect(settings)) << server.Output();
        EXPECT_EQ(session.CurrentDirectory(), root_);
        if (!row.storesNew) {
            EXPECT_TRUE(statusLines.empty());
            EXPECT_EQ(testsrv::ReadWholeFile(settings.OwnKnownHosts), ownBefore);
            continue;
        }
        ASSERT_EQ(statusLines.size(), 1u);
        EXPECT_NE(statusLines[0].find(Where(server)), std::string::npos) << statusLines[0];
        EXPECT_NE(statusLines[0].find(serverPrint), std::string::npos) << statusLines[0];
        const std::string stored = testsrv::ReadWholeFile(settings.OwnKnownHosts);
        EXPECT_NE(stored.find(serverLine), std::string::npos) << stored;
        EXPECT_EQ(stored.rfind(ownBefore, 0), 0u) << stored;
        struct stat st {};
        ASSERT_EQ(::stat(settings.OwnKnownHosts.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        // The stored key is accepted quietly from now on, and not stored twice.
        session.Close();
        statusLines.clear();
        ASSERT_NO_THROW(session.Connect(settings));
        EXPECT_TRUE(statusLines.empty());
        EXPECT_EQ(testsrv::ReadWholeFile(settings.OwnKnownHosts), stored);
    }
}

TEST_F(SftpHostKeys, SessionsMeetingANewServerAtOnceStoreItOnce) {
    testsrv::SshdServer server({.root = root_});
    const TSftpSettings settings = SettingsFor(server);
    std::vector<std::thread> threads;
    std::atomic<int> connected{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            TSftpSession session;
            try {
                session.Connect(settings);
                ++connected;
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(connected.load(), 4);
    const std::string stored = testsrv::ReadWholeFile(settings.OwnKnownHosts);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), '\n'), 1) << stored;
}

} // namespace
