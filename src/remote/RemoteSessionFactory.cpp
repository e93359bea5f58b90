#include "config/CommonTypesUnit.h"
#include "ftp/tls/TlsFilesCheck.h"
#include "remote/RemoteSession.h"
#include "remote/ftp/FtpRemoteSession.h"

namespace tavrin::remote {

void CheckSessionSettings(const RConfiguration& config) {
    if (config.SSL)
        tavrin::tls::CheckTlsFiles(config.SSLCertificate, config.SSLKey, config.SSLPass);
}

std::unique_ptr<TRemoteSession> MakeRemoteSession(const RConfiguration& config,
                                                  const TRemoteEvents& events) {
    return std::make_unique<TFtpRemoteSession>(config, events);
}

} // namespace tavrin::remote
