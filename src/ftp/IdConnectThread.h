#pragma once
// A TCP connect with a time limit: the connect runs on its own short-lived thread while the
// caller waits in short slices and keeps the window responsive.
#include "platform/SocketApi.h"

namespace tavrin::ftp {

// Connects `socket` to `peer` within `limitMs`. Raises EIdConnectTimeout when the limit
// passes (the caller then closes the socket), EIdSocketError with the connect's error code.
void ConnectWithLimit(int socket, const net::SocketAddress& peer, int limitMs);

} // namespace tavrin::ftp
