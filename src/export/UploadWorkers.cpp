#include "export/UploadWorkers.h"

TUploadWorkers::TUploadWorkers(size_t count, Handler handler)
    : handler_(std::move(handler)), count_(count == 0 ? 1 : count) {
    threads_.reserve(count_);
    for (size_t at = 0; at < count_; ++at)
        threads_.emplace_back([this] { Work(); });
}

TUploadWorkers::~TUploadWorkers() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        // A file handed out but not begun stays where it is, as any file not yet due does.
        waiting_.clear();
    }
    given_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

bool TUploadWorkers::HasFreeWorker() const {
    std::lock_guard lock(mutex_);
    return busy_ < count_;
}

size_t TUploadWorkers::Busy() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

std::set<std::string> TUploadWorkers::BusyNames() const {
    std::lock_guard lock(mutex_);
    return busyNames_;
}

void TUploadWorkers::Give(TExportJob job) {
    {
        std::lock_guard lock(mutex_);
        ++busy_;
        busyNames_.insert(job.name);
        waiting_.push_back(std::move(job));
    }
    given_.notify_one();
}

std::vector<TUploadWorkers::Finish> TUploadWorkers::Collect(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    finished_.wait_for(lock, limit, [this] { return !over_.empty(); });
    std::vector<Finish> over;
    over.swap(over_);
    for (const Finish& finish : over) {
        --busy_;
        busyNames_.erase(finish.first.name);
    }
    return over;
}

void TUploadWorkers::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        given_.wait(lock, [this] { return ending_ || !waiting_.empty(); });
        if (ending_)
            return;
        TExportJob job = std::move(waiting_.front());
        waiting_.pop_front();
        lock.unlock();
        const TExportOutcome outcome = handler_(job);
        lock.lock();
        over_.emplace_back(std::move(job), outcome);
        finished_.notify_all();
    }
}
