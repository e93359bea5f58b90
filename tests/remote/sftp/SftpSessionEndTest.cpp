// However a session was used, closing it (or dropping it) lets go of its connection: no
// socket stays open here and sshd's session processes end.
#include "SftpTestSupport.h"

#include <filesystem>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace stdfs = std::filesystem;
using tavrin::sftp::TSftpSession;

size_t OpenSockets() {
    size_t count = 0;
    for (const auto& entry : stdfs::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        if (stdfs::read_symlink(entry.path(), ignored).string().rfind("socket:", 0) == 0)
            ++count;
    }
    return count;
}

class SftpSessionEnd : public sftptest::SftpTest {};

TEST_F(SftpSessionEnd, EveryUseLetsGoOfTheConnection) {
    testsrv::SshdServer server({.root = root_});
    const std::string local = dir_ + "/local.bin";
    testsrv::WriteWholeFile(local, sftptest::Pattern(300000));
    testsrv::WriteWholeFile(root_ + "/there.bin", sftptest::Pattern(200000));
    struct Row {
        const char* what;
        std::function<void(TSftpSession&)> use;
        bool close; // else the session is only destroyed
    } rows[] = {
        {"connect only", [](TSftpSession&) {}, true},
        {"list", [](TSftpSession& s) { s.List(); }, true},
        {"upload", [&](TSftpSession& s) { s.Upload(local, "up.bin"); }, true},
        {"upload, size, rename",
         [&](TSftpSession& s) {
             s.Upload(local, "up2.bin");
             s.Size("up2.bin");
             s.Rename("up2.bin", "up3.bin");
         },
         true},
        {"download", [&](TSftpSession& s) { s.Download("there.bin", dir_ + "/got.bin"); }, true},
        {"upload, destroyed without Close", [&](TSftpSession& s) { s.Upload(local, "up4.bin"); },
         false},
    };
    const size_t before = OpenSockets();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        {
            TSftpSession session;
            session.Connect(SettingsFor(server));
            row.use(session);
            if (row.close)
                session.Close();
        }
        EXPECT_EQ(OpenSockets(), before);
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < end &&
               !testsrv::DescendantsOf(server.Pid()).empty())
            std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(testsrv::DescendantsOf(server.Pid()).empty());
    }
}

} // namespace
