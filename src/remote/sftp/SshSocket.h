#pragma once
// The TCP connection under an SSH session, made by us rather than by libssh so that it
// joins the calling thread's socket group: a monitor's stop then cuts a blocked SFTP call
// the same way it cuts an FTP one.
#include <chrono>
#include <string>

namespace tavrin::sftp {

// A connected socket to host:port (each address of the host in turn), or raises ESftpError
// naming `where`. The socket belongs to the current socket group, if any; close it with
// tavrin::net::CloseSocket.
int ConnectSshSocket(const std::string& host, int port, std::chrono::milliseconds limit,
                     const std::string& where);

} // namespace tavrin::sftp
