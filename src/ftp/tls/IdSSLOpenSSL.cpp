#include "ftp/tls/IdSSLOpenSSL.h"

#include "ftp/IdAntiFreezeBase.h"
#include "ftp/tls/IdSSLContext.h"
#include "ftp/tls/IdSSLLibrary.h"
#include "ftp/tls/IdSSLSocket.h"
#include "platform/KnownServers.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>

namespace {

// A handshake is never waited for without end, even on a handler without a read limit.
constexpr int kHandshakeLimitMs = 60000;
// How long a TLS 1.3 client that offered its certificate waits for the server's verdict.
constexpr int kServerVerdictLimitMs = 2000;

std::string NameText(X509_NAME* name) {
    if (name == nullptr)
        return std::string();
    char text[512] = {};
    X509_NAME_oneline(name, text, sizeof text);
    return text;
}

} // namespace

std::string TIdX509::Subject() const {
    return certificate_ != nullptr ? NameText(X509_get_subject_name(certificate_)) : "";
}

std::string TIdX509::Issuer() const {
    return certificate_ != nullptr ? NameText(X509_get_issuer_name(certificate_)) : "";
}

void TIdSSLIOHandlerSocketOpenSSL::SessionFree::operator()(ssl_session_st* session) const {
    SSL_SESSION_free(session);
}

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL() = default;

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() {
    FreeSession();
    context_.reset();
    TIdIOHandlerStack::Close();
}

void TIdSSLIOHandlerSocketOpenSSL::InitContext() {
    context_.reset();
    if (!tavrin::tls::LoadOpenSSL())
        throw EIdOSSLCouldNotLoadSSLLibrary();
    auto context = std::make_unique<TIdSSLContext>(*this, options_, OnStatusInfo != nullptr,
                                                   OnVerifyPeer != nullptr);
    try {
        context->Init(serverSide_);
    } catch (...) {
        // A half-made context is not kept: the next connect must load the certificate and
        // key again instead of going on without them.
        ERR_clear_error();
        throw;
    }
    context_ = std::move(context);
}

void TIdSSLIOHandlerSocketOpenSSL::BeginTls() {
    if (!context_) {
        try {
            InitContext();
        } catch (const EIdOSSLCouldNotLoadSSLLibrary&) {
            if (!bypass_)
                throw;
            // Explicit TLS: the greeting may still go in the clear; switching to TLS later
            // reports the missing library.
        }
    }
    if (!bypass_)
        OpenTlsSession();
}

void TIdSSLIOHandlerSocketOpenSSL::SetBypass(bool value) {
    if (value == bypass_)
        return;
    if (!value && SocketHandle() >= 0) {
        if (!context_)
            throw EIdOSSLCouldNotLoadSSLLibrary();
        OpenTlsSession();
    }
    // Switching to true leaves an existing session up; its bytes then pass unchanged.
    bypass_ = value;
}

void TIdSSLIOHandlerSocketOpenSSL::OpenTlsSession() {
    if (!context_)
        throw EIdOSSLCouldNotLoadSSLLibrary();
    if (!session_) {
        session_ = std::make_unique<TIdSSLSocket>(*this, *context_);
        if (!serverSide_)
            tavrin::tls::PrepareServerCheck(session_->Handle(), TrustedHostName());
    }
    const int limit = ReadTimeout() > 0 ? ReadTimeout() : kHandshakeLimitMs;
    // On the window's thread the handshake waits here, in the sliced waits that keep the
    // window painting, never inside the library.
    const bool sliced = TIdAntiFreezeBase::InForce();
    session_->SetWaitOutside(sliced);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    for (;;) {
        if (serverSide_)
            session_->Accept(SocketHandle(), limit);
        else
            session_->Connect(SocketHandle(), resumeFrom_.get(), limit);
        if (!sliced || session_->HandshakeDone())
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const bool ready =
            left > 0 &&
            (session_->WaitingForWrite() ? WaitWritable(static_cast<int>(left))
                                         : TIdIOHandlerStack::WaitReadable(static_cast<int>(left)));
        if (!ready) {
            session_->MarkFailed();
            if (serverSide_)
                throw EIdOSSLAcceptError();
            throw EIdOSSLConnectError();
        }
    }
    session_->SetWaitOutside(false);
    bypass_ = false;
    const TIdSSLCipher cipher = session_->Cipher();
    ReportStatus("Cipher: name = " + cipher.Name + "; " + "description = " + cipher.Description +
                 "; " + "bits = " + std::to_string(cipher.Bits) + "; " +
                 "version = " + cipher.Version + "; ");
    if (serverSide_)
        return;
    // Both before the first command: the login must reach neither a server that refused our
    // certificate nor one we do not trust.
    session_->AwaitServerVerdict(limit < kServerVerdictLimitMs ? limit : kServerVerdictLimitMs);
    acceptedFingerprint_.clear();
    if (trust_.Check)
        acceptedFingerprint_ = tavrin::tls::CheckServerCertificate(
            session_->Handle(), trust_, tavrin::known::ServerKey(TrustedHostName(), Port()),
            [this](const std::string& text) { ReportStatus(text); });
}

