#pragma once
// A real server of each kind the export tests run against, serving one folder as its login
// folder, and the settings that reach it; pyftpdlib also with explicit TLS.
#include "config/CommonTypesUnit.h"
#include "servers/RealServers.h"
#include "servers/SshdServer.h"

#include <optional>
#include <string>
#include <vector>

namespace exporttest {

enum class ServerKind { Pyftpd, Vsftpd, Sshd };

inline const char* NameOf(ServerKind kind) {
    switch (kind) {
    case ServerKind::Pyftpd:
        return "pyftpdlib";
    case ServerKind::Vsftpd:
        return "vsftpd";
    case ServerKind::Sshd:
        return "sshd";
    }
    return "?";
}

class TestServer {
public:
    // Why a server of this kind cannot run here; empty when it can.
    static std::string Unavailable(ServerKind kind) {
        return kind == ServerKind::Sshd ? testsrv::SshdServer::Unavailable() : std::string();
    }

    TestServer(ServerKind kind, const std::string& root, bool tls = false)
        : kind_(kind), tls_(tls) {
        switch (kind) {
        case ServerKind::Pyftpd:
            pyftpdOptions_.root = root;
            pyftpdOptions_.tls = tls;
            pyftpd_.emplace(pyftpdOptions_);
            port_ = pyftpd_->Port(), user_ = pyftpdOptions_.user;
            password_ = pyftpdOptions_.password;
            break;
        case ServerKind::Vsftpd: {
            testsrv::VsftpdOptions options;
            options.root = root;
            vsftpd_.emplace(options);
            port_ = vsftpd_->Port(), user_ = vsftpd_->User(), password_ = vsftpd_->Password();
            break;
        }
        case ServerKind::Sshd:
            sshd_.emplace(testsrv::SshdOptions{.root = root});
            port_ = sshd_->Port(), user_ = sshd_->User(), password_ = sshd_->Password();
            break;
        }
    }

    RConfiguration Config() const {
        RConfiguration config;
        config.Protocol = kind_ == ServerKind::Sshd ? "SFTP" : "FTP";
        config.Host = "127.0.0.1";
        config.Port = std::to_string(port_);
        config.Username = user_;
        config.Password = password_;
        config.PassiveMode = true;
        config.BinaryMode = true;
        if (tls_) {
            config.SSL = true;
            config.SSLCertificate = testsrv::Certificates().clientCert;
            config.SSLKey = testsrv::Certificates().clientKey;
            config.SSLPass = testsrv::Certificates().clientKeyPassword;
        }
        return config;
    }
    // The commands the server received, where it tells (pyftpdlib does).
    std::optional<std::vector<std::string>> Commands() const {
        if (!pyftpd_)
            return std::nullopt;
        return pyftpd_->Commands();
    }
    // Logins the server saw, where it tells.
    std::optional<size_t> Logins() const {
        const auto commands = Commands();
        if (!commands)
            return std::nullopt;
        size_t count = 0;
        for (const std::string& line : *commands)
            count += line.rfind("USER ", 0) == 0;
        return count;
    }
    // pyftpdlib goes down, with every session it has, and comes back on the same port.
    void Restart() {
        pyftpd_.reset();
        pyftpdOptions_.port = port_;
        pyftpd_.emplace(pyftpdOptions_);
    }

private:
    ServerKind kind_;
    bool tls_;
    testsrv::PyFtpdOptions pyftpdOptions_;
    std::optional<testsrv::PyFtpdServer> pyftpd_;
    std::optional<testsrv::VsftpdServer> vsftpd_;
    std::optional<testsrv::SshdServer> sshd_;
    uint16_t port_ = 0;
    std::string user_, password_;
};

} // namespace exporttest
