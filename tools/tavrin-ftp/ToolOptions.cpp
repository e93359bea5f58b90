#include "ToolOptions.h"

#include "ToolCommands.h"
#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "config/SettingsFile.h"
#include "config/StartChecks.h"
#include "secrets/SecretSources.h"

#include <functional>
#include <stdexcept>
#include <sys/stat.h>

namespace tavrin::tool {

namespace {

struct TOptionRow {
    const char* name;
    const char* value; // nullptr: a switch
    const char* help;
    std::function<void(TToolOptions&, const std::string&)> apply;
};

const std::vector<TOptionRow>& OptionTable() {
    using O = TToolOptions;
    static const std::vector<TOptionRow> table = {
        {"--help", nullptr, "show this help and exit", [](O& o, auto&) { o.help = true; }},
        {"--version", nullptr, "show the version and exit", [](O& o, auto&) { o.version = true; }},
        {"--job", "NAME",
         "take server, account, TLS files, passive and binary from the job NAME (Import or "
         "Export) and enter its remote folder",
         [](O& o, const std::string& v) { o.job = v; }},
        {"--config", "FILE",
         "the settings file for --job (default: $TAVRIN_CONFIG, else the per-user "
         "MonitorConfig.ini)",
         [](O& o, const std::string& v) { o.config = v; }},
        {"--sftp", nullptr,
         "SFTP over SSH instead of FTP (usually port 22); the host key is checked against "
         "~/.ssh/known_hosts and Tavrin's own known_hosts, and trusted on first use",
         [](O& o, auto&) { o.sftp = true; }},
        {"--tls", nullptr, "explicit TLS (AUTH) on the control and data connections",
         [](O& o, auto&) { o.tls = true; }},
        {"--cert", "FILE", "client certificate (PEM)",
         [](O& o, const std::string& v) { o.cert = v; }},
        {"--key", "FILE",
         "its private key (PEM); with --sftp, the SSH private key (OpenSSH or PEM format)",
         [](O& o, const std::string& v) { o.key = v; }},
        {"--pass", "TEXT", "the private key's password",
         [](O& o, const std::string& v) { o.keyPassword = v; }},
        {"--fingerprint", "SHA256",
         "accept only the server certificate with this SHA-256 fingerprint, or with --sftp "
         "only the host key with this SHA256:... fingerprint (nothing is stored)",
         [](O& o, const std::string& v) { o.fingerprint = v; }},
        {"--implicit", nullptr, "implicit TLS: TLS from the first byte (usually port 990)",
         [](O& o, auto&) { o.tls = o.implicit = true; }},
        {"--pasv", nullptr, "passive connections with PASV only, never EPSV (IPv4 servers)",
         [](O& o, auto&) { o.pasv = true; }},
        {"--epsv", nullptr, "passive connections with EPSV only, no fallback to PASV",
         [](O& o, auto&) { o.epsv = true; }},
        {"--active", nullptr, "active data connections (PORT) instead of passive ones",
         [](O& o, auto&) { o.active = true; }},
        {"--ascii", nullptr, "ASCII transfers instead of binary ones",
         [](O& o, auto&) { o.ascii = true; }},
        {"--verbose", nullptr,
         "show the conversation (commands and replies, the password masked), the client's "
         "status lines and the TLS protocol, cipher and certificate fingerprint, on standard "
         "error",
         [](O& o, auto&) { o.verbose = true; }},
        {"--progress", nullptr, "a progress line for get and put when standard error is a terminal",
         [](O& o, auto&) { o.progress = true; }},
    };
    return table;
}

const TOptionRow* FindOption(const std::string& name) {
    for (const TOptionRow& row : OptionTable())
        if (name == row.name)
            return &row;
    return nullptr;
}

constexpr size_t kHelpIndent = 22, kHelpWidth = 80;

// The help column of one option, broken between words to fit 80 columns.
std::string Wrapped(const std::string& help) {
    std::string text, word;
    size_t column = kHelpIndent;
    const auto flush = [&] {
        if (word.empty())
            return;
        if (column > kHelpIndent && column + 1 + word.size() > kHelpWidth) {
            text += "\n" + std::string(kHelpIndent, ' ');
            column = kHelpIndent;
        } else if (column > kHelpIndent) {
            text += ' ';
            ++column;
        }
        text += word;
        column += word.size();
        word.clear();
    };
    for (char c : help) {
        if (c == ' ')
            flush();
        else
            word += c;
    }
    flush();
    return text;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// A keyring that holds nothing: a job whose passwords are in the desktop keyring is asked for
// them here, as a job without a stored password is.
class TNoKeyring : public TKeyring {
public:
    bool Available() override { return false; }
    TKeyringAnswer Read(const std::string&) override { return {TKeyringStatus::NotFound, "", ""}; }
    bool Write(const std::string&, const std::string&, std::string& error) override {
        error = "no keyring";
        return false;
    }
};

// The job's systemd credentials and PasswordFile, as the service reads them.
void ResolveJobPasswords(const std::string& name, RConfiguration& job) {
    TNoKeyring none;
    const TSecretResolution secrets =
        ResolveSecrets(name, job, SecretSourcesFromEnvironment(&none));
    if (!secrets.Problems.empty())
        throw std::runtime_error(JoinedProblems(secrets.Problems, "; "));
}

TConnectionSettings FromJob(const TToolOptions& options) {
    const std::string path = options.config.empty() ? ConfigFilePath() : options.config;
    const bool import = SameTextAscii(options.job, "Import");
    if (!import && !SameTextAscii(options.job, "Export"))
        throw std::invalid_argument("no job named \"" + options.job +
                                    "\"; the jobs are Import and Export");
    if (!FileExists(path))
        throw std::runtime_error("settings file \"" + path + "\" not found");
    RConfiguration job = import ? LoadImportConfiguration(path) : LoadExportConfiguration(path);
    ResolveJobPasswords(import ? "Import" : "Export", job);
    TConnectionSettings settings;
    settings.host = job.Host;
    const auto port = TryStrToInt(job.Port);
    if (!port)
        throw std::runtime_error("the job's Port '" + job.Port + "' is not a valid integer value");
    settings.port = *port;
    settings.user = job.Username;
    // A job without a stored password is asked for one, as "-" on the command line is.
    settings.password = job.Password.empty() ? "-" : job.Password;
    settings.tls = job.SSL;
    settings.implicitTls = job.ImplicitTLS;
    settings.forcePasv = job.ForcePASV;
    settings.usePasvAddress = job.UsePasvAddress;
    settings.useMlsd = job.UseMLSD;
    settings.passive = job.PassiveMode;
    settings.binary = job.BinaryMode;
    settings.cert = job.SSLCertificate;
    settings.key = job.SSLKey;
    settings.keyPassword = job.SSLPass;
    settings.remoteFolder = job.RemoteFolder;
    if (SameTextAscii(Trim(job.Protocol), "SFTP")) {
        settings.sftp = true;
        settings.key = job.SSHKey;
        settings.keyPassword = job.SSHKeyPass;
        settings.sshAgent = job.SSHAgent;
        // A key or the agent logs in without a password: nothing to ask for.
        if (!job.SSHKey.empty() || job.SSHAgent)
            settings.password = job.Password;
    }
    return settings;
}

} // namespace

bool ParseCommandLine(int argc, char** argv, TToolOptions& options, std::string& error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || arg == "-") {
            options.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h")
            arg = "--help";
        std::string value;
        const size_t equals = arg.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const TOptionRow* row = FindOption(arg);
        if (!row) {
            error = "unknown option " + arg;
            return false;
        }
        if (!row->value && inlineValue) {
            error = "option " + arg + " takes no value";
            return false;
        }
        if (row->value && !inlineValue) {
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value (" + row->value + ")";
                return false;
            }
            value = argv[++i];
        }
        row->apply(options, value);
    }
    if (!options.config.empty() && options.job.empty()) {
        error = "--config goes with --job";
        return false;
    }
    return true;
}

