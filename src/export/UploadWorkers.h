#pragma once
// A fixed number of threads that send files handed to them, one file per thread at a time,
// and keep the outcomes until the hand that gave the files collects them.
#include "export/ExportQueue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TUploadWorkers {
public:
    using Handler = std::function<TExportOutcome(const TExportJob& job)>;
    using Finish = std::pair<TExportJob, TExportOutcome>;

    // `handler` runs on the workers, several calls at once; it must not throw.
    TUploadWorkers(size_t count, Handler handler);
    // Lets the files in progress end and joins every worker.
    ~TUploadWorkers();
    TUploadWorkers(const TUploadWorkers&) = delete;
    TUploadWorkers& operator=(const TUploadWorkers&) = delete;

    bool HasFreeWorker() const;
    size_t Busy() const;
    // The names being sent now (given and not yet collected).
    std::set<std::string> BusyNames() const;
    // A free worker sends `job`.
    void Give(TExportJob job);
    // Waits up to `limit` until some file is over, and returns every one that is.
    std::vector<Finish> Collect(std::chrono::milliseconds limit);

private:
    void Work();

    Handler handler_;
    const size_t count_;
    mutable std::mutex mutex_;
    std::condition_variable given_;
    std::condition_variable finished_;
    std::deque<TExportJob> waiting_;
    std::vector<Finish> over_;
    std::set<std::string> busyNames_;
    size_t busy_ = 0;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};
