// Fifty jobs at once: 25 imports polling every 5 s with KeepAlive and 25 exports, all
// against one vsftpd on 127.0.0.1, first run by tavrin-service, then by the window
// (offscreen, in this process). For each: the jobs running, resident memory, CPU while idle
// (from /proc/PID/stat), and how long a file dropped into every export folder and onto every
// import's server folder at once takes to arrive; for the window also its event-loop delay
// while those files move (see latency/LatencyProbe.h). Printed, never asserted.
//
//   bench_jobs [--idle SECONDS=30] [--stable] [--service-only | --window-only]
// --stable: the imports wait for a file to read the same in two listings (WaitForStableFiles).
// Build it in a release build; run it as root (vsftpd and its test account).
#include "JobsBenchSetup.h"
#include "app/MainForm.h"
#include "common/BenchUtil.h"
#include "config/dialog/MessageBoxes.h"
#include "latency/LatencyProbe.h"
#include "servers/RealServers.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using jobsbench::TScene;

constexpr int kImports = 25;
constexpr int kExports = 25;
constexpr auto kArrivalLimit = 30s;
// The imports' first polls and the exports' first looks are over by then.
constexpr auto kSettle = 7s;

struct TColumn {
    bool ran = false;
    std::string note;
    int running = 0;
    double rssMiB = 0, peakMiB = 0, idleCpuPercent = 0;
    jobsbench::TArrivals arrivals;
    std::optional<double> waitP50, waitP99, waitMax;
};

void TurnFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

void SleepFor(std::chrono::milliseconds span) {
    std::this_thread::sleep_for(span);
}

int CountLines(const std::string& path, const char* text) {
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.find(text) != std::string::npos;
    return count;
}

