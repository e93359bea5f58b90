#include "base/StrUtils.h"
#include "config/CommonTypesUnit.h"
#include "ftp/tls/TlsFilesCheck.h"
#include "remote/RemoteSession.h"
#include "remote/ftp/FtpRemoteSession.h"
#include "remote/sftp/SftpRemoteSession.h"

#include <unistd.h>

namespace tavrin::remote {

namespace {

enum class TProtocol { Ftp, Sftp };

// Case does not matter; an empty value is FTP, as an absent key is. Anything else is a
// setting nobody can connect with, so it fails the start rather than every cycle.
TProtocol ProtocolOf(const RConfiguration& config) {
    const std::string protocol = tavrin::Trim(config.Protocol);
    if (protocol.empty() || SameTextAscii(protocol, "FTP"))
        return TProtocol::Ftp;
    if (SameTextAscii(protocol, "SFTP"))
        return TProtocol::Sftp;
    throw EIdException("Unknown protocol \"" + config.Protocol +
                       "\" in the settings; use FTP or SFTP.");
}

} // namespace

void CheckSessionSettings(const RConfiguration& config) {
    switch (ProtocolOf(config)) {
    case TProtocol::Ftp:
        if (config.SSL)
            tavrin::tls::CheckTlsFiles(config.SSLCertificate, config.SSLKey, config.SSLPass);
        break;
    case TProtocol::Sftp:
        // The TLS files are FTP's: an SFTP job ignores them, whatever SSL says.
        if (!config.SSHKey.empty() && ::access(config.SSHKey.c_str(), R_OK) != 0)
            throw EIdException("The SSH key file \"" + config.SSHKey + "\" cannot be read.");
        break;
    }
}

std::unique_ptr<TRemoteSession> MakeRemoteSession(const RConfiguration& config,
                                                  const TRemoteEvents& events) {
    if (ProtocolOf(config) == TProtocol::Sftp)
        return std::make_unique<TSftpRemoteSession>(config, events);
    return std::make_unique<TFtpRemoteSession>(config, events);
}

} // namespace tavrin::remote
