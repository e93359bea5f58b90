// tavrin-ftp: drives the program's FTP library from the command line, to find out by hand
// what a server does with a job's settings, and for the benchmarks. Commands run in the order
// given on one connection; `tavrin-ftp --help` lists everything.
//
// The client is built by the remote layer, as the monitors build theirs. The server's
// certificate or host key is checked like the monitors check it (the known-servers and
// known_hosts files); --fingerprint accepts only the one with that fingerprint and stores
// nothing.
#include "Conversation.h"
#include "PasswordSource.h"
#include "ToolCommands.h"
#include "ToolOptions.h"
#include "config/CommonTypesUnit.h"
#include "ftp/IdFTP.h"
#include "ftp/tls/IdSSLOpenSSL.h"
#include "remote/ftp/FtpClientSetup.h"
#include "remote/sftp/SftpRemoteSession.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <unistd.h>

using namespace tavrin::tool;

namespace {

RConfiguration AsConfiguration(const TConnectionSettings& settings) {
    RConfiguration config;
    config.Protocol = settings.sftp ? "SFTP" : "FTP";
    config.Host = settings.host;
    config.Port = std::to_string(settings.port);
    config.Username = settings.user;
    config.Password = settings.password;
    config.BinaryMode = settings.binary;
    config.PassiveMode = settings.passive;
    config.ForcePASV = settings.forcePasv;
    config.UsePasvAddress = settings.usePasvAddress;
    config.UseMLSD = settings.useMlsd;
    config.SSL = settings.tls;
    config.ImplicitTLS = settings.implicitTls;
    config.RemoteFolder = settings.remoteFolder;
    if (settings.sftp) {
        config.SSHKey = settings.key;
        config.SSHKeyPass = settings.keyPassword;
        config.SSHAgent = settings.sshAgent;
    } else {
        config.SSLCertificate = settings.cert;
        config.SSLKey = settings.key;
        config.SSLPass = settings.keyPassword;
    }
    return config;
}

// What the control connection's handshake settled on, once connected.
void ReportTlsFacts(const TIdSSLIOHandlerSocketOpenSSL& tls) {
    const TIdSSLCipher cipher = tls.Cipher();
    std::fprintf(stderr, "tls: protocol %s, cipher %s (%d bits), certificate SHA-256 %s\n",
                 cipher.Version.c_str(), cipher.Name.c_str(), cipher.Bits,
                 tls.AcceptedFingerprint().c_str());
}

// --fingerprint: only that certificate is accepted, and nothing is remembered.
void PinCertificate(TIdSSLIOHandlerSocketOpenSSL& tls, const std::string& fingerprint) {
    TIdServerTrust& trust = tls.ServerTrust();
    trust.KnownServersFile.clear();
    trust.Fingerprint = tavrin::tls::NormalizeFingerprint(fingerprint);
    if (trust.Fingerprint.empty())
        throw std::invalid_argument("not a SHA-256 fingerprint: " + fingerprint);
}

int RunFtp(const TToolOptions& options, const TConnectionSettings& settings, size_t firstCommand) {
    std::unique_ptr<TConversationLog> conversation;
    if (options.verbose)
        conversation = std::make_unique<TConversationLog>(stderr);
    // The client is set up as the monitors set theirs up; the tool only taps its handlers.
    tavrin::remote::TFtpClientEvents events;
    if (options.verbose) {
        events.OnStatus = [](const void*, TIdStatus, const std::string& text) {
            std::fprintf(stderr, "status: %s\n", text.c_str());
        };
        events.OnTlsInfo = [](const std::string& text) {
            std::fprintf(stderr, "tls: %s\n", text.c_str());
        };
        events.MakeTlsHandler = [&conversation]() -> std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> {
            return std::make_unique<TTappedTlsHandler>(*conversation);
        };
    }
    // The handlers outlive the client that uses them.
    std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> tls;
    std::unique_ptr<TIdIOHandlerStack> plain;
    TIdFTP ftp;
    tls = tavrin::remote::SetUpFtpClient(ftp, AsConfiguration(settings), events);
    if (tls && !settings.fingerprint.empty())
        PinCertificate(*tls, settings.fingerprint);
    if (!tls && conversation) {
        plain = std::make_unique<TTappedPlainHandler>(*conversation);
        ftp.SetIOHandler(plain.get());
    }
    ftp.SetEpsvOnly(settings.epsvOnly);
    try {
        ftp.Connect();
        if (options.verbose && tls)
            ReportTlsFacts(*tls);
        if (!settings.remoteFolder.empty())
            ftp.ChangeDirectory(settings.remoteFolder);
        const bool progress = options.progress && ::isatty(STDERR_FILENO);
        RunCommands(ftp, options.positional, firstCommand, progress);
        ftp.Disconnect();
    } catch (...) {
        ftp.SetIOHandler(nullptr);
        throw;
    }
    ftp.SetIOHandler(nullptr);
    return kExitOk;
}

int RunSftp(const TToolOptions& options, const TConnectionSettings& settings, size_t firstCommand) {
    tavrin::sftp::TSftpSettings sftp = tavrin::remote::SftpSettingsFor(AsConfiguration(settings));
    sftp.PinnedFingerprint = settings.fingerprint;
    tavrin::remote::TRemoteEvents events;
    // Host keys are always worth a line: one trusted on first use was just stored.
    events.OnTlsInfo = [](const std::string& text) {
        std::fprintf(stderr, "ssh: %s\n", text.c_str());
    };
    if (options.verbose)
        events.OnStatus = [](tavrin::remote::TSessionStatus, const std::string& text) {
            std::fprintf(stderr, "status: %s\n", text.c_str());
        };
    tavrin::remote::TSftpRemoteSession session(sftp, events);
    session.Connect();
    if (options.verbose)
        std::fprintf(stderr, "ssh: server %s\n", session.SystemDescription().c_str());
    if (!settings.remoteFolder.empty())
        session.ChangeFolder(settings.remoteFolder);
    const bool progress = options.progress && ::isatty(STDERR_FILENO);
    RunSftpCommands(session, options.positional, firstCommand, progress);
    session.Close(true);
    return kExitOk;
}

int Run(const TToolOptions& options) {
    size_t firstCommand = 0;
    TConnectionSettings settings;
    try {
        settings = ResolveSettings(options, firstCommand);
        settings.password = ResolvePassword(settings.password);
    } catch (const std::invalid_argument& wrong) {
        std::fprintf(stderr, "tavrin-ftp: %s\n%s", wrong.what(), UsageHint().c_str());
        return kExitUsage;
    }
    return settings.sftp ? RunSftp(options, settings, firstCommand)
                         : RunFtp(options, settings, firstCommand);
}

} // namespace

int main(int argc, char** argv) {
    // A server that goes away in the middle of a write fails that write, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    TToolOptions options;
    std::string error;
    if (!ParseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "tavrin-ftp: %s\n%s", error.c_str(), UsageHint().c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::fputs(VersionText().c_str(), stdout);
        return kExitOk;
    }
    try {
        return Run(options);
    } catch (const std::exception& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "tavrin-ftp: %s\n", failure.what());
        return kExitFailed;
    }
}
