#include "ftp/IdExplicitTLSClient.h"

#include "base/StrUtils.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdSSLIOHandlerSocketBase.h"

void TIdExplicitTLSClient::SetUseTLS(TIdUseTLS value) {
    if (IsConnected())
        throw EIdTLSClientCanNotSetWhileConnected();
    if (value != utNoTLSSupport && !TlsHandler())
        throw EIdTLSClientSSLIOHandlerRequred();
    useTLS_ = value;
}

TIdSSLIOHandlerSocketBase* TIdExplicitTLSClient::TlsHandler() const {
    return dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler());
}

bool TIdExplicitTLSClient::HasFeature(const std::string& feature) const {
    const std::string wanted = tavrin::UpperCase(feature);
    for (const std::string& line : capabilities_) {
        const std::string trimmed = tavrin::TrimLeft(line);
        if (tavrin::UpperCase(trimmed.substr(0, trimmed.find(' '))) == wanted)
            return true;
    }
    return false;
}
