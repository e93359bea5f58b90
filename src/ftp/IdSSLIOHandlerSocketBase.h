#pragma once
// The TLS-capable handler as the FTP client sees it: bypass on (clear) or off (TLS), and a
// duplicate for each data connection. The OpenSSL handler implements it.
#include "base/IdException.h"
#include "ftp/IdIOHandler.h"

#include <memory>
#include <string>

// A TLS failure that the user must read as it is (a server certificate we do not trust, a
// client certificate the server refused): the login passes it on instead of hiding it behind
// the general handshake failure.
class EIdTLSPeerError : public EIdException {
public:
    using EIdException::EIdException;
};

class TIdSSLIOHandlerSocketBase : public TIdIOHandlerStack {
public:
    bool Bypass() const { return bypass_; }
    virtual void SetBypass(bool value) { bypass_ = value; }
    virtual void SetUriToCheck(const std::string& uri) { uriToCheck_ = uri; }
    // A fresh handler with the same options and events, for a data connection.
    virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> Duplicate() = 0;
    virtual void BeginTls() = 0;

protected:
    bool bypass_ = false;
    std::string uriToCheck_;
};
