#pragma once
// The known-servers file: one "host:port fingerprint" line per server whose certificate was
// trusted on first use. Other lines (comments) are kept as they are. Writes replace the file
// atomically (temporary file, fsync, rename) with mode 0600; the folder is made when missing.
#include <string>
#include <vector>

namespace tavrin::known {

struct Entry {
    std::string Server;      // "host:port", host in lower case, IPv6 in brackets
    std::string Fingerprint; // as stored
};

// "host:port" as the file keys it.
std::string ServerKey(const std::string& host, int port);

// Every entry, in file order; a missing file has none.
std::vector<Entry> Load(const std::string& path);
// The stored fingerprint of `server`, or "" when there is none.
std::string Find(const std::string& path, const std::string& server);
// Stores `fingerprint` for `server` unless the server has one. Returns the one stored
// before ("" when this call stored it). Look-up and store are one step, so two monitors
// meeting a new server at once cannot both store. Raises std::runtime_error when the file
// cannot be written.
std::string RememberIfNew(const std::string& path, const std::string& server,
                          const std::string& fingerprint);
// Removes the server's line; false when it had none. Raises when the file cannot be written.
bool Forget(const std::string& path, const std::string& server);

} // namespace tavrin::known
