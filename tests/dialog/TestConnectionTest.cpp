#include "JobDialogSupport.h"

#include "servers/ChildProcess.h"
#include "servers/RealServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>

namespace {

using TestConnectionTest = JobDialogTest;

// A loopback port that is bound but not listening: a connection there is refused, and no
// other process can take the port while the test holds it.
class RefusingPort {
public:
    RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(fd_); }
    uint16_t Port() const { return port_; }

private:
    int fd_;
    uint16_t port_ = 0;
};

// The page's values, not the saved ones, are what the test logs in with; the outcome shows on
// the page within 20 s while the dialog keeps working.
TEST_F(TestConnectionTest, ShowsTheOutcomeOnThePage) {
    const std::string root = testsrv::MakeTempDir("dlg-conn-");
    std::filesystem::create_directory(root + "/out");
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        std::ofstream(root + "/out/" + name) << name;
    std::filesystem::create_directory(root + "/out/sub");
    testsrv::PyFtpdServer server({.root = root});
    RefusingPort refusing;
    ASSERT_NE(refusing.Port(), 0);

    struct Row {
        const char* what;
        uint16_t port;
        const char* password;
        const char* remoteFolder;
        std::function<bool(const std::string&)> expected;
    };
    const std::string live = "127.0.0.1:" + std::to_string(server.Port()) + ": ";
    const std::string dead = "127.0.0.1:" + std::to_string(refusing.Port()) + ": ";
    const std::vector<Row> rows = {
        {"logs in and lists the folder (the subfolder is no file)", server.Port(), "secret", "/out",
         [](const std::string& text) { return text == "Logged in, 3 files in /out"; }},
        {"wrong password: the server's refusal with host and port", server.Port(), "wrong", "/out",
         [live](const std::string& text) { return text == live + "530 Authentication failed."; }},
        {"a folder that is not there", server.Port(), "secret", "/missing",
         [live](const std::string& text) {
             return text == live + "550 No such file or directory.";
         }},
        {"nothing listening", refusing.Port(), "secret", "/out",
         [dead](const std::string& text) {
             return text == dead + "Socket Error # 111\r\nConnection refused";
         }},
    };
    WriteFile(configPath_, "[Import]\nHost=saved.example\nPassword=saved\n");
    Open();
    TfrImport* page = ImportForm();
    tavrin::TJobPage* job = Job("Import");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        page->edtHost->setText("127.0.0.1");
        page->edtPort->setText(QString::number(row.port));
        page->edtUsername->setText("tavrin");
        page->edtPassword->setText(QString::fromLatin1(row.password));
        page->edtRemoteFolder->setText(QString::fromLatin1(row.remoteFolder));
        QTest::mouseClick(job->btnTestConnection, Qt::LeftButton);
        EXPECT_FALSE(job->btnTestConnection->isEnabled()); // one test at a time
        EXPECT_TRUE(QTest::qWaitFor([&] { return !job->IsTesting(); }, 20000));
        EXPECT_TRUE(job->btnTestConnection->isEnabled());
        const std::string shown = job->lbTestResult->text().toStdString();
        EXPECT_TRUE(row.expected(shown)) << ::testing::PrintToString(shown);
    }
    // Testing saves nothing.
    EXPECT_EQ(ReadFile(configPath_), "[Import]\nHost=saved.example\nPassword=saved\n");
    std::filesystem::remove_all(root);
}

// Closing the dialog while a test runs waits for it instead of leaving a thread behind that
// reports to a page that is gone.
TEST_F(TestConnectionTest, ClosingDuringATestIsSafe) {
    RefusingPort refusing;
    Open();
    ImportForm()->edtHost->setText("127.0.0.1");
    ImportForm()->edtPort->setText(QString::number(refusing.Port()));
    QTest::mouseClick(Job("Import")->btnTestConnection, Qt::LeftButton);
    dialog_.reset();
    QTest::qWait(50); // a late report must find nothing to touch
}

} // namespace
