#include "ftp/IdTCPConnection.h"

#include "base/StrUtils.h"
#include "ftp/IdExceptions.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace {
using Clock = std::chrono::steady_clock;
}

TIdTCPConnection::TIdTCPConnection() = default;

TIdTCPConnection::~TIdTCPConnection() {
    if (ioHandler_)
        ioHandler_->SetOwner(nullptr);
    ioHandler_ = nullptr;
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
    if (handler == ioHandler_)
        return;
    if (ioHandler_)
        ioHandler_->SetOwner(nullptr);
    ioHandler_ = nullptr;
    if (managedHandler_ && managedHandler_.get() != handler)
        managedHandler_.reset();
    ioHandler_ = handler;
    if (handler) {
        if (handler->Owner() && handler->Owner() != this)
            handler->Owner()->ForgetIOHandler(handler);
        handler->SetOwner(this);
    }
}

void TIdTCPConnection::ForgetIOHandler(TIdIOHandler* handler) {
    if (ioHandler_ == handler)
        ioHandler_ = nullptr;
    if (managedHandler_.get() == handler)
        (void)managedHandler_.release(); // it is being destroyed by whoever called us
}

void TIdTCPConnection::EnsureIOHandler() {
    if (ioHandler_)
        return;
    auto handler = std::make_unique<TIdIOHandlerStack>();
    handler->OnStatus = OnStatus;
    TIdIOHandler* raw = handler.get();
    SetIOHandler(raw);
    managedHandler_ = std::move(handler);
}

void TIdTCPConnection::DropManagedHandler() {
    if (!managedHandler_)
        return;
    if (ioHandler_ == managedHandler_.get()) {
        ioHandler_->SetOwner(nullptr);
        ioHandler_ = nullptr;
    }
    managedHandler_.reset();
}

void TIdTCPConnection::DoStatus(TIdStatus status, const std::string& arg) {
    if (OnStatus)
        OnStatus(this, status, StatusText(status, arg));
}

bool TIdTCPConnection::IsConnected() {
    return ioHandler_ && ioHandler_->Connected();
}

void TIdTCPConnection::Disconnect(bool notifyPeer) {
    std::exception_ptr failure;
    if (notifyPeer && IsConnected()) {
        try {
            NotifyPeerOnDisconnect();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (ioHandler_ && ioHandler_->Opened()) {
        DoStatus(hsDisconnecting);
        ioHandler_->Close();
        if (OnDisconnected)
            OnDisconnected();
        DoStatus(hsDisconnected);
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TIdTCPConnection::WriteCommand(const std::string& line) {
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EIdUnsafeCommand();
    if (!ioHandler_)
        throw EIdNotConnected();
    ioHandler_->WriteLine(line);
}

int16_t TIdTCPConnection::SendCommand(const std::string& line, const TIdReplyCodes& accepted) {
    WriteCommand(line);
    return ReadExpectedReply(accepted);
}

void TIdTCPConnection::ReadReply() {
    if (!ioHandler_)
        throw EIdNotConnected();
    try {
        lastReply_.LoadReplyLines(ReadReplyLines());
    } catch (const EIdReadTimeout&) {
        DropOutOfStepConnection();
        throw;
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        DropOutOfStepConnection();
        throw;
    }
}

void TIdTCPConnection::DropOutOfStepConnection() {
    // The rest of a reply that was cut short (or a reply that comes late) would be taken
    // for the answer to the next command: this connection can never be in step again.
    try {
        Disconnect(false);
    } catch (const std::exception&) {
        // the failure that brought us here is the one to report
    }
}

std::vector<std::string> TIdTCPConnection::ReadReplyLines() {
    // The first line may be preceded by blank lines, but the whole wait for it is bounded
    // by one read time-out: a server that holds the connection open and never answers
    // must fail the command, not hang it.
    const int limit = ioHandler_->ReadTimeout();
    const Clock::time_point start = Clock::now();
    std::vector<std::string> lines;
    for (;;) {
        int wait = -1;
        if (limit > 0) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            wait = static_cast<int>(std::max<long long>(0, limit - elapsed));
        }
        std::string line = tavrin::Trim(ioHandler_->ReadLine("\n", wait));
        if (ioHandler_->ReadLnTimedOut())
            throw EIdReadTimeout();
        if (!line.empty()) {
            lines.push_back(line);
            break;
        }
    }
    // No real reply comes near this; a server that never ends one must not fill memory.
    constexpr size_t kLongestReply = 1024 * 1024;
    size_t replySize = lines.back().size();
    while (!TIdReplyFTP::IsLastReplyLine(lines.back())) {
        lines.push_back(ioHandler_->ReadLine());
        replySize += lines.back().size() + 2;
        if (replySize > kLongestReply)
            throw EIdReadLnMaxLineLengthExceeded();
        if (ioHandler_->ReadLnTimedOut())
            throw EIdReadTimeout();
    }
    return lines;
}

int16_t TIdTCPConnection::ReadExpectedReply(const TIdReplyCodes& accepted) {
    ReadReply();
    const auto code = static_cast<int16_t>(lastReply_.NumericCode());
    CheckReplyCode(code, accepted);
    return code;
}

void TIdTCPConnection::CheckReplyCode(int16_t code, const TIdReplyCodes& accepted) const {
    if (accepted.empty() || (accepted.size() == 1 && accepted[0] == -1))
        return;
    if (std::find(accepted.begin(), accepted.end(), code) != accepted.end())
        return;
    lastReply_.RaiseForReply();
}

// ---- client side ----

void TIdTCPClient::SetReadTimeout(int ms) {
    readTimeout_ = ms;
    if (IOHandler())
        IOHandler()->SetReadTimeout(ms);
}

void TIdTCPClient::SetIOHandler(TIdIOHandler* handler) {
    TIdTCPConnection::SetIOHandler(handler);
    if (handler)
        CopySettingsInto(handler);
}

void TIdTCPClient::CopySettingsInto(TIdIOHandler* handler) const {
    handler->SetReadTimeout(readTimeout_);
    handler->SetConnectTimeout(connectTimeout_);
    if (auto* socket = dynamic_cast<TIdIOHandlerSocket*>(handler)) {
        socket->SetHost(host_);
        socket->SetPort(port_);
        socket->SetBoundIP(boundIP_);
        socket->SetBoundPort(boundPort_);
    }
}

void TIdTCPClient::Connect() {
    if (IsConnected())
        throw EIdAlreadyConnected();
    if (host_.empty())
        throw EIdHostRequired();
    if (port_ == 0)
        throw EIdPortRequired();
    EnsureIOHandler();
    TIdIOHandler* handler = IOHandler();
    try {
        CopySettingsInto(handler);
        handler->Open();
        DoStatus(hsConnected);
    } catch (...) {
        handler->Close();
        DropManagedHandler();
        throw;
    }
}
