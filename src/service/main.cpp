// tavrin-service: the import and export monitors without a window, for machines that move
// files unattended. Log lines go to standard output; SIGTERM/SIGINT stop the monitors as
// closing the window does, SIGHUP re-reads the settings as saving them in the dialog does.
//
// Exit status: 0 after a stop by signal, 1 for a wrong command line, 2 when a job cannot
// start at the first start (after a SIGHUP such a job only stays stopped), --check found a
// problem, the settings file named by --config cannot be read, or another program holds the
// settings file or the register (the reason, with that program's id, on standard error).
#include "config/ConfigPaths.h"
#include "platform/CoreDumps.h"
#include "platform/FileLock.h"
#include "service/JobSelection.h"
#include "service/ServiceMonitors.h"
#include "service/SignalBridge.h"
#include "service/StdoutLog.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitBadUsage = 1;
constexpr int kExitCannotStart = 2;

// Empty when `path` is a settings file we can read, otherwise what is wrong with it.
std::string SettingsFileProblem(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return "settings file " + path + ": " + std::strerror(errno);
    if (!S_ISREG(status.st_mode))
        return "settings file " + path + " is not a file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "settings file " + path + ": " + std::strerror(errno);
    ::close(fd);
    return {};
}

struct TServiceOptions {
    // Empty: every enabled job.
    std::vector<std::string> jobs;
    bool list = false;
    bool check = false;
    std::string configPath;
};

TServiceOptions ParseCommandLine(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Runs Tavrin's transfer jobs without a window: every enabled job of the settings "
        "file, or the ones named with --job, --import and --export. The log goes to standard "
        "output.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption config(
        "config", "Settings file (default: $TAVRIN_CONFIG, else the per-user MonitorConfig.ini).",
        "FILE");
    const QCommandLineOption import("import", "Run the job \"Import\".");
    const QCommandLineOption exportOption("export", "Run the job \"Export\".");
    const QCommandLineOption job("job", "Run the job NAME (may be given more than once).", "NAME");
    const QCommandLineOption list("list", "Print each job of the settings file and exit.");
    const QCommandLineOption check(
        "check", "Check every job of the settings file; exit 0, or 2 naming every problem.");
    parser.addOptions({config, import, exportOption, job, list, check});
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "tavrin-service: %s\n", qPrintable(parser.errorText()));
        std::exit(kExitBadUsage);
    }
    if (parser.isSet("help"))
        parser.showHelp(0);
    if (parser.isSet("version"))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tavrin-service: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().front()));
        std::exit(kExitBadUsage);
    }
    TServiceOptions options;
    // Every start and every SIGHUP reads this file. A file named here that cannot be read is
    // a mistake: running on defaults would hide it.
    if (parser.isSet(config)) {
        const QByteArray path = parser.value(config).toLocal8Bit();
        if (std::string problem = SettingsFileProblem(path.constData()); !problem.empty()) {
            std::fprintf(stderr, "tavrin-service: %s\n", problem.c_str());
            std::exit(kExitCannotStart);
        }
        options.configPath = path.constData();
    } else {
        options.configPath = tavrin::ConfigFilePath();
    }
    if (parser.isSet(import))
        options.jobs.push_back("Import");
    if (parser.isSet(exportOption))
        options.jobs.push_back("Export");
    for (const QString& name : parser.values(job))
        options.jobs.push_back(name.toStdString());
    options.list = parser.isSet(list);
    options.check = parser.isSet(check);
    return options;
}

// One program per settings file and register: a second one would fetch the same files.
tavrin::TProgramLocks LockSettingsAndRegister(const std::string& configPath) {
    tavrin::TProgramLocks taken;
    for (const std::string& file : {configPath, tavrin::RegisterFilePath()}) {
        try {
            taken.locks.push_back(std::make_unique<tavrin::fs::TFileLock>(file));
        } catch (const tavrin::fs::ELockUnavailable& failure) {
            taken.warnings.push_back(failure.what());
        }
    }
    return taken;
}

} // namespace

int main(int argc, char** argv) {
    using namespace tavrin::service;
    // A server that vanishes mid-write must fail that write, never end the program.
    tavrin::platform::KeepMemoryOutOfCoreDumps();
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrin-service"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    const TServiceOptions options = ParseCommandLine(app);
    // Both only read the file: no lock, nothing started.
    if (options.list || options.check) {
        if (options.list)
            ListJobs(options.configPath, std::cout);
        if (options.check) {
            const size_t problems = CheckJobs(options.configPath, std::cout);
            std::cout << (problems == 0 ? "No problems found" : "Problems found: ")
                      << (problems == 0 ? std::string() : std::to_string(problems)) << "\n";
            std::cout.flush();
            return problems == 0 ? 0 : kExitCannotStart;
        }
        std::cout.flush();
        return 0;
    }

    tavrin::TProgramLocks locks;
    try {
        locks = LockSettingsAndRegister(options.configPath);
    } catch (const tavrin::fs::EFileInUse& inUse) {
        std::fprintf(stderr, "tavrin-service: %s\n", inUse.what());
        return kExitCannotStart;
    }
    for (const std::string& warning : locks.warnings)
        WriteLogLine(warning, clHotLight);

    InstallErrorLineSink();
    TSignalBridge signalBridge;
    TServiceMonitors monitors(options.jobs, options.configPath);
    bool stopping = false;

    // After a SIGHUP the others keep running: the job stays stopped until the next one.
    auto cannotStart = [&](const std::exception& failure) {
        if (!stopping)
            WriteLogLine(failure.what(), clRed);
    };

    signalBridge.OnSignal = [&](int signalNumber) {
        if (stopping)
            return; // the first stop is under way; it ends the program
        if (signalNumber == SIGHUP) {
            WriteLogLine("Settings read again from " + options.configPath, clHotLight);
            monitors.Restart(cannotStart);
            return;
        }
        stopping = true;
        WriteLogLine(signalNumber == SIGINT ? "Stopping on SIGINT" : "Stopping on SIGTERM",
                     clHotLight);
        monitors.StopNow();
        QCoreApplication::exit(0);
    };

    try {
        monitors.Start();
    } catch (const EMonitorStartError& failure) {
        std::fprintf(stderr, "tavrin-service: %s\n", failure.what());
        return kExitCannotStart;
    }
    return app.exec();
}
