#include "remote/sftp/SshHostKeys.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::sftp {
namespace {

// Sessions on several threads may meet the same new server at once; the look-up and the
// store happen under one lock so only one line is written.
std::mutex& StoreLock() {
    static std::mutex lock;
    return lock;
}

// The fingerprint of the first key `file` holds for the server, "" when none. libssh tells
// that a key changed but not which one was stored, so the file is read again here.
std::string StoredFingerprint(const std::string& file, const std::string& hostName) {
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        ssh_knownhosts_entry* entry = nullptr;
        const int rc = ::ssh_known_hosts_parse_line(hostName.c_str(), line.c_str(), &entry);
        std::string fingerprint;
        if (rc == SSH_OK && entry != nullptr && entry->publickey != nullptr)
            fingerprint = Sha256Fingerprint(entry->publickey);
        ::ssh_knownhosts_entry_free(entry);
        if (!fingerprint.empty())
            return fingerprint;
    }
    return "";
}

// The state of the server's key in one file alone.
ssh_known_hosts_e LookUp(ssh_session session, const std::string& file) {
    ::ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, file.c_str());
    ::ssh_options_set(session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, file.c_str());
    return ::ssh_session_is_known_server(session);
}

bool Readable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void MakeFolders(const std::string& path, const std::string& file) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            throw ESftpError("Unable to write " + file + ": " + std::strerror(errno));
    }
}

} // namespace

bool SameFingerprint(const std::string& given, const std::string& shown) {
    // OpenSSH prints the base64 without its padding; people may copy it with or without
    // the "SHA256:" in front, and with the padding from other tools.
    auto bare = [](std::string text) {
        if (text.rfind("SHA256:", 0) == 0)
            text.erase(0, 7);
        while (!text.empty() && (text.back() == '=' || text.back() == ' '))
            text.pop_back();
        while (!text.empty() && text.front() == ' ')
            text.erase(0, 1);
        return text;
    };
    const std::string a = bare(given);
    return !a.empty() && a == bare(shown);
}

std::string Sha256Fingerprint(ssh_key key) {
    unsigned char* hash = nullptr;
    size_t length = 0;
    if (::ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK)
        return "SHA256:?";
    char* text = ::ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ::ssh_clean_pubkey_hash(&hash);
    std::string result = text ? text : "SHA256:?";
    ::ssh_string_free_char(text);
    return result;
}

void AppendKnownHostsLine(const std::string& path, const std::string& line) {
    MakeFolders(path, path);
    std::string text = ReadFile(path);
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    text += line;
    if (text.back() != '\n')
        text += '\n';
    if (const int error = tavrin::fs::ReplaceFilePrivately(path, text); error != 0)
        throw ESftpError("Unable to write " + path + ": " + std::strerror(error));
}

void VerifyHostKey(ssh_session session, const TSftpSettings& settings, const std::string& where,
                   const TSftpStatus& status) {
    ssh_key serverKey = nullptr;
    if (::ssh_get_server_publickey(session, &serverKey) != SSH_OK || serverKey == nullptr)
        throw ESftpError("The server " + where + " showed no host key");
    const std::string fingerprint = Sha256Fingerprint(serverKey);
    ::ssh_key_free(serverKey);

    if (!settings.PinnedFingerprint.empty()) {
        if (SameFingerprint(settings.PinnedFingerprint, fingerprint)) {
            if (status)
                status("The host key of " + where + " matches the given fingerprint " +
                       fingerprint);
            return;
        }
        throw ESftpHostKeyChanged("The host key of " + where + " is " + fingerprint +
                                  ", not the given " + settings.PinnedFingerprint + ".");
    }

    // known_hosts names a server on another port than 22 as "[host]:port".
    const std::string hostName = settings.Port == 22
                                     ? settings.Host
                                     : "[" + settings.Host + "]:" + std::to_string(settings.Port);
    std::lock_guard<std::mutex> guard(StoreLock());
    for (const std::string& file : {settings.UserKnownHosts, settings.OwnKnownHosts}) {
        if (!Readable(file))
            continue;
        const ssh_known_hosts_e state = LookUp(session, file);
        if (state == SSH_KNOWN_HOSTS_OK)
            return;
        // A key of another type for the same server is treated as a change, as OpenSSH does.
        if (state == SSH_KNOWN_HOSTS_CHANGED || state == SSH_KNOWN_HOSTS_OTHER) {
            const std::string stored = StoredFingerprint(file, hostName);
            throw ESftpHostKeyChanged("The host key of " + where + " has changed: " + file +
                                      " holds " + (stored.empty() ? "another key" : stored) +
                                      ", the server now shows " + fingerprint +
                                      ". If the server's key was really replaced, remove its "
                                      "line from " +
                                      file + " and connect again.");
        }
    }
    if (settings.OwnKnownHosts.empty())
        throw ESftpError("The host key of " + where + " (" + fingerprint +
                         ") is unknown and there is no file to store it in");
    char* line = nullptr;
    if (::ssh_session_export_known_hosts_entry(session, &line) != SSH_OK || line == nullptr)
        throw ESftpError("Unable to record the host key of " + where);
    const std::string entry = line;
    ::ssh_string_free_char(line);
    AppendKnownHostsLine(settings.OwnKnownHosts, entry);
    if (status)
        status("Trusted the host key of " + where + " on first use: " + fingerprint +
               " (stored in " + settings.OwnKnownHosts + ")");
}

} // namespace tavrin::sftp
