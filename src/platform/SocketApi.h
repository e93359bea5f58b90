#pragma once
// Thin wrappers over the POSIX socket calls. Every failure raises EIdSocketError (see
// SocketError.h); nothing here knows about FTP. Addresses are IPv4 or IPv6 text; the family
// of a socket follows the address it is made for.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::net {

struct SocketAddress {
    std::string ip; // dotted IPv4 or IPv6 text (no brackets)
    uint16_t port = 0;
};

constexpr int kInvalidSocket = -1;

bool IsIPv4Literal(const std::string& host);
// "::1", and "[::1]" as URLs write it.
bool IsIPv6Literal(const std::string& host);
// Every address of `host` (IPv4 and IPv6, in the order the system prefers, each once); a
// literal address is its own answer. Raises "Host not found." when there is none.
std::vector<std::string> ResolveHost(const std::string& host);
// The first IPv4 address of `host`; raises "Host not found." when it has none.
std::string ResolveIPv4(const std::string& host);

// An IPv4 socket, or an IPv6 one when `ipv6` is set.
int CreateTcpSocket(bool ipv6 = false);
// A socket of the family `ip` belongs to ("" counts as IPv4).
int CreateTcpSocketFor(const std::string& ip);
void CloseSocket(int fd); // never raises; ignores kInvalidSocket
// Reads and drops what has already arrived, without waiting; never raises.
void DiscardPendingInput(int fd);
// Like DiscardPendingInput, but reads all that has arrived; true once the peer's close (or
// a failure) was seen, so nothing more can come.
bool DiscardInputUntilEnd(int fd);
// Half-closes: our FIN follows every byte already queued, and reading goes on. Never raises.
void ShutdownSend(int fd);
// "" or "0.0.0.0": any IPv4 address; "::": any IPv6 address.
void BindSocket(int fd, const std::string& ip, uint16_t port);
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
