// What the client does with listings it cannot take whole: lines it cannot read are skipped
// and said aloud, and a listing too big to hold is refused with a clear failure.
#include "FtpTestSupport.h"
#include "base/IdException.h"
#include "ftp/IdStream.h"
#include "ftp/listing/IdFTPList.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

using ftptest::MakeClient;
using ftptest::StatusLog;
using testsrv::ScriptedFtpServer;

namespace {

TEST(FtpListing, UnreadableLinesAreSkippedAndReported) {
    const std::string listing = "-rw-r--r-- 1 u g 5 Jan  1 2024 first\r\n"
                                "half of a name\r\n"
                                "-rw-r--r-- 1 u g 7 Mai  1 2024 german.txt\r\n";
    ScriptedFtpServer server;
    server.Handle("LIST", testsrv::ServeData(listing));
    StatusLog log;
    auto client = MakeClient(server.Port(), &log);
    client->SetUseMLIS(false);
    client->Connect();
    client->ListDirectory(nullptr, "", true);
    TIdFTPListItems& entries = client->DirectoryEntries();
    ASSERT_EQ(entries.Count(), 2u);
    EXPECT_EQ(entries[0].Name(), "first");
    EXPECT_EQ(entries[1].Name(), "german.txt");
    EXPECT_EQ(entries[1].ByteSize(), 7);
    EXPECT_TRUE(log.Has("Listing lines skipped as unreadable: 1"));
}

TEST(FtpListing, CappedStreamRefusesToGrowPastItsCap) {
    TIdCappedStringStream small(10);
    small.Write("123456", 6);
    small.Write("7890", 4); // exactly the cap is fine
    try {
        small.Write("x", 1);
        FAIL() << "no exception";
    } catch (const EIdException& error) {
        EXPECT_STREQ(error.what(), "Directory listing exceeds 10 bytes.");
    }
    EXPECT_EQ(small.Data(), "1234567890");

    // The real cap, reached without storing 256 MiB: the write is refused before it grows.
    TIdCappedStringStream listing;
    EXPECT_EQ(TIdCappedStringStream::kListingCap, size_t{256} * 1024 * 1024);
    listing.SetPosition(static_cast<int64_t>(TIdCappedStringStream::kListingCap));
    try {
        listing.Write("x", 1);
        FAIL() << "no exception";
    } catch (const EIdException& error) {
        EXPECT_STREQ(error.what(), "Directory listing exceeds 256 MiB.");
    }
    EXPECT_EQ(listing.Size(), 0);
}

} // namespace
