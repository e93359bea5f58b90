#pragma once
// Process-wide OpenSSL state: the one-time initialisation and the locks that keep callbacks
// of one kind from overlapping.
#include <mutex>

namespace tavrin::tls {

// Initialises the library once per process (later calls only report the outcome). False
// when it could not be initialised; the next call then tries again.
bool LoadOpenSSL();

// Held while the password, status and verification callbacks run. Recursive, so a callback
// whose handler makes a nested report does not deadlock on its own thread.
std::recursive_mutex& PasswordLock();
std::recursive_mutex& StatusLock();
std::recursive_mutex& VerifyLock();

} // namespace tavrin::tls
