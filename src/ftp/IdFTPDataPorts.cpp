// TIdFTP data ports: EPSV first with PASV as the fallback on IPv4, EPSV alone on IPv6,
// PORT or EPRT in active mode.
#include "base/IdException.h"
#include "base/StrUtils.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdFTP.h"
#include "ftp/IdSimpleServer.h"

#include <exception>

using namespace tavrin;

void TIdFTP::SendPasv(std::string& host, int& port) {
    SendCommand("PASV", {227});
    const auto& text = lastReply_.Text();
    ftp::ParsePasvReply(text.empty() ? std::string() : text[0], host, port);
    // Our data goes only to the server we are talking to: a server behind NAT names an
    // address we cannot reach, a hostile one could aim our upload at any host and port.
    // A load-balanced server whose data ports live elsewhere must be asked for by setting.
    const std::string peer = ControlPeerIP();
    if (host == peer)
        return;
    if (usePasvAddress_) {
        DoStatus(hsStatusText, "Using the address the server named for the data connection: " +
                                   host + " port " + std::to_string(port));
        return;
    }
    DoStatus(hsStatusText, "Server named " + host + " for the data connection; using " + peer +
                               " port " + std::to_string(port) + " instead");
    host = peer;
}

bool TIdFTP::ControlIsIPv6() const {
    return ControlPeerIP().find(':') != std::string::npos;
}

void TIdFTP::FallBackToPasv(const std::string& why) {
    epsvRefused_ = true;
    DoStatus(hsStatusText, why + "; using PASV for the rest of this session");
}

bool TIdFTP::OpenEpsvDataConnection() {
    // PASV cannot name an IPv6 address, so there EPSV is the only way.
    const bool noFallback = ControlIsIPv6() || epsvOnly_;
    if (!noFallback && (forcePasv_ || epsvRefused_))
        return false;
    const int code = SendCommand("EPSV");
    if (code != 229) {
        if (noFallback || code < 500 || code > 599)
            lastReply_.RaiseForReply();
        FallBackToPasv("EPSV refused");
        return false;
    }
    int port = 0;
    try {
        const auto& text = lastReply_.Text();
        port = ftp::ParseEpsvReply(text.empty() ? std::string() : text[0]);
    } catch (const EConvertError&) {
        if (noFallback)
            throw;
        FallBackToPasv("EPSV reply not understood");
        return false;
    }
    // The extended reply names no address: the data connection goes to the control peer.
    TIdTCPClient& connection = NewPassiveDataClient(ControlPeerIP(), port);
    try {
        connection.Connect();
    } catch (const std::exception& failure) {
        dataConnection_.reset();
        dataHandler_.reset();
        if (noFallback)
            throw;
        // A firewall that only knows PASV may drop the extended data port silently.
        FallBackToPasv("No data connection to EPSV port " + std::to_string(port) + " (" +
                       TrimRight(failure.what()) + ")");
        return false;
    }
    return true;
}

void TIdFTP::OpenPasvDataConnection() {
    std::string host;
    int port = 0;
    SendPasv(host, port);
    TIdTCPClient& connection = NewPassiveDataClient(host, port);
    try {
        connection.Connect();
    } catch (...) {
        // The command was never sent, so no final reply will come: fail at once.
        dataConnection_.reset();
        dataHandler_.reset();
        throw;
    }
}

void TIdFTP::SendPort(TIdSimpleServer& listener) {
    const std::string ip = externalIP_.empty() ? listener.ListenIP() : externalIP_;
    // PORT carries IPv4 only; an IPv6 listener is announced with EPRT.
    if (ip.find(':') != std::string::npos)
        SendCommand("EPRT " + ftp::EprtArgument(ip, listener.ListenPort()), {200});
    else
        SendCommand("PORT " + ftp::PortArgument(ip, listener.ListenPort()), {200});
}

// PASV, the upload command, then the data connection; the connect's failure is returned,
// not raised: the server's answer to the command is read first.
std::exception_ptr TIdFTP::StartPasvUpload(const std::string& command) {
    std::string host;
    int port = 0;
    SendPasv(host, port);
    transferCommandSent_ = true;
    preliminaryPending_ = true;
    WriteCommand(command);
    TIdTCPClient& connection = NewPassiveDataClient(host, port);
    try {
        connection.Connect();
    } catch (const std::exception&) {
        // The command is on its way; the server's answer to it (typically 425) is read by
        // the finishing step and says more than our connect error.
        dataSideFailed_ = true;
        return std::current_exception();
    }
    ReadExpectedReply({110, 125, 150});
    preliminaryPending_ = false;
    return nullptr;
}
