#pragma once
// The transport under a connection: the input buffer, line reading and writing, time-outs
// (TIdIOHandler); a TCP socket under it (TIdIOHandlerSocket); and the plain TCP handler
// (TIdIOHandlerStack), whose raw receive/send hooks the TLS handler overrides.
#include "ftp/IdStatus.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TIdStream;
class TIdTCPConnection;

enum TIdMaxLineAction { maException, maSplit };
enum TIdIPVersion { Id_IPv4, Id_IPv6 };

// The size of one chunk a stream transfer has just moved.
using TIdStreamBytesEvent = std::function<void(size_t bytes)>;

class TIdIOHandler {
public:
    TIdIOHandler() = default;
    virtual ~TIdIOHandler();
    TIdIOHandler(const TIdIOHandler&) = delete;
    TIdIOHandler& operator=(const TIdIOHandler&) = delete;

    int ReadTimeout() const { return readTimeout_; } // ms; -1 or 0: no limit
    void SetReadTimeout(int ms) { readTimeout_ = ms; }
    int ConnectTimeout() const { return connectTimeout_; } // ms; 0: see Open()
    void SetConnectTimeout(int ms) { connectTimeout_ = ms; }
    int MaxLineLength() const { return maxLineLength_; } // terminator not counted
    void SetMaxLineLength(int length) { maxLineLength_ = length; }
    TIdMaxLineAction MaxLineAction() const { return maxLineAction_; }
    void SetMaxLineAction(TIdMaxLineAction action) { maxLineAction_ = action; }
    size_t RecvBufferSize() const { return recvBufferSize_; }
    void SetRecvBufferSize(size_t size) { recvBufferSize_ = size ? size : 1; }
    size_t SendBufferSize() const { return sendBufferSize_; }
    void SetSendBufferSize(size_t size) { sendBufferSize_ = size ? size : 1; }

    TIdStatusEvent OnStatus;
    // Told after every chunk WriteStream and ReadStreamUntilClose move.
    TIdStreamBytesEvent OnStreamBytes;

    virtual void Open() = 0;
    // Closes the socket and drops whatever was received and not read.
    virtual void Close();
    // Closes a connection we sent data over without losing any of it; never raises.
    virtual void CloseAfterSending(int limitMs) { Close(); }
    bool Opened() const { return opened_; }
    // Pulls in what is waiting (no wait, no exception), then: open, and not closed by the
    // peer. Bytes still buffered from a peer that has closed can be read but do not count.
    virtual bool Connected();
    bool ClosedGracefully() const { return closedGracefully_; }
    bool ReadLnSplit() const { return readLnSplit_; }
    bool ReadLnTimedOut() const { return readLnTimedOut_; }

    // Line and byte writing: every byte goes out or an exception says why.
    void WriteLine(const std::string& text);
    void Write(const std::string& bytes);
    void Write(const char* data, size_t size);
    // From the stream's current position to its end, in SendBufferSize chunks.
    void WriteStream(TIdStream& source);

    // timeout -1: ReadTimeout; maxLength -1: MaxLineLength. Empty result + ReadLnTimedOut()
    // when the time ran out.
    std::string ReadLine(const std::string& terminator = "\n", int timeout = -1,
                         int maxLength = -1);
    // Reads until the trimmed line is not empty, at most maxAttempts reads.
    std::string ReadNonEmptyLine(int maxAttempts);
    // Receives into `target` until the peer closes. Each wait is bounded by ReadTimeout
    // (EIdReadTimeout when nothing arrives in time).
    void ReadStreamUntilClose(TIdStream& target);

    // One wait-and-receive step; -1 when the wait timed out and raiseOnTimeout is false.
    long FillInputBuffer(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout);
    void ProbeDisconnect(bool raiseIfDisconnected, bool ignoreBuffer);
    // True when data can be read within `ms` (-1: no limit).
    virtual bool WaitReadable(int ms) = 0;

    size_t InputBufferSize() const { return input_.size(); }
    // Removes and returns up to `max` buffered bytes.
    std::string TakeInput(size_t max);

