// Whether a download may go on from an offset: the FEAT list says so when the server sent one;
// only a server without FEAT is asked with a REST it may refuse.
#include "FtpTestSupport.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

using testsrv::ScriptedFtpServer;
using Lines = std::vector<std::string>;

TEST(FtpResumeSupport, FeatDecidesAndOnlyServersWithoutItAreProbed) {
    struct Row {
        const char* what;
        const char* feat;
        const char* rest; // the answer to any REST
        bool resumes;
        Lines sent; // commands after SYST
    } rows[] = {
        {"REST STREAM listed",
         "211-Features:\r\n SIZE\r\n rest stream\r\n211 End\r\n",
         "350 ok\r\n",
         true,
         {}},
        {"listed without it: no probe",
         "211-Features:\r\n SIZE\r\n MDTM\r\n211 End\r\n",
         "350 ok\r\n",
         false,
         {}},
        {"REST alone is not enough",
         "211-Features:\r\n REST\r\n211 End\r\n",
         "350 ok\r\n",
         false,
         {}},
        {"no FEAT: probed once",
         "500 FEAT not understood\r\n",
         "350 ok\r\n",
         true,
         {"REST 1", "REST 0"}},
        {"no FEAT, REST refused",
         "500 FEAT not understood\r\n",
         "502 no\r\n",
         false,
         {"REST 1", "REST 0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedFtpServer server;
        server.Reply("FEAT", row.feat);
        server.Reply("REST", row.rest);
        auto client = ftptest::MakeClient(server.Port());
        client->Connect();
        EXPECT_EQ(client->CanResume(), row.resumes);
        EXPECT_EQ(client->CanResume(), row.resumes); // asked again: nothing more is sent
        client->SendNoop();
        ASSERT_TRUE(server.WaitForCommands(1, std::chrono::seconds(5)));
        Lines commands = server.Commands();
        commands.erase(commands.begin(), std::find(commands.begin(), commands.end(), "SYST") + 1);
        Lines expected = row.sent;
        expected.push_back("NOOP");
        EXPECT_EQ(commands, expected);
    }
}
