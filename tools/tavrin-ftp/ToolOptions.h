#pragma once
// The command line of tavrin-ftp: one table of options (name, value, help text, effect) drives
// parsing and the help text alike, so a new option is one row.
#include <string>
#include <vector>

namespace tavrin::tool {

// Exit status: 0 every command worked, 1 a wrong command line, 2 the connection or a command
// failed.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailed = 2;

struct TToolOptions {
    bool help = false, version = false;
    bool tls = false, active = false, ascii = false, verbose = false, progress = false;
    bool implicit = false, pasv = false, epsv = false, sftp = false;
    std::string cert, key, keyPassword, fingerprint;
    std::string job, config;
    // Without --job: HOST PORT USER PASSWORD COMMAND...; with it: COMMAND...
    std::vector<std::string> positional;
};

// The server, account and transfer settings a run uses, from the command line or a job.
struct TConnectionSettings {
    std::string host;
    int port = 21;
    std::string user, password; // password "-": $TAVRIN_PASSWORD, else a prompt
    bool tls = false, passive = true, binary = true;
    bool implicitTls = false, forcePasv = false, usePasvAddress = false, useMlsd = true;
    bool epsvOnly = false;
    // SFTP instead of FTP: `key` and `keyPassword` are then the SSH private key and its
    // passphrase, `fingerprint` the host key's "SHA256:…".
    bool sftp = false, sshAgent = false;
    std::string cert, key, keyPassword, fingerprint;
    std::string remoteFolder; // a job's folder, entered before the commands
};

// Fills `options`; on a wrong command line returns false with the reason in `error`.
bool ParseCommandLine(int argc, char** argv, TToolOptions& options, std::string& error);

// The connection and the first command's index in options.positional. Raises
// std::invalid_argument for a wrong command line (an unknown job, a port that is no number,
// an unknown command or one without its arguments) and std::runtime_error for settings that
// cannot be read.
TConnectionSettings ResolveSettings(const TToolOptions& options, size_t& firstCommand);

std::string HelpText();
std::string VersionText();
std::string UsageHint(); // one line pointing at --help

} // namespace tavrin::tool
