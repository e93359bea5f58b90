// Unusable TLS files fail the import monitor's start: no poller runs, nothing is logged.
#include "ImportTestSupport.h"

#include "import/MonitorFTPUnit.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

using namespace importtest;

namespace {

TEST(ImportTlsFiles, MissingFileOrWrongPasswordFailsTheStart) {
    const auto& c = testsrv::Certificates();
    Scratch scratch;
    struct Row {
        std::string cert, key, password, message;
    };
    const Row rows[] = {
        {scratch.root + "/none.pem", c.clientKey, c.clientKeyPassword,
         "Could not load certificate \"" + scratch.root +
             "/none.pem\": No such file or directory."},
        {c.clientCert, c.clientKey, "wrong",
         "Could not load key \"" + c.clientKey + "\": the key password is wrong."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        RConfiguration config = LocalServerConfig(scratch, 1, "u", "p");
        config.SSL = true;
        config.SSLCertificate = row.cert;
        config.SSLKey = row.key;
        config.SSLPass = row.password;
        Recorder recorder;
        std::string failure;
        try {
            TMonitorFTP monitor(config, recorder.Sink(), scratch.registerPath);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_EQ(failure, row.message);
        RunEventsFor(std::chrono::milliseconds(300));
        EXPECT_TRUE(recorder.lines.empty());
        EXPECT_TRUE(recorder.boxes.empty());
    }
}

} // namespace
