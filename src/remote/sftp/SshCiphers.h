#pragma once
// Which ciphers a connection offers, fastest first for this processor.
#include <string>

namespace tavrin::sftp {

// OpenSSH's default cipher set, comma-separated, in the order to offer it. Where the
// processor encrypts AES and computes GCM's hash in hardware, AES-GCM costs a fraction of
// ChaCha20-Poly1305 on both ends of the connection, so it goes first; elsewhere ChaCha20
// (fast and constant-time in software) does. Nothing outside that set is ever offered.
std::string PreferredCiphers();
std::string PreferredCiphers(bool aesInHardware);

// Whether this processor has the AES and carry-less multiplication instructions.
bool AesInHardware();

} // namespace tavrin::sftp
