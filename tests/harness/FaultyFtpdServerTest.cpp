// The fault-injecting server does exactly the harm it is asked for, checked with the dumb
// raw client so that a fault seen here is the server's and not one of our client's.
#include "servers/FaultyFtpdServer.h"
#include "harness/RawFtpClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/socket.h>

using namespace testsrv;

namespace {

const std::string kBytes = [] {
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31 % 253);
    return bytes;
}();

class FaultyServer : public ::testing::Test {
protected:
    void SetUp() override { WriteWholeFile(root + "/f.bin", kBytes); }
    void TearDown() override { std::filesystem::remove_all(root); }
    RawFtpClient LoggedIn() {
        RawFtpClient client(server.Port());
        client.ReadReply();
        client.Command("USER tavrin");
        EXPECT_EQ(client.Command("PASS secret").substr(0, 4), "230 ");
        client.Command("TYPE I");
        return client;
    }
    // Reads the data connection until it ends or stays silent for `quiet`.
    static std::string Drain(UniqueFd& data, std::chrono::milliseconds quiet, bool& timedOut) {
        std::string got;
        timedOut = false;
        while (ReceiveSome(data.Get(), got, -1, quiet, &timedOut)) {
        }
        return got;
    }

    std::string root = MakeTempDir("tavrin-faulty-root-");
    FaultyFtpdServer server{{.root = root}};
};

TEST_F(FaultyServer, DownloadFaultsDoWhatTheyAreNamedFor) {
    struct Row {
        const char* what;
        FaultPlan plan;
        size_t bytes;      // what arrives on the data connection
        bool ends;         // the server closes the data connection (rather than going silent)
        const char* reply; // first digits of the final reply; "" for none
    };
    const Row rows[] = {
        {"none", FaultPlan(), kBytes.size(), true, "226"},
        {"cut", FaultPlan().CutDownload("f.bin", 100000), 100000, true, "426"},
        {"short", FaultPlan().ShortDownload("f.bin", 100000), 100000, true, "226"},
        {"stall", FaultPlan().StallDownload("f.bin", 100000), 100000, false, ""},
        {"refuse", FaultPlan().RefuseDownload("f.bin", "550 Gone fishing."), 0, false, "550"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        server.SetFaults(row.plan);
        RawFtpClient client = LoggedIn();
        UniqueFd data = client.OpenPassiveData(client.Command("PASV"));
        std::string first = client.Command("RETR f.bin");
        bool timedOut = false;
        std::string got = Drain(data, std::chrono::milliseconds(1500), timedOut);
        // A cut may lose what was still in flight; it never delivers more.
        if (std::string(row.what) == "cut")
            EXPECT_LE(got.size(), row.bytes);
        else
            EXPECT_EQ(got.size(), row.bytes);
        EXPECT_EQ(got, kBytes.substr(0, got.size()));
        EXPECT_EQ(timedOut, !row.ends);
        std::string final = std::string(row.what) == "refuse" ? first : client.ReadReply();
        EXPECT_EQ(final.substr(0, 3), std::string(row.reply).substr(0, 3)) << final;
    }
    std::vector<std::string> events = server.Events();
    EXPECT_EQ(events, (std::vector<std::string>{"cut f.bin 100000", "short f.bin 100000",
                                                "stall f.bin 100000", "refuse f.bin"}));
}

TEST_F(FaultyServer, UploadFaultsGrowingFilesAndTimesBound) {
    // An upload cut after 50,000 bytes: the client's side sees a reset or 426, the server
    // keeps the first 50,000 bytes.
    server.SetFaults(FaultPlan().CutUpload("up.bin", 50000).GrowOnListing("f.bin", 1000, 2));
    {
        RawFtpClient client = LoggedIn();
        UniqueFd data = client.OpenPassiveData(client.Command("PASV"));
        EXPECT_EQ(client.Command("STOR up.bin")[0], '1');
        SendAll(data.Get(), kBytes, -1, std::chrono::milliseconds(5000));
        EXPECT_EQ(client.ReadReply().substr(0, 3), "426");
        EXPECT_EQ(std::filesystem::file_size(root + "/up.bin"), 50000u);
        // Three listings grow the file twice.
        for (int i = 0; i < 3; ++i) {
            UniqueFd list = client.OpenPassiveData(client.Command("PASV"));
            client.Command("LIST");
            bool timedOut = false;
            Drain(list, std::chrono::milliseconds(3000), timedOut);
            client.ReadReply();
        }
        EXPECT_EQ(std::filesystem::file_size(root + "/f.bin"), kBytes.size() + 2000);
    }
    // An upload the server stops reading: the sender's buffers fill and its send stalls.
    server.SetFaults(FaultPlan().StopReadingUpload("slow.bin", 20000));
    RawFtpClient client = LoggedIn();
    UniqueFd data = client.OpenPassiveData(client.Command("PASV"));
    int small = 4096;
    ::setsockopt(data.Get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    EXPECT_EQ(client.Command("STOR slow.bin")[0], '1');
    std::string big(8 << 20, 'x');
    EXPECT_FALSE(SendAll(data.Get(), big, -1, std::chrono::milliseconds(1500)));
    EXPECT_TRUE(server.WaitForEvent("stop-reading slow.bin 20000", std::chrono::seconds(5)));
}

TEST_F(FaultyServer, KilledServerComesBackOnTheSamePort) {
    const uint16_t port = server.Port();
    const int pid = server.Pid();
    RawFtpClient before = LoggedIn();
    server.Kill();
    EXPECT_FALSE(server.Running());
    EXPECT_EQ(before.Command("NOOP"), ""); // the session died with the process
    server.Restart();
    EXPECT_EQ(server.Port(), port);
    EXPECT_NE(server.Pid(), pid);
    RawFtpClient after = LoggedIn();
    EXPECT_EQ(after.Command("NOOP").substr(0, 3), "200");
}

} // namespace