TConnectionSettings ResolveSettings(const TToolOptions& options, size_t& firstCommand) {
    const auto& words = options.positional;
    TConnectionSettings settings;
    if (!options.job.empty()) {
        settings = FromJob(options);
        firstCommand = 0;
    } else {
        if (words.size() < 4)
            throw std::invalid_argument("HOST PORT USER PASSWORD and a command are needed");
        settings.host = words[0];
        const auto port = TryStrToInt(words[1]);
        if (!port || *port <= 0 || *port > 65535)
            throw std::invalid_argument("PORT '" + words[1] + "' is not a port number");
        settings.port = *port;
        settings.user = words[2];
        settings.password = words[3];
        firstCommand = 4;
    }
    if (firstCommand >= words.size())
        throw std::invalid_argument("no command given");
    std::string error;
    if (!CheckCommands(words, firstCommand, error))
        throw std::invalid_argument(error);
    // The command line has the last word over the job's settings.
    settings.sftp = settings.sftp || options.sftp;
    if (settings.sftp && (options.tls || options.implicit || !options.cert.empty()))
        throw std::invalid_argument("--sftp goes without --tls, --implicit and --cert");
    settings.tls = settings.tls || options.tls;
    settings.implicitTls = settings.implicitTls || options.implicit;
    settings.forcePasv = settings.forcePasv || options.pasv;
    settings.epsvOnly = options.epsv;
    settings.passive = settings.passive && !options.active;
    settings.binary = settings.binary && !options.ascii;
    for (auto [from, into] : {std::pair{&options.cert, &settings.cert},
                              {&options.key, &settings.key},
                              {&options.keyPassword, &settings.keyPassword},
                              {&options.fingerprint, &settings.fingerprint}})
        if (!from->empty())
            *into = *from;
    return settings;
}

