#include "jobs/Hooks.h"

#include "jobs/HooksCommandLine.h"

#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace tavrin::jobs {
namespace {

// Only the end of a hook's standard error matters: its last line goes to the log.
constexpr size_t kStderrTailBytes = 4096;
constexpr size_t kLastLineLimit = 300;

std::string RemoteJoin(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/' || folder.back() == '\\')
        return folder + name;
    // A folder written with backslashes only is on a server that uses them.
    const bool backslashes =
        folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
    return folder + (backslashes ? "\\" : "/") + name;
}

std::string LastLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const size_t cut = text.find_last_of("\r\n");
    if (cut != std::string::npos)
        text.erase(0, cut + 1);
    if (text.size() > kLastLineLimit)
        text = text.substr(0, kLastLineLimit) + "...";
    return text;
}

} // namespace

std::vector<std::pair<std::string, std::string>> HookEnvironment(const THookEvent& event) {
    return {
        {"TAVRIN_JOB", event.job},
        {"TAVRIN_DIRECTION", event.upload ? "export" : "import"},
        {"TAVRIN_FILE", event.file},
        {"TAVRIN_REMOTE", event.remote},
        {"TAVRIN_SIZE", event.size ? std::to_string(*event.size) : std::string()},
        {"TAVRIN_STATUS", event.failed ? "failed" : "done"},
        {"TAVRIN_MESSAGE", event.message},
    };
}

THookEvent FileHookEvent(const std::string& job, const RConfiguration& config,
                         const TTransferProgress& progress, const std::string& message) {
    THookEvent event;
    event.job = job;
    event.upload = progress.upload;
    event.failed = progress.phase != TTransferPhase::Done;
    const bool movedAway =
        progress.upload && !event.failed && config.MoveDelete && !config.MoveToFolder.empty();
    event.file = (movedAway ? config.MoveToFolder : config.LocalFolder) + "/" + progress.file;
    event.remote = RemoteJoin(config.RemoteFolder, progress.file);
    event.size = event.failed ? progress.total : progress.total.value_or(progress.done);
    if (event.failed)
        event.message = message;
    return event;
}

struct THookRunner::TRun {
    std::string command;
    std::vector<std::string> words;
    THookEvent event;
    TLogEvent log;
    std::string prefix;
    QProcess* process = nullptr;
    QTimer* bound = nullptr;
    std::string stderrTail;
    bool killed = false;
    bool ended = false;

    void Log(const std::string& text) const {
        if (log)
            log(nullptr, prefix + text, clRed);
    }
    std::string Quoted() const { return "Hook \"" + command + "\""; }
    // The hook and whatever it started: it runs in a process group of its own.
    void KillAll() {
        if (process == nullptr || process->processId() <= 0)
            return;
        ::kill(-static_cast<pid_t>(process->processId()), SIGKILL);
        process->kill();
    }
};

THookRunner::THookRunner(QObject* parent) : THookRunner(TLimits{}, parent) {}

THookRunner::THookRunner(TLimits limits, QObject* parent) : QObject(parent), limits_(limits) {}

THookRunner::~THookRunner() {
    waiting_.clear();
    for (const std::unique_ptr<TRun>& run : running_) {
        QObject::disconnect(run->process, nullptr, this, nullptr);
        run->KillAll();
        run->process->waitForFinished(1000);
        delete run->process;
    }
}

void THookRunner::Run(const std::string& command, const THookEvent& event, TLogEvent log,
                      std::string prefix) {
    auto run = std::make_unique<TRun>();
    run->command = command;
    run->event = event;
    run->log = std::move(log);
    run->prefix = std::move(prefix);
    THookWords split = SplitHookCommand(command);
    if (split.problem) {
        run->Log(run->Quoted() + " not run: " + *split.problem + ".");
        return;
    }
    if (split.words.empty())
        return; // a blank command is no hook
    run->words = std::move(split.words);
    if (running_.size() < limits_.running) {
        Launch(std::move(run));
        return;
    }
    if (waiting_.size() >= limits_.waiting) {
        run->Log(run->Quoted() + " not run: " + std::to_string(waiting_.size()) +
                 " hooks are waiting already.");
        return;
    }
    waiting_.push_back(std::move(run));
}

std::string THookRunner::BoundText() const {
    const auto ms = limits_.bound.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

void THookRunner::Launch(std::unique_ptr<TRun> owned) {
    TRun* run = owned.get();
    running_.push_back(std::move(owned));
    auto* process = new QProcess(this);
    run->process = process;
    process->setProgram(QString::fromStdString(run->words.front()));
    QStringList arguments;
    for (size_t i = 1; i < run->words.size(); ++i)
        arguments << QString::fromStdString(run->words[i]);
    process->setArguments(arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : HookEnvironment(run->event))
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setChildProcessModifier([] { ::setpgid(0, 0); });

    connect(process, &QProcess::readyReadStandardError, this, [run] {
        run->stderrTail += run->process->readAllStandardError().toStdString();
        if (run->stderrTail.size() > kStderrTailBytes)
            run->stderrTail.erase(0, run->stderrTail.size() - kStderrTailBytes);
    });
    connect(process, &QProcess::finished, this, [this, run](int code, QProcess::ExitStatus how) {
        run->stderrTail += run->process->readAllStandardError().toStdString();
        std::string failure;
        if (run->killed)
            failure = run->Quoted() + " ran longer than " + BoundText() + " and was killed.";
        else if (how == QProcess::CrashExit)
            failure = run->Quoted() + " ended by a signal.";
        else if (code != 0)
            failure = run->Quoted() + " failed with exit status " + std::to_string(code) + ".";
        const std::string last = LastLine(run->stderrTail);
        if (!failure.empty() && !last.empty())
            failure += " " + last;
        Ended(run, failure);
    });
    connect(process, &QProcess::errorOccurred, this, [this, run](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return; // the end itself comes with finished()
        Ended(run, run->Quoted() + " could not be started: " + run->words.front() + ": " +
                       run->process->errorString().toStdString());
    });
    run->bound = new QTimer(process);
    run->bound->setSingleShot(true);
    connect(run->bound, &QTimer::timeout, this, [run] {
        run->killed = true;
        run->KillAll();
    });
    run->bound->start(limits_.bound);
    process->start();
}

void THookRunner::Ended(TRun* run, const std::string& failure) {
    if (run->ended)
        return;
    run->ended = true;
    run->bound->stop();
    if (!failure.empty())
        run->Log(failure);
    // Nothing the process still says reaches the run, which goes now; the process itself goes
    // later, as its own signal may still be on its way out.
    QObject::disconnect(run->process, nullptr, this, nullptr);
    QObject::disconnect(run->bound, nullptr, this, nullptr);
    run->process->deleteLater();
    const auto it =
        std::find_if(running_.begin(), running_.end(),
                     [run](const std::unique_ptr<TRun>& held) { return held.get() == run; });
    std::unique_ptr<TRun> done = std::move(*it);
    running_.erase(it);
    // Not from inside this process's signal: a start that fails at once would nest.
    QMetaObject::invokeMethod(
        this, [this] { StartWaiting(); }, Qt::QueuedConnection);
}

void THookRunner::StartWaiting() {
    while (running_.size() < limits_.running && !waiting_.empty()) {
        std::unique_ptr<TRun> next = std::move(waiting_.front());
        waiting_.pop_front();
        Launch(std::move(next));
    }
}

} // namespace tavrin::jobs
