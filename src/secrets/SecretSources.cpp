#include "secrets/SecretSources.h"

#include "base/StrUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin {
namespace {

const TSecretSlot kSlots[] = {
    {"password", &RServerSettings::Password},
    {"sslpass", &RServerSettings::SSLPass},
    {"sshkeypass", &RServerSettings::SSHKeyPass},
};

// A password is one line; nothing longer is read from a file.
constexpr size_t kReadLimit = 64 * 1024;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// The first line, trailing CR/LF removed; false when reading failed (errno says why).
bool ReadFirstLine(int fd, std::string& line) {
    std::string text;
    char buffer[4096];
    while (text.size() < kReadLimit && text.find('\n') == std::string::npos) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return true;
}

// O_NONBLOCK: a FIFO put where the file should be must not hold the start up.
int OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// A credential's name is a file name in the credentials folder: a job name that would reach
// outside it names none.
bool CanNameCredential(const std::string& jobName) {
    return !jobName.empty() && jobName != "." && jobName != ".." &&
           jobName.find('/') == std::string::npos;
}

// nullopt when there is no such credential; a credential that is there but cannot be read
// is a problem.
std::optional<std::string> ReadCredential(const TSecretSources& sources, const std::string& job,
                                          const TSecretSlot& slot,
                                          std::vector<std::string>& problems) {
    if (sources.CredentialsDirectory.empty() || !CanNameCredential(job))
        return std::nullopt;
    const std::string path = sources.CredentialsDirectory + "/" + job + "." + slot.Suffix;
    const std::string named = "Credential " + Quoted(path);
    const TFd fd(OpenForReading(path));
    struct stat status {};
    std::string value;
    if (fd.Get() < 0 && errno == ENOENT)
        return std::nullopt;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &status) != 0)
        problems.push_back(named + " cannot be read: " + std::strerror(errno));
    else if (!S_ISREG(status.st_mode))
        problems.push_back(named + " is not a regular file");
    else if (!ReadFirstLine(fd.Get(), value))
        problems.push_back(named + " cannot be read: " + std::strerror(errno));
    else
        return value;
    return std::nullopt;
}

// Whether the job cannot log in without the secret: an SFTP job with a key or the agent may
// have no password, and a key's password matters only for the key the job uses.
bool Needs(const RServerSettings& config, const TSecretSlot& slot) {
    const bool sftp = SameTextAscii(Trim(config.Protocol), "SFTP");
    if (slot.Field == &RServerSettings::SSLPass)
        return !sftp && config.SSL && !config.SSLKey.empty();
    if (slot.Field == &RServerSettings::SSHKeyPass)
        return sftp && !config.SSHKey.empty();
    return !(sftp && (!config.SSHKey.empty() || config.SSHAgent));
}

// Asks the keyring once per job at most while it does not answer, so a missing keyring costs
// one wait, not one per secret.
class TKeyringLookup {
public:
    TKeyringLookup(TKeyring* keyring, const std::string& job) : keyring_(keyring), job_(job) {}

    // Fills the slot from the keyring, or leaves the file's value with a note when the
    // keyring cannot answer and the file has one; with neither, a job that needs the secret
    // is refused.
    void Fill(RServerSettings& config, const TSecretSlot& slot, TSecretResolution& result) {
        std::string& field = config.*slot.Field;
        const bool needed = Needs(config, slot);
        if (keyring_ == nullptr) {
            Refuse("job " + Quoted(job_) +
                       " keeps its passwords in the desktop keyring, which cannot be reached "
                       "here; give them with PasswordFile or a systemd credential",
                   field, needed, result);
            return;
        }
        if (!unavailable_) {
            TKeyringAnswer answer = keyring_->Read(KeyringKey(job_, slot));
            if (answer.status == TKeyringStatus::Found) {
                field = std::move(answer.value);
                return;
            }
            if (answer.status == TKeyringStatus::NotFound)
                return; // nothing kept there: the file's value, empty after a keyring save
            unavailable_ = true;
            why_ = answer.error;
        }
        Refuse("the keyring did not answer for job " + Quoted(job_) +
                   (why_.empty() ? "" : ": " + why_),
               field, needed, result);
    }

private:
    void Refuse(const std::string& why, const std::string& fileValue, bool needed,
                TSecretResolution& result) {
        if (fileValue.empty()) {
            if (!needed)
                return;
            if (!refused_)
                result.Problems.push_back(why);
            refused_ = true;
        } else if (!noted_) {
            result.Notes.push_back(why + "; the passwords in the settings file are used");
            noted_ = true;
        }
    }

    TKeyring* keyring_;
    const std::string& job_;
    bool unavailable_ = false;
    bool refused_ = false;
    bool noted_ = false;
    std::string why_;
};

} // namespace

std::span<const TSecretSlot> SecretSlots() {
    return kSlots;
}

std::string KeyringKey(const std::string& jobName, const TSecretSlot& slot) {
    return jobName + "/" + slot.Suffix;
}

bool KeepsSecretsInKeyring(const RServerSettings& settings) {
    return SameTextAscii(Trim(settings.PasswordStore), kPasswordStoreKeyring);
}

TSecretSources SecretSourcesFromEnvironment(TKeyring* keyring) {
    TSecretSources sources;
    if (const char* folder = std::getenv("CREDENTIALS_DIRECTORY"))
        sources.CredentialsDirectory = folder;
    sources.Keyring = keyring;
    return sources;
}

TSecretResolution ResolveSecrets(const std::string& jobName, RServerSettings& config,
                                 const TSecretSources& sources) {
    TSecretResolution result;
    TKeyringLookup keyring(sources.Keyring, jobName);
    for (const TSecretSlot& slot : SecretSlots()) {
        if (auto credential = ReadCredential(sources, jobName, slot, result.Problems)) {
            config.*slot.Field = std::move(*credential);
            continue;
        }
        if (slot.Field == &RServerSettings::Password && !config.PasswordFile.empty()) {
            std::string problem;
            if (auto password = ReadPasswordFile(config.PasswordFile, problem))
                config.Password = std::move(*password);
            else
                result.Problems.push_back(problem);
            continue;
        }
        if (KeepsSecretsInKeyring(config))
            keyring.Fill(config, slot, result);
    }
    return result;
}

std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& problem) {
    const std::string named = "Password file " + Quoted(path);
    const TFd fd(OpenForReading(path));
    struct stat status {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &status) != 0) {
        problem = named + " cannot be read: " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = named + " is not a regular file";
        return std::nullopt;
    }
    if (status.st_uid != ::geteuid()) {
        problem = named + " belongs to another user (uid " + std::to_string(status.st_uid) + ")";
        return std::nullopt;
    }
    if ((status.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        problem = named + " may be used by other users (mode " + mode +
                  "); only its owner may read it (chmod 600)";
        return std::nullopt;
    }
    std::string password;
    if (!ReadFirstLine(fd.Get(), password)) {
        problem = named + " cannot be read: " + std::strerror(errno);
        return std::nullopt;
    }
    if (password.empty()) {
        problem = named + " holds no password";
        return std::nullopt;
    }
    return password;
}

} // namespace tavrin
