#include "remote/ftp/FtpClientSetup.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "ftp/IdFTP.h"
#include "ftp/tls/IdSSLOpenSSL.h"

namespace tavrin::remote {

std::string HostWithoutBrackets(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL>
SetUpFtpClient(TIdFTP& client, const RConfiguration& config, const TFtpClientEvents& events) {
    client.OnStatus = events.OnStatus;
    client.SetHost(HostWithoutBrackets(config.Host));
    const int port = StrToInt(config.Port);
    client.SetTransferType(config.BinaryMode ? ftBinary : ftASCII);
    client.SetUseMLIS(config.UseMLSD);
    client.SetPassive(config.PassiveMode);
    client.SetForcePasv(config.ForcePASV);
    client.SetUsePasvAddress(config.UsePasvAddress);
    client.SetUsername(config.Username);
    client.SetPassword(config.Password);
    std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> tls;
    if (config.SSL) {
        tls = events.MakeTlsHandler ? events.MakeTlsHandler()
                                    : std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
        TIdSSLOptions& options = tls->SSLOptions();
        options.CertFile = config.SSLCertificate;
        options.KeyFile = config.SSLKey;
        options.Method = sslvSSLv23;
        options.Mode = sslmUnassigned;
        if (events.OnKeyPassword)
            tls->OnGetPassword = events.OnKeyPassword;
        else
            tls->OnGetPassword = [pass = config.SSLPass](std::string& password) {
                password = pass;
            };
        tls->OnStatusInfo = events.OnTlsInfo;
        tls->ServerTrust().Check = true;
        tls->ServerTrust().KnownServersFile = KnownServersFilePath();
        client.SetIOHandler(tls.get());
        client.SetUseTLS(config.ImplicitTLS ? utUseImplicitTLS : utUseExplicitTLS);
        if (!config.ImplicitTLS)
            client.SetAUTHCmd(tAuthSSL);
        client.SetDataPortProtection(ftpdpsPrivate);
    }
    // After the TLS choice, which would move a port of 21 to 990: the configured port holds.
    client.SetPort(port);
    return tls;
}

} // namespace tavrin::remote