double MiB(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

double IdleCpuPercent(int pid, std::chrono::seconds idle,
                      const std::function<void(std::chrono::milliseconds)>& wait) {
    const double before = jobsbench::ReadProcess(pid).cpuSeconds;
    const auto start = Clock::now();
    wait(idle);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return (jobsbench::ReadProcess(pid).cpuSeconds - before) / seconds * 100.0;
}

TColumn RunService(const TScene& scene, std::chrono::seconds idle) {
    TColumn column;
    const std::string log = scene.root + "/service.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string program = TAVRIN_SERVICE_PROGRAM;
    char* args[] = {program.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        column.note = "tavrin-service did not start: " + std::string(std::strerror(spawned));
        return column;
    }
    auto exited = [&] {
        int status = 0;
        return ::waitpid(pid, &status, WNOHANG) == pid;
    };
    const auto deadline = Clock::now() + 60s;
    while (CountLines(log, "Monitor started") < kImports + kExports && Clock::now() < deadline &&
           !exited())
        SleepFor(100ms);
    column.running = CountLines(log, "Monitor started");
    if (column.running < kImports + kExports) {
        column.note = "only " + std::to_string(column.running) + " jobs started (see " + log + ")";
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return column;
    }
    SleepFor(kSettle);
    column.idleCpuPercent = IdleCpuPercent(pid, idle, SleepFor);
    column.rssMiB = MiB(jobsbench::ReadProcess(pid).rssKiB);
    column.arrivals = jobsbench::DropAndWait(scene, "service", SleepFor, kArrivalLimit);
    column.peakMiB = MiB(jobsbench::ReadProcess(pid).peakRssKiB);
    ::kill(pid, SIGTERM);
    const auto stopBy = Clock::now() + 20s;
    while (!exited()) {
        if (Clock::now() > stopBy) {
            column.note = "tavrin-service did not end within 20 s of SIGTERM";
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            break;
        }
        SleepFor(50ms);
    }
    column.ran = true;
    return column;
}

TColumn RunWindow(const TScene& scene, std::chrono::seconds idle) {
    TColumn column;
    tavrin::TMessageRecorder boxes; // no modal box may hold the run up
    TfmMainForm window;
    window.show();
    TurnFor(500ms);
    window.StartAllJobs();
    auto running = [&] {
        int count = 0;
        for (const auto& job : window.Jobs().Jobs())
            count += job->State() == tavrin::jobs::TJobState::Running;
        return count;
    };
    const auto deadline = Clock::now() + 60s;
    while (running() < kImports + kExports && Clock::now() < deadline)
        TurnFor(100ms);
    column.running = running();
    if (column.running < kImports + kExports) {
        const auto shown = boxes.Messages();
        column.note = "only " + std::to_string(column.running) + " jobs started" +
                      (shown.empty() ? "" : ": " + shown.front().Text);
        return column;
    }
    TurnFor(kSettle);
    column.idleCpuPercent = IdleCpuPercent(::getpid(), idle, TurnFor);
    column.rssMiB = MiB(jobsbench::ReadProcess(::getpid()).rssKiB);
    TLatencyProbe probe;
    probe.Start();
    column.arrivals = jobsbench::DropAndWait(scene, "window", TurnFor, kArrivalLimit);
    TurnFor(1s); // the table settles after the last file
    probe.Stop();
    column.waitP50 = probe.WaitPercentile(0.5);
    column.waitP99 = probe.WaitPercentile(0.99);
    column.waitMax = probe.Max();
    column.peakMiB = MiB(jobsbench::ReadProcess(::getpid()).peakRssKiB);
    window.close();
    column.ran = true;
    return column;
}

std::string Cell(const TColumn& column, const std::function<std::string(const TColumn&)>& text) {
    return column.ran ? text(column) : "-";
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void PrintTable(const TColumn& service, const TColumn& window) {
    struct Row {
        const char* measure;
        std::function<std::string(const TColumn&)> text;
        const char* goal;
    } rows[] = {
        {"jobs running", [](const TColumn& c) { return std::to_string(c.running); }, "50"},
        {"RSS while idle (MiB)", [](const TColumn& c) { return Fixed(c.rssMiB, 1); },
         "<= 40 (service)"},
        {"peak RSS (MiB)", [](const TColumn& c) { return Fixed(c.peakMiB, 1); }, ""},
        {"CPU while idle (% of one core)",
         [](const TColumn& c) { return Fixed(c.idleCpuPercent, 2); }, "<= 2"},
        {"files arrived",
         [](const TColumn& c) {
             return std::to_string(c.arrivals.arrived) + "/" +
                    std::to_string(c.arrivals.seconds.size());
         },
         "all"},
        {"arrival median (s)",
         [](const TColumn& c) { return Fixed(bench::Median(c.arrivals.seconds), 2); }, ""},
        {"arrival max (s)",
         [](const TColumn& c) { return Fixed(bench::Percentile(c.arrivals.seconds, 1.0), 2); },
         "<= 10"},
        {"event-loop wait p50 (ms)",
         [](const TColumn& c) { return c.waitP50 ? Fixed(*c.waitP50, 2) : "-"; }, ""},
        {"event-loop wait p99 (ms)",
         [](const TColumn& c) { return c.waitP99 ? Fixed(*c.waitP99, 2) : "-"; }, "<= 20"},
        {"event-loop longest gap (ms)",
         [](const TColumn& c) { return c.waitMax ? Fixed(*c.waitMax, 1) : "-"; }, ""},
    };
    std::printf("\n%-32s %14s %14s   %s\n", "measure", "tavrin-service", "window", "goal");
    for (const Row& row : rows)
        std::printf("%-32s %14s %14s   %s\n", row.measure, Cell(service, row.text).c_str(),
                    Cell(window, row.text).c_str(), row.goal);
    for (const TColumn* column : {&service, &window})
        if (!column->note.empty())
            std::printf("note (%s): %s\n", column == &service ? "service" : "window",
                        column->note.c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::chrono::seconds idle = 30s;
    bool stable = false, service = true, window = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--idle" && i + 1 < argc)
            idle = std::chrono::seconds(std::atoi(argv[++i]));
        else if (arg == "--stable")
            stable = true;
        else if (arg == "--service-only")
            window = false;
        else if (arg == "--window-only")
            service = false;
        else {
            std::fprintf(stderr, "usage: bench_jobs [--idle SECONDS] [--stable] "
                                 "[--service-only | --window-only]\n");
            return 2;
        }
    }
    char pattern[] = "/tmp/tavrin-jobs-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    bench::ScratchFolder cleanup(pattern);
    TScene scene(pattern, kImports, kExports);
    // Both programs read these; nothing of the user's own is touched.
    setenv("TAVRIN_CONFIG", scene.config.c_str(), 1);
    setenv("TEMP", scene.state.c_str(), 1);
    setenv("XDG_STATE_HOME", scene.state.c_str(), 1);
    setenv("TAVRIN_KEYRING", "none", 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);

    testsrv::VsftpdServer server({scene.server});
    scene.WriteSettings(server.Port(), server.User(), server.Password(), stable);
    std::printf("%d imports (KeepAlive, every 5 s, WaitForStableFiles=%d) and %d exports "
                "against vsftpd on 127.0.0.1:%u; idle CPU over %lld s\n",
                kImports, stable ? 1 : 0, kExports, server.Port(),
                static_cast<long long>(idle.count()));
    std::fflush(stdout);
    const TColumn serviceColumn = service ? RunService(scene, idle) : TColumn{};
    const TColumn windowColumn = window ? RunWindow(scene, idle) : TColumn{};
    PrintTable(serviceColumn, windowColumn);
    return 0;
}
