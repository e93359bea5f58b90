// TIdFTP: settings with their checks, the connect and login sequence, single-reply commands.
#include "ftp/IdFTP.h"

#include "base/StrUtils.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdSSLIOHandlerSocketBase.h"
#include "ftp/IdSimpleServer.h"
#include "ftp/listing/IdFTPList.h"

#include <typeinfo>

using namespace tavrin;

TIdFTP::TIdFTP() : entries_(std::make_unique<TIdFTPListItems>()) {
    SetPort(21);
    SetReadTimeout(60000);
}

TIdFTP::~TIdFTP() {
    dataConnection_.reset();
    dataHandler_.reset();
    if (IOHandler())
        IOHandler()->Close();
}

// ---- settings ----

void TIdFTP::SetPassive(bool value) {
    if (!value && tryNATFastTrack_)
        throw EIdFTPPassiveMustBeTrueWithNATFT();
    passive_ = value;
}

void TIdFTP::SetTransferType(TIdFTPTransferType value) {
    if (value == transferType_ || dataConnection_)
        return;
    transferType_ = value;
    if (IsConnected())
        SendTransferType();
}

void TIdFTP::SetUseTLS(TIdUseTLS value) {
    const TIdUseTLS old = useTLS_;
    TIdExplicitTLSClient::SetUseTLS(value);
    if (value == utUseImplicitTLS && old != utUseImplicitTLS && Port() == 21)
        SetPort(990);
    else if (old == utUseImplicitTLS && value != utUseImplicitTLS && Port() == 990)
        SetPort(21);
    if (value == utNoTLSSupport) {
        dataPortProtection_ = ftpdpsClear;
        useCCC_ = false;
        authCmd_ = tAuto;
    }
}

void TIdFTP::SetAUTHCmd(TAuthCmd value) {
    if (value == authCmd_)
        return;
    if (useTLS_ == utNoTLSSupport)
        throw EIdFTPNoAUTHWOSSL();
    if (tlsActive_)
        throw EIdFTPCanNotSetAUTHCon();
    authCmd_ = value;
}

void TIdFTP::SetDataPortProtection(TIdFTPDataPortSecurity value) {
    if (value == dataPortProtection_)
        return;
    if (useTLS_ == utNoTLSSupport)
        throw EIdFTPNoDataPortProtectionWOEncryption();
    if (cccInEffect_)
        throw EIdFTPNoDataPortProtectionAfterCCC();
    dataPortProtection_ = value;
}

void TIdFTP::SetUseCCC(bool value) {
    if (value && useTLS_ == utNoTLSSupport)
        throw EIdFTPNoCCCWOEncryption();
    useCCC_ = value;
}

void TIdFTP::SetDataPortRange(int min, int max) {
    dataPortMin_ = min;
    dataPortMax_ = max;
}

void TIdFTP::SetIOHandler(TIdIOHandler* handler) {
    TIdExplicitTLSClient::SetIOHandler(handler);
    if (handler && !dynamic_cast<TIdSSLIOHandlerSocketBase*>(handler) &&
        useTLS_ != utNoTLSSupport) {
        useTLS_ = utNoTLSSupport;
        dataPortProtection_ = ftpdpsClear;
        useCCC_ = false;
        authCmd_ = tAuto;
    }
    if (handler && !dynamic_cast<TIdIOHandlerSocket*>(handler))
        throw EIdFTPWrongIOHandler();
}

// ---- connect and login ----

void TIdFTP::Connect() {
    if (IsConnected())
        throw EIdAlreadyConnected();
    tlsActive_ = false;
    cccInEffect_ = false;
    capabilities_.clear();
    systemDescription_.clear();
    mlsdUsable_ = false;
    epsvRefused_ = false;
    if (useTLS_ == utUseImplicitTLS)
        tlsActive_ = true;
    try {
        TIdSSLIOHandlerSocketBase* tls = TlsHandler();
        if (useTLS_ == utUseRequireTLS || useTLS_ == utUseExplicitTLS) {
            if (!tls)
                throw EIdException("Invalid class typecast");
            tls->SetBypass(true);
        } else if (useTLS_ == utUseImplicitTLS) {
            if (!tls)
                throw EIdException("Invalid class typecast");
            tls->SetBypass(false);
        } else if (tls) {
            tls->SetBypass(true);
        }
        TIdTCPClient::Connect();
        ReadExpectedReply({220});
        welcomeReply_ = lastReply_;
        if (autoLogin_) {
            Login();
            if (useTLS_ == utUseImplicitTLS)
                tlsActive_ = true;
        }
        SendCommand("SYST");
        if (lastReply_.NumericCode() == 500)
            systemDescription_ = "Unknown";
        else
            systemDescription_ = lastReply_.Text().empty() ? std::string() : lastReply_.Text()[0];
        DoStatus(ftpReady, "Connection established");
    } catch (...) {
        try {
            Disconnect(true);
        } catch (const std::exception&) {
            // the first failure is the one the caller needs to see
        }
        throw;
    }
}

