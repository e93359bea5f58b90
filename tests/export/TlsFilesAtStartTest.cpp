// Unusable TLS files fail the export monitor's start before its watch thread runs.
#include "ExportTestFolder.h"
#include "ExportTestLog.h"

#include "config/CommonTypesUnit.h"
#include "export/FolderMonitorUnit.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>

namespace {

TEST(ExportTlsFiles, MissingKeyOrWrongPasswordFailsTheStart) {
    const auto& c = testsrv::Certificates();
    exporttest::TestFolder folder;
    struct Row {
        std::string key, password, message;
    };
    const Row rows[] = {
        {folder.Root() + "/none.key", c.clientKeyPassword,
         "Could not load key \"" + folder.Root() + "/none.key\": No such file or directory."},
        {c.clientKey, "", "Could not load key \"" + c.clientKey + "\": the key password is wrong."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        RConfiguration config;
        config.LocalFolder = folder.Watched();
        config.Host = "127.0.0.1";
        config.Port = "1";
        config.SSL = true;
        config.SSLCertificate = c.clientCert;
        config.SSLKey = row.key;
        config.SSLPass = row.password;
        exporttest::LogCapture log;
        std::string failure;
        try {
            TFolderMonitor monitor(config, log.Sink());
        } catch (const std::exception& error) {
            failure = error.what();
        }
        EXPECT_EQ(failure, row.message);
        EXPECT_TRUE(log.Lines().empty()) << "no \"Monitor started\" for a monitor that is not";
    }
}

} // namespace
