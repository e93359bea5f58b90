// The reply layer without a server: parsing rules, and replies read through a real socket
// when they arrive split at every possible byte boundary.
#include "ftp/IdExceptions.h"
#include "ftp/IdFTP.h"
#include "ftp/IdLineEndStreams.h"
#include "ftp/IdReplyFTP.h"
#include "ftp/IdStream.h"
#include "ftp/IdTCPConnection.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;

TEST(ReplyFTP, LastLineNeedsThreeDigitsAndABlank) {
    EXPECT_TRUE(TIdReplyFTP::IsLastReplyLine("200 OK"));
    EXPECT_TRUE(TIdReplyFTP::IsLastReplyLine("230 x"));
    EXPECT_TRUE(TIdReplyFTP::IsLastReplyLine("226"));
    EXPECT_FALSE(TIdReplyFTP::IsLastReplyLine("150-go on"));
    EXPECT_FALSE(TIdReplyFTP::IsLastReplyLine(" MDTM"));
    EXPECT_FALSE(TIdReplyFTP::IsLastReplyLine("Hello"));
    EXPECT_FALSE(TIdReplyFTP::IsLastReplyLine(""));
}

TEST(ReplyFTP, LoadsMultiLineRepliesAndNotesIndentedMiddleLines) {
    TIdReplyFTP reply;
    reply.LoadReplyLines({"220-Hello", "220-more", "220 ready"});
    EXPECT_EQ(reply.Code(), "220");
    EXPECT_EQ(reply.Text(), (Lines{"Hello", "more", "ready"}));
    EXPECT_EQ(reply.ReplyFormat(), rfNormal);
    EXPECT_EQ(reply.FormattedReply(), "220-Hello\r\n220-more\r\n220 ready");

    reply.LoadReplyLines({"211-Features:", " MDTM", " SIZE", "211 End"});
    EXPECT_EQ(reply.NumericCode(), 211);
    EXPECT_EQ(reply.Text(), (Lines{"Features:", "MDTM", "SIZE", "End"}));
    EXPECT_EQ(reply.ReplyFormat(), rfIndentMidLines);
    EXPECT_EQ(reply.FormattedReply(), "211-Features:\r\n MDTM\r\n SIZE\r\n211 End");
}

TEST(ReplyFTP, InvalidCodesRaiseWithTheFirstFourCharacters) {
    TIdReplyFTP reply;
    try {
        reply.LoadReplyLines({"Hello", "220 x"});
        FAIL() << "no exception";
    } catch (const EIdException& error) {
        EXPECT_STREQ(error.what(), "Reply Code is not valid: Hell");
    }
    EXPECT_THROW(reply.SetCode("099"), EIdException);
    EXPECT_THROW(reply.SetCode("1000"), EIdException);
    EXPECT_NO_THROW(reply.SetCode("999"));
    EXPECT_NO_THROW(reply.SetCode(""));
}

TEST(ReplyFTP, RaiseCarriesTextLinesAndCode) {
    TIdReplyFTP reply;
    reply.LoadReplyLines({"550-No such file", "550 or folder"});
    try {
        reply.RaiseForReply();
        FAIL() << "no exception";
    } catch (const EIdReplyRFCError& error) {
        EXPECT_STREQ(error.what(), "No such file\r\nor folder\r\n");
        EXPECT_EQ(error.ErrorCode(), 550);
    }
}

