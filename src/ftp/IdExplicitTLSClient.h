#pragma once
// A client that can switch its control connection to TLS after connecting: the TLS policy
// and the server's feature list live here.
#include "ftp/IdTCPConnection.h"

#include <string>
#include <vector>

enum TIdUseTLS { utNoTLSSupport, utUseImplicitTLS, utUseRequireTLS, utUseExplicitTLS };

class TIdSSLIOHandlerSocketBase;

class TIdExplicitTLSClient : public TIdTCPClient {
public:
    TIdUseTLS UseTLS() const { return useTLS_; }
    virtual void SetUseTLS(TIdUseTLS value);
    // The server's features (FEAT reply lines without the first and last line).
    const std::vector<std::string>& Capabilities() const { return capabilities_; }
    // True when some line's first word, upper-cased, equals `feature`.
    bool HasFeature(const std::string& feature) const;
    bool TLSActive() const { return tlsActive_; }

protected:
    // The attached handler as a TLS-capable one, or nullptr.
    TIdSSLIOHandlerSocketBase* TlsHandler() const;

    TIdUseTLS useTLS_ = utNoTLSSupport;
    bool tlsActive_ = false;
    std::vector<std::string> capabilities_;
};