void TIdFTP::Login() {
    tlsActive_ = false;
    if (useTLS_ == utUseRequireTLS || useTLS_ == utUseExplicitTLS)
        NegotiateTls();
    if (!tlsActive_ && useTLS_ == utUseRequireTLS) {
        Disconnect(true);
        throw EIdTLSClientTLSNotAvailable();
    }
    int code = SendCommand("USER " + username_, {230, 232, 331});
    if (code == 331) {
        code = SendCommand("PASS " + password_, {230, 332});
        const bool needAccount =
            code == 332 ||
            (lastReply_.JoinedText().find("ACCOUNT") != std::string::npos && !account_.empty());
        if (needAccount) {
            if (account_.empty())
                lastReply_.RaiseForReply();
            SendCommand("ACCT " + account_, {202, 230, 500});
        }
    }
    loginReply_ = lastReply_;
    ReadFeatures();
    mlsdUsable_ = useMLIS_ && (HasFeature("MLSD") || HasFeature("MLST"));
    if (HasFeature("UTF8"))
        SendUtf8Option();
    SendTransferType();
}

void TIdFTP::SendUtf8Option() {
    // Some servers send names in a legacy code page until asked; names stay bytes here
    // either way, so a refusal costs nothing but a note.
    const int code = SendCommand("OPTS UTF8 ON");
    if (code < 200 || code > 299)
        DoStatus(hsStatusText, "The server refused OPTS UTF8 ON: " + lastReply_.FormattedReply());
}

void TIdFTP::NegotiateTls() {
    auto isTlsGo = [](int code) { return code == 234 || code == 334; };
    auto handshake = [this] {
        try {
            TlsHandler()->SetBypass(false);
        } catch (const EIdTLSPeerError&) {
            try {
                Disconnect(false);
            } catch (const std::exception&) {
            }
            throw; // its own words say what to do about it
        } catch (const std::exception&) {
            // Half a handshake leaves nothing sensible to say on this connection.
            try {
                Disconnect(false);
            } catch (const std::exception&) {
            }
            throw EIdTLSClientTLSHandShakeFailed();
        }
        tlsActive_ = true;
    };
    if (authCmd_ != tAuto) {
        static const char* const kArgument[] = {"", "TLS", "SSL", "TLS-C", "TLS-P"};
        int code = SendCommand(std::string("AUTH ") + kArgument[authCmd_]);
        // Servers that follow RFC 4217 strictly refuse the older "AUTH SSL" with 5xx but
        // accept "AUTH TLS"; asking once more keeps TLS working with them.
        if (authCmd_ == tAuthSSL && code >= 500 && code <= 599)
            code = SendCommand("AUTH TLS");
        if (isTlsGo(code))
            handshake();
        else
            AuthRefused();
        return;
    }
    for (const char* argument : {"TLS", "SSL", "TLS-C", "TLS-P"}) {
        const int code = SendCommand(std::string("AUTH ") + argument);
        if (isTlsGo(code)) {
            handshake();
            return;
        }
        if (code < 500 || code > 999)
            AuthRefused();
    }
}

void TIdFTP::AuthRefused() {
    try {
        Disconnect(true);
    } catch (const std::exception&) {
    }
    if (useTLS_ == utUseRequireTLS)
        throw EIdTLSClientTLSNotAvailable("SSL is not available on this server.");
    throw EIdTLSClientTLSNotAvailable();
}

void TIdFTP::ReadFeatures() {
    SendCommand("FEAT");
    featAnswered_ = lastReply_.NumericCode() == 211;
    std::vector<std::string> lines = lastReply_.Text();
    if (!lines.empty())
        lines.erase(lines.begin());
    if (!lines.empty())
        lines.pop_back();
    capabilities_ = std::move(lines);
}

void TIdFTP::SendTransferType() {
    SendCommand(transferType_ == ftASCII ? "TYPE A" : "TYPE I", {200});
}

// ---- single-reply commands ----

void TIdFTP::ChangeDirectory(const std::string& path) {
    SendCommand("CWD " + path, {200, 250});
}

std::string TIdFTP::QueryCurrentDirectory() {
    SendCommand("PWD", {257});
    const std::string first = lastReply_.Text().empty() ? std::string() : lastReply_.Text()[0];
    const size_t open = first.find('"');
    if (open == std::string::npos)
        return std::string();
    const size_t close = first.find('"', open + 1);
    if (close == std::string::npos)
        return std::string();
    return first.substr(open + 1, close - open - 1);
}

int16_t TIdFTP::SendNoop() {
    return SendCommand("NOOP", {200});
}

void TIdFTP::NotifyPeerOnDisconnect() {
    TIdIOHandler* handler = IOHandler();
    if (!handler || !handler->Connected())
        return;
    WriteCommand("QUIT");
    // A polite server answers at once; one that does not is not waited for.
    if (handler->InputBufferSize() > 0 ||
        (handler->Connected() && handler->FillInputBuffer(false, 10, false) > 0))
        ReadReply();
}

void TIdFTP::DeleteRemoteFile(const std::string& name) {
    SendCommand("DELE " + name, {250});
}

void TIdFTP::RenameRemoteFile(const std::string& fromName, const std::string& toName) {
    SendCommand("RNFR " + fromName, {350});
    SendCommand("RNTO " + toName, {250});
}

bool TIdFTP::OffersRestStream() const {
    if (!featAnswered_)
        return false;
    for (const std::string& line : capabilities_)
        if (UpperCase(Trim(line)) == "REST STREAM")
            return true;
    return false;
}

bool TIdFTP::CanResume() {
    if (featAnswered_)
        return OffersRestStream();
    if (resumeProbe_ < 0) {
        resumeProbe_ = SendCommand("REST 1") == 350 ? 1 : 0;
        SendCommand("REST 0");
    }
    return resumeProbe_ == 1;
}
