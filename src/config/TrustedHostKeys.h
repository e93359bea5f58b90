#pragma once
// Our own known_hosts file (OpenSSH format), as the General page lists it: the SSH host keys
// that were trusted on first use. Forgetting one makes the next connection to that server
// trust whatever key it shows, as after a server was set up anew on purpose. The user's own
// ~/.ssh/known_hosts is never changed here.
#include <string>
#include <vector>

namespace tavrin::hostkeys {

struct THostKey {
    std::string Hosts;   // "name", "[name]:port", several with commas, or a hashed "|1|…"
    std::string KeyType; // "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa", …
    std::string Key;     // the public key, base64 as stored
};

// Every key line in file order; comments, blank lines and lines that are no key are skipped,
// and so are "@cert-authority" and "@revoked" lines, which are no trust given on first use.
// A missing file has none.
std::vector<THostKey> Load(const std::string& path);

// Removes every line of that host, type and key, keeping all other lines as they are. The
// file is replaced atomically with mode 0600. False when it had no such line; raises
// std::runtime_error "Unable to write <path>: <reason>" when it cannot be written.
bool Forget(const std::string& path, const THostKey& key);

} // namespace tavrin::hostkeys
