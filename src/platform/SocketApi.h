#pragma once
// Thin wrappers over the POSIX socket calls. Every failure raises EIdSocketError (see
// SocketError.h); nothing here knows about FTP. IPv4 only, as the FTP client's PASV/PORT are.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tavrin::net {

struct SocketAddress {
    std::string ip; // dotted IPv4 text
    uint16_t port = 0;
};

constexpr int kInvalidSocket = -1;

bool IsIPv4Literal(const std::string& host);
// The first IPv4 address of `host`; raises "Host not found." when it has none.
std::string ResolveIPv4(const std::string& host);

int CreateTcpSocket();
void CloseSocket(int fd); // never raises; ignores kInvalidSocket
// Reads and drops what has already arrived, without waiting; never raises.
void DiscardPendingInput(int fd);
// Like DiscardPendingInput, but reads all that has arrived; true once the peer's close (or
// a failure) was seen, so nothing more can come.
bool DiscardInputUntilEnd(int fd);
// Half-closes: our FIN follows every byte already queued, and reading goes on. Never raises.
void ShutdownSend(int fd);
void BindSocket(int fd, const std::string& ip, uint16_t port); // "" or "0.0.0.0": any
void ListenSocket(int fd, int backlog);
// Blocking accept; the new socket, or raises.
int AcceptSocket(int fd);
// Connects, polling in short slices so that setting `stop` ends the attempt early
// (returns false then). Raises on a refused or failed connect.
bool ConnectSocket(int fd, const SocketAddress& peer, const std::atomic<bool>& stop);
// Connects with the system's own time-out.
void ConnectSocketBlocking(int fd, const SocketAddress& peer);

// Waits until `fd` is readable (or a pending connection can be accepted). timeoutMs < 0
// waits without limit. Raises on poll errors; a hung-up peer counts as readable.
bool WaitReadable(int fd, int timeoutMs);

// Waits until `fd` can take more bytes to send; timeoutMs < 0 waits without limit. Raises
// on poll errors; a hung-up or failed socket counts as writable (the send reports it).
bool WaitWritable(int fd, int timeoutMs);

// One send call (MSG_NOSIGNAL, so a closed peer is an error, not a signal); >= 0 bytes.
size_t SendSome(int fd, const char* data, size_t size);
// Like SendSome, but never blocks: 0 when the socket's send buffer is full.
size_t SendWithoutWaiting(int fd, const char* data, size_t size);
// One receive call; 0 means the peer closed.
size_t ReceiveSome(int fd, char* buffer, size_t size);

SocketAddress LocalAddress(int fd);
SocketAddress PeerAddress(int fd);
void SetNoDelay(int fd, bool noDelay);

} // namespace tavrin::net
