// tavrin-ftp: drives the program's FTP library from the command line, by hand or from
// benchmarks. Commands run in the order given on one connection.
//
//   tavrin-ftp [--tls [--cert FILE --key FILE --pass TEXT] [--fingerprint SHA256]] [--active]
//              [--implicit] [--pasv | --epsv] [--ascii] [--verbose]
//              HOST PORT USER PASSWORD COMMAND...
//   commands: pwd | cd DIR | noop | ls | get REMOTE LOCAL | put LOCAL REMOTE | rm REMOTE |
//             mv FROM TO
// The server's certificate is checked like the monitors check it (known-servers file in the
// per-user state folder); --fingerprint accepts only the certificate with that SHA-256
// fingerprint and stores nothing. --verbose prints the fingerprint.
#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "ftp/IdFTP.h"
#include "ftp/listing/IdFTPList.h"
#include "ftp/tls/IdSSLOpenSSL.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Options {
    bool tls = false, active = false, ascii = false, verbose = false;
    bool implicit = false, pasv = false, epsv = false;
    std::string cert, key, pass, fingerprint;
    std::vector<std::string> positional;
};

const char* const kUsage =
    "usage: tavrin-ftp [--tls [--cert FILE] [--key FILE] [--pass TEXT] [--fingerprint SHA256]]\n"
    "                  [--active] [--implicit] [--pasv | --epsv] [--ascii] [--verbose]\n"
    "                  HOST PORT USER PASSWORD COMMAND...\n"
    "--implicit: TLS from the first byte (usually port 990); --pasv: PASV only, no EPSV;\n"
    "--epsv: EPSV only, no PASV fallback. HOST may be an IPv6 address, also as [::1].\n"
    "commands: pwd | cd DIR | noop | ls | get REMOTE LOCAL | put LOCAL REMOTE | rm REMOTE |\n"
    "          mv FROM TO\n";

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--tls")
            options.tls = true;
        else if (arg == "--active")
            options.active = true;
        else if (arg == "--implicit")
            options.tls = options.implicit = true;
        else if (arg == "--pasv")
            options.pasv = true;
        else if (arg == "--epsv")
            options.epsv = true;
        else if (arg == "--ascii")
            options.ascii = true;
        else if (arg == "--verbose")
            options.verbose = true;
        else if (arg == "--cert" || arg == "--key" || arg == "--pass" || arg == "--fingerprint") {
            std::string& target = arg == "--cert"   ? options.cert
                                  : arg == "--key"  ? options.key
                                  : arg == "--pass" ? options.pass
                                                    : options.fingerprint;
            if (!value(target))
                return false;
        } else if (arg.rfind("--", 0) == 0)
            return false;
        else
            options.positional.push_back(arg);
    }
    return options.positional.size() >= 5;
}

const char* KindText(EntryKind kind) {
    switch (kind) {
    case ekDirectory:
        return "dir";
    case ekFile:
        return "file";
    case ekSymbolicLink:
    case ekSymbolicLinkDir:
        return "link";
    default:
        return "other";
    }
}

// Runs the commands from `first` on; an unknown or incomplete command raises.
void RunCommands(TIdFTP& ftp, const std::vector<std::string>& words, size_t first) {
    static const std::map<std::string, size_t> kArity = {{"pwd", 0}, {"cd", 1},  {"noop", 0},
                                                         {"ls", 0},  {"get", 2}, {"put", 2},
                                                         {"rm", 1},  {"mv", 2}};
    for (size_t i = first; i < words.size();) {
        const std::string& command = words[i];
        const auto arity = kArity.find(command);
        if (arity == kArity.end())
            throw std::runtime_error("unknown command: " + command);
        if (i + arity->second >= words.size())
            throw std::runtime_error("missing argument for " + command);
        const auto arg = [&](size_t n) { return words[i + n]; };
        if (command == "pwd") {
            std::cout << ftp.QueryCurrentDirectory() << "\n";
        } else if (command == "cd") {
            ftp.ChangeDirectory(arg(1));
        } else if (command == "noop") {
            ftp.SendNoop();
            std::cout << ftp.LastReply().JoinedText();
        } else if (command == "ls") {
            ftp.ListDirectory(nullptr, "", true);
            TIdFTPListItems& entries = ftp.DirectoryEntries();
            for (size_t e = 0; e < entries.Count(); ++e) {
                const TIdFTPListItem& item = entries[e];
                std::printf("%-5s %12lld %s\n", KindText(item.Kind()),
                            static_cast<long long>(item.ByteSize()), item.Name().c_str());
            }
        } else if (command == "get") {
            ftp.DownloadFile(arg(1), arg(2), true, false);
        } else if (command == "put") {
            ftp.UploadFile(arg(1), arg(2), false);
        } else if (command == "rm") {
            ftp.DeleteRemoteFile(arg(1));
        } else if (command == "mv") {
            ftp.RenameRemoteFile(arg(1), arg(2));
        }
        i += 1 + arity->second;
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr << kUsage;
        return 2;
    }
    const auto& words = options.positional;
    try {
        TIdFTP ftp;
        std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> tls;
        ftp.SetHost(words[0]);
        ftp.SetPort(tavrin::StrToInt(words[1]));
        ftp.SetTransferType(options.ascii ? ftASCII : ftBinary);
        ftp.SetUseMLIS(true);
        ftp.SetPassive(!options.active);
        ftp.SetForcePasv(options.pasv);
        ftp.SetEpsvOnly(options.epsv);
        ftp.SetUsername(words[2]);
        ftp.SetPassword(words[3]);
        if (options.verbose)
            ftp.OnStatus = [](const void*, TIdStatus, const std::string& text) {
                std::cerr << "status: " << text << "\n";
            };
        if (options.tls) {
            tls = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
            tls->SSLOptions().CertFile = options.cert;
            tls->SSLOptions().KeyFile = options.key;
            tls->SSLOptions().Method = sslvSSLv23;
            tls->SSLOptions().Mode = sslmUnassigned;
            TIdServerTrust& trust = tls->ServerTrust();
            trust.Check = true;
            if (options.fingerprint.empty()) {
                trust.KnownServersFile = tavrin::KnownServersFilePath();
            } else {
                trust.Fingerprint = tavrin::tls::NormalizeFingerprint(options.fingerprint);
                if (trust.Fingerprint.empty())
                    throw std::runtime_error("not a SHA-256 fingerprint: " + options.fingerprint);
            }
            const std::string password = options.pass;
            tls->OnGetPassword = [password](std::string& into) { into = password; };
            if (options.verbose)
                tls->OnStatusInfo = [](const std::string& text) {
                    std::cerr << "tls: " << text << "\n";
                };
            ftp.SetIOHandler(tls.get());
            ftp.SetUseTLS(options.implicit ? utUseImplicitTLS : utUseExplicitTLS);
            if (!options.implicit)
                ftp.SetAUTHCmd(tAuthSSL);
            ftp.SetDataPortProtection(ftpdpsPrivate);
            ftp.SetPort(tavrin::StrToInt(words[1])); // implicit TLS would have made 21 into 990
        }
        ftp.Connect();
        RunCommands(ftp, words, 4);
        ftp.Disconnect();
        ftp.SetIOHandler(nullptr);
    } catch (const std::exception& error) {
        std::cerr << "tavrin-ftp: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
