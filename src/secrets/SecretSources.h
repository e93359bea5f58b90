#pragma once
// Where a job's passwords come from when it starts. For each of Password, SSLPass and
// SSHKeyPass the first of these that has it wins:
//   1. a systemd credential "<job name>.password" (".sslpass", ".sshkeypass") in
//      $CREDENTIALS_DIRECTORY;
//   2. for Password, the job's PasswordFile: its first line, read only from a regular file
//      that belongs to the user and that nobody else may read or write;
//   3. the keyring under "<job name>/password" (…), when the job has PasswordStore=keyring;
//   4. what the settings file holds, as always.
// A source that is named but cannot be used refuses the job: nothing runs on a half-known
// login. No text made here ever holds a password.
#include "config/CommonTypesUnit.h"
#include "secrets/Keyring.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrin {

// One secret of a job: the name its credential and keyring entry end in, and its field.
struct TSecretSlot {
    const char* Suffix; // "password", "sslpass", "sshkeypass"
    std::string RServerSettings::*Field;
};
std::span<const TSecretSlot> SecretSlots();

// "<job name>/<suffix>", the key of a secret in the keyring.
std::string KeyringKey(const std::string& jobName, const TSecretSlot& slot);

// The PasswordStore value that keeps a job's secrets in the keyring (read case-insensitively).
inline constexpr const char* kPasswordStoreKeyring = "keyring";
bool KeepsSecretsInKeyring(const RServerSettings& settings);

struct TSecretSources {
    // The folder systemd hands the service its credentials in; empty when there is none.
    std::string CredentialsDirectory;
    // nullptr where no keyring can be reached at all (the service).
    TKeyring* Keyring = nullptr;
};
// $CREDENTIALS_DIRECTORY and the given keyring.
TSecretSources SecretSourcesFromEnvironment(TKeyring* keyring);

struct TSecretResolution {
    // Why the job must not start; empty when it may.
    std::vector<std::string> Problems;
    // Lines for the log (a keyring that did not answer while the file still had the value).
    std::vector<std::string> Notes;
};

// Fills config's secrets from the sources above, in place.
TSecretResolution ResolveSecrets(const std::string& jobName, RServerSettings& config,
                                 const TSecretSources& sources);

// The first line of a file, trailing CR/LF removed, when the file is a regular file of the
// user's that only the user may read or write; otherwise nullopt and `problem` names the file
// and says why.
std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& problem);

} // namespace tavrin
