#include "servers/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsrv {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile)
    : outputFile_(outputFile) {
    // Everything the child needs is prepared before fork(): after it, in a process with
    // threads, only async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
        throw std::runtime_error("cannot create " + outputFile);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        ::close(out);
        throw std::runtime_error("fork() failed");
    }
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::setpgid(0, 0); // a terminal's Ctrl+C goes to the test, which then stops us
        ::dup2(out, 1);
        ::dup2(out, 2);
        int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            ::dup2(devnull, 0);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Stop();
        pid_ = std::exchange(other.pid_, -1);
        status_ = other.status_;
        outputFile_ = std::move(other.outputFile_);
    }
    return *this;
}

bool ChildProcess::Running() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0)
        return true;
    if (r == pid_)
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return false;
}

bool ChildProcess::WaitExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<pid_t> DescendantsOf(pid_t pid) {
    std::multimap<pid_t, pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = ReadWholeFile(entry.path().string() + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2)
            children.emplace(parent, static_cast<pid_t>(std::stoi(name)));
    }
    std::vector<pid_t> found;
    std::vector<pid_t> todo = {pid};
    while (!todo.empty()) {
        pid_t p = todo.back();
        todo.pop_back();
        auto [first, last] = children.equal_range(p);
        for (auto it = first; it != last; ++it) {
            found.push_back(it->second);
            todo.push_back(it->second);
        }
    }
    return found;
}

void ChildProcess::Stop(std::chrono::milliseconds grace) {
    if (!Running())
        return;
    // Servers that fork a process per session (vsftpd) leave those running when only the
    // leader goes, in sessions of their own; find them before they lose their parent.
    const std::vector<pid_t> sessions = DescendantsOf(pid_);
    ::kill(pid_, SIGTERM);
    if (!WaitExit(grace)) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        status_ = 128 + SIGKILL;
        pid_ = -1;
    }
    for (pid_t session : sessions)
        ::kill(session, SIGKILL);
}

std::string ChildProcess::Output() const {
    return ReadWholeFile(outputFile_);
}

int RunCommand(const std::vector<std::string>& argv, std::string& output,
               std::chrono::milliseconds limit) {
    std::string dir = MakeTempDir("tavrin-cmd-");
    std::string file = dir + "/output";
    int code = -1;
    {
        ChildProcess child(argv, file);
        if (child.WaitExit(limit))
            code = child.ExitStatus();
        child.Stop();
        output = child.Output();
    }
    ::unlink(file.c_str());
    ::rmdir(dir.c_str());
    return code;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string MakeTempDir(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp() failed for " + pattern);
    return pattern;
}

} // namespace testsrv
