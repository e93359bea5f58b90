#pragma once
// --verbose: the control connection's conversation as it goes over the wire, taken from the
// handler's raw send and receive (after TLS, before anything interprets it), one line each,
// "> " for what we send and "< " for what the server answers. The password never shows.
#include "ftp/IdIOHandler.h"
#include "ftp/tls/IdSSLOpenSSL.h"

#include <cstdio>
#include <string>

namespace tavrin::tool {

class TConversationLog {
public:
    explicit TConversationLog(std::FILE* out) : out_(out) {}
    void Sent(const char* data, size_t size) { Split(sent_, data, size, "> "); }
    void Received(const char* data, size_t size) { Split(received_, data, size, "< "); }
    // "PASS secret" reads "PASS ****"; every other command as it is.
    static std::string Masked(const std::string& command);

private:
    void Split(std::string& pending, const char* data, size_t size, const char* prefix);
    std::FILE* out_;
    std::string sent_, received_;
};

// A handler that shows its traffic to a TConversationLog: Base is the plain or the TLS
// handler. Data connections get handlers of their own, so file contents never show.
template <class Base> class TTappedHandler : public Base {
public:
    explicit TTappedHandler(TConversationLog& log) : log_(log) {}

protected:
    size_t RawReceive(char* buffer, size_t size) override {
        const size_t count = Base::RawReceive(buffer, size);
        log_.Received(buffer, count);
        return count;
    }
    size_t RawSend(const char* buffer, size_t size) override {
        const size_t count = Base::RawSend(buffer, size);
        log_.Sent(buffer, count);
        return count;
    }

private:
    TConversationLog& log_;
};

using TTappedPlainHandler = TTappedHandler<TIdIOHandlerStack>;
using TTappedTlsHandler = TTappedHandler<TIdSSLIOHandlerSocketOpenSSL>;

} // namespace tavrin::tool
