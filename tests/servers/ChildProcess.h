#pragma once
// Starts a helper program (a server, openssl) with its output in a file, and stops it by
// its own process id: SIGTERM, then SIGKILL after a bounded wait. The child is also told to
// die with us (PR_SET_PDEATHSIG) so a crashed or killed test leaves no server behind.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testsrv {

class ChildProcess {
public:
    ChildProcess() = default;
    // argv[0] is the program's full path. Output (stdout and stderr) goes to outputFile.
    ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess() { Stop(); }

    pid_t Pid() const { return pid_; }
    bool Running(); // false once it exited (and reaps it)
    int ExitStatus() const { return status_; }
    // Waits for it to exit on its own; true if it did within the limit.
    bool WaitExit(std::chrono::milliseconds limit);
    void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));
    std::string Output() const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string outputFile_;
};

// Runs a command to completion (bounded); returns its exit code, -1 when it had to be
// killed. Its output lands in `output`.
int RunCommand(const std::vector<std::string>& argv, std::string& output,
               std::chrono::milliseconds limit = std::chrono::milliseconds(60000));

// Every process below pid (children, theirs, …), found through the parent links in /proc.
std::vector<pid_t> DescendantsOf(pid_t pid);

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& text);
std::string MakeTempDir(const std::string& prefix); // under $TMPDIR or /tmp

} // namespace testsrv
