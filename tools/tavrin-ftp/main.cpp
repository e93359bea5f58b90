// tavrin-ftp: drives the program's FTP library from the command line, to find out by hand
// what a server does with a job's settings, and for the benchmarks. Commands run in the order
// given on one connection; `tavrin-ftp --help` lists everything.
//
// The server's certificate is checked like the monitors check it (known-servers file in the
// per-user state folder); --fingerprint accepts only the certificate with that SHA-256
// fingerprint and stores nothing.
#include "Conversation.h"
#include "PasswordSource.h"
#include "ToolCommands.h"
#include "ToolOptions.h"
#include "config/ConfigPaths.h"
#include "ftp/IdFTP.h"
#include "ftp/tls/IdSSLOpenSSL.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <unistd.h>

using namespace tavrin::tool;

namespace {

// The handlers outlive the client that uses them.
struct TTransport {
    std::unique_ptr<TIdIOHandlerStack> plain;
    std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> tls;
};

void SetUpTls(TIdFTP& ftp, TTransport& transport, const TConnectionSettings& settings,
              TConversationLog* conversation, bool verbose) {
    if (conversation)
        transport.tls = std::make_unique<TTappedTlsHandler>(*conversation);
    else
        transport.tls = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
    TIdSSLIOHandlerSocketOpenSSL& tls = *transport.tls;
    tls.SSLOptions().CertFile = settings.cert;
    tls.SSLOptions().KeyFile = settings.key;
    tls.SSLOptions().Method = sslvSSLv23;
    tls.SSLOptions().Mode = sslmUnassigned;
    TIdServerTrust& trust = tls.ServerTrust();
    trust.Check = true;
    if (settings.fingerprint.empty()) {
        trust.KnownServersFile = tavrin::KnownServersFilePath();
    } else {
        trust.Fingerprint = tavrin::tls::NormalizeFingerprint(settings.fingerprint);
        if (trust.Fingerprint.empty())
            throw std::invalid_argument("not a SHA-256 fingerprint: " + settings.fingerprint);
    }
    const std::string password = settings.keyPassword;
    tls.OnGetPassword = [password](std::string& into) { into = password; };
    if (verbose)
        tls.OnStatusInfo = [](const std::string& text) {
            std::fprintf(stderr, "tls: %s\n", text.c_str());
        };
    ftp.SetIOHandler(&tls);
    ftp.SetUseTLS(settings.implicitTls ? utUseImplicitTLS : utUseExplicitTLS);
    if (!settings.implicitTls)
        ftp.SetAUTHCmd(tAuthSSL);
    ftp.SetDataPortProtection(ftpdpsPrivate);
    ftp.SetPort(settings.port); // implicit TLS would have made 21 into 990
}

// What the control connection's handshake settled on, once connected.
void ReportTlsFacts(const TIdSSLIOHandlerSocketOpenSSL& tls) {
    const TIdSSLCipher cipher = tls.Cipher();
    std::fprintf(stderr, "tls: protocol %s, cipher %s (%d bits), certificate SHA-256 %s\n",
                 cipher.Version.c_str(), cipher.Name.c_str(), cipher.Bits,
                 tls.AcceptedFingerprint().c_str());
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

    std::unique_ptr<TConversationLog> conversation;
    if (options.verbose)
        conversation = std::make_unique<TConversationLog>(stderr);
    TTransport transport;
    TIdFTP ftp;
    ftp.SetHost(settings.host);
    ftp.SetPort(settings.port);
    ftp.SetTransferType(settings.binary ? ftBinary : ftASCII);
    ftp.SetPassive(settings.passive);
    ftp.SetForcePasv(settings.forcePasv);
    ftp.SetEpsvOnly(settings.epsvOnly);
    ftp.SetUsePasvAddress(settings.usePasvAddress);
    ftp.SetUseMLIS(settings.useMlsd);
    ftp.SetUsername(settings.user);
    ftp.SetPassword(settings.password);
    if (options.verbose)
        ftp.OnStatus = [](const void*, TIdStatus, const std::string& text) {
            std::fprintf(stderr, "status: %s\n", text.c_str());
        };
    if (settings.tls) {
        SetUpTls(ftp, transport, settings, conversation.get(), options.verbose);
    } else if (conversation) {
        transport.plain = std::make_unique<TTappedPlainHandler>(*conversation);
        ftp.SetIOHandler(transport.plain.get());
    }
    try {
        ftp.Connect();
        if (options.verbose && transport.tls)
            ReportTlsFacts(*transport.tls);
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