// A connection over one end of a socket pair; the test writes the server's bytes into the
// other end.
class SocketPairConnection : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        peer_ = fds[1];
        handler_.AdoptSocket(fds[0]);
        handler_.SetReadTimeout(2000);
        connection_.SetIOHandler(&handler_);
    }
    void TearDown() override {
        connection_.SetIOHandler(nullptr);
        ::close(peer_);
    }
    void Feed(const std::string& bytes) {
        ASSERT_EQ(::write(peer_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Feeds `first`, lets the handler take it in, then feeds the rest.
    void FeedSplit(const std::string& bytes, size_t at) {
        if (at > 0) {
            Feed(bytes.substr(0, at));
            handler_.FillInputBuffer(true, 2000, true);
        }
        Feed(bytes.substr(at));
    }

    int peer_ = -1;
    TIdIOHandlerStack handler_;
    TIdTCPConnection connection_;
};

TEST_F(SocketPairConnection, ReplySplitAtEveryByteBoundaryReadsTheSame) {
    const std::string wire = "\r\n  \r\n211-Features:\r\n MLSD\n211 End\r\n200 next\r\n";
    for (size_t at = 0; at <= wire.size(); ++at) {
        SCOPED_TRACE("split at " + std::to_string(at));
        FeedSplit(wire, at);
        connection_.ReadReply();
        EXPECT_EQ(connection_.LastReply().Code(), "211");
        EXPECT_EQ(connection_.LastReply().Text(), (Lines{"Features:", "MLSD", "End"}));
        connection_.ReadReply();
        EXPECT_EQ(connection_.LastReply().Text(), (Lines{"next"}));
        EXPECT_EQ(handler_.InputBufferSize(), 0u);
    }
}

TEST_F(SocketPairConnection, LineLengthLimitCountsTheLineWithoutItsTerminator) {
    const std::string longest(16384, 'a');
    Feed(longest + "\r\n" + longest + "\n");
    EXPECT_EQ(handler_.ReadLine(), longest);
    EXPECT_EQ(handler_.ReadLine(), longest);
    Feed(longest + "b\r\n");
    EXPECT_THROW(handler_.ReadLine(), EIdReadLnMaxLineLengthExceeded);

    handler_.TakeInput(handler_.InputBufferSize());
    handler_.SetMaxLineAction(maSplit);
    Feed(std::string(10, 'c') + "\r\n");
    EXPECT_EQ(handler_.ReadLine("\n", -1, 4), "cccc");
    EXPECT_TRUE(handler_.ReadLnSplit());
}

TEST_F(SocketPairConnection, BareCarriageReturnDoesNotEndALine) {
    Feed("200 a\rb\r\n");
    connection_.ReadReply();
    EXPECT_EQ(connection_.LastReply().Text(), (Lines{"a\rb"}));
}

TEST_F(SocketPairConnection, ReadLineTimesOutWithAnEmptyResultAndTheFlagSet) {
    Feed("partial");
    EXPECT_EQ(handler_.ReadLine("\n", 50), "");
    EXPECT_TRUE(handler_.ReadLnTimedOut());
    Feed(" line\n");
    EXPECT_EQ(handler_.ReadLine(), "partial line");
    EXPECT_FALSE(handler_.ReadLnTimedOut());
}

TEST_F(SocketPairConnection, PeerClosingDuringAPartialLineRaisesClosedGracefully) {
    Feed("220 never ends");
    ::shutdown(peer_, SHUT_WR);
    EXPECT_THROW(connection_.ReadReply(), EIdConnClosedGracefully);
    EXPECT_FALSE(connection_.IsConnected());
}

TEST_F(SocketPairConnection, CommandsWithLineBreaksOrNulAreNeverSent) {
    for (const std::string& bad : {std::string("CWD a\r\nDELE b"), std::string("CWD a\nb"),
                                   std::string("CWD a\rb"), std::string("RETR a\0b", 8)}) {
        EXPECT_THROW(connection_.SendCommand(bad, {250}), EIdUnsafeCommand);
    }
    connection_.IOHandler()->WriteLine("NOOP");
    char received[64] = {};
    const ssize_t count = ::read(peer_, received, sizeof received);
    EXPECT_EQ(std::string(received, count > 0 ? count : 0), "NOOP\r\n");
}

TEST(PasvReply, ParenthesesOrTextAfterTheLastBlank) {
    std::string host;
    int port = 0;
    tavrin::ftp::ParsePasvReply("Entering Passive Mode (192,168,1,2,19,137).", host, port);
    EXPECT_EQ(host, "192.168.1.2");
    EXPECT_EQ(port, 5001);
    tavrin::ftp::ParsePasvReply("Entering Passive Mode 10,0,0,1,4,0", host, port);
    EXPECT_EQ(host, "10.0.0.1");
    EXPECT_EQ(port, 1024);
    tavrin::ftp::ParsePasvReply("OK (127,0,0,1, 4 , 1 )", host, port);
    EXPECT_EQ(port, 1025);
}

// The extended replies: any delimiter, the port alone; everything else is refused, so a
// garbled reply falls back to PASV instead of connecting somewhere odd. EPRT names the
// family by the address.
TEST(PasvReply, ExtendedPassiveRepliesAndEprtArguments) {
    const struct {
        const char* line;
        int port; // 0: refused
    } rows[] = {
        {"Entering Extended Passive Mode (|||6446|)", 6446},
        {"EPSV ok (!!!1!)", 1},
        {"(|||65535|).", 65535},
        {"Entering Extended Passive Mode (|||65536|)", 0},
        {"Entering Extended Passive Mode (|||0|)", 0},
        {"Entering Extended Passive Mode (|||-5|)", 0},
        {"Entering Extended Passive Mode (|||$10|)", 0},
        {"Entering Extended Passive Mode (|2|::1|6446|)", 0},
        {"Entering Extended Passive Mode (|||6446)", 0},
        {"Entering Extended Passive Mode |||6446|", 0},
        {"Entering Extended Passive Mode (||||)", 0},
        {"", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        if (row.port > 0)
            EXPECT_EQ(tavrin::ftp::ParseEpsvReply(row.line), row.port);
        else
            EXPECT_THROW(tavrin::ftp::ParseEpsvReply(row.line), EConvertError);
    }
    EXPECT_EQ(tavrin::ftp::EprtArgument("::1", 5001), "|2|::1|5001|");
    EXPECT_EQ(tavrin::ftp::EprtArgument("127.0.0.1", 5001), "|1|127.0.0.1|5001|");
}

TEST(PasvReply, NonNumericOrOutOfRangePorts) {
    std::string host;
    int port = 0;
    try {
        tavrin::ftp::ParsePasvReply("Entering Passive Mode (10,0,0,1,x,0)", host, port);
        FAIL() << "no exception";
    } catch (const EConvertError& error) {
        EXPECT_STREQ(error.what(), "'x' is not a valid integer value");
    }
    EXPECT_THROW(tavrin::ftp::ParsePasvReply("(10,0,0,1,4)", host, port), EConvertError);
    // 300 * 256 does not fit a TCP port; the connect must refuse it rather than wrap around.
    tavrin::ftp::ParsePasvReply("(10,0,0,1,300,0)", host, port);
    EXPECT_EQ(port, -1);
}

TEST(PortArgument, DotsBecomeCommasAndThePortTwoBytes) {
    EXPECT_EQ(tavrin::ftp::PortArgument("10.1.2.3", 5001), "10,1,2,3,19,137");
    EXPECT_EQ(tavrin::ftp::PortArgument("127.0.0.1", 255), "127,0,0,1,0,255");
}

TEST(ListingLines, EveryLineBreakFormAndNulEndsTheText) {
    using tavrin::ftp::SplitListingLines;
    EXPECT_EQ(SplitListingLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitListingLines("a\r\n\r\nb\r\n"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitListingLines(std::string("a\nb\0c\n", 6)), (Lines{"a", "b"}));
    EXPECT_TRUE(SplitListingLines("").empty());
}

TEST(AsciiLineEnds, ConvertedTheSameWhateverTheChunksAndBufferSizes) {
    struct Case {
        std::string local, wire, downloaded;
    };
    // local file -> what goes over the wire; wire -> what a download writes.
    const Case cases[] = {
        {"a\nb\n", "a\r\nb\r\n", "a\nb\n"},
        {"a\r\nb", "a\r\nb", "a\nb"},    // CR LF already there: no CR CR LF
        {"\n\n", "\r\n\r\n", "\n\n"},    // empty lines
        {"a\rb\r", "a\rb\r", "a\rb\r"},  // a lone CR is data both ways
        {"x\r\r\n", "x\r\r\n", "x\r\n"}, // CR before CR LF
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.local));
        for (size_t buffer = 1; buffer <= 8; ++buffer) {
            TIdStringStream source(c.local);
            TIdLfToCrLfReader reader(source);
            std::string sent;
            std::vector<char> chunk(buffer);
            for (size_t n; (n = reader.Read(chunk.data(), chunk.size())) > 0;)
                sent.append(chunk.data(), n);
            EXPECT_EQ(sent, c.wire) << "buffer " << buffer;
        }
        const std::string& wire = c.wire;
        for (size_t at = 0; at <= wire.size(); ++at) {
            TIdStringStream target;
            TIdCrLfToLfWriter writer(target);
            writer.Write(wire.data(), at);
            writer.Write(wire.data() + at, wire.size() - at);
            writer.Flush();
            EXPECT_EQ(target.Data(), c.downloaded) << "split " << at;
        }
    }
}

} // namespace
