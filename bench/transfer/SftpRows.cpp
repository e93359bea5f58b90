// The SFTP rows of the transfer bench: a file downloaded and uploaded by us and by OpenSSH's
// `sftp -b`, against the same sshd on 127.0.0.1, in alternating order each round. "Us" is
// `tavrin-ftp --sftp` when this build's tavrin-ftp speaks SFTP, else bench_sftp_transfer
// (our SFTP layer alone); either way one process per transfer, so its peak memory is its
// own. Both sides log in with the same ed25519 key and both times include connecting.
#include "TransferRows.h"
#include "servers/ChildProcess.h"
#include "servers/SshdServer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace bench {

namespace {
namespace fs = std::filesystem;

bool HasSize(const std::string& path, uint64_t size) {
    std::error_code ignored;
    return fs::file_size(path, ignored) == size;
}

bool ToolSpeaksSftp() {
    FILE* help = ::popen(TAVRIN_FTP_TOOL " --help 2>/dev/null", "r");
    if (!help)
        return false;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, help)) > 0;)
        text.append(buffer, n);
    ::pclose(help);
    return text.find("--sftp") != std::string::npos;
}

// Our side's command line up to the transfer's arguments: for "get"/"put" REMOTE LOCAL
// (bench_sftp_transfer) or "get" REMOTE LOCAL / "put" LOCAL REMOTE (tavrin-ftp); the
// command word goes at `commandAt`.
struct OurClient {
    const char* name;
    std::vector<std::string> argv;
    size_t commandAt;
    bool toolOrder;
};

OurClient ChooseClient(const std::string& port, const std::string& user, const std::string& key,
                       const std::string& dir, const std::string& choice) {
    if (choice == "tool" || (choice == "auto" && ToolSpeaksSftp())) {
        // Host keys trusted on first use go to a known_hosts in the scratch folder.
        ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
        ::setenv("HOME", dir.c_str(), 1);
        return {"tavrin-ftp",
                {TAVRIN_FTP_TOOL, "--sftp", "--key", key, "127.0.0.1", port, user, "", ""},
                8,
                true};
    }
    return {"sftp layer",
            {TAVRIN_SFTP_TRANSFER, "", "127.0.0.1", port, user, key, dir + "/known_hosts"},
            1,
            false};
}
} // namespace

void BenchSftp(int rounds, size_t mib, const std::string& client) {
    if (const std::string why = testsrv::SshdServer::Unavailable(); !why.empty())
        throw std::runtime_error("SFTP rows: " + why);
    const std::string dir = testsrv::MakeTempDir("tavrin-bench-sftp-");
    const ScratchFolder scratch(dir);
    const std::string root = dir + "/root", local = dir + "/local", key = dir + "/key";
    fs::create_directories(root);
    fs::create_directories(local);
    const uint64_t size = static_cast<uint64_t>(mib) << 20;
    WriteRandomFile(root + "/big.bin", size);
    const std::string source = local + "/source.bin";
    fs::copy_file(root + "/big.bin", source);
    testsrv::MakeSshKey(key, "ed25519");
    {
        testsrv::SshdServer server(
            {.root = root, .authorizedKeys = {testsrv::ReadWholeFile(key + ".pub")}});
        const std::string port = std::to_string(server.Port());
        const OurClient ours = ChooseClient(port, server.User(), key, dir, client);
        const std::vector<std::string> theirs = {"/usr/bin/sftp",
                                                 "-q",
                                                 "-F",
                                                 "/dev/null",
                                                 "-o",
                                                 "BatchMode=yes",
                                                 "-o",
                                                 "StrictHostKeyChecking=no",
                                                 "-o",
                                                 "UserKnownHostsFile=/dev/null",
                                                 "-o",
                                                 "LogLevel=ERROR",
                                                 "-i",
                                                 key,
                                                 "-P",
                                                 port,
                                                 "-b",
                                                 dir + "/batch",
                                                 server.User() + "@127.0.0.1"};
        const double megabytes = static_cast<double>(size) / 1e6;
        TransferFigures down, up;
        for (int round = 0; round < rounds; ++round) {
            for (const bool download : {true, false}) {
                for (int turn = 0; turn < 2; ++turn) {
                    // Alternate who goes first so neither always meets a cold or warm cache.
                    const bool isOurs = (turn == 0) == (round % 2 == 0);
                    const std::string remote = download ? "big.bin"
                                               : isOurs ? "up-ours.bin"
                                                        : "up-sftp.bin";
                    const std::string target = download ? local + "/got.bin" : root + "/" + remote;
                    fs::remove(target);
                    std::vector<std::string> argv = isOurs ? ours.argv : theirs;
                    if (isOurs) {
                        argv[ours.commandAt] = download ? "get" : "put";
                        const bool remoteFirst = download || !ours.toolOrder;
                        argv.push_back(remoteFirst ? remote : source);
                        argv.push_back(download ? target : remoteFirst ? source : remote);
                    } else {
                        testsrv::WriteWholeFile(dir + "/batch",
                                                download ? "get big.bin " + target + "\n"
                                                         : "put " + source + " " + remote + "\n");
                    }
                    const RunResult run = Run(argv);
                    TransferFigures& figures = download ? down : up;
                    if (!run.ok || !HasSize(target, size))
                        ++figures.failures;
                    else
                        figures.Add(isOurs, megabytes, run);
                }
            }
        }
        PrintRow("SFTP download", down, ours.name, "sftp", 0.9, 30);
        PrintRow("SFTP upload", up, ours.name, "sftp", 0.9, 30);
    }
}

} // namespace bench
