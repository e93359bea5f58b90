#pragma once
// Builds the FTP client of a direction from its settings: the import poller, the export
// upload and the command-line tool all reach a server the same way.
#include "config/CommonTypesUnit.h"
#include "ftp/IdStatus.h"

#include <functional>
#include <memory>
#include <string>

class TIdFTP;
class TIdSSLIOHandlerSocketOpenSSL;

namespace tavrin::remote {

struct TFtpClientEvents {
    TIdStatusEvent OnStatus;                           // the client's status lines
    std::function<void(const std::string&)> OnTlsInfo; // TLS facts (cipher, certificate)
    // The client key's password; without it the configured SSLPass is used.
    std::function<void(std::string&)> OnKeyPassword;
    // Makes the TLS handler when SSL is on, e.g. one that also shows its traffic; without
    // it, a plain TIdSSLIOHandlerSocketOpenSSL. Set up from the settings either way.
    std::function<std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL>()> MakeTlsHandler;
};

// Sets `client` up from `config` and, when SSL is on, makes its TLS handler and attaches it;
// the caller keeps the handler alive for as long as the client. Host may be an IPv6 address
// in brackets ("[::1]"). Raises EConvertError for a Port that is no number.
std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL>
SetUpFtpClient(TIdFTP& client, const RConfiguration& config, const TFtpClientEvents& events);

// The host without the brackets an IPv6 address may be written in.
std::string HostWithoutBrackets(const std::string& host);

} // namespace tavrin::remote
