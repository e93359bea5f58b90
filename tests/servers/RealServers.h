#pragma once
// Real FTP servers for tests, started on 127.0.0.1 on a free port and stopped by their own
// process id: pyftpdlib (plain or explicit TLS) and vsftpd. Constructors wait (bounded) until
// the server answers and throw std::runtime_error with the server's output when it does not.

#include "servers/ChildProcess.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsrv {

struct TestCertificates {
    std::string dir, caCert, serverCert, serverKey, clientCert, clientKey /*PEM, encrypted*/,
        clientKeyPassword, untrustedClientCert, untrustedClientKey, otherServerCert,
        otherServerKey /*self-signed, also for 127.0.0.1*/, stateHome;
};
// A CA, a server certificate for 127.0.0.1, a client certificate from the CA with an
// AES-256 encrypted key, and a self-signed client certificate no one trusts. Made once per
// process in a temporary folder that goes away when the process ends. The first call also
// points XDG_STATE_HOME at `stateHome` in that folder, so the fingerprints the client trusts
// on first use belong to this process's certificates and never reach the user's own file.
const TestCertificates& Certificates();

struct PyFtpdOptions {
    std::string root;
    bool tls = false;
    bool requireClientCert = false;
    std::string serverCert{}, serverKey{}; // empty: Certificates().serverCert/serverKey
    enum class Auth {
        SslAndTls,
        TlsOnly /*refuses AUTH SSL*/,
        NoAuth /*refuses both*/
    } auth = Auth::SslAndTls;
    std::string user = "tavrin", password = "secret";
    bool ipv6 = false; // listen on ::1 instead of 127.0.0.1
    uint16_t port = 0; // 0: a free one; else this one (a server restarted where it was)
};

class PyFtpdServer {
public:
    explicit PyFtpdServer(PyFtpdOptions options);
    ~PyFtpdServer();
    PyFtpdServer(const PyFtpdServer&) = delete;
    PyFtpdServer& operator=(const PyFtpdServer&) = delete;

    uint16_t Port() const { return port_; }
    int Pid() const { return pid_; }
    // Commands the server received, in order (from its log).
    std::vector<std::string> Commands() const;
    void Stop();

private:
    PyFtpdOptions options_;
    std::string workDir_;
    std::string commandLog_;
    ChildProcess process_;
    uint16_t port_ = 0;
    int pid_ = -1;
};

struct VsftpdOptions {
    std::string root;
    bool tls = false;
    bool requireSslReuse = true;
    bool ipv6 = false;        // listen_ipv6 on ::1 instead of 127.0.0.1
    bool implicitTls = false; // TLS from the first byte (with tls)
};

class VsftpdServer {
public:
    explicit VsftpdServer(VsftpdOptions options);
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    uint16_t Port() const { return port_; }
    int Pid() const { return pid_; }
    // "127.0.0.1" or "::1".
    std::string Address() const { return ipv6_ ? "::1" : "127.0.0.1"; }
    // The local account tests/servers/prepare made for it.
    std::string User() const;
    std::string Password() const;
    void Stop();

private:
    std::string workDir_;
    ChildProcess process_;
    uint16_t port_ = 0;
    int pid_ = -1;
    bool ipv6_ = false;
};

// Waits (bounded) until something on host:port greets with "220". With `tls`, the greeting
// comes inside TLS (implicit TLS), so an accepted connection is all that is awaited.
bool WaitForGreeting(uint16_t port, std::chrono::milliseconds limit, ChildProcess* process,
                     const std::string& host = "127.0.0.1", bool tls = false);

} // namespace testsrv
