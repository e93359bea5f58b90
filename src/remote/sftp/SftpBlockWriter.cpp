#include "remote/sftp/SftpBlockWriter.h"

#include <cerrno>
#include <unistd.h>

namespace tavrin::sftp {
namespace {

// Enough for the disk to take one while the next ones arrive; each is one request's block.
constexpr size_t kThreadedBlocks = 4;

} // namespace

TBlockWriter::TBlockWriter(int fd, uint32_t blockSize, bool threaded) : fd_(fd) {
    blocks_.resize(threaded ? kThreadedBlocks : 1, std::vector<char>(blockSize));
    for (std::vector<char>& block : blocks_)
        free_.push_back(block.data());
    if (threaded)
        thread_ = std::thread([this] { Run(); });
}

TBlockWriter::~TBlockWriter() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool TBlockWriter::Write(const Job& job) const {
    const char* data = job.block;
    size_t length = job.length;
    uint64_t offset = job.offset;
    while (length > 0) {
        const ssize_t n = ::pwrite(fd_, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

char* TBlockWriter::Take() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return error_ != 0 || !free_.empty(); });
    if (error_ != 0)
        return nullptr;
    char* block = free_.back();
    free_.pop_back();
    return block;
}

void TBlockWriter::Put(char* block, uint32_t length, uint64_t offset) {
    const Job job{block, length, offset};
    if (!thread_.joinable()) {
        // One block, written at once: a small file needs no thread.
        const bool written = length == 0 || Write(job);
        std::lock_guard<std::mutex> guard(lock_);
        if (!written && error_ == 0)
            error_ = errno ? errno : EIO;
        free_.push_back(block);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (length == 0)
            free_.push_back(block);
        else
            queued_.push_back(job);
    }
    changed_.notify_all();
}

int TBlockWriter::Finish() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return queued_.empty() && !writing_; });
    return error_;
}

int TBlockWriter::Error() const {
    std::lock_guard<std::mutex> guard(lock_);
    return error_;
}

void TBlockWriter::Run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return quit_ || !queued_.empty(); });
        if (quit_)
            return;
        const Job job = queued_.front();
        queued_.pop_front();
        // After a failure the rest is only freed: the download is lost anyway.
        const bool skip = error_ != 0;
        writing_ = true;
        guard.unlock();
        const bool written = skip || Write(job);
        const int error = written ? 0 : (errno ? errno : EIO);
        guard.lock();
        writing_ = false;
        if (!written && error_ == 0)
            error_ = error;
        free_.push_back(job.block);
        changed_.notify_all();
    }
}

} // namespace tavrin::sftp
