#include "remote/sftp/SftpSession.h"

#include "remote/sftp/SftpHandles.h"
#include "remote/sftp/SshAuthentication.h"
#include "remote/sftp/SshCiphers.h"
#include "remote/sftp/SshHostKeys.h"
#include "remote/sftp/SshSocket.h"

#include "platform/SocketApi.h"

#include <libssh/server.h> // ssh_send_keepalive() serves clients too

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::sftp {

namespace {

std::string FromEnv(const char* name, const std::string& fallbackUnderHome) {
    const char* value = std::getenv(name);
    if (value && *value == '/')
        return value;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/" + fallbackUnderHome;
}

// Frees a libssh attribute block when it goes out of scope.
struct Attributes {
    sftp_attributes a;
    ~Attributes() {
        if (a)
            ::sftp_attributes_free(a);
    }
};

TSftpEntryKind KindOf(const sftp_attributes a) {
    switch (a->type) {
    case SSH_FILEXFER_TYPE_REGULAR:
        return TSftpEntryKind::File;
    case SSH_FILEXFER_TYPE_DIRECTORY:
        return TSftpEntryKind::Folder;
    case SSH_FILEXFER_TYPE_SYMLINK:
        return TSftpEntryKind::Link;
    default:
        return TSftpEntryKind::Other;
    }
}

// libssh learns that the server closed the connection only when it next reads. A look at
// the socket without waiting tells it before a command is sent into a dead connection;
// pending data (a keep-alive's answer) is left where it is.
bool PeerGone(int fd) {
    if (fd < 0)
        return true;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 0) <= 0)
        return false;
    if (entry.revents & (POLLERR | POLLHUP | POLLNVAL))
        return true;
    char byte = 0;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// Whether both descriptors are open on one and the same socket.
bool SameSocket(int a, int b) {
    struct stat first {
    }, second{};
    return a >= 0 && b >= 0 && ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace

std::string DefaultUserKnownHosts() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.ssh/known_hosts" : std::string();
}

std::string DefaultOwnKnownHosts() {
    return FromEnv("XDG_STATE_HOME", ".local/state") + "/tavrin/known_hosts";
}

std::string SftpReason(ssh_session ssh, sftp_session sftp) {
    if (ssh == nullptr || !::ssh_is_connected(ssh))
        return "the connection was lost";
    switch (sftp ? ::sftp_get_error(sftp) : SSH_FX_FAILURE) {
    case SSH_FX_EOF:
        return "unexpected end of file";
    case SSH_FX_NO_SUCH_FILE:
    case SSH_FX_NO_SUCH_PATH:
        return "no such file or folder";
    case SSH_FX_PERMISSION_DENIED:
        return "permission denied";
    case SSH_FX_FILE_ALREADY_EXISTS:
        return "the target already exists";
    case SSH_FX_WRITE_PROTECT:
        return "the file system is read-only";
    case SSH_FX_NO_MEDIA:
        return "no media";
    case SSH_FX_OP_UNSUPPORTED:
        return "the server does not support this operation";
    case SSH_FX_OK:
    case SSH_FX_FAILURE:
    default: {
        // OpenSSH answers a full disk or a removed folder with a plain failure; libssh's
        // own text sometimes says more.
        const std::string text = ::ssh_get_error(ssh);
        return text.empty() ? "the server reported a failure" : text;
    }
    }
}

TSftpSession::TSftpSession() : handles_(std::make_unique<Handles>()) {}

TSftpSession::~TSftpSession() {
    Close();
}

void TSftpSession::SetStatusCallback(TSftpStatus status) {
    status_ = std::move(status);
}

std::string TSftpSession::Where() const {
    const bool ipv6 = settings_.Host.find(':') != std::string::npos;
    return (ipv6 ? "[" + settings_.Host + "]" : settings_.Host) + ":" +
           std::to_string(settings_.Port);
}

void TSftpSession::Fail(const std::string& what, const std::string& path) const {
    const bool fired = watchdog_.Fired();
    const std::string reason = fired ? "the server did not answer within " + TimeoutText(Limit())
                                     : SftpReason(handles_->ssh, handles_->sftp);
    const std::string text = "SFTP " + what + " " + path + " on " + Where() + " failed: " + reason;
    // A status the server sent for this very request (Watch() cleared the last one) means it
    // still follows the conversation; anything else leaves the connection in doubt.
    const int status = handles_->sftp ? ::sftp_get_error(handles_->sftp) : SSH_FX_OK;
    if (!fired && status != SSH_FX_OK && handles_->ssh && ::ssh_is_connected(handles_->ssh))
        throw ESftpRefused(status, text);
    broken_ = true;
    throw ESftpError(text);
}

void TSftpSession::Refuse(const std::string& what, const std::string& path,
                          const std::string& reason) const {
    throw ESftpRefused(SSH_FX_FAILURE,
                       "SFTP " + what + " " + path + " on " + Where() + " failed: " + reason);
}

std::string TSftpSession::TimeoutText(std::chrono::milliseconds limit) {
    if (limit.count() % 1000 == 0)
        return std::to_string(limit.count() / 1000) + " s";
    return std::to_string(limit.count()) + " ms";
}

std::chrono::milliseconds TSftpSession::Limit() const {
    if (replyTimeout_.count() > 0)
        return replyTimeout_;
    return std::chrono::seconds(
        settings_.ConnectTimeoutSeconds > 0 ? settings_.ConnectTimeoutSeconds : 30);
}

void TSftpSession::SetReplyTimeout(std::chrono::milliseconds limit) {
    replyTimeout_ = limit;
}

TSftpWatch TSftpSession::Watch() {
    if (handles_->sftp)
        handles_->sftp->errnum = SSH_FX_OK; // a status seen later is this operation's own
    return TSftpWatch(watchdog_, handles_->ssh ? ::ssh_get_fd(handles_->ssh) : -1, Limit());
}

void TSftpSession::RequireConnected() const {
    if (handles_->sftp == nullptr)
        throw ESftpError("Not connected to " + Where());
}

bool TSftpSession::Connected() const {
    return handles_->sftp != nullptr && !broken_ && ::ssh_is_connected(handles_->ssh) &&
           !PeerGone(handles_->socket);
}

void TSftpSession::SetConnectedCallback(std::function<void()> connected) {
    connected_ = std::move(connected);
}

std::string TSftpSession::ServerBanner() const {
    const char* banner = handles_->ssh ? ::ssh_get_serverbanner(handles_->ssh) : nullptr;
    return banner ? banner : "";
}

std::string TSftpSession::Cipher() const {
    const char* cipher = handles_->ssh ? ::ssh_get_cipher_out(handles_->ssh) : nullptr;
    return cipher ? cipher : "";
}

void TSftpSession::Connect(const TSftpSettings& settings) {
    Close();
    settings_ = settings;
    replyTimeout_ = std::chrono::milliseconds(0);
    broken_ = false;
    handles_->ssh = ::ssh_new();
    if (handles_->ssh == nullptr)
        throw ESftpError("Unable to start an SSH session for " + Where());
    ssh_session ssh = handles_->ssh;
    const long timeout = settings.ConnectTimeoutSeconds > 0 ? settings.ConnectTimeoutSeconds : 30;
    const unsigned port = static_cast<unsigned>(settings.Port);
    const int noDelay = 1;
    const bool processConfig = false; // ~/.ssh/config must not change what a job does
    ::ssh_options_set(ssh, SSH_OPTIONS_PROCESS_CONFIG, &processConfig);
    ::ssh_options_set(ssh, SSH_OPTIONS_HOST, settings.Host.c_str());
    ::ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
    ::ssh_options_set(ssh, SSH_OPTIONS_USER, settings.Username.c_str());
    ::ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &timeout);
    ::ssh_options_set(ssh, SSH_OPTIONS_NODELAY, &noDelay);
    const std::string ciphers = PreferredCiphers();
    ::ssh_options_set(ssh, SSH_OPTIONS_CIPHERS_C_S, ciphers.c_str());
    ::ssh_options_set(ssh, SSH_OPTIONS_CIPHERS_S_C, ciphers.c_str());
    if (!settings.AgentSocket.empty())
        ::ssh_options_set(ssh, SSH_OPTIONS_IDENTITY_AGENT, settings.AgentSocket.c_str());
    // Both files steer the host key type offered, so a stored key is the one compared.
    const std::string none = "/nonexistent/tavrin-known-hosts";
    const std::string& user = settings.UserKnownHosts.empty() ? none : settings.UserKnownHosts;
    const std::string& own = settings.OwnKnownHosts.empty() ? none : settings.OwnKnownHosts;
    ::ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, user.c_str());
    ::ssh_options_set(ssh, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, own.c_str());
    try {
        handles_->socket =
            ConnectSshSocket(settings.Host, settings.Port, std::chrono::seconds(timeout), Where());
        if (connected_)
            connected_();
        // libssh works on a duplicate; ours stays in the socket group until Close(), so a
        // stop can shut the connection down without racing the close of libssh's copy.
        int forLibssh = ::fcntl(handles_->socket, F_DUPFD_CLOEXEC, 0);
        if (forLibssh < 0 || ::ssh_options_set(ssh, SSH_OPTIONS_FD, &forLibssh) != SSH_OK) {
            if (forLibssh >= 0)
                ::close(forLibssh);
            throw ESftpError("Unable to start an SSH session for " + Where());
        }
        handles_->duplicate = forLibssh;
        if (::ssh_connect(ssh) != SSH_OK)
            throw ESftpError("Unable to connect to " + Where() + ": " + ::ssh_get_error(ssh));
        TSftpWatch watch = Watch();
        VerifyHostKey(ssh, settings, Where(), status_);
        authenticatedWith_ = Authenticate(ssh, settings, Where());
        OpenSftpChannel();
    } catch (...) {
        Close();
        throw;
    }
}

