#include "servers/RealServers.h"

#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef TAVRIN_SOURCE_DIR
#error "TAVRIN_SOURCE_DIR must name the source tree (it holds pyftpd_server.py)"
#endif

namespace testsrv {

namespace {

// pyftpdlib and pyOpenSSL are Debian packages; only the system interpreter sees them.
const char* const kPython = "/usr/bin/python3";
const char* const kPortMarker = "TAVRIN_PYFTPD_PORT=";

const char* AuthArgument(PyFtpdOptions::Auth auth) {
    switch (auth) {
    case PyFtpdOptions::Auth::TlsOnly:
        return "tls-only";
    case PyFtpdOptions::Auth::NoAuth:
        return "none";
    case PyFtpdOptions::Auth::SslAndTls:
        break;
    }
    return "ssl-and-tls";
}

} // namespace

PyFtpdServer::PyFtpdServer(PyFtpdOptions options) : options_(std::move(options)) {
    if (options_.root.empty() || !std::filesystem::is_directory(options_.root))
        throw std::runtime_error("PyFtpdServer: root folder missing: " + options_.root);
    workDir_ = MakeTempDir("tavrin-pyftpd-");
    commandLog_ = workDir_ + "/commands.log";
    WriteWholeFile(commandLog_, "");

    std::vector<std::string> argv = {
        kPython,         std::string(TAVRIN_SOURCE_DIR) + "/tests/servers/pyftpd_server.py",
        "--root",        options_.root,
        "--user",        options_.user,
        "--password",    options_.password,
        "--command-log", commandLog_,
        "--auth",        AuthArgument(options_.auth),
        "--host",        options_.ipv6 ? "::1" : "127.0.0.1",
        "--port",        std::to_string(options_.port)};
    if (options_.tls || options_.requireClientCert) {
        const TestCertificates& certs = Certificates();
        const bool own = !options_.serverCert.empty();
        argv.insert(argv.end(),
                    {"--tls", "--certfile", own ? options_.serverCert : certs.serverCert,
                     "--keyfile", own ? options_.serverKey : certs.serverKey});
        if (options_.requireClientCert)
            argv.insert(argv.end(), {"--cafile", certs.caCert});
    }

    const std::string outputFile = workDir_ + "/output.log";
    process_ = ChildProcess(argv, outputFile);
    pid_ = process_.Pid();

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (port_ == 0 && process_.Running() && std::chrono::steady_clock::now() < deadline) {
        std::string output = process_.Output();
        if (size_t at = output.find(kPortMarker);
            at != std::string::npos && output.find('\n', at) != std::string::npos)
            port_ = static_cast<uint16_t>(std::stoi(output.substr(at + strlen(kPortMarker))));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (port_ == 0 || !WaitForGreeting(port_, std::chrono::seconds(10), &process_,
                                       options_.ipv6 ? "::1" : "127.0.0.1")) {
        std::string output = process_.Output();
        Stop();
        std::error_code ignored;
        std::filesystem::remove_all(workDir_, ignored);
        throw std::runtime_error("pyftpdlib did not come up:\n" + output);
    }
}

PyFtpdServer::~PyFtpdServer() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
}

void PyFtpdServer::Stop() {
    process_.Stop();
}

std::vector<std::string> PyFtpdServer::Commands() const {
    std::vector<std::string> commands;
    std::istringstream log(ReadWholeFile(commandLog_));
    for (std::string line; std::getline(log, line);)
        commands.push_back(line);
    return commands;
}

} // namespace testsrv
