#include "servers/LoopbackSocket.h"
#include "servers/RealServers.h"

#include <filesystem>
#include <pwd.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testsrv {

namespace {

// The account tests/servers/prepare makes.
const char* const kUser = "tavrinftp";
const char* const kPassword = "tavrin-ftp-pass";
const char* const kVsftpd = "/usr/sbin/vsftpd";

// vsftpd wants a fixed port. Take one below the kernel's ephemeral range, so an outgoing
// connection cannot grab it between our check and vsftpd's bind.
uint16_t PickListenPort(std::mt19937& random, const std::string& host) {
    std::uniform_int_distribution<int> pick(10000, 19999);
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint16_t port = static_cast<uint16_t>(pick(random));
        UniqueFd probe = ConnectWithin(host, port, -1, std::chrono::milliseconds(200));
        if (probe.Valid())
            continue; // someone listens there
        return port;
    }
    throw std::runtime_error("VsftpdServer: no free port found");
}

// The user vsftpd switches to must reach and write the root folder.
void GrantRootTo(const struct passwd& account, const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        ::lchown(entry.path().c_str(), account.pw_uid, account.pw_gid);
    ::chown(root.c_str(), account.pw_uid, account.pw_gid);
    ::chmod(root.c_str(), 0755);
    // Folders above it (often a private 0700 temporary folder) only need to be passable.
    for (fs::path p = root.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXOTH) == 0)
            ::chmod(p.c_str(), (st.st_mode & 07777) | S_IXOTH);
    }
}

std::string Config(const VsftpdOptions& o, uint16_t port, int pasvMin, const std::string& empty) {
    std::string c = std::string(o.ipv6 ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n"
                                       : "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n") +
                    "listen_port=" + std::to_string(port) +
                    "\nbackground=NO\nseccomp_sandbox=NO\n"
                    "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
                    "local_root=" +
                    o.root +
                    "\nchroot_local_user=NO\n"
                    "secure_chroot_dir=" +
                    empty +
                    "\npam_service_name=vsftpd\nuserlist_enable=NO\n"
                    "xferlog_enable=NO\nsyslog_enable=NO\ndirmessage_enable=NO\n"
                    "ftpd_banner=vsftpd ready for Tavrin tests\n"
                    "pasv_enable=YES\n" +
                    std::string(o.ipv6 ? "" : "pasv_address=127.0.0.1\n") +
                    "pasv_min_port=" + std::to_string(pasvMin) +
                    "\npasv_max_port=" + std::to_string(pasvMin + 99) +
                    "\nport_enable=YES\nconnect_from_port_20=NO\n";
    if (o.tls) {
        const TestCertificates& certs = Certificates();
        c += "ssl_enable=YES\nrsa_cert_file=" + certs.serverCert +
             "\nrsa_private_key_file=" + certs.serverKey +
             "\nallow_anon_ssl=NO\nforce_local_data_ssl=NO\nforce_local_logins_ssl=NO\n"
             "require_ssl_reuse=" +
             std::string(o.requireSslReuse ? "YES" : "NO") +
             "\nssl_tlsv1=YES\nssl_sslv2=NO\nssl_sslv3=NO\nssl_ciphers=HIGH\n";
        if (o.implicitTls)
            c += "implicit_ssl=YES\n";
    }
    return c;
}

} // namespace

VsftpdServer::VsftpdServer(VsftpdOptions options) {
    namespace fs = std::filesystem;
    if (options.root.empty() || !fs::is_directory(options.root))
        throw std::runtime_error("VsftpdServer: root folder missing: " + options.root);
    const struct passwd* account = ::getpwnam(kUser);
    if (account == nullptr)
        throw std::runtime_error(std::string("VsftpdServer: no user ") + kUser +
                                 " (run tests/servers/prepare as root)");
    options.root = fs::absolute(options.root).lexically_normal().string();
    ipv6_ = options.ipv6;
    GrantRootTo(*account, options.root);

    workDir_ = MakeTempDir("tavrin-vsftpd-");
    const std::string empty = workDir_ + "/empty";
    fs::create_directory(empty);
    ::chmod(empty.c_str(), 0755);

    std::mt19937 random(std::random_device{}());
    const std::string configFile = workDir_ + "/vsftpd.conf";
    std::string output;
    // Another server started at the same moment may take the port first; try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = PickListenPort(random, Address());
        // vsftpd tries other ports of the passive range when one is taken.
        const int pasvMin = std::uniform_int_distribution<int>(20000, 29900)(random);
        WriteWholeFile(configFile, Config(options, port_, pasvMin, empty));
        process_ = ChildProcess({kVsftpd, configFile}, workDir_ + "/output.log");
        pid_ = process_.Pid();
        if (WaitForGreeting(port_, std::chrono::seconds(15), &process_, Address(),
                            options.tls && options.implicitTls))
            return;
        output = process_.Output();
        Stop();
        if (output.find("listening") == std::string::npos &&
            output.find("in use") == std::string::npos)
            break;
    }
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
    throw std::runtime_error("vsftpd did not come up on port " + std::to_string(port_) + ":\n" +
                             output);
}

VsftpdServer::~VsftpdServer() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
}

void VsftpdServer::Stop() {
    process_.Stop();
}

std::string VsftpdServer::User() const {
    return kUser;
}
std::string VsftpdServer::Password() const {
    return kPassword;
}

} // namespace testsrv