void TSftpSession::OpenSftpChannel() {
    handles_->sftp = ::sftp_new(handles_->ssh);
    if (handles_->sftp == nullptr)
        throw ESftpError("Unable to open an SFTP channel on " + Where() + ": " +
                         ::ssh_get_error(handles_->ssh));
    if (::sftp_init(handles_->sftp) != SSH_OK)
        throw ESftpError("The SFTP subsystem of " + Where() +
                         " did not start: " + ::ssh_get_error(handles_->ssh));
    char* home = ::sftp_canonicalize_path(handles_->sftp, ".");
    if (home == nullptr)
        Fail("resolving the start folder", ".");
    currentDirectory_ = home;
    ::ssh_string_free_char(home);
}

void TSftpSession::Close() {
    // The socket is about to close and its number may be reused: never shut that one down.
    watchdog_.Disarm();
    if (handles_->sftp) {
        ::sftp_free(handles_->sftp);
        handles_->sftp = nullptr;
    }
    if (handles_->ssh) {
        if (::ssh_is_connected(handles_->ssh))
            ::ssh_disconnect(handles_->ssh);
        ::ssh_free(handles_->ssh);
        handles_->ssh = nullptr;
    }
    // libssh does not close a descriptor it was handed: left open, it kept every connection
    // (and the server's session) alive after its session ended. Should a libssh close it
    // after all, its number may already be another file's, so only our socket's twin goes.
    if (handles_->duplicate >= 0) {
        if (SameSocket(handles_->duplicate, handles_->socket))
            ::close(handles_->duplicate);
        handles_->duplicate = -1;
    }
    if (handles_->socket >= 0) {
        net::CloseSocket(handles_->socket);
        handles_->socket = -1;
    }
    handles_->readBlock = 0;
    handles_->writeBlock = 0;
    currentDirectory_.clear();
}

