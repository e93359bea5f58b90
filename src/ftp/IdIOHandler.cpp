#include "ftp/IdIOHandler.h"

#include "base/StrUtils.h"
#include "ftp/IdAntiFreezeBase.h"
#include "ftp/IdExceptions.h"
#include "ftp/IdStream.h"
#include "ftp/IdTCPConnection.h"

#include <chrono>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}
} // namespace

TIdIOHandler::~TIdIOHandler() {
    if (owner_)
        owner_->ForgetIOHandler(this);
}

void TIdIOHandler::DoStatus(TIdStatus status, const std::string& arg) {
    if (OnStatus)
        OnStatus(this, status, StatusText(status, arg));
}

void TIdIOHandler::Close() {
    if (SourceAllocated())
        CloseSource();
    opened_ = false;
    // Bytes of the old connection are nobody's business once it is closed; kept, they
    // would make a closed connection look alive and refuse the next Connect.
    input_.clear();
}

bool TIdIOHandler::Connected() {
    if (SourceAllocated() && opened_ && !closedGracefully_) {
        try {
            FillInputBuffer(false, 0, false);
        } catch (const EIdSocketError&) {
            // A reset connection is as gone as a closed one.
            CloseSource();
        } catch (const EIdException&) {
        }
    }
    // Only a live socket counts: unread bytes of a connection the peer has ended (a
    // goodbye after the last reply) must not keep a monitor from reconnecting.
    return SourceAllocated() && opened_ && !closedGracefully_;
}

void TIdIOHandler::ProbeDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) {
    if (closedGracefully_ && SourceAllocated()) {
        CloseSource();
        DoStatus(hsDisconnected);
    }
    const bool gone = closedGracefully_ || !SourceAllocated();
    if (gone && raiseIfDisconnected && (ignoreBuffer || input_.empty()))
        throw EIdConnClosedGracefully();
}

long TIdIOHandler::FillInputBuffer(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout) {
    if (timeout == -1) {
        timeout = readTimeout_;
        if (timeout == 0)
            timeout = -1;
    }
    ProbeDisconnect(raiseIfDisconnected, false);
    if (!SourceAllocated()) {
        if (raiseIfDisconnected)
            throw EIdException("Not Connected");
        return 0;
    }
    size_t count = 0;
    do {
        if (!WaitReadable(timeout)) {
            if (raiseOnTimeout)
                throw EIdReadTimeout();
            return -1;
        }
        const size_t old = input_.size();
        input_.resize(old + recvBufferSize_);
        try {
            count = RawReceive(&input_[old], recvBufferSize_);
        } catch (...) {
            input_.resize(old);
            throw;
        }
        input_.resize(old + count);
        if (count == 0)
            closedGracefully_ = true;
        ProbeDisconnect(raiseIfDisconnected, false);
    } while (count == 0 && SourceAllocated());
    return static_cast<long>(count);
}

std::string TIdIOHandler::ReadLine(const std::string& terminator, int timeout, int maxLength) {
    readLnSplit_ = false;
    readLnTimedOut_ = false;
    const Clock::time_point start = Clock::now();
    const std::string term = terminator.empty() ? std::string("\n") : terminator;
    const size_t maxLen = static_cast<size_t>(maxLength < 0 ? maxLineLength_ : maxLength);
    const bool lfTerminated = term == "\n";
    size_t searchFrom = 0;
    for (;;) {
        const size_t pos = input_.find(term, searchFrom);
        // The limit counts the line itself: a CR before the LF belongs to the terminator.
        size_t lineLength = pos;
        if (pos != std::string::npos && lfTerminated && pos > 0 && input_[pos - 1] == '\r')
            --lineLength;
        const bool tooLong =
            pos != std::string::npos
                ? lineLength > maxLen
                : input_.size() > maxLen &&
                      !(lfTerminated && input_.size() == maxLen + 1 && input_.back() == '\r');
        if (tooLong) {
            if (maxLineAction_ == maException)
                throw EIdReadLnMaxLineLengthExceeded();
            readLnSplit_ = true;
            std::string line = input_.substr(0, maxLen);
            input_.erase(0, maxLen);
            return line;
        }
        if (pos != std::string::npos) {
            std::string line = input_.substr(0, lineLength);
            input_.erase(0, pos + term.size());
            return line;
        }
        searchFrom = input_.size() >= term.size() ? input_.size() - term.size() + 1 : 0;
        // A peer that closed in the middle of a line takes that line with it; keeping it
        // would make the connection look alive for ever.
        if (closedGracefully_ || !SourceAllocated())
            input_.clear();
        ProbeDisconnect(true, true);
        int wait = timeout;
        if (timeout >= 0)
            wait = static_cast<int>(std::max(0L, timeout - ElapsedMs(start)));
        bool timedOut = FillInputBuffer(true, wait, false) == -1;
        if (timeout >= 0 && ElapsedMs(start) >= timeout)
            timedOut = timedOut || input_.find(term, searchFrom) == std::string::npos;
        if (timedOut) {
            readLnTimedOut_ = true;
            return std::string();
        }
    }
}

std::string TIdIOHandler::ReadNonEmptyLine(int maxAttempts) {
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        std::string line = tavrin::Trim(ReadLine());
        if (!line.empty())
            return line;
    }
    return std::string();
}

void TIdIOHandler::Write(const char* data, size_t size) {
    while (size > 0) {
        if (!SourceAllocated())
            throw EIdConnClosedGracefully();
        const size_t sent = RawSend(data, size);
        TIdAntiFreezeBase::KeepResponsive(false, false);
        if (sent == 0)
            closedGracefully_ = true;
        ProbeDisconnect(true, false);
        data += sent;
        size -= sent;
    }
}

void TIdIOHandler::Write(const std::string& bytes) {
    Write(bytes.data(), bytes.size());
}

void TIdIOHandler::WriteLine(const std::string& text) {
    Write(text + "\r\n");
}

void TIdIOHandler::WriteStream(TIdStream& source) {
    std::vector<char> chunk(sendBufferSize_);
    for (;;) {
        const size_t count = source.Read(chunk.data(), chunk.size());
        if (count == 0)
            return;
        Write(chunk.data(), count);
        if (OnStreamBytes)
            OnStreamBytes(count);
    }
}

void TIdIOHandler::ReadStreamUntilClose(TIdStream& target) {
    if (!input_.empty()) {
        target.Write(input_.data(), input_.size());
        if (OnStreamBytes)
            OnStreamBytes(input_.size());
        input_.clear();
    }
    int timeout = readTimeout_ == 0 ? -1 : readTimeout_;
    std::vector<char> chunk(recvBufferSize_);
    while (!closedGracefully_) {
        if (!SourceAllocated())
            throw EIdException("Not Connected");
        if (!WaitReadable(timeout))
            throw EIdReadTimeout();
        const size_t count = RawReceive(chunk.data(), chunk.size());
        if (count == 0) {
            closedGracefully_ = true;
            break;
        }
        target.Write(chunk.data(), count);
        if (OnStreamBytes)
            OnStreamBytes(count);
    }
}

std::string TIdIOHandler::TakeInput(size_t max) {
    std::string taken = input_.substr(0, max);
    input_.erase(0, taken.size());
    return taken;
}