std::string HelpText() {
    std::string text =
        "Usage: tavrin-ftp [OPTION]... HOST PORT USER PASSWORD COMMAND...\n"
        "       tavrin-ftp [OPTION]... --job NAME [--config FILE] COMMAND...\n"
        "Drives Tavrin's own FTP and SFTP client: the commands run in the order given on\n"
        "one connection, so a server shows here what a monitor would meet. HOST may be a\n"
        "name, an IPv4 address or an IPv6 address (also in brackets, as [::1]).\n"
        "\n"
        "Commands:\n"
        "  pwd | cd DIR | noop | ls | get REMOTE LOCAL | put LOCAL REMOTE | rm REMOTE |\n"
        "  mv FROM TO\n"
        "\n"
        "Options:\n";
    for (const TOptionRow& row : OptionTable()) {
        std::string left =
            std::string("  ") + row.name + (row.value ? std::string(" ") + row.value : "");
        text += left + (left.size() < kHelpIndent ? std::string(kHelpIndent - left.size(), ' ')
                                                  : "\n" + std::string(kHelpIndent, ' '));
        text += Wrapped(row.help) + "\n";
    }
    text += "\n"
            "PASSWORD \"-\" takes $TAVRIN_PASSWORD when it is set and otherwise asks for the\n"
            "password without echo; so does a job without a stored password. The server's\n"
            "certificate is checked as the monitors check it (the known-servers file in the\n"
            "per-user state folder) unless --fingerprint names the one to accept.\n"
            "\n"
            "Examples:\n"
            "  tavrin-ftp ftp.example.com 21 alice - ls\n"
            "  TAVRIN_PASSWORD=secret tavrin-ftp --tls --verbose ftp.example.com 21 al - pwd\n"
            "  tavrin-ftp --job Import --verbose ls\n"
            "  tavrin-ftp --job Export --config ~/test.ini put report.csv report.csv\n"
            "  tavrin-ftp --progress ftp.example.com 21 alice - get big.iso /tmp/big.iso\n"
            "  tavrin-ftp --sftp --key ~/.ssh/id_ed25519 sftp.example.com 22 alice '' ls\n"
            "\n"
            "Exit status: 0 when every command worked, 1 for a wrong command line, 2 when the\n"
            "connection or a command failed (the reason on standard error).\n";
    return text;
}

std::string VersionText() {
    return std::string("tavrin-ftp ") + TAVRIN_VERSION + "\n";
}

std::string UsageHint() {
    return "Try 'tavrin-ftp --help' for more information.\n";
}

} // namespace tavrin::tool
