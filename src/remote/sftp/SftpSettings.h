#pragma once
// What an SFTP session needs to reach and log in to a server.
#include <string>

namespace tavrin::sftp {

struct TSftpSettings {
    std::string Host;
    int Port = 22;
    std::string Username;
    std::string Password;      // also answers keyboard-interactive prompts
    std::string KeyFile;       // private key: OpenSSH or PEM; ed25519, ECDSA or RSA
    std::string KeyPassphrase; // for an encrypted key file
    bool UseAgent = false;     // try the running ssh-agent's keys first
    std::string AgentSocket;   // empty: $SSH_AUTH_SOCK
    // Host keys: the user's OpenSSH file is only read; our own file is read and gets the
    // keys trusted on first use. Empty: not used.
    std::string UserKnownHosts;
    std::string OwnKnownHosts;
    // "SHA256:…" as OpenSSH prints it: only the host key with this fingerprint is accepted,
    // and the files above are neither read nor written.
    std::string PinnedFingerprint;
    // Bounds the connect, and once connected every wait for an answer from the server.
    int ConnectTimeoutSeconds = 30;
};

// ~/.ssh/known_hosts, from $HOME.
std::string DefaultUserKnownHosts();
// $XDG_STATE_HOME/tavrin/known_hosts (default ~/.local/state/tavrin/known_hosts).
std::string DefaultOwnKnownHosts();

} // namespace tavrin::sftp