std::string TIdSSLIOHandlerSocketOpenSSL::TrustedHostName() const {
    std::string name = trust_.HostName.empty() ? Host() : trust_.HostName;
    // "[::1]" names the address ::1, which is what the certificate lists.
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    return name;
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdSSLIOHandlerSocketOpenSSL::Duplicate() {
    auto copy = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
    copy->options_ = options_;
    copy->OnStatusInfo = OnStatusInfo;
    copy->OnGetPassword = OnGetPassword;
    copy->OnVerifyPeer = OnVerifyPeer;
    // A data connection goes to the same server under another port: it must show the very
    // certificate the control connection accepted.
    copy->trust_ = trust_;
    copy->trust_.HostName = TrustedHostName();
    if (!acceptedFingerprint_.empty()) {
        copy->trust_.Fingerprint = acceptedFingerprint_;
        copy->trust_.PinnedBy = "control connection's";
    } else {
        copy->trust_.KnownServersFile.clear();
    }
    // Servers that insist on session reuse (vsftpd by default) refuse a data connection
    // that does not resume the control connection's session. The session is taken as it
    // stands now: with TLS 1.3 the resumable ticket arrives after the handshake, and the
    // replies read since then have taken it in.
    if (session_ && session_->HandshakeDone())
        copy->resumeFrom_.reset(session_->ResumableSession());
    else if (resumeFrom_ && SSL_SESSION_up_ref(resumeFrom_.get()) == 1)
        copy->resumeFrom_.reset(resumeFrom_.get());
    return copy;
}

void TIdSSLIOHandlerSocketOpenSSL::FreeSession() {
    if (session_) {
        session_->Shutdown();
        session_.reset();
    }
}

void TIdSSLIOHandlerSocketOpenSSL::Close() {
    FreeSession();
    if (!serverSide_)
        context_.reset(); // a later connect makes a new one
    TIdIOHandlerStack::Close();
}

void TIdSSLIOHandlerSocketOpenSSL::CloseSource() {
    FreeSession();
    TIdIOHandlerStack::CloseSource();
}

bool TIdSSLIOHandlerSocketOpenSSL::WaitReadable(int ms) {
    if (bypass_ || !session_ || !session_->HandshakeDone())
        return TIdIOHandlerStack::WaitReadable(ms);
    if (session_->Pending())
        return true;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (;;) {
        int left = ms;
        if (ms > 0) {
            const auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            left = ms - static_cast<int>(spent.count());
            if (left < 0)
                left = 0;
        }
        if (!TIdIOHandlerStack::WaitReadable(left))
            return false;
        if (session_->ProbeReadable())
            return true;
        if (ms >= 0 && left == 0)
            return false; // only the library's own messages came in, and time is up
    }
}

void TIdSSLIOHandlerSocketOpenSSL::NotifyBeforeConnect() {
    if (OnBeforeConnect)
        OnBeforeConnect();
}

void TIdSSLIOHandlerSocketOpenSSL::ReportStatus(const std::string& text) {
    if (OnStatusInfo)
        OnStatusInfo(text);
}

void TIdSSLIOHandlerSocketOpenSSL::QueryPassword(std::string& password) {
    if (OnGetPassword)
        OnGetPassword(password);
}

bool TIdSSLIOHandlerSocketOpenSSL::VerifyPeer(TIdX509& certificate, bool ok) {
    return OnVerifyPeer ? OnVerifyPeer(certificate, ok) : true;
}

TIdSSLCipher TIdSSLIOHandlerSocketOpenSSL::Cipher() const {
    return session_ ? session_->Cipher() : TIdSSLCipher();
}

bool TIdSSLIOHandlerSocketOpenSSL::SessionReused() const {
    return session_ && session_->SessionReused();
}

size_t TIdSSLIOHandlerSocketOpenSSL::RawReceive(char* buffer, size_t size) {
    if (bypass_ || !session_)
        return TIdIOHandlerStack::RawReceive(buffer, size);
    return ReceiveEncrypted(buffer, size);
}

size_t TIdSSLIOHandlerSocketOpenSSL::RawSend(const char* buffer, size_t size) {
    if (bypass_ || !session_)
        return TIdIOHandlerStack::RawSend(buffer, size);
    return SendEncrypted(buffer, size);
}

bool TIdSSLIOHandlerSocketOpenSSL::HasBufferedTransportData() const {
    return !bypass_ && session_ && session_->Pending();
}

void TIdSSLIOHandlerSocketOpenSSL::AfterTcpConnect() {
    NotifyBeforeConnect();
    BeginTls();
}

void TIdSSLIOHandlerSocketOpenSSL::EndTransportSession(int limitMs) {
    if (!bypass_ && session_)
        session_->SendCloseAlert(limitMs > 0 ? limitMs : kHandshakeLimitMs);
}

size_t TIdSSLIOHandlerSocketOpenSSL::ReceiveEncrypted(char* buffer, size_t size) {
    return session_->Receive(buffer, size, ReadTimeout());
}

size_t TIdSSLIOHandlerSocketOpenSSL::SendEncrypted(const char* buffer, size_t size) {
    return session_->Send(buffer, size, ReadTimeout());
}