    // The connection this handler serves (set when attached); told when we go away.
    TIdTCPConnection* Owner() const { return owner_; }
    void SetOwner(TIdTCPConnection* owner) { owner_ = owner; }

protected:
    virtual size_t RawReceive(char* buffer, size_t size) = 0;
    virtual size_t RawSend(const char* buffer, size_t size) = 0;
    virtual bool SourceAllocated() const = 0;
    virtual void CloseSource() = 0;
    void DoStatus(TIdStatus status, const std::string& arg = std::string());

    std::string input_;
    bool opened_ = false;
    bool closedGracefully_ = false;
    bool readLnSplit_ = false;
    bool readLnTimedOut_ = false;

private:
    int readTimeout_ = -1;
    int connectTimeout_ = 0;
    int maxLineLength_ = 16384;
    TIdMaxLineAction maxLineAction_ = maException;
    size_t recvBufferSize_ = 32768;
    size_t sendBufferSize_ = 32768;
    TIdTCPConnection* owner_ = nullptr;
};

// A handler over one TCP socket.
class TIdIOHandlerSocket : public TIdIOHandler {
public:
    ~TIdIOHandlerSocket() override;
    const std::string& Host() const { return host_; }
    void SetHost(const std::string& host) { host_ = host; }
    int Port() const { return port_; }
    void SetPort(int port) { port_ = port; }
    const std::string& BoundIP() const { return boundIP_; }
    void SetBoundIP(const std::string& ip) { boundIP_ = ip; }
    int BoundPort() const { return boundPort_; }
    void SetBoundPort(int port) { boundPort_ = port; }
    TIdIPVersion IPVersion() const { return ipVersion_; }
    void SetIPVersion(TIdIPVersion version) { ipVersion_ = version; }
    bool UseNagle() const { return useNagle_; }
    void SetUseNagle(bool value) { useNagle_ = value; }

    int SocketHandle() const { return socket_; }
    // Allocates, binds and connects (the limited connect runs on a connect thread).
    void Open() override;
    void Close() override;
    // Our FIN after the last byte, then the peer's close awaited (at most limitMs) before
    // the socket goes: closing while the peer still sends (a TLS session ticket that comes
    // late) makes the system answer with a reset, and the peer loses whatever of the upload
    // was still in flight.
    void CloseAfterSending(int limitMs) override;
    bool WaitReadable(int ms) override;
    // True when the socket can take more bytes within `ms` (-1: no limit).
    bool WaitWritable(int ms);
    // Takes over an accepted socket (active data connections); runs AfterTcpConnect.
    void AdoptSocket(int socket);

protected:
    size_t RawReceive(char* buffer, size_t size) override;
    size_t RawSend(const char* buffer, size_t size) override;
    bool SourceAllocated() const override { return socket_ >= 0; }
    void CloseSource() override;
    // TLS: decrypted bytes waiting, so the socket need not be readable.
    virtual bool HasBufferedTransportData() const { return false; }
    // Right after the TCP connect or an adopted accept.
    virtual void AfterTcpConnect() {}
    // Before the half-close of CloseAfterSending: TLS sends its closing alert here.
    virtual void EndTransportSession(int limitMs) {}

    int socket_ = -1;

private:
    // Tries each address in turn, all within `limitMs` (<= 0: the system's own time-out);
    // the first that answers is kept and sets IPVersion. Raises the last failure.
    void ConnectToFirstReachable(const std::vector<std::string>& addresses, int limitMs);

private:
    std::string host_;
    int port_ = 0;
    std::string boundIP_;
    int boundPort_ = 0;
    TIdIPVersion ipVersion_ = Id_IPv4;
    bool useNagle_ = true;
};

// The plain TCP handler, made by a connection when none is given. The TLS handler derives
// from it and overrides only the four hooks below.
class TIdIOHandlerStack : public TIdIOHandlerSocket {
protected:
    size_t RawReceive(char* buffer, size_t size) override;
    size_t RawSend(const char* buffer, size_t size) override;
    bool HasBufferedTransportData() const override { return false; }
    void AfterTcpConnect() override {}
};
