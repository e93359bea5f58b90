// Uploads N files of M MiB over protected passive data connections to pyftpdlib and to
// vsftpd (both with explicit TLS on 127.0.0.1), one login per server as the export monitor
// keeps it, and compares each server copy with the local file by SHA-256 right after the
// upload reported success.
//
//   bench_tls_upload [FILES [MIB]]      defaults: 200 files of 20 MiB
#include "FtpTlsSupport.h"

#include "servers/RealServers.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Tally {
    int whole = 0, differing = 0, failed = 0;
    double seconds = 0;
};

Tally UploadLoop(const std::string& label, uint16_t port, const std::string& user,
                 const std::string& password, const std::string& serverDir,
                 const std::vector<std::string>& sources, int files) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::string> hashes;
    for (const auto& source : sources)
        hashes.push_back(tlstest::Sha256OfFile(source));
    Tally tally;
    auto client = std::make_unique<tlstest::TlsFtpClient>(port, user, password);
    client->ftp.SetPassive(true);
    client->ftp.SetTransferType(ftBinary);
    client->ftp.Connect();
    const auto start = Clock::now();
    for (int i = 0; i < files; ++i) {
        const size_t which = static_cast<size_t>(i) % sources.size();
        const std::string name = "up" + std::to_string(i) + ".bin";
        try {
            client->ftp.UploadFile(sources[which], name, false);
        } catch (const std::exception& failure) {
            ++tally.failed;
            std::printf("%s: %s failed: %s\n", label.c_str(), name.c_str(), failure.what());
            client = std::make_unique<tlstest::TlsFtpClient>(port, user, password);
            client->ftp.SetPassive(true);
            client->ftp.Connect();
            continue;
        }
        const std::string stored = serverDir + "/" + name;
        if (tlstest::Sha256OfFile(stored) == hashes[which]) {
            ++tally.whole;
        } else {
            ++tally.differing;
            std::error_code error;
            std::printf(
                "%s: %s reported done but holds %llu of %llu bytes\n", label.c_str(), name.c_str(),
                static_cast<unsigned long long>(std::filesystem::file_size(stored, error)),
                static_cast<unsigned long long>(std::filesystem::file_size(sources[which])));
        }
        std::filesystem::remove(stored);
    }
    tally.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    client->ftp.Disconnect();
    return tally;
}

void Print(const std::string& label, const Tally& tally, int files, int mib) {
    std::printf("%-10s %d x %d MiB: whole %d, differing %d, failed %d  (%.1f s, %.0f MB/s)\n",
                label.c_str(), files, mib, tally.whole, tally.differing, tally.failed,
                tally.seconds, tally.seconds > 0 ? files * mib * 1.048576 / tally.seconds : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 200;
    const int mib = argc > 2 ? std::atoi(argv[2]) : 20;
    try {
        tlstest::ScratchDir local, pyRoot, vsRoot;
        std::vector<std::string> sources;
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            sources.push_back(local / ("source" + std::to_string(seed) + ".bin"));
            tlstest::WriteRandomFile(sources.back(), uint64_t(mib) << 20, seed);
        }
        Tally py, vs;
        {
            testsrv::PyFtpdOptions options;
            options.root = pyRoot.Path();
            options.tls = true;
            options.requireClientCert = true;
            testsrv::PyFtpdServer server(options);
            py = UploadLoop("pyftpdlib", server.Port(), "tavrin", "secret", pyRoot.Path(), sources,
                            files);
        }
        {
            testsrv::VsftpdOptions options;
            options.root = vsRoot.Path();
            options.tls = true;
            testsrv::VsftpdServer server(options);
            vs = UploadLoop("vsftpd", server.Port(), server.User(), server.Password(),
                            vsRoot.Path(), sources, files);
        }
        Print("pyftpdlib", py, files, mib);
        Print("vsftpd", vs, files, mib);
        return py.differing + py.failed + vs.differing + vs.failed == 0 ? 0 : 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "bench_tls_upload: %s\n", failure.what());
        return 2;
    }
}
