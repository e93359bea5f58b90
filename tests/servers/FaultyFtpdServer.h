#pragma once
// A pyftpdlib server that misbehaves on request (faulty_ftpd.py): it cuts, shortens or
// stalls a download, refuses a command, grows a file between listings, cuts or stops
// reading an upload, and can be killed and started again on the same port. The test says
// what to do through a plan; the server rereads it before every transfer.
#include "servers/ChildProcess.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testsrv {

// What the server does wrong, file by file (names without folder). Each fault fires every
// time unless `times` bounds it.
class FaultPlan {
public:
    FaultPlan& CutDownload(const std::string& name, int64_t after, int times = -1);
    FaultPlan& ShortDownload(const std::string& name, int64_t after, int times = -1); // 226
    FaultPlan& StallDownload(const std::string& name, int64_t after, int times = -1);
    FaultPlan& RefuseDownload(const std::string& name, const std::string& reply = {},
                              int times = -1);
    FaultPlan& CutUpload(const std::string& name, int64_t after, int times = -1);
    FaultPlan& StopReadingUpload(const std::string& name, int64_t after, int times = -1);
    FaultPlan& RefuseUpload(const std::string& name, const std::string& reply = {}, int times = -1);
    FaultPlan& RefuseDelete(const std::string& name, const std::string& reply = {}, int times = -1);
    // Every listing first appends `by` bytes to the file, `times` times at most.
    FaultPlan& GrowOnListing(const std::string& name, int64_t by, int times);
    std::string Json() const;

private:
    struct Entry {
        std::string section, name, fault, reply;
        int64_t amount;
        int times;
    };
    FaultPlan& Add(Entry entry);
    std::vector<Entry> entries_;
};

struct FaultyFtpdOptions {
    std::string root;
    bool tls = false;
    std::string user = "tavrin", password = "secret";
};

class FaultyFtpdServer {
public:
    explicit FaultyFtpdServer(FaultyFtpdOptions options);
    ~FaultyFtpdServer();
    FaultyFtpdServer(const FaultyFtpdServer&) = delete;
    FaultyFtpdServer& operator=(const FaultyFtpdServer&) = delete;

    uint16_t Port() const { return port_; }
    int Pid() const { return pid_; }
    const std::string& User() const { return options_.user; }
    const std::string& Password() const { return options_.password; }

    // Takes effect with the next command it governs; an empty plan ends every fault.
    void SetFaults(const FaultPlan& plan);
    // Commands received (passwords too), and one line per fault that fired, e.g.
    // "cut a.bin 3000", "short a.bin 3000", "stall a.bin 3000", "refuse a.bin",
    // "stop-reading b.bin 3000", "grow d.bin 4000" (its size afterwards). Both logs span
    // restarts.
    std::vector<std::string> Commands() const;
    std::vector<std::string> Events() const;
    // Polls (bounded) until an event starting with `prefix` was logged.
    bool WaitForEvent(const std::string& prefix, std::chrono::milliseconds limit) const;

    // SIGKILL by its own pid, reaped: open connections die as in a crash.
    void Kill();
    // Starts it again on the same port, with the plan as it stands.
    void Restart();
    bool Running();
    void Stop();

private:
    void Start(uint16_t port);

    FaultyFtpdOptions options_;
    std::string workDir_, commandLog_, eventLog_, control_;
    ChildProcess process_;
    uint16_t port_ = 0;
    int pid_ = -1;
};

} // namespace testsrv
