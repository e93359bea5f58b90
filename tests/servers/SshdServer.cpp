#include "servers/SshdServer.h"

#include "servers/LoopbackSocket.h"

#include <csignal>
#include <filesystem>
#include <pwd.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testsrv {

namespace {

// The account tests/servers/prepare makes (vsftpd logs in with it too).
const char* const kUser = "tavrinftp";
const char* const kPassword = "tavrin-ftp-pass";
const char* const kSshd = "/usr/sbin/sshd";
const char* const kKeygen = "/usr/bin/ssh-keygen";

// sshd wants a fixed port: one below the kernel's ephemeral range, so an outgoing
// connection cannot take it between our check and sshd's bind.
uint16_t PickListenPort(std::mt19937& random) {
    std::uniform_int_distribution<int> pick(30000, 31999);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const uint16_t port = static_cast<uint16_t>(pick(random));
        if (!ConnectWithin("127.0.0.1", port, -1, std::chrono::milliseconds(200)).Valid())
            return port;
    }
    throw std::runtime_error("SshdServer: no free port found");
}

void GrantRootTo(const struct passwd& account, const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        ::lchown(entry.path().c_str(), account.pw_uid, account.pw_gid);
    ::chown(root.c_str(), account.pw_uid, account.pw_gid);
    // Folders above it (often a private 0700 temporary folder) only need to be passable.
    for (fs::path p = root.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXOTH) == 0)
            ::chmod(p.c_str(), (st.st_mode & 07777) | S_IXOTH);
    }
}

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

std::string Config(const SshdOptions& o, uint16_t port, const std::string& hostKey,
                   const std::string& authorizedKeys) {
    // StrictModes would refuse authorized_keys under /tmp (a world-writable parent).
    return "Port " + std::to_string(port) + "\nListenAddress 127.0.0.1\nHostKey " + hostKey +
           "\nPidFile none\nAuthorizedKeysFile " + authorizedKeys +
           "\nStrictModes no\nUseDNS no\nPermitRootLogin no\nAllowUsers " + kUser + "\nUsePAM " +
           YesNo(o.keyboardInteractive) + "\nPasswordAuthentication " + YesNo(o.password) +
           "\nKbdInteractiveAuthentication " + YesNo(o.keyboardInteractive) +
           "\nPubkeyAuthentication " + YesNo(o.publicKey) +
           "\nMaxStartups 100\nMaxSessions 100\nLogLevel VERBOSE\nSubsystem sftp " +
           (o.subsystem.empty() ? "internal-sftp -d " + o.root : o.subsystem) + "\n" +
           o.extraConfig;
}

} // namespace

std::string SshdServer::Unavailable() {
    if (::geteuid() != 0)
        return "sshd tests need root";
    if (::access(kSshd, X_OK) != 0)
        return "no /usr/sbin/sshd (install openssh-server)";
    if (::getpwnam(kUser) == nullptr)
        return std::string("no user ") + kUser + " (run tests/servers/prepare as root)";
    return "";
}

void MakeSshKey(const std::string& path, const std::string& type, const std::string& passphrase,
                bool pemFormat) {
    std::vector<std::string> argv = {kKeygen,    "-q", "-t",          type, "-N",
                                     passphrase, "-C", "tavrin-test", "-f", path};
    if (pemFormat) {
        argv.push_back("-m");
        argv.push_back("PEM");
    }
    std::string output;
    if (RunCommand(argv, output) != 0)
        throw std::runtime_error("ssh-keygen failed for " + path + ":\n" + output);
}

bool WaitForSshBanner(uint16_t port, std::chrono::milliseconds limit, ChildProcess* process) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (process && !process->Running())
            return false;
        UniqueFd socket = ConnectWithin("127.0.0.1", port, -1, std::chrono::milliseconds(1000));
        if (socket.Valid()) {
            std::string banner;
            while (banner.find('\n') == std::string::npos &&
                   ReceiveSome(socket.Get(), banner, -1, std::chrono::milliseconds(2000))) {
            }
            if (banner.rfind("SSH-", 0) == 0)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

SshdServer::SshdServer(SshdOptions options) {
    namespace fs = std::filesystem;
    if (const std::string why = Unavailable(); !why.empty())
        throw std::runtime_error("SshdServer: " + why);
    if (options.root.empty() || !fs::is_directory(options.root))
        throw std::runtime_error("SshdServer: root folder missing: " + options.root);
    options.root = fs::absolute(options.root).lexically_normal().string();
    GrantRootTo(*::getpwnam(kUser), options.root);
    // sshd refuses to start without its privilege separation folder.
    ::mkdir("/run/sshd", 0755);

    workDir_ = MakeTempDir("tavrin-sshd-");
    ::chmod(workDir_.c_str(), 0755); // the account reads authorized_keys from here
    hostKey_ = workDir_ + "/host_key";
    if (options.hostKeyFile.empty()) {
        MakeSshKey(hostKey_, options.hostKeyType);
    } else {
        fs::copy_file(options.hostKeyFile, hostKey_);
        fs::copy_file(options.hostKeyFile + ".pub", hostKey_ + ".pub");
        ::chmod(hostKey_.c_str(), 0600);
    }
    const std::string authorizedKeys = workDir_ + "/authorized_keys";
    std::string keys;
    for (const std::string& key : options.authorizedKeys)
        keys += key + "\n";
    WriteWholeFile(authorizedKeys, keys);
    ::chmod(authorizedKeys.c_str(), 0644);

    std::mt19937 random(std::random_device{}());
    const std::string configFile = workDir_ + "/sshd_config";
    std::string output;
    // Another server started at the same moment may take the port first; try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = PickListenPort(random);
        WriteWholeFile(configFile, Config(options, port_, hostKey_, authorizedKeys));
        process_ = ChildProcess({kSshd, "-D", "-e", "-f", configFile}, workDir_ + "/output.log");
        pid_ = process_.Pid();
        if (WaitForSshBanner(port_, std::chrono::seconds(15), &process_))
            return;
        output = process_.Output();
        Stop();
        if (output.find("in use") == std::string::npos)
            break;
    }
    std::error_code ignored;
    fs::remove_all(workDir_, ignored);
    throw std::runtime_error("sshd did not come up on port " + std::to_string(port_) + ":\n" +
                             output);
}

SshdServer::~SshdServer() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
}

void SshdServer::Stop() {
    process_.Stop();
}

void SshdServer::SignalSessions(int signal) {
    if (process_.Pid() <= 0)
        return; // stopped: its sessions went with it
    for (pid_t session : DescendantsOf(pid_))
        ::kill(session, signal);
}

std::string SshdServer::User() const {
    return kUser;
}

std::string SshdServer::Password() const {
    return kPassword;
}

std::string SshdServer::HostPublicKey() const {
    std::string line = ReadWholeFile(hostKey_ + ".pub");
    // "type base64 comment": known_hosts wants the first two words.
    const size_t first = line.find(' ');
    const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    return line.substr(0, second == std::string::npos ? line.find('\n') : second);
}

} // namespace testsrv