std::string TSftpSession::JoinPath(const std::string& folder, const std::string& name) {
    if (name.empty())
        return folder;
    if (name.front() == '/' || folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string TSftpSession::Resolve(const std::string& path) const {
    return path.empty() ? currentDirectory_ : JoinPath(currentDirectory_, path);
}

void TSftpSession::ChangeDirectory(const std::string& path) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string target = Resolve(path);
    char* canonical = ::sftp_canonicalize_path(handles_->sftp, target.c_str());
    if (canonical == nullptr)
        Fail("change folder to", target);
    const std::string folder = canonical;
    ::ssh_string_free_char(canonical);
    Attributes a{::sftp_stat(handles_->sftp, folder.c_str())};
    if (a.a == nullptr)
        Fail("change folder to", folder);
    if (a.a->type != SSH_FILEXFER_TYPE_DIRECTORY)
        Refuse("change folder to", folder, "not a folder");
    currentDirectory_ = folder;
}

std::string TSftpSession::CurrentDirectory() const {
    RequireConnected();
    return currentDirectory_;
}

std::vector<TSftpEntry> TSftpSession::List(const std::string& path) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string folder = Resolve(path);
    sftp_dir dir = ::sftp_opendir(handles_->sftp, folder.c_str());
    if (dir == nullptr)
        Fail("list", folder);
    std::vector<TSftpEntry> entries;
    while (sftp_attributes a = ::sftp_readdir(handles_->sftp, dir)) {
        Attributes owner{a};
        watchdog_.Touch(); // a long listing is progress too
        const std::string name = a->name ? a->name : "";
        if (name.empty() || name == "." || name == "..")
            continue;
        TSftpEntry entry;
        entry.Name = name;
        entry.Kind = KindOf(a);
        entry.SizeKnown = (a->flags & SSH_FILEXFER_ATTR_SIZE) != 0;
        entry.Size = entry.SizeKnown ? a->size : 0;
        entry.ModifiedKnown = (a->flags & SSH_FILEXFER_ATTR_ACMODTIME) != 0;
        entry.Modified = static_cast<std::time_t>(a->mtime64 ? a->mtime64 : a->mtime);
        entries.push_back(std::move(entry));
    }
    const bool complete = ::sftp_dir_eof(dir) != 0;
    ::sftp_closedir(dir);
    if (!complete)
        Fail("list", folder);
    return entries;
}

