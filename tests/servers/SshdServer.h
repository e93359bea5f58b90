#pragma once
// OpenSSH's sshd for SFTP tests, on 127.0.0.1 on a free port, with its own configuration,
// host key and authorized_keys in a temporary folder, stopped by its own process id. It runs
// as root (sshd needs it) and logs the test account of tests/servers/prepare in, whose SFTP
// session starts in `root`. The constructor waits (bounded) for the SSH banner and throws
// std::runtime_error with sshd's output when it does not come.

#include "servers/ChildProcess.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsrv {

struct SshdOptions {
    std::string root{};                        // handed to the test account, like vsftpd's
    std::vector<std::string> authorizedKeys{}; // public key lines ("ssh-ed25519 AAAA…")
    bool password = true;
    bool keyboardInteractive = false; // answered through PAM
    bool publicKey = true;
    std::string hostKeyType = "ed25519"; // ssh-keygen -t
    std::string hostKeyFile{};           // an existing private host key; empty: a new one
    // The SFTP subsystem's command line, run as the test account; empty: sshd's own
    // internal-sftp starting in `root`.
    std::string subsystem{};
    std::string extraConfig{}; // sshd_config lines added at the end ("Ciphers …\n")
};

class SshdServer {
public:
    explicit SshdServer(SshdOptions options);
    ~SshdServer();
    SshdServer(const SshdServer&) = delete;
    SshdServer& operator=(const SshdServer&) = delete;

    // Why SFTP tests cannot run here ("" when they can): not root, no sshd, no account.
    static std::string Unavailable();

    uint16_t Port() const { return port_; }
    int Pid() const { return pid_; }
    std::string User() const;
    std::string Password() const;
    const std::string& HostKeyFile() const { return hostKey_; }
    // The host key's public line, as known_hosts stores it after the host name.
    std::string HostPublicKey() const;
    std::string Output() const { return process_.Output(); }
    // Sends `signal` to every session process (not the listener): SIGSTOP makes a server
    // that stops answering mid-transfer, SIGCONT lets it go on, SIGKILL drops the sessions.
    void SignalSessions(int signal);
    void Stop();

private:
    std::string workDir_;
    std::string hostKey_;
    ChildProcess process_;
    uint16_t port_ = 0;
    int pid_ = -1;
};

// Makes a key pair with ssh-keygen: `path` (private) and `path`.pub. Throws on failure.
void MakeSshKey(const std::string& path, const std::string& type,
                const std::string& passphrase = "", bool pemFormat = false);

// Waits (bounded) until something on 127.0.0.1:port sends an "SSH-" banner.
bool WaitForSshBanner(uint16_t port, std::chrono::milliseconds limit, ChildProcess* process);

} // namespace testsrv