void TSftpSession::Delete(const std::string& path) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string target = Resolve(path);
    if (::sftp_unlink(handles_->sftp, target.c_str()) != 0)
        Fail("delete", target);
}

void TSftpSession::MakeDirectory(const std::string& path) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string target = Resolve(path);
    if (::sftp_mkdir(handles_->sftp, target.c_str(), 0777) != 0)
        Fail("make folder", target);
}

uint64_t TSftpSession::Size(const std::string& path) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string target = Resolve(path);
    Attributes a{::sftp_stat(handles_->sftp, target.c_str())};
    if (a.a == nullptr)
        Fail("size of", target);
    if (a.a->type == SSH_FILEXFER_TYPE_DIRECTORY)
        Refuse("size of", target, "a folder");
    return a.a->size;
}

void TSftpSession::KeepAlive() {
    RequireConnected();
    TSftpWatch watch = Watch();
    if (::ssh_send_keepalive(handles_->ssh) != SSH_OK || !::ssh_is_connected(handles_->ssh))
        throw ESftpError("SFTP keep-alive to " + Where() +
                         " failed: " + SftpReason(handles_->ssh, nullptr));
}

void TSftpSession::Rename(const std::string& from, const std::string& to) {
    RequireConnected();
    TSftpWatch watch = Watch();
    const std::string source = Resolve(from);
    const std::string target = Resolve(to);
    if (::sftp_extension_supported(handles_->sftp, "posix-rename@openssh.com", "1")) {
        if (!PosixRename(source, target))
            Fail("rename " + source + " to", target);
        return;
    }
    if (::sftp_rename(handles_->sftp, source.c_str(), target.c_str()) == 0)
        return;
    // Plain SFTP rename refuses an existing target. Remove it only while the source is
    // there, so the new file is never the one lost.
    Attributes present{::sftp_lstat(handles_->sftp, source.c_str())};
    Attributes occupied{::sftp_lstat(handles_->sftp, target.c_str())};
    if (present.a == nullptr || occupied.a == nullptr ||
        occupied.a->type == SSH_FILEXFER_TYPE_DIRECTORY ||
        ::sftp_unlink(handles_->sftp, target.c_str()) != 0 ||
        ::sftp_rename(handles_->sftp, source.c_str(), target.c_str()) != 0)
        Fail("rename " + source + " to", target);
}

} // namespace tavrin::sftp
